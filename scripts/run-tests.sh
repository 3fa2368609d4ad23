#!/usr/bin/env bash
# Installs what is missing, builds the project with warnings as errors and
# runs the whole test suite twice: once as is, once under AddressSanitizer
# and UndefinedBehaviorSanitizer. The built programs and libraries must not
# search the current directory for libraries (scripts/check-runpath.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh --tests

jobs=$(nproc)
for preset in ci asan; do
  echo "==> Building and testing preset '$preset'"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ./scripts/check-runpath.sh "build/$preset"
  ctest --preset "$preset" -j "$jobs"
done
