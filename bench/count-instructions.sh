#!/usr/bin/env bash
# Counts the instructions of one iteration of each operation, through the
# library and through pugixml alone, with valgrind's callgrind: unlike times,
# the counts do not move with other load on the machine or with where the
# documents happen to lie in memory, so the ratios show the library's own
# overhead. (They do not show memory stalls: the timed benchmarks do.)
#
#   bench/count-instructions.sh [MEGABYTES] [OPERATION...]
#
# Default: a 1 MB document and every operation. BENCH names the benchmark
# program (default build/bench/bench/orn_DataParser_bench).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench=${BENCH:-$root/build/bench/bench/orn_DataParser_bench}
size=${1:-1}
shift || true
operations=("$@")
if ((${#operations[@]} == 0)); then
  operations=(LoadString LoadStream LoadFile SaveToStream SaveFile WalkNames WalkNamesValues
    SelectNodes0 SelectNodes1 SelectNodes2 SelectNodes3 SetValueToInt SetValueToString RedactNodes)
fi
command -v valgrind >/dev/null || { echo "count-instructions: valgrind is not installed" >&2; exit 1; }
[ -x "$bench" ] || { echo "count-instructions: $bench not found" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orn-count.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The benchmark function that holds the timed loop of an operation.
function_of() {
  local operation=$1 side=$2
  case $operation in
    WalkNames) echo "Walk${side}Bench<false>" ;;
    WalkNamesValues) echo "Walk${side}Bench<true>" ;;
    SelectNodes*) echo "SelectNodes${side}" ;;
    SetValueToInt) echo "SetInts${side}" ;;
    SetValueToString) echo "SetStrings${side}" ;;
    *) echo "${operation}${side}" ;;
  esac
}

count() {
  local operation=$1 side=$2 suffix out
  suffix=$(echo "$side" | tr '[:upper:]' '[:lower:]')
  out="$work/$operation.$suffix"
  valgrind --tool=callgrind --callgrind-out-file="$out" \
    --toggle-collect="*$(function_of "$operation" "$side")(*" \
    "$bench" --doc_mb="$size" --benchmark_min_time=0 \
    --benchmark_filter="^$operation/.*/$suffix\$" >"$out.log" 2>&1
  callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
}

printf '%-20s %15s %15s %8s\n' "operation (${size} MB)" "lib Ir" "pugi Ir" "ratio"
for operation in "${operations[@]}"; do
  lib=$(count "$operation" Lib)
  pugi=$(count "$operation" Pugi)
  printf '%-20s %15s %15s %8s\n' "$operation" "$lib" "$pugi" \
    "$(awk -v a="$lib" -v b="$pugi" 'BEGIN { if (b > 0) printf "%.3fx", a / b; else print "-" }')"
done
