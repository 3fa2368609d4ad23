#!/usr/bin/env bash
# Runs the README's commands word for word, as a new user would, in a fresh
# Debian 12 root file system, and checks what each one gives.
#
#   check-readme.sh [--keep] [--root DIR]
#
# The root file system is made with debootstrap (variant minbase, plus git and
# ca-certificates, nothing else) under DIR (default: a new temporary folder),
# and the repository's committed HEAD is cloned into /root/liborn_DataParser.
# The README marks each command block it runs with a comment line
# "<!-- readme-check: NAME -->" before the block; the blocks are run in the
# order below, each in a new shell with `set -e`, from the clone (or, for the
# program of "Using the library in your build", from the folder that holds
# the README's app.cpp and CMakeLists.txt), and timed. Downloaded packages are
# kept in ORN_README_CACHE (default /var/cache/orn-check-readme) for the next
# run; the root file system is removed at the end unless --keep is given.
# Needs root, debootstrap (installed when missing) and the network.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
repo=$PWD
source scripts/lib/debian-control.sh

keep=0
root=
while [ $# -gt 0 ]; do
  case $1 in
    --keep) keep=1; shift ;;
    --root) root=$2; shift 2 ;;
    *) echo "usage: check-readme.sh [--keep] [--root DIR]" >&2; exit 2 ;;
  esac
done

fail() { echo "FAILED: $*" >&2; exit 1; }
# grep -q would stop reading at the first match, and with pipefail the
# writer's SIGPIPE would fail the check: read everything.
matches() { grep "$@" >/dev/null; }

cache=${ORN_README_CACHE:-/var/cache/orn-check-readme}
mkdir -p "$cache/debootstrap" "$cache/archives"
if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/orn-readme.XXXXXX)
fi
logs=$(mktemp -d)

cleanup() {
  local mount
  for mount in "$root/var/cache/apt/archives" "$root/dev/pts" "$root/proc"; do
    if mountpoint -q "$mount"; then umount -l "$mount"; fi
  done
  if ((!keep)); then
    # Never crosses into a mount left behind.
    rm -rf --one-file-system "$root"
  else
    echo "The root file system stays in $root"
  fi
  rm -rf "$logs"
}
trap cleanup EXIT

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "warning: uncommitted changes are not checked: the clone is of HEAD" >&2
fi

step_start=$(date +%s)
timed() {  # LABEL: prints how long the step since the last call took
  local now
  now=$(date +%s)
  printf '==> %-34s %4d s\n' "$1" "$((now - step_start))" | tee -a "$logs/times"
  step_start=$now
}

./scripts/install-deps.sh debootstrap >/dev/null
echo "==> Making a Debian 12 root file system in $root"
debootstrap --variant=minbase --include=git,ca-certificates --cache-dir="$cache/debootstrap" \
  bookworm "$root" http://deb.debian.org/debian >"$logs/debootstrap.log" 2>&1 ||
  { tail -n 30 "$logs/debootstrap.log"; fail "debootstrap"; }
mount -t proc proc "$root/proc"
mount --bind /dev/pts "$root/dev/pts"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
git clone -q "$repo" "$root/root/liborn_DataParser"
timed "root file system and clone"

# The README's blocks, as files in the root file system.
blocks=$root/root/readme
mkdir -p "$blocks"
awk -v dir="$blocks" '
  /^<!-- readme-check: [^ ]+ -->$/ { name = $3; armed = 1; next }
  armed && /^```/ { armed = 0; inside = 1; file = dir "/" name; printf "" > file; next }
  inside && /^```$/ { inside = 0; close(file); next }
  inside { print > file }
' "$root/root/liborn_DataParser/README.md"
for name in quick-start outline install app.cpp CMakeLists.txt app-cmake consumer \
            app-pkg-config packages; do
  [ -s "$blocks/$name" ] || fail "the README has no block marked '$name'"
done
mkdir -p "$root/root/app"
cp "$blocks/app.cpp" "$blocks/CMakeLists.txt" "$root/root/app/"

