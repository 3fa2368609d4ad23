#!/usr/bin/env bash
# Runs the README's quick start, library and package commands word for word
# in a fresh Debian 12 root file system, and checks what each gives
# (scripts/check-readme.sh): the install into /opt/orn, the CMake and
# pkg-config builds against it, the consumer example, the Debian packages and
# their installation.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)
./scripts/check-readme.sh
echo "==> CI step readme finished in $(( $(date +%s) - start ))s"
