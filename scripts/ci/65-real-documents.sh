#!/usr/bin/env bash
# orn-redact on documents that Debian ships (MIME database, xkb rules,
# iso-codes, introspection files, CLDR, MAME software lists): the output is
# the redacted document, and every changed line holds "redacted". Uses the tool of the sanitizer build when there is one.
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh --tests shared-mime-info xkb-data iso-codes libgirepository1.0-dev \
  unicode-cldr-core mame-data >/dev/null

tool=build/ci/tools/orn-redact/orn-redact
if [ -x build/asan/tools/orn-redact/orn-redact ]; then
  tool=build/asan/tools/orn-redact/orn-redact
fi
scripts/check-real-documents.sh "$tool"
