#!/usr/bin/env bash
# Builds the Debian packages of the host architecture the way a Debian build
# does (dpkg-buildflags: hardening, fortify, RELRO and BIND_NOW), checks the
# split into runtime library, development files and tool, their dependencies
# and copyright file, runs the unpacked tool and renders its manual page,
# checks the RUNPATHs of the built, installed and packaged binaries, and runs
# lintian: any error or warning fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)

./scripts/install-deps.sh --tests lintian man-db file dpkg-dev >/dev/null

# The release build has Debian's build flags (scripts/ci/release-build.sh).
source scripts/ci/release-build.sh
build=$release_build
rm -rf "$build/packages"
# cpack's log is shown when it fails or warns.
(cd "$build" && cpack -B packages >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
if grep -qi warning "$build/cpack.log"; then cat "$build/cpack.log"; echo "FAILED: cpack warns"; exit 1; fi
echo "==> packages built after $(( $(date +%s) - start ))s"

fail() { echo "FAILED: $*"; exit 1; }
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# The runtime package is named after the sonames' version (liborn-dataparser1).
runtime=$(echo "$build"/packages/liborn-dataparser[0-9]*_"$arch".deb)
dev=$(echo "$build"/packages/liborn-dataparser-dev_*_"$arch".deb)
tool=$(echo "$build"/packages/orn-redact_*_"$arch".deb)
for deb in "$runtime" "$dev" "$tool"; do
  [ -e "$deb" ] || fail "no package $(basename "$deb"); made: $(ls "$build/packages")"
  echo "==> $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Section Depends
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture of $deb"
done
[ "$(ls "$build"/packages/*.deb | wc -l)" -eq 3 ] || fail "unexpected packages: $(ls "$build/packages")"

# Multi-Arch fields and no maintainer scripts.
source scripts/lib/debian-control.sh
for deb in "$runtime" "$dev" "$tool"; do
  fault=$(debian_control_fault "$deb")
  [ -z "$fault" ] || fail "$fault"
done
# With the arm64 packages of the cross build (30-cross-arm64.sh) at hand: the
# two architectures' Multi-Arch packages install side by side only if every
# file they both hold is the same bytes.
for deb in "$runtime" "$dev"; do
  other=$(echo "build/arm64/packages/$(basename "${deb%_*}")_arm64.deb")
  [ "$arch" != arm64 ] && [ -e "$other" ] || continue
  mine=$(mktemp -d) theirs=$(mktemp -d)
  dpkg-deb -x "$deb" "$mine" && dpkg-deb -x "$other" "$theirs"
  shared=$(comm -12 <(cd "$mine" && find . -type f | sort) <(cd "$theirs" && find . -type f | sort))
  [ -n "$shared" ] || fail "$(basename "$deb") and its arm64 build share no file to compare"
  while IFS= read -r file; do
    cmp -s "$mine/$file" "$theirs/$file" ||
      fail "$(basename "$deb"): $file differs from the arm64 package's, so the two cannot be installed together"
  done <<<"$shared"
  rm -rf "$mine" "$theirs"
  echo "==> $(basename "$deb") and $(basename "$other") share $(wc -l <<<"$shared") files, all the same"
done

# Each file in the package it belongs to.
paths() { dpkg-deb -c "$1" | awk '{ print substr($6, 2) }'; }  # /usr/...
contains() {  # PACKAGE PATH...
  local deb=$1 listing
  shift
  listing=$(paths "$deb")
  for wanted in "$@"; do
    grep -qx "/$wanted" <<<"$listing" || fail "$(basename "$deb") lacks /$wanted"
  done
}
lacks() {  # PACKAGE REGEX
  ! paths "$1" | grep -q "$2" || fail "$(basename "$1") holds $(paths "$1" | grep "$2" | head -1)"
}
library=$(dpkg-deb -f "$runtime" Package)
major=${library#liborn-dataparser}
contains "$runtime" "usr/lib/$multiarch/liborn_DataParser.so.$major" \
  "usr/lib/$multiarch/liborn_Logger.so.$major" "usr/share/doc/$library/copyright"
lacks "$runtime" '\.so$'
lacks "$runtime" 'include/'
contains "$dev" "usr/lib/$multiarch/liborn_DataParser.so" "usr/lib/$multiarch/liborn_Logger.so" \
  usr/include/orn/DataParserIF.h usr/include/orn/PugiXMLParser.h usr/include/orn/LogClient.h \
  "usr/lib/$multiarch/pkgconfig/orn_DataParser.pc" \
  "usr/lib/$multiarch/cmake/orn_DataParser/orn_DataParserConfig.cmake"
lacks "$dev" '\.so\.[0-9]'
lacks "$dev" 'include/orn/TypeMaps.h'
contains "$tool" usr/bin/orn-redact usr/share/man/man1/orn-redact.1.gz \
  usr/share/bash-completion/completions/orn-redact
version=$(dpkg-deb -f "$runtime" Version)
# lintian does not compare the changelog with the package's version.
logged=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
[ "$logged" = "$version" ] ||
  fail "packaging/debian/changelog ends at version $logged; the packages are $version"
dpkg-deb -f "$dev" Depends | grep -qF "$library (= $version)" ||
  fail "the development package does not depend on its library"
dpkg-deb -f "$tool" Depends | grep -qF "$library (>= $version)" ||
  fail "the tool does not depend on the library"
# The dependencies on other packages' libraries come from dpkg-shlibdeps; cpack
# leaves them out without a word when it cannot run it.
depends_on() {  # PACKAGE: the names of the packages it depends on
  dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//'
}
for deb in "$runtime" "$tool"; do
  for needed in libc6 libpugixml1v5 libstdc++6; do
    depends_on "$deb" | grep -qxF "$needed" || fail "$(basename "$deb") does not depend on $needed"
  done
done
! depends_on "$runtime" | grep -qxF "$library" || fail "the library depends on itself"
# The libraries the tool loads on first use are not in its DT_NEEDED: the
# package names them itself.
for soname in libcrypto.so.3 libyaml-0.so.2 libz.so.1 libbz2.so.1.0 liblzma.so.5 libzstd.so.1; do
  ! readelf -d "$build/tools/orn-redact/orn-redact" | grep -qF "[$soname]" ||
    fail "orn-redact links $soname, which it is to load on first use"
  owner=$(dpkg-query -S "*/$soname" 2>/dev/null | grep -F "$multiarch" | head -1 | sed 's/[:,].*//')
  [ -n "$owner" ] && depends_on "$tool" | grep -qxF "$owner" ||
    fail "$(basename "$tool") does not depend on ${owner:-the package of $soname}"
done

# The packaged copyright file carries the licence of LICENSE word for word.
copyright=$(dpkg-deb --fsys-tarfile "$runtime" | tar -xO "./usr/share/doc/$library/copyright")
diff <(sed -n '/^Permission/,$p' LICENSE) \
     <(sed -n '/^License: Expat$/,$p' <<<"$copyright" | sed -n '/^ Permission/,$p' |
       sed 's/^ //; s/^\.$//') >/dev/null ||
  fail "the licence text in packaging/debian/copyright differs from LICENSE"

# The unpacked files work together: the tool runs on the packaged libraries
# (no RPATH leads it back to the build folder), and the manual page renders
# without groff warnings.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "$runtime" "$dev" "$tool"; do dpkg-deb -x "$deb" "$root"; done
for binary in "$root/usr/bin/orn-redact" "$root/usr/lib/$multiarch/liborn_DataParser.so.$major" \
    "$root/usr/lib/$multiarch/liborn_Logger.so.$major"; do
  ! readelf -d "$binary" | grep -Eq 'RPATH|RUNPATH' || fail "$binary has an RPATH"
done
LD_LIBRARY_PATH=$root/usr/lib/$multiarch "$root/usr/bin/orn-redact" \
  -i examples/data/customers.xml //email 2>/dev/null | grep -q '<email>redacted</email>' ||
  fail "the packaged orn-redact does not redact"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$root/usr/share/man/man1/orn-redact.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

# No RPATH or RUNPATH entry may be empty or relative (the loader would search
# the current directory), in the build tree, in an installed copy or in the
# packages; installed and packaged files must not lead into this tree either.
# First, the check must reject such entries.
selftest=$root/runpath-selftest
mkdir "$selftest"
echo 'int main() { return 0; }' >"$selftest/main.cpp"
rejects() {  # NAME CHECK-OPTIONS -- LINKER-OPTIONS
  local name=$1 options=()
  shift
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  c++ "$selftest/main.cpp" -o "$selftest/$name" "$@"
  ! ./scripts/check-runpath.sh "${options[@]}" "$selftest/$name" >/dev/null ||
    fail "check-runpath.sh accepts $name: $(readelf -d "$selftest/$name" | grep -E 'R(UN)?PATH')"
  rm "$selftest/$name"
}
rejects trailing-colon -- -Wl,-rpath,/usr/lib:
rejects leading-colon -- -Wl,-rpath,:/usr/lib
rejects doubled-colon -- -Wl,-rpath,/usr/lib::/usr/local/lib
rejects relative -- -Wl,-rpath,lib
rejects dot-in-old-rpath -- -Wl,--disable-new-dtags -Wl,-rpath,/usr/lib:.
rejects into-tree --outside "$PWD" -- -Wl,-rpath,/usr/lib:"$PWD/$build/common/lib/Logger"
c++ "$selftest/main.cpp" -o "$selftest/fine" -Wl,-rpath,/usr/lib/orn/:'$ORIGIN/../lib'
./scripts/check-runpath.sh --outside "$PWD" "$selftest" >/dev/null ||
  fail "check-runpath.sh rejects absolute and \$ORIGIN entries"
rm -r "$selftest"

echo "==> RUNPATH of the built, installed and packaged binaries"
./scripts/check-runpath.sh "$build"
installed=$(mktemp -d)
trap 'rm -rf "$root" "$installed"' EXIT
cmake --install "$build" --prefix "$installed" >/dev/null
./scripts/check-runpath.sh --outside "$PWD" "$installed"
./scripts/check-runpath.sh --outside "$PWD" "$root"

echo "==> lintian"
status=0
report=$(lintian --fail-on error,warning --display-info "$build"/packages/*.deb 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (status $status)"
echo "==> CI step package finished in $(( $(date +%s) - start ))s"
