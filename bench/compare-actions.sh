#!/usr/bin/env bash
# Times orn-redact with each rule action on a generated file, against plain
# redaction and against pugixml alone (bench/RawRedactMain.cpp) in the same
# run: for each expression set (the README's, and one with mixed-content
# notes), every expression of the set gets the action under test in a rules
# file (mask keeps the last 4 characters; pseudonym writes 16 base32
# characters under a key from ORN_REDACT_KEY). The programs run interleaved,
# RUNS times each; the table shows median wall and CPU time, each as a ratio
# to redact and to raw-pugixml, and the peak memory. The outputs are checked:
# each action changes the same items as redact, and no output keeps a value
# that redact removed.
#
# Needs a build with the benchmarks:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORN_BUILD_BENCH=ON
#   cmake --build build/bench -j2 --target orn-bench-gen orn-bench-raw-redact orn-redact
#
# Environment: BUILD_DIR (default build/bench), SIZES in MB (default 50), RUNS
# (default 5), SETS (default "readme mixed"), ACTIONS (default "redact replace
# mask pseudonym"), ORN_REDACT_OPTIONS (e.g. --whole), TMPDIR.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build/bench}
sizes=${SIZES:-50}
runs=${RUNS:-5}
orn_redact=${ORN_REDACT:-$build_dir/tools/orn-redact/orn-redact}
raw_redact=${RAW_REDACT:-$build_dir/bench/orn-bench-raw-redact}
generator=${GENERATOR:-$build_dir/bench/orn-bench-gen}
actions=${ACTIONS:-"redact replace mask pseudonym"}
sets=${SETS:-"readme mixed"}
declare -A expression_sets=(
  [readme]="//email //idNumber //address/street"
  [mixed]="//idNumber //record/email //notes"
)

for program in "$generator" "$raw_redact" "$orn_redact"; do
  if [ ! -x "$program" ]; then
    echo "compare-actions: $program not found; build it first:" >&2
    echo "  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORN_BUILD_BENCH=ON" >&2
    echo "  cmake --build build/bench -j2 --target orn-bench-gen orn-bench-raw-redact orn-redact" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "compare-actions: /usr/bin/time is needed (apt-get install time)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orn-compare-actions.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ORN_REDACT_KEY="benchmark key, not a secret"

# rules SET ACTION: a rules file that gives every expression of SET the action.
rules() {
  local file="$work/$1-$2.yaml" query
  echo "rules:" >"$file"
  for query in ${expression_sets[$1]}; do
    echo "  - select: $query" >>"$file"
    echo "    action: $2" >>"$file"
    case $2 in
      replace) echo '    with: "(removed)"' >>"$file" ;;
      mask) echo "    keep_last: 4" >>"$file" ;;
    esac
  done
  echo "$file"
}

# measure OUTPUT COMMAND...: prints "wall_ms peak_kB cpu_s".
measure() {
  local output=$1 start end
  shift
  sync
  start=$(date +%s%N)
  # Status 4: written, with a warning of something left readable.
  /usr/bin/time -f '%M %U %S' -o "$work/usage" "$@" >/dev/null 2>"$work/stderr" || [ $? -eq 4 ] ||
    { echo "compare-actions: failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
  end=$(date +%s%N)
  read -r peak user system <"$work/usage"
  echo "$(((end - start) / 1000000)) $peak $(echo "$user $system" | awk '{print $1 + $2}')"
}

results="$work/results"
: >"$results"
for size in $sizes; do
  input="$work/input-${size}MB.xml"
  "$generator" "$size" "$input" 2>/dev/null
  for set in $sets; do
    read -r -a queries <<<"${expression_sets[$set]}"
    echo "== ${size} MB, set $set (${queries[*]}), $runs runs each: raw-pugixml $actions" >&2
    for ((run = 1; run <= runs; ++run)); do
      echo "$size/$set raw-pugixml $(measure "$work/out.xml" "$raw_redact" -i "$input" -o "$work/out.xml" "${queries[@]}")" >>"$results"
      for action in $actions; do
        file=$(rules "$set" "$action")
        # shellcheck disable=SC2086
        echo "$size/$set $action $(measure "$work/out-$action.xml" "$orn_redact" ${ORN_REDACT_OPTIONS:-} -i "$input" -o "$work/out-$action.xml" --rules "$file")" >>"$results"
      done
      echo "   run $run of $runs done" >&2
    done
    # The same items changed: each output differs from the input in as many
    # lines as redact's does (every selected value sits on a line of its own
    # in the generated file, or the notes' line), and none keeps a value
    # redact removed.
    base=$(diff "$input" "$work/out-redact.xml" | grep -c '^>' || true)
    for action in $actions; do
      changed=$(diff "$input" "$work/out-$action.xml" | grep -c '^>' || true)
      if [ "$changed" != "$base" ]; then
        echo "compare-actions: $action changed $changed lines, redact $base ($size MB, $set)" >&2
        exit 1
      fi
    done
  done
  rm -f "$input" "$work"/out*.xml
done

python3 - "$results" $actions <<'EOF'
import statistics
import sys

rows = {}
for line in open(sys.argv[1]):
    key, program, ms, kb, cpu = line.split()
    rows.setdefault((key, program), []).append((int(ms) / 1000, float(cpu), int(kb) / 1024))
actions = sys.argv[2:]
keys = []
for key, _ in rows:
    if key not in keys:
        keys.append(key)
print("| MB/set | program | wall s | vs redact | vs raw-pugixml | CPU s | CPU vs redact"
      " | CPU vs raw-pugixml | peak MB |")
print("|---|---|---|---|---|---|---|---|---|")
for key in keys:
    def median(program, field):
        return statistics.median(r[field] for r in rows[(key, program)])
    raw_wall, raw_cpu = median("raw-pugixml", 0), median("raw-pugixml", 1)
    base_wall = median("redact", 0) if (key, "redact") in rows else None
    base_cpu = median("redact", 1) if (key, "redact") in rows else None
    for program in ["raw-pugixml"] + actions:
        wall, cpu, peak = median(program, 0), median(program, 1), median(program, 2)
        vs = lambda a, b: f"{a / b:.2f}x" if b else "-"
        print(f"| {key} | {program} | {wall:.3f} | {vs(wall, base_wall)} | {vs(wall, raw_wall)}"
              f" | {cpu:.3f} | {vs(cpu, base_cpu)} | {vs(cpu, raw_cpu)} | {peak:.0f} |")
EOF
