#!/usr/bin/env bash
# Times orn-redact on many files in one process against one process per file:
#   loop        a shell loop of single-file runs (orn-redact -i F -o OUT/F)
#   xargs-P2    the same single-file runs, two at a time (xargs -P 2)
#   jobs-1      one orn-redact with --output-dir and --jobs 1
#   jobs-2      one orn-redact with --output-dir and --jobs 2
# on two batches: 2000 files of 20 KB and 20 files of 20 MB (generated
# customer registers; expressions //email //idNumber //address/street). Each
# configuration runs RUNS times, interleaved; the table shows the median wall
# time, the speed-up over the loop, and the peak resident memory of the
# largest process, and checks that every configuration wrote the same bytes.
#
# Needs a build with the benchmarks:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORN_BUILD_BENCH=ON
#   cmake --build build/bench -j2 --target orn-bench-gen orn-redact
#
# Environment: BUILD_DIR (default build/bench), RUNS (default 3), BATCHES
# (default "small large"), SMALL_FILES (2000), LARGE_FILES (20), TMPDIR.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build/bench}
runs=${RUNS:-3}
batches=${BATCHES:-"small large"}
orn_redact=${ORN_REDACT:-$build_dir/tools/orn-redact/orn-redact}
generator=${GENERATOR:-$build_dir/bench/orn-bench-gen}
queries=(//email //idNumber //address/street)

for program in "$generator" "$orn_redact" /usr/bin/time; do
  if [ ! -x "$program" ]; then
    echo "compare-batch: $program not found; build it first (see the top of this script)" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orn-compare-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT

# make_batch NAME COUNT MB: COUNT copies of a generated file of MB megabytes,
# each with its own first record id so that no two files are the same.
make_batch() {
  local name=$1 count=$2 mb=$3 index
  mkdir -p "$work/$name"
  "$generator" "$mb" "$work/$name.seed" 2>/dev/null
  for ((index = 1; index <= count; ++index)); do
    sed "0,/id=\"00000001\"/s//id=\"b$index\"/" "$work/$name.seed" >"$work/$name/f$index.xml"
  done
  rm -f "$work/$name.seed"
}

# run CONFIG BATCH OUTDIR: one timed run; prints "wall_ms peak_kB".
run() {
  local config=$1 batch=$2 out=$3 start end
  rm -rf "$out" && mkdir -p "$out"
  # The output of the runs before goes to disk now, not in the middle of this one.
  sync
  start=$(date +%s%N)
  case $config in
    loop)
      /usr/bin/time -f '%M' -o "$work/usage" bash -c '
        tool=$1 out=$2 dir=$3; shift 3
        for file in "$dir"/*.xml; do "$tool" -i "$file" -o "$out/${file##*/}" "$@" 2>/dev/null; done
      ' _ "$orn_redact" "$out" "$work/$batch" "${queries[@]}" ;;
    xargs-P2)
      /usr/bin/time -f '%M' -o "$work/usage" bash -c '
        tool=$1 out=$2 dir=$3; shift 3
        printf "%s\0" "$dir"/*.xml | xargs -0 -P 2 -n 1 sh -c '\''
          "$0" -i "$2" -o "$1/${2##*/}" //email //idNumber //address/street 2>/dev/null
        '\'' "$tool" "$out"
      ' _ "$orn_redact" "$out" "$work/$batch" ;;
    jobs-*)
      # The list of files is built by the shell, as a user would.
      /usr/bin/time -f '%M' -o "$work/usage" bash -c '
        tool=$1 out=$2 dir=$3 jobs=$4; shift 4
        printf "%s\n" "$dir"/*.xml | "$tool" --files-from - --output-dir "$out" --jobs "$jobs" --quiet "$@"
      ' _ "$orn_redact" "$out" "$work/$batch" "${config#jobs-}" "${queries[@]}" ;;
  esac
  end=$(date +%s%N)
  echo "$(((end - start) / 1000000)) $(tail -n 1 "$work/usage")"
}

configs=(loop xargs-P2 jobs-1 jobs-2)
results="$work/results"
: >"$results"
for batch in $batches; do
  case $batch in
    small) make_batch small "${SMALL_FILES:-2000}" 0.02 ;;
    large) make_batch large "${LARGE_FILES:-20}" 20 ;;
    *) echo "compare-batch: unknown batch $batch" >&2; exit 2 ;;
  esac
  echo "== batch $batch: $(ls "$work/$batch" | wc -l) files, $(du -sm "$work/$batch" | cut -f1) MB, $runs runs per configuration" >&2
  for ((index = 1; index <= runs; ++index)); do
    for config in "${configs[@]}"; do
      echo "$batch $config $(run "$config" "$batch" "$work/out-$config")" >>"$results"
    done
    echo "   run $index of $runs done" >&2
  done
  # Every configuration must have written the same documents.
  for config in "${configs[@]:1}"; do
    if ! diff -rq "$work/out-loop" "$work/out-$config" >/dev/null; then
      echo "compare-batch: $config wrote other output than loop on batch $batch" >&2
      exit 1
    fi
  done
  rm -rf "$work/$batch" "$work"/out-*
done

python3 - "$results" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    batch, config, ms, kb = line.split()
    rows.setdefault((batch, config), []).append((int(ms) / 1000, int(kb) / 1024))
print("| batch | configuration | runs | wall s (median) | wall min-max | speed-up over loop | peak MB |")
print("|---|---|---|---|---|---|---|")
for (batch, config), runs in rows.items():
    base = statistics.median(r[0] for r in rows[(batch, "loop")])
    wall = statistics.median(r[0] for r in runs)
    print(f"| {batch} | {config} | {len(runs)} | {wall:.2f} | {min(r[0] for r in runs):.2f}-"
          f"{max(r[0] for r in runs):.2f} | {base / wall:.2f}x | {statistics.median(r[1] for r in runs):.0f} |")
PY
