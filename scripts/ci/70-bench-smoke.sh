#!/usr/bin/env bash
# Runs each benchmark of the optimised release build (scripts/ci/release-build.sh,
# which builds them) briefly on a small generated document, then the
# end-to-end redaction comparison on one small file, to show that both still
# build and run. No figures are checked.
set -euo pipefail
cd "$(dirname "$0")/../.."

./scripts/install-deps.sh --tests libbenchmark-dev time xmlstarlet python3 >/dev/null

source scripts/ci/release-build.sh
build_dir=$PWD/$release_build

echo "==> Benchmarks, each for a moment on a 0.1 MB document"
timeout 600 "$build_dir/bench/orn_DataParser_bench" --doc_mb=0.1 \
  --benchmark_min_time=0.01 --benchmark_color=false

echo "==> End-to-end redaction, one run on a 0.2 MB file"
BUILD_DIR="$build_dir" SIZES=0.2 RUNS=1 timeout 600 bench/compare-redact.sh

echo "==> Batch against one process per file, one run on 20 small files"
BUILD_DIR="$build_dir" RUNS=1 BATCHES=small SMALL_FILES=20 timeout 600 bench/compare-batch.sh
