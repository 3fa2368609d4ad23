#!/usr/bin/env bash
# Builds the project with ThreadSanitizer and runs the tests that use the
# library from many threads at once (and the logger's own tests). Any data
# race fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh --tests >/dev/null

start=$(date +%s)
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)" --target orn_DataParser_tests orn_Logger_tests \
  orn-redact orn-redact_edit_tests orn-redact_route_tests
# setarch -R: ThreadSanitizer cannot map its shadow memory under the high
# address-space randomisation of newer kernels.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --preset tsan -R 'Concurrency|LogClient|Splice' --output-on-failure

# orn-redact on several files at once, a broken one among them, two workers.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for n in 1 2 3 4 5 6; do cp examples/data/customers.xml "$work/c$n.xml"; done
printf '<a><b>x</b>' >"$work/broken.xml"
inputs=()
for file in "$work"/c[1-3].xml "$work/broken.xml" "$work"/c[4-6].xml; do inputs+=(-i "$file"); done
status=0
TSAN_OPTIONS="halt_on_error=1" setarch "$(uname -m)" -R build/tsan/tools/orn-redact/orn-redact \
  --jobs 2 --report --output-dir "$work/out" "${inputs[@]}" //email //notes 2>"$work/log" ||
  status=$?
if [ "$status" -ne 1 ] || [ "$(ls "$work/out" | wc -l)" -ne 6 ] || grep -q ThreadSanitizer "$work/log"; then
  cat "$work/log"
  echo "FAILED: orn-redact on several files under ThreadSanitizer (exit status $status)"
  exit 1
fi
# One large file: the early selection, the checks for text left behind and
# the splice's scan each run on both threads.
python3 - "$work/large.xml" <<'PY'
import sys
with open(sys.argv[1], "w") as out:
    out.write("<?xml version='1.0'?>\n<!-- register -->\n<customers>\n")
    for n in range(6000):
        out.write(f"  <customer id='{n}'><email>c{n}@example.org</email><phone/>"
                  f"<notes>Called <b>{n}</b> times<!-- ask --></notes></customer>\n")
    out.write("</customers>\n")
PY
# The notes keep text that no expression changed: exit status 4.
status=0
TSAN_OPTIONS="halt_on_error=1" setarch "$(uname -m)" -R build/tsan/tools/orn-redact/orn-redact \
  -i "$work/large.xml" -o "$work/large-out.xml" //email //phone //customer/notes 2>"$work/log" ||
  status=$?
if [ "$status" -ne 4 ] || grep -q ThreadSanitizer "$work/log"; then
  cat "$work/log"
  echo "FAILED: orn-redact on a large file under ThreadSanitizer"
  exit 1
fi
echo "tsan step took $(( $(date +%s) - start ))s"
