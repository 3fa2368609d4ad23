#!/usr/bin/env bash
# Cross-builds the libraries, tools, examples and tests for 64-bit Arm, runs
# the whole test suite under qemu-aarch64 and builds the arm64 Debian package.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)

# Cross compiler, emulator and the arm64 multiarch development packages.
./scripts/install-deps.sh g++-aarch64-linux-gnu qemu-user file \
  libpugixml-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64 >/dev/null

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

# Debian package for arm64.
(cd "$build" && cpack -B packages >/dev/null)
deb=$(ls "$build"/packages/*.deb)
echo "==> $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends
[ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || { echo "wrong architecture"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q libpugixml1v5 || { echo "no pugixml dependency"; exit 1; }
contents=$(dpkg-deb -c "$deb")
for wanted in ./usr/lib/aarch64-linux-gnu/liborn_DataParser.so.1 \
    ./usr/lib/aarch64-linux-gnu/liborn_Logger.so.1 ./usr/include/orn/PugiXMLParser.h; do
  grep -q " $wanted" <<<"$contents" || { echo "missing in package: $wanted"; exit 1; }
done
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
file -L "$unpacked"/usr/lib/aarch64-linux-gnu/liborn_DataParser.so.1 | grep -q 'ARM aarch64' ||
  { echo "library in package is not arm64"; exit 1; }
echo "==> CI step cross-arm64 finished in $(( $(date +%s) - start ))s"
