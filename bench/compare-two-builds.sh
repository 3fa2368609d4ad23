#!/usr/bin/env bash
# Times two builds of orn-redact against the pugixml-only program in one
# interleaved run (old, new, pugixml alone, RUNS times), so that a change of
# the tool's inside can be judged on the same machine state. Prints the median
# wall time, CPU time and peak memory of each as ratios to pugixml alone.
#   bench/compare-two-builds.sh OLD NEW INPUT "OPTIONS" EXPRESSION...
# e.g. bench/compare-two-builds.sh old/orn-redact build/bench/tools/orn-redact/orn-redact \
#        in50.xml --whole //email //idNumber //address/street
# Environment: RUNS (default 7), RAW_REDACT (default build/bench/bench/orn-bench-raw-redact).
set -euo pipefail
if [ $# -lt 5 ]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
old=$1 new=$2 input=$3 options=$4
shift 4
runs=${RUNS:-7}
raw=${RAW_REDACT:-$root/build/bench/bench/orn-bench-raw-redact}
for program in "$old" "$new" "$raw"; do
  [ -x "$program" ] || { echo "compare-two-builds: $program not found" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/orn-compare-two.XXXXXX")
trap 'rm -rf "$work"' EXIT

declare -A wall cpu rss
for ((run = 0; run < runs; run++)); do
  for tool in old new raw; do
    case $tool in
      old) command=("$old" $options -i "$input" -o "$work/out.xml" "$@") ;;
      new) command=("$new" $options -i "$input" -o "$work/out.xml" "$@") ;;
      raw) command=("$raw" -i "$input" -o "$work/out.xml" "$@") ;;
    esac
    # Status 4: written, with a warning of something left readable.
    /usr/bin/time -o "$work/time" -f "%e %U %S %M" "${command[@]}" >/dev/null 2>"$work/err" ||
      [ $? -eq 4 ] || { cat "$work/err" >&2; exit 1; }
    # time puts "Command exited with non-zero status N" before the figures.
    read -r elapsed user system memory < <(tail -n 1 "$work/time")
    wall[$tool]+="$elapsed "
    cpu[$tool]+="$(echo "$user + $system" | bc) "
    rss[$tool]+="$memory "
  done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
rawWall=$(median <<<"${wall[raw]}") rawCpu=$(median <<<"${cpu[raw]}") rawRss=$(median <<<"${rss[raw]}")
for tool in old new raw; do
  w=$(median <<<"${wall[$tool]}") c=$(median <<<"${cpu[$tool]}") m=$(median <<<"${rss[$tool]}")
  printf '%-4s wall %.2fx (%s s)  cpu %.2fx  peak memory %.2fx (%d MiB)\n' "$tool" \
    "$(echo "$w / $rawWall" | bc -l)" "$w" "$(echo "$c / $rawCpu" | bc -l)" \
    "$(echo "$m / $rawRss" | bc -l)" $((m / 1024))
done
