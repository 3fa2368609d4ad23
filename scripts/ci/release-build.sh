# Sourced (not run) by the CI steps that use an optimised build of the
# libraries and the tool: 70-bench-smoke.sh runs its benchmarks, 80-package.sh
# packages it and 85-abi.sh compares the ABI of its libraries. One
# configuration serves all three, so that a CI run builds it
# once:
#   - RelWithDebInfo: optimised, with the debug information that abidw and
#     abidiff read the types from;
#   - the compiler and linker flags of a Debian build (dpkg-buildflags with all
#     hardening: fortify, stack protector, RELRO, BIND_NOW), which lintian
#     checks in the packages;
#   - /usr as prefix, which gives the multiarch library folder (an install
#     elsewhere redirects it with `cmake --install --prefix`);
#   - warnings are errors; tools and benchmarks on, tests and examples off.
# Expects to be sourced from the top of the source tree. Sets release_build to
# the build folder. A folder configured differently (say, by an older version
# of this file, or with another machine's flags) is configured afresh; the
# build itself runs every time and does nothing when all is up to date.

./scripts/install-deps.sh --tests dpkg-dev libbenchmark-dev >/dev/null

release_build=build/release
release_cxxflags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) \
$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)"
release_ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
release_options=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
  -DCMAKE_CXX_FLAGS="$release_cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$release_ldflags"
  -DCMAKE_SHARED_LINKER_FLAGS="$release_ldflags"
  -DORN_WERROR=ON -DORN_BUILD_TESTS=OFF -DORN_BUILD_TOOLS=ON -DORN_BUILD_EXAMPLES=OFF
  -DORN_BUILD_BENCH=ON -DORN_FUZZ=OFF
)
if [ "$(cat "$release_build/ci-configuration" 2>/dev/null)" != "${release_options[*]}" ]; then
  rm -rf "$release_build"
  cmake -S . -B "$release_build" "${release_options[@]}" >/dev/null
  echo "${release_options[*]}" >"$release_build/ci-configuration"
fi
cmake --build "$release_build" -j "$(nproc)"
