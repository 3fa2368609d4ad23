#!/usr/bin/env bash
# Times orn-redact on one large generated file (record by record) against
# pugixml alone, in the same run, for each expression set of compare-redact.sh:
# wall time, CPU time and peak resident memory, their ratios to raw-pugixml,
# and the time per byte. Every orn-redact output is compared byte for byte
# with what --whole writes for the same input (where --whole is run), and
# compressed inputs' outputs with the uncompressed input's. Compressed input
# to compressed output is also timed as the shell pipeline that does the same
# job (gzip -dc | orn-redact | pigz -1; zstd -dc | orn-redact | zstd -1, and
# with -T0), and the script ends with orn-redact's wall time as a ratio of each
# pipeline's.
#
# The file is not kept: it is generated into TMPDIR and removed at the end
# (1 GiB by default; 10 GiB with SIZE_MB=10240). Too large for CI.
#
# Needs a build with the benchmarks:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORN_BUILD_BENCH=ON
#   cmake --build build/bench -j2 --target orn-bench-gen orn-bench-raw-redact orn-redact
#
# Environment: BUILD_DIR (default build/bench), SIZE_MB (default 1024), RUNS
# (default 1), SETS (default "readme mixed"), WHOLE (run raw-pugixml and
# orn-redact --whole: "auto" (default) runs them up to 2048 MB, as they need
# about four times the file in memory; "yes" or "no"), COMPRESS (formats to
# try, default "gzip zstd"; each needs its command-line tool, and pigz for the
# gzip pipeline), TMPDIR.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build/bench}
size=${SIZE_MB:-1024}
runs=${RUNS:-1}
sets=${SETS:-"readme mixed"}
compress=${COMPRESS-"gzip zstd"}
whole=${WHOLE:-auto}
if [ "$whole" = auto ]; then
  whole=$([ "$size" -le 2048 ] && echo yes || echo no)
fi
orn_redact=$build_dir/tools/orn-redact/orn-redact
raw_redact=$build_dir/bench/orn-bench-raw-redact
generator=$build_dir/bench/orn-bench-gen
for program in "$orn_redact" "$raw_redact" "$generator"; do
  if [ ! -x "$program" ]; then
    echo "large-file: $program not found; build it first (see the header of $0)" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "large-file: /usr/bin/time is needed (apt-get install time)" >&2
  exit 1
fi

declare -A expression_sets=(
  [readme]="//email //idNumber //address/street"
  [mixed]="//idNumber //record/email //notes"
)

work=$(mktemp -d "${TMPDIR:-/tmp}/orn-large-file.XXXXXX")
trap 'rm -rf "$work"' EXIT
input=$work/input.xml
echo "== generating $size MB" >&2
"$generator" "$size" "$input" >/dev/null 2>&1
bytes=$(stat -c %s "$input")

# Runs a command under /usr/bin/time; prints "wall cpu peak-kB".
measure() {
  # Status 4: written, with a warning of something left readable.
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || [ $? -eq 4 ] || {
    echo "large-file: failed: $*" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  # The figures are on the last line: time puts "Command exited with non-zero
  # status 4" before them.
  tail -n 1 "$work/time" | awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }'
}

# The median of the runs' "wall cpu kB" lines, by wall time.
median() { sort -n | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }'; }

repeat() {
  for ((run = 1; run <= runs; run++)); do measure "$@" || return 1; done | median
}

# Reads repeat's "wall cpu kB" into the named array; stops the script when the
# command failed.
take() {
  local -n into=$1
  shift
  local line
  line=$(repeat "$@") || exit 1
  read -r -a into <<<"$line"
  [ "${#into[@]}" -eq 3 ] || exit 1
}

rows=()
versus=()
row() { # label tool wall cpu kB base-wall base-cpu base-kB same
  local ratio="-" cpu_ratio="-" memory_ratio="-"
  if [ "$6" != "-" ]; then
    ratio=$(awk -v a="$3" -v b="$6" 'BEGIN { printf "%.2fx", a / b }')
    cpu_ratio=$(awk -v a="$4" -v b="$7" 'BEGIN { printf "%.2fx", a / b }')
    memory_ratio=$(awk -v a="$5" -v b="$8" 'BEGIN { printf "%.2fx", a / b }')
  fi
  local per_byte
  per_byte=$(awk -v s="$3" -v n="$bytes" 'BEGIN { printf "%.2f", s * 1e9 / n }')
  rows+=("| $1 | $2 | $3 | $ratio | $4 | $cpu_ratio | $(($5 / 1024)) | $memory_ratio | $per_byte | $9 |")
}

