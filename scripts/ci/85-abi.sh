#!/usr/bin/env bash
# Compares the ABI of liborn_DataParser.so.1 and liborn_Logger.so.1, as built
# from this tree, with the baseline in abi/ (libabigail's abidw output, one
# file per soname). Fails with abidiff's report when the ABI changed
# incompatibly: a symbol removed or changed, or a type that the exported
# functions use changed in size, layout or virtual functions. Added functions
# are compatible; they are listed but do not fail the step.
#
#   85-abi.sh            check
#   85-abi.sh --update   write the baseline anew from this tree (after a
#                        deliberate change: see the README, "ABI")
#
# A library whose soname changed has no baseline yet: the step fails until
# one is recorded with --update, which also removes the old soname's file.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$(date +%s)

update=false
case "${1:-}" in
  "") ;;
  --update) update=true ;;
  *) echo "usage: $0 [--update]"; exit 2 ;;
esac

./scripts/install-deps.sh --tests abigail-tools >/dev/null

# The libraries of the release build, which has debug information: abidw and
# abidiff read the types from it. Every type that an exported function or
# variable reaches counts, pugixml's and the standard library's included: the
# public classes hold and derive from pugixml types, so a change there changes
# their layout too. Source locations are left out of the baseline, so that it
# does not change with every edit of a line.
source scripts/ci/release-build.sh
build=$release_build

status=0
for library in "$build/common/lib/DataParser/liborn_DataParser.so" \
    "$build/common/lib/Logger/liborn_Logger.so"; do
  soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  baseline=abi/$soname.abi
  if $update; then
    mkdir -p abi
    # Baselines of earlier sonames of this library go.
    find abi -name "$(basename "$library").*.abi" ! -name "$soname.abi" -print -delete
    abidw --no-corpus-path --no-comp-dir-path --no-show-locs "$library" >"$baseline"
    echo "==> wrote $baseline"
    continue
  fi
  if [ ! -e "$baseline" ]; then
    echo "FAILED: no ABI baseline $baseline for $soname."
    echo "After a deliberate soname change, record one with"
    echo "    bash scripts/ci/85-abi.sh --update"
    echo "and commit abi/."
    status=1
    continue
  fi
  result=0
  report=$(abidiff --no-show-locs "$baseline" "$library" 2>&1) || result=$?
  # abidiff's status is a bit mask: 1 error, 2 usage error, 4 ABI change,
  # 8 incompatible ABI change. A change (4) is harmless only if all that
  # happened is that functions or variables were added.
  if (( result & 3 )); then
    echo "FAILED: abidiff could not compare $baseline with $library:"
    echo "$report"
    status=1
  elif (( result & 8 )) || { (( result & 4 )) &&
      ! abidiff --no-added-syms "$baseline" "$library" >/dev/null 2>&1; }; then
    echo "FAILED: the ABI of $soname changed incompatibly without a soname change:"
    echo "$report"
    status=1
  elif (( result & 4 )); then
    echo "==> $soname: compatible additions (refresh the baseline when they are meant):"
    echo "$report"
  else
    echo "==> $soname: ABI unchanged"
  fi
done
echo "==> CI step abi finished in $(( $(date +%s) - start ))s"
exit $status
