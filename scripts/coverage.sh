#!/usr/bin/env bash
# Builds the project with gcov instrumentation (preset "coverage"), runs the
# whole CTest suite and reports line and branch coverage of the libraries
# (common/lib) and of the tools (tools/); tests, benchmarks, fuzz targets and
# examples are not counted. Writes an HTML report to
# build/coverage/html/index.html.
#
#   MIN_LINES     fail when the libraries' line coverage is below this
#                 percentage (default: no limit)
#   MIN_BRANCHES  the same for their branch coverage
#
# Branches that only throw exceptions, and branches the compiler made for
# lines that hold no code of ours, are left out (gcovr's
# --exclude-throw-branches and --exclude-unreachable-branches): each call
# that may throw would otherwise count as a branch, whose other side
# (std::bad_alloc and the like) no test can reach.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh --tests gcovr >/dev/null

jobs=$(nproc)
build=build/coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "$jobs"

# Counters start at zero: test discovery during the build ran the test
# programs once already, and an earlier run may have left counts.
find "$build" -name '*.gcda' -delete
echo "==> Running the test suite"
if ! ctest --preset coverage -j "$jobs" >"$build/ctest.log" 2>&1; then
  cat "$build/ctest.log"
  echo "FAILED: tests failed in the coverage build"
  exit 1
fi
grep -E 'tests passed|tests failed' "$build/ctest.log"

# One pass of gcov over everything; the summaries are read from its result.
mkdir -p "$build/html"
# CMake's compiler checks in CMakeFiles/<version> were compiled with the
# flags too, and have no counts.
gcovr --root . --object-directory "$build" -j "$jobs" \
  --exclude-directories '.*/CMakeFiles/[0-9][^/]*$' \
  --filter 'common/lib/' --filter 'tools/' --exclude '.*/test/.*' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json "$build/coverage.json" \
  --html-details "$build/html/index.html" --html-title "orn DataParser coverage" >/dev/null

status=0
# gcovr writes its output file by replacing it; run as root and given a
# device such as /dev/null, it would put a regular file in the device's
# place. The text reports that only the summary is wanted from go to a
# folder of this script's own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
summary() {  # NAME FILTER [gcovr options]
  local name=$1 filter=$2 result=0
  shift 2
  echo "==> $name ($filter)"
  gcovr --root . --add-tracefile "$build/coverage.json" --filter "$filter" \
    --print-summary "$@" --output "$scratch/report.txt" || result=$?
  return $result
}
limits=()
[ -n "${MIN_LINES:-}" ] && limits+=(--fail-under-line "$MIN_LINES")
[ -n "${MIN_BRANCHES:-}" ] && limits+=(--fail-under-branch "$MIN_BRANCHES")
if ! summary "libraries" 'common/lib/' "${limits[@]}"; then
  echo "FAILED: the libraries' coverage is below the limit (lines ${MIN_LINES:-none}%," \
       "branches ${MIN_BRANCHES:-none}%)"
  status=1
fi
summary "tools" 'tools/'
echo "==> HTML report: $build/html/index.html"
if [ ! -c /dev/null ]; then
  echo "FAILED: /dev/null is no longer a character device after the coverage run;" \
       "as root: rm -f /dev/null; mknod -m 666 /dev/null c 1 3"
  status=1
fi
exit $status
