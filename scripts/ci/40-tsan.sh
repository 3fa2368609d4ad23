#!/usr/bin/env bash
# Builds the project with ThreadSanitizer and runs the tests that use the
# library from many threads at once (and the logger's own tests). Any data
# race fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh >/dev/null

start=$(date +%s)
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)" --target orn_DataParser_tests orn_Logger_tests
# setarch -R: ThreadSanitizer cannot map its shadow memory under the high
# address-space randomisation of newer kernels.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --preset tsan -R 'Concurrency|LogClient' --output-on-failure
echo "tsan step took $(( $(date +%s) - start ))s"
