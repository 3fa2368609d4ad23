#!/usr/bin/env bash
# Line and branch coverage of the whole test suite (scripts/coverage.sh).
# Fails when the libraries' coverage falls below 95 % of lines or 90 % of
# branches; the tools' figures are printed for information. The HTML report
# is left in build/coverage/html.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)
# A tool that replaces its output file can turn /dev/null into a regular
# file when run as root; every later '>/dev/null' would then write into it.
null_is_device() {  # WHEN
  [ -c /dev/null ] && return
  echo "FAILED: /dev/null is not a character device $1;" \
       "as root: rm -f /dev/null; mknod -m 666 /dev/null c 1 3"
  exit 1
}
null_is_device "before the coverage step"
status=0
MIN_LINES=95 MIN_BRANCHES=90 ./scripts/coverage.sh || status=$?
null_is_device "after the coverage step (it was one before)"
[ "$status" -eq 0 ] || exit "$status"
echo "==> CI step coverage finished in $(( $(date +%s) - start ))s"
