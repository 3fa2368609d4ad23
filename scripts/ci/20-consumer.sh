#!/usr/bin/env bash
# Installs the project into a temporary prefix and builds the consumer example
# against it out of tree twice, once through the CMake package and once
# through pkg-config, and runs both builds. (The Debian packages are built
# and checked by 80-package.sh.)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
start=$(date +%s)

./scripts/install-deps.sh file >/dev/null

# The release build (library and tools; /usr as prefix gives the multiarch
# library folder, `--prefix` below redirects the test install).
source scripts/ci/release-build.sh
build=$release_build

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "==> Installed files:"
(cd "$prefix" && find . -type f -o -type l | sort)

fail() { echo "FAILED: $*"; exit 1; }
libdir=$(cd "$prefix" && dirname "$(find . -name 'liborn_DataParser.so' | head -1)")
for wanted in "$libdir/liborn_DataParser.so.1" "$libdir/liborn_Logger.so.1" \
    "$libdir/cmake/orn_DataParser/orn_DataParserConfig.cmake" \
    "$libdir/pkgconfig/orn_DataParser.pc" include/orn/DataParserIF.h \
    include/orn/PugiXMLParser.h include/orn/LogClient.h; do
  [ -e "$prefix/$wanted" ] || fail "not installed: $wanted"
done
[ ! -e "$prefix/include/orn/TypeMaps.h" ] || fail "private header installed"
[ ! -e "$prefix/include/orn/internal" ] || fail "private headers installed"
if [ -e tools/orn-redact ]; then
  [ -e "$prefix/share/man/man1/orn-redact.1.gz" ] || fail "manual page of orn-redact not installed"
fi
readelf -d "$prefix/$libdir/liborn_DataParser.so.1" | grep -q 'SONAME.*liborn_DataParser.so.1' ||
  fail "SONAME of liborn_DataParser"

# Nothing of the source tree may be visible to the consumer builds.
cp -r examples/consumer "$work/consumer"
data=$root/examples/data/customers.xml

echo "==> Consumer through find_package"
cmake -S "$work/consumer" -B "$work/build-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$work/build-cmake" -j "$(nproc)"
"$work/build-cmake/orn-consumer" "$data" "$work/out-cmake.xml" | tee "$work/cmake.log"
grep -qx "consumer: ok" "$work/cmake.log" || fail "find_package consumer"

echo "==> Consumer through pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
pkg-config --modversion orn_DataParser
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror "$work/consumer/consumer.cpp" \
  $(pkg-config --cflags --libs orn_DataParser) \
  -Wl,-rpath,"$(pkg-config --variable=libdir orn_DataParser)" -o "$work/orn-consumer-pc"
"$work/orn-consumer-pc" "$data" "$work/out-pc.xml" | tee "$work/pc.log"
grep -qx "consumer: ok" "$work/pc.log" || fail "pkg-config consumer"
cmp "$work/out-cmake.xml" "$work/out-pc.xml" || fail "the two consumers saved different files"

echo "==> CI step consumer finished in $(( $(date +%s) - start ))s"
