#!/usr/bin/env bash
# Times orn-redact on one document nested DEPTH levels deep (default 100,000
# <a> elements, each with text before and after its child): with //a, with
# --deep //a and written anew with --reformat --raw //a. Work that grows with
# the square of the depth shows here as seconds instead of milliseconds.
#   bench/deep-nesting.sh [TOOL]   (default build/bench/tools/orn-redact/orn-redact)
# Environment: DEPTH.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/bench/tools/orn-redact/orn-redact}
depth=${DEPTH:-100000}
[ -x "$tool" ] || { echo "deep-nesting: $tool not found; build it first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -c "import sys; d=int(sys.argv[1]); sys.stdout.write('<a>t'*d + 'u</a>'*d)" "$depth" \
  >"$work/deep.xml"
echo "$depth levels, $(stat -c %s "$work/deep.xml") bytes"
for options in "//a" "--deep //a" "--reformat --raw //a"; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "  $options: %e s, peak %M KB" "$tool" -i "$work/deep.xml" \
    -o "$work/out.xml" $options 2>&1 | grep -v -e '^Loading' -e 'warning:' || true
done