for set in $sets; do
  read -r -a queries <<<"${expression_sets[$set]}"
  label="$size/$set"
  echo "== $label: ${queries[*]}" >&2
  base=("-" "-" "-")
  if [ "$whole" = yes ]; then
    take base "$raw_redact" -i "$input" -o "$work/raw.xml" "${queries[@]}"
    row "$label" raw-pugixml "${base[@]}" "${base[@]}" "-"
    measure "$orn_redact" --whole -i "$input" -o "$work/whole.xml" "${queries[@]}" >/dev/null
  fi
  take result "$orn_redact" -i "$input" -o "$work/records.xml" "${queries[@]}"
  same="-"
  if [ "$whole" = yes ]; then
    same=$(cmp -s "$work/records.xml" "$work/whole.xml" && echo "same as --whole" || echo DIFFERS)
  fi
  row "$label" orn-redact "${result[@]}" "${base[@]}" "$same"
  [ "$same" = DIFFERS ] && failed=1

  for format in $compress; do
    case $format in
      gzip) tool=gzip suffix=gz pack=(gzip -c) pipelines=("pigz -1") ;;
      zstd) tool=zstd suffix=zst pack=(zstd -q -c -T0) pipelines=("zstd -q -1" "zstd -q -1 -T0") ;;
      *) echo "large-file: unknown format $format" >&2; exit 1 ;;
    esac
    if ! command -v "$tool" >/dev/null; then
      echo "   $format skipped: $tool not installed" >&2
      continue
    fi
    packed=$work/input.xml.$suffix
    [ -e "$packed" ] || "${pack[@]}" "$input" >"$packed"
    take alone "$tool" -dc "$packed"
    row "$label" "$tool -dc alone" "${alone[@]}" "${base[@]}" "-"
    for target in records.xml records.xml.$suffix; do
      take result "$orn_redact" -i "$packed" -o "$work/c-$target" "${queries[@]}"
      if [ "$target" = records.xml ]; then
        same=$(cmp -s "$work/c-$target" "$work/records.xml" && echo "same" || echo DIFFERS)
      else
        same=$("$tool" -dc "$work/c-$target" | cmp -s - "$work/records.xml" && echo "same" ||
          echo DIFFERS)
      fi
      [ "$same" = DIFFERS ] && failed=1
      row "$label" "orn-redact .$suffix -> ${target#records}" "${result[@]}" "${base[@]}" "$same"
      rm -f "$work/c-$target"
      [ "$target" = records.xml ] || packed_wall=${result[0]}
    done
    # The same job as the shell pipeline a user would type: decompress, redact
    # standard input to standard output, compress (at the fastest level, as
    # orn-redact compresses).
    for packer in "${pipelines[@]}"; do
      if ! command -v "${packer%% *}" >/dev/null; then
        echo "   pipeline into $packer skipped: ${packer%% *} not installed" >&2
        continue
      fi
      take result bash -c 'set -o pipefail; "$1" -dc "$2" | "$3" "${@:6}" | $4 >"$5"' pipeline \
        "$tool" "$packed" "$orn_redact" "$packer" "$work/p-records.xml.$suffix" "${queries[@]}"
      same=$("$tool" -dc "$work/p-records.xml.$suffix" | cmp -s - "$work/records.xml" && echo "same" ||
        echo DIFFERS)
      [ "$same" = DIFFERS ] && failed=1
      row "$label" "$tool -dc \| orn-redact \| $packer" "${result[@]}" "${base[@]}" "$same"
      rm -f "$work/p-records.xml.$suffix"
      versus+=("$label: orn-redact .$suffix -> .xml.$suffix takes $(awk -v a="$packed_wall" \
        -v b="${result[0]}" 'BEGIN { printf "%.2fx", a / b }') the wall time of the pipeline into $packer")
    done
  done
done

echo "| MB/set | tool | wall s | wall ratio | CPU s | CPU ratio | peak MB | memory ratio | ns per byte | output |"
echo "|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
if [ "${#versus[@]}" -gt 0 ]; then
  echo
  printf '%s\n' "${versus[@]}"
fi
exit "${failed:-0}"
