#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each one for a
# bounded time, starting from the seed corpus in fuzz/corpus. Any crash,
# sanitizer report, leak, failed check or time-out fails the step; the input
# that caused it is left in build/fuzz/findings.
#   FUZZ_SECONDS  seconds per target (default 60)
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh libclang-rt-14-dev >/dev/null

seconds=${FUZZ_SECONDS:-60}
start=$(date +%s)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

findings=build/fuzz/findings
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$findings"
status=0
for target in load xpath edit splice; do
  mkdir -p "$work/$target"
  echo "==> fuzzing $target for ${seconds}s"
  if ! build/fuzz/fuzz/orn_fuzz_$target "$work/$target" "fuzz/corpus/$target" \
      -dict=fuzz/xml.dict -max_total_time="$seconds" -max_len=4096 -timeout=20 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
      >"$work/$target.log" 2>&1; then
    echo "FAILED: fuzz target $target found a problem:"
    tail -n 60 "$work/$target.log"
    status=1
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
    grep -E 'cov: ' "$work/$target.log" | tail -n 1 || true
  fi
done
echo "fuzz step took $(( $(date +%s) - start ))s"
exit $status
