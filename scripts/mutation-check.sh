#!/usr/bin/env bash
# Measures how many seeded faults the test suite catches.
#
# Applies the faults of a list (scripts/mutations/faults.txt by default) one
# at a time to the library and tool sources, rebuilds incrementally in one
# build folder (configured from preset "default"), runs the whole CTest suite
# and restores the source. A fault counts as caught when any test fails, times
# out or crashes. A fault whose sed expression leaves its file unchanged is
# reported as "did not apply", one that breaks the build as "does not build";
# neither counts as caught. The source is always restored, also on Ctrl-C.
#
# usage: scripts/mutation-check.sh [--list FILE] [--build DIR] [--only REGEX]
#                                  [--all-tests] [--dry-run]
#   --list FILE    fault list (default scripts/mutations/faults.txt)
#   --build DIR    build folder (default build/mutation)
#   --only REGEX   run only the faults whose name matches
#   --all-tests    run the whole suite for every fault and name every test that
#                  catches it (default: stop at the first failing test)
#   --dry-run      only check that every fault applies; no build, no tests
# Environment: MUTATION_JOBS (default 2), MUTATION_TEST_TIMEOUT (seconds per
# test, default 60), MUTATION_SUITE_TIMEOUT (seconds per suite run, default 600).
# Exit status: 0 when every fault applied, built and was caught; 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

list=scripts/mutations/faults.txt
build=build/mutation
only=""
allTests=0
dryRun=0
while (($#)); do
  case "$1" in
    --list) list=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --all-tests) allTests=1; shift ;;
    --dry-run) dryRun=1; shift ;;
    *) echo "usage: $0 [--list FILE] [--build DIR] [--only REGEX] [--all-tests] [--dry-run]" >&2
       exit 2 ;;
  esac
done
jobs=${MUTATION_JOBS:-2}
testTimeout=${MUTATION_TEST_TIMEOUT:-60}
suiteTimeout=${MUTATION_SUITE_TIMEOUT:-600}

work=$(mktemp -d)
backup="$work/original"
mutated=""  # the source file that currently holds a fault, if any

# Puts the original content back. Written through the existing file (not
# copied with its old time stamp), so that the next build recompiles it.
restore() {
  if [ -n "$mutated" ]; then
    cat "$backup" >"$mutated"
    mutated=""
  fi
}
cleanup() {
  restore
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "interrupted; source restored" >&2; exit 130' INT TERM

build_all() { cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1; }

# Runs the suite; when it fails, prints the failing tests (the first one
# unless --all-tests), separated by commas.
run_suite() {
  local stop=(--stop-on-failure)
  ((allTests)) && stop=()
  if timeout --foreground "$suiteTimeout" ctest --test-dir "$build" -j "$jobs" --timeout "$testTimeout" \
      "${stop[@]}" >"$work/test.log" 2>&1; then
    return 0
  fi
  local failed
  failed=$(sed -n '/The following tests FAILED/,$p' "$work/test.log" | grep -E '^\s+[0-9]+ - ' |
           sed -E 's/^\s+[0-9]+ - //; s/ \([A-Za-z ]+\)$//' | paste -sd, | sed 's/,/, /g') || true
  echo "${failed:-the suite (no test named; timed out?)}"
  return 1
}

if ((!dryRun)); then
  echo "==> configuring and building $build (preset ci)"
  cmake --preset ci -B "$build" -DORN_WERROR=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
  build_all || { tail -n 40 "$work/build.log"; exit 1; }
  echo "==> the unchanged sources must pass"
  if ! run_suite >/dev/null; then
    tail -n 40 "$work/test.log"
    echo "the suite fails without any fault; fix that first" >&2
    exit 1
  fi
fi

caught=0
missedNames=()
notApplied=()
notBuilt=()
total=0
while read -r name file expression; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  if [ -n "$only" ] && ! [[ "$name" =~ $only ]]; then
    continue
  fi
  total=$((total + 1))
  if [ ! -f "$file" ]; then
    printf '%-14s %s (no file %s)\n' "did not apply" "$name" "$file"
    notApplied+=("$name")
    continue
  fi
  cp "$file" "$backup"
  mutated=$file
  if ! sed -e "$expression" "$backup" >"$file" 2>"$work/sed.log" || cmp -s "$backup" "$file"; then
    restore
    printf '%-14s %s\n' "did not apply" "$name"
    notApplied+=("$name")
    continue
  fi
  if ((dryRun)); then
    restore
    printf '%-14s %s\n' "applies" "$name"
    continue
  fi
  if ! build_all; then
    restore
    printf '%-14s %s\n' "does not build" "$name"
    notBuilt+=("$name")
    continue
  fi
  if failed=$(run_suite); then
    restore
    printf '%-14s %s\n' "MISSED" "$name"
    missedNames+=("$name")
  else
    restore
    printf '%-14s %s (by %s)\n' "caught" "$name" "$failed"
    caught=$((caught + 1))
  fi
done <"$list"

if ((dryRun)); then
  echo "$total faults, ${#notApplied[@]} did not apply"
  ((${#notApplied[@]} == 0))
  exit
fi

# Leave the build folder matching the restored sources.
build_all || true

echo
echo "$caught caught, ${#missedNames[@]} missed (of $total faults)"
((${#missedNames[@]})) && echo "missed: ${missedNames[*]}"
((${#notApplied[@]})) && echo "did not apply: ${notApplied[*]}"
((${#notBuilt[@]})) && echo "does not build: ${notBuilt[*]}"
((${#missedNames[@]} + ${#notApplied[@]} + ${#notBuilt[@]} == 0))