# run NAME DIR: runs the README's block NAME in DIR of the root file system
# as root's login shell would, and keeps its output in $logs/NAME.
run() {
  local name=$1 dir=$2
  echo "==> README block '$name' (in $dir)"
  if ! chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -e -o pipefail -c "cd $dir && . /root/readme/$name" 2>&1 | tee "$logs/$name"; then
    fail "README block '$name'"
  fi
  timed "$name"
}
clone=/root/liborn_DataParser
has() { grep -qF -- "$2" "$logs/$1" || fail "README block '$1' did not print: $2"; }
lacks() { ! grep -qF -- "$2" "$logs/$1" || fail "README block '$1' printed: $2"; }

run quick-start $clone
has quick-start "<email>redacted</email>"
has quick-start "<identityNumber>redacted</identityNumber>"
lacks quick-start "ada.lindqvist@example.org"
# The quick start installs and builds only what the tool needs.
for package in libgtest-dev clang valgrind libbenchmark-dev; do
  ! chroot "$root" dpkg-query -W -f='${Status}' "$package" 2>/dev/null | matches "ok installed" ||
    fail "the quick start installed $package, which only the tests need"
done
[ -z "$(find "$root$clone/build/default" -name '*_tests' -type f)" ] ||
  fail "the quick start built tests"
run outline $clone
has outline "customer"

run install $clone
prefix=$root/opt/orn
for file in lib/liborn_DataParser.so.1 lib/liborn_Logger.so.1 \
    lib/cmake/orn_DataParser/orn_DataParserConfig.cmake lib/pkgconfig/orn_DataParser.pc \
    include/orn/DataParserIF.h include/orn/PugiXMLParser.h include/orn/LogClient.h \
    bin/orn-redact share/man/man1/orn-redact.1.gz; do
  [ -e "$prefix/$file" ] || fail "not installed: /opt/orn/$file"
done
[ ! -e "$prefix/include/orn/TypeMaps.h" ] && [ ! -e "$prefix/include/orn/internal" ] ||
  fail "private headers installed"
readelf -d "$prefix/lib/liborn_DataParser.so.1" | matches 'SONAME.*\[liborn_DataParser\.so\.1\]' ||
  fail "SONAME of liborn_DataParser"
./scripts/check-runpath.sh --outside "$root/root" "$prefix"
grep -qx 'prefix=/opt/orn' "$prefix/lib/pkgconfig/orn_DataParser.pc" ||
  fail "the pkg-config file does not name its prefix /opt/orn"

run app-cmake /root/app
has app-cmake "order 17"
has app-cmake "fountain pen"
run consumer $clone
has consumer "consumer: ok"
run app-pkg-config /root/app
has app-pkg-config "fountain pen"

run packages $clone
debs=("$root$clone"/build/deb/*.deb)
[ ${#debs[@]} -eq 3 ] || fail "cpack made ${#debs[@]} packages, not 3"
lacks packages "CPack Warning"
for deb in "${debs[@]}"; do
  fault=$(debian_control_fault "$deb")
  [ -z "$fault" ] || fail "$fault"
done
library=$root/usr/lib/$(chroot "$root" dpkg-architecture -qDEB_HOST_MULTIARCH)/liborn_DataParser.so.1
readelf -d "$library" | matches -E 'FLAGS.*NOW' || fail "the installed library is not linked with BIND_NOW"
readelf --wide --dyn-syms "$root/usr/bin/orn-redact" | matches -E '__[a-z0-9]+_chk@' ||
  fail "orn-redact is not built with fortify"
readelf -d "$library" | matches -i runpath && fail "the packaged library has a RUNPATH"

# The installed packages, as a user of /usr finds them.
inside() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin bash -ec "$1"; }
cflags=$(inside 'pkg-config --cflags orn_DataParser')
[ "${cflags% }" = "-I/usr/include/orn" ] || fail "pkg-config on /usr gives: $cflags"
inside 'cd /root/app && cmake -S . -B build-usr >/dev/null && cmake --build build-usr >/dev/null && ./build-usr/app' |
  grep -q "fountain pen" || fail "the CMake program against /usr"
inside 'orn-redact -i /root/liborn_DataParser/examples/data/customers.xml //email' |
  grep -qF "<email>redacted</email>" || fail "orn-redact from the package"
[ -s "$root/usr/share/bash-completion/completions/orn-redact" ] ||
  fail "the package orn-redact does not install its bash completion"
timed "checks of the installed packages"

echo "==> Times on a fresh root file system:"
cat "$logs/times"
echo "==> The README's commands work as written"
