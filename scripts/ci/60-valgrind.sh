#!/usr/bin/env bash
# Runs the unit tests, and the orn-redact tool when it has been built, under
# valgrind memcheck: any memory error or definite/indirect leak fails the
# step. Uses the build of the preset "ci" (made by scripts/run-tests.sh),
# building it first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh --tests >/dev/null

start=$(date +%s)
build=build/ci
if [ ! -x "$build/common/lib/DataParser/test/orn_DataParser_tests" ]; then
  cmake --preset ci >/dev/null
  cmake --build --preset ci -j "$(nproc)"
fi

memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
          --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect
          --track-origins=no --quiet --suppressions=scripts/ci/valgrind.supp)

run() {
  local began=$(date +%s)
  # Progress goes to standard error: some runs' standard output is checked.
  local status=0
  echo "==> valgrind: $*" >&2
  "${memcheck[@]}" "$@" || status=$?
  echo "    ($(( $(date +%s) - began ))s)" >&2
  return "$status"
}

# gtest output is kept short; failures and valgrind's reports still show.
run "$build/common/lib/Logger/test/orn_Logger_tests" --gtest_brief=1
run "$build/common/lib/DataParser/test/orn_DataParser_interface_only_test" --gtest_brief=1
run "$build/common/lib/DataParser/test/orn_DataParser_tests" --gtest_brief=1
# The tool's in-process tests, one executable per folder of the tool.
for tests in "$build"/tools/orn-redact/test/orn-redact_*_tests; do
  [ "$(basename "$tests")" = orn-redact_tool_tests ] || run "$tests" --gtest_brief=1
done

redact=$(find "$build" -type f -name orn-redact -perm -u+x 2>/dev/null | head -n 1 || true)
if [ -n "$redact" ]; then
  output=$(mktemp)
  run "$redact" -i examples/data/customers.xml --deep //email //notes >"$output"
  # Byte-preserving: the redacted lines are the only ones that differ.
  changed=$(diff examples/data/customers.xml "$output" | grep -c '^>' || true)
  if ! grep -q '<email>redacted</email>' "$output" || [ "$changed" -ne 6 ]; then
    echo "FAILED: orn-redact did not redact exactly the e-mail addresses and notes ($changed lines changed)"
    rm -f "$output"
    exit 1
  fi
  run "$redact" --reformat -i examples/data/customers.xml //email >"$output"
  rm -f "$output"
  # Several files on two workers, a broken one among them (exit status 1).
  batch=$(mktemp -d)
  printf '<a><b>x</b>' >"$batch/broken.xml"
  status=0
  run "$redact" --jobs 2 --output-dir "$batch/out" -i examples/data/customers.xml \
    -i "$batch/broken.xml" //email || status=$?
  if [ "$status" -ne 1 ] || ! grep -q '<email>redacted</email>' "$batch/out/customers.xml"; then
    echo "FAILED: orn-redact on several files under valgrind (exit status $status)"
    rm -rf "$batch"
    exit 1
  fi
  rm -rf "$batch"
else
  echo "==> orn-redact is not built; skipped"
fi
echo "valgrind step took $(( $(date +%s) - start ))s"
