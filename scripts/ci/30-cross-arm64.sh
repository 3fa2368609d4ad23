#!/usr/bin/env bash
# Cross-builds the libraries, tools, examples and tests for 64-bit Arm, runs
# the whole test suite under qemu-aarch64 and builds the arm64 Debian packages
# (runtime library, development files, tool), which lintian checks as well.
# The RUNPATHs of the built and packaged binaries are checked as for the
# host's (80-package.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)

# Cross compiler, emulator and the arm64 multiarch development packages.
./scripts/install-deps.sh --tests g++-aarch64-linux-gnu qemu-user file lintian \
  libpugixml-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64 \
  zlib1g-dev:arm64 libbz2-dev:arm64 liblzma-dev:arm64 libzstd-dev:arm64 \
  libyaml-dev:arm64 libssl-dev:arm64 >/dev/null

# The toolchain runs programs with the multiarch arm64 C library.
unset QEMU_LD_PREFIX

jobs=$(nproc)
build=build/arm64
rm -rf "$build"
# /usr as prefix gives the package the multiarch library folder.
cmake --preset arm64 -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build --preset arm64 -j "$jobs"
echo "==> arm64 build done after $(( $(date +%s) - start ))s"

ctest --preset arm64 -j "$jobs"
echo "==> arm64 tests done after $(( $(date +%s) - start ))s"
./scripts/check-runpath.sh "$build"

# Debian packages for arm64 (cpack's log only on failure: see 80-package.sh).
rm -rf "$build/packages"
(cd "$build" && cpack -B packages >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
fail() { echo "FAILED: $*"; exit 1; }
runtime=$(echo "$build"/packages/liborn-dataparser[0-9]*_arm64.deb)
dev=$(echo "$build"/packages/liborn-dataparser-dev_*_arm64.deb)
tool=$(echo "$build"/packages/orn-redact_*_arm64.deb)
for deb in "$runtime" "$dev" "$tool"; do
  [ -e "$deb" ] || fail "no package $(basename "$deb"); made: $(ls "$build/packages")"
  echo "==> $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Architecture Depends
  [ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || fail "wrong architecture"
done
# Computed by dpkg-shlibdeps from the arm64 libraries' shlibs and symbols files.
for deb in "$runtime" "$tool"; do
  dpkg-deb -f "$deb" Depends | grep -q libpugixml1v5 || fail "$(basename "$deb"): no pugixml dependency"
done
listing=$(for deb in "$runtime" "$dev" "$tool"; do dpkg-deb -c "$deb"; done)
major=$(dpkg-deb -f "$runtime" Package | sed 's/^liborn-dataparser//')
for wanted in "./usr/lib/aarch64-linux-gnu/liborn_DataParser.so.$major" \
    "./usr/lib/aarch64-linux-gnu/liborn_Logger.so.$major" ./usr/include/orn/PugiXMLParser.h \
    ./usr/bin/orn-redact ./usr/share/man/man1/orn-redact.1.gz; do
  grep -q " $wanted" <<<"$listing" || fail "missing in the packages: $wanted"
done
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
for deb in "$runtime" "$dev" "$tool"; do dpkg-deb -x "$deb" "$unpacked"; done
file -L "$unpacked/usr/lib/aarch64-linux-gnu/liborn_DataParser.so.$major" | grep -q 'ARM aarch64' ||
  fail "library in package is not arm64"
./scripts/check-runpath.sh --outside "$PWD" "$unpacked"
# The same checks as for the host's packages, stripping with the cross tools
# included; errors and warnings fail.
status=0
report=$(lintian --fail-on error,warning "$runtime" "$dev" "$tool" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings for the arm64 packages"
echo "==> CI step cross-arm64 finished in $(( $(date +%s) - start ))s"
