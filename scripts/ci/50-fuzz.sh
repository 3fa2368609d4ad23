#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each one for a
# bounded time, starting from the seed corpus in fuzz/corpus. Any crash,
# sanitizer report, leak, failed check or time-out fails the step; the input
# that caused it is left in build/fuzz/findings.
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  the targets to run (default: all)
#   FUZZ_JOBS     targets run at once (default: the number of processors)
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh --tests libclang-rt-14-dev >/dev/null

seconds=${FUZZ_SECONDS:-60}
start=$(date +%s)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# The redact target's judgement of outputs must hold before it judges any.
build/fuzz/fuzz/orn_fuzz_oracle_test

# Per target: the longest input, and the seconds one input may take. The
# redact target builds its document from the input (padding, nesting up to
# 51,000 deep), so a short input makes a large document; its time-out is where
# work that grows with the square of the nesting shows, while a linear run of
# its largest document takes well under a second.
declare -A maxLen=([load]=4096 [xpath]=4096 [edit]=4096 [splice]=4096 [redact]=8192 [records]=4096)
declare -A timeout=([load]=20 [xpath]=20 [edit]=20 [splice]=20 [redact]=10 [records]=20)

findings=build/fuzz/findings
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$findings"

fuzz() {  # TARGET: runs it; its log and exit status go to $work/TARGET.{log,status}
  local target=$1 result=0
  mkdir -p "$work/$target"
  build/fuzz/fuzz/orn_fuzz_$target "$work/$target" "fuzz/corpus/$target" \
    -dict=fuzz/xml.dict -max_total_time="$seconds" -max_len="${maxLen[$target]}" \
    -timeout="${timeout[$target]}" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" >"$work/$target.log" 2>&1 || result=$?
  echo "$result" >"$work/$target.status"
}

# A fuzzer runs on one thread: by default as many run at once as there are
# processors, each for the full time. Their results are reported in target
# order once all have finished.
# shellcheck disable=SC2206
targets=(${FUZZ_TARGETS:-load xpath edit splice redact records})
parallel=${FUZZ_JOBS:-$(nproc)}
for target in "${targets[@]}"; do
  [ -n "${maxLen[$target]:-}" ] || { echo "FAILED: there is no fuzz target $target"; exit 1; }
done
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  echo "==> fuzzing $target for ${seconds}s"
  fuzz "$target" &
  running=$((running + 1))
done
wait

status=0
for target in "${targets[@]}"; do
  result=$(cat "$work/$target.status" 2>/dev/null || echo "no status")
  if [ "$result" != 0 ]; then
    echo "FAILED: fuzz target $target found a problem:"
    tail -n 60 "$work/$target.log"
    status=1
  else
    echo "==> $target"
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
    grep -E 'cov: ' "$work/$target.log" | tail -n 1 || true
  fi
done
echo "fuzz step took $(( $(date +%s) - start ))s"
exit $status
