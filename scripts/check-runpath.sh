#!/usr/bin/env bash
# Checks the RPATH and RUNPATH of ELF files (programs and shared libraries of
# any architecture). Every entry must be an absolute folder or start with
# $ORIGIN. An empty entry (a leading, doubled or trailing ':') and a relative
# one ('.', 'lib') are taken relative to the current directory of whoever
# starts the program, which would then load libraries from there.
#
#   check-runpath.sh [--outside DIR]... PATH...
#
# PATH is an ELF file or a folder searched for them (symbolic links are not
# followed). With --outside, no entry may lie in DIR either: installed and
# packaged files must not lead back into the source or build tree.
# Prints each fault and exits 1 if there is any, and 2 when a PATH holds no
# ELF file at all (a check of nothing passes nothing).
set -euo pipefail
export LC_ALL=C

outside=()
while [ $# -gt 0 ]; do
  case $1 in
    --outside) outside+=("$(cd "$2" && pwd)"); shift 2 ;;
    --) shift; break ;;
    -*) echo "check-runpath: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: check-runpath.sh [--outside DIR]... PATH..." >&2; exit 2; }

faults=0
fault() {  # FILE TAG VALUE ENTRY REASON
  echo "$1: $2 [$3]: entry '$4' $5"
  faults=$((faults + 1))
}

# check_entries FILE TAG VALUE
check_entries() {
  local file=$1 tag=$2 value=$3 rest=$3 entry dir
  while :; do
    entry=${rest%%:*}
    if [ -z "$entry" ]; then
      fault "$file" "$tag" "$value" "" "is empty: the current directory"
    elif [[ $entry != /* && $entry != '$ORIGIN'* && $entry != '${ORIGIN}'* ]]; then
      fault "$file" "$tag" "$value" "$entry" "is relative to the current directory"
    else
      for dir in "${outside[@]}"; do
        if [[ ${entry%/} == "$dir" || $entry == "$dir"/* ]]; then
          fault "$file" "$tag" "$value" "$entry" "leads into $dir"
        fi
      done
    fi
    [[ $rest == *:* ]] || break
    rest=${rest#*:}
  done
}

checked=0
for path in "$@"; do
  found=0
  while IFS= read -r -d '' file; do
    [ "$(head -c 4 "$file" | tr -d '\0')" = $'\x7fELF' ] || continue
    found=$((found + 1))
    # " 0x...1d (RUNPATH)  Library runpath: [a:b]" and the same for RPATH.
    while read -r tag value; do
      check_entries "$file" "$tag" "$value"
    done < <(readelf -d "$file" 2>/dev/null |
             sed -n 's/^.*(\(RPATH\|RUNPATH\)) *Library r[a-z]*: \[\(.*\)\]$/\1 \2/p')
  done < <(find "$path" -type f \( -perm /111 -o -name '*.so' -o -name '*.so.*' \) -print0)
  if [ "$found" -eq 0 ]; then
    echo "check-runpath: no ELF file in $path" >&2
    exit 2
  fi
  checked=$((checked + found))
done

if [ "$faults" -gt 0 ]; then
  echo "FAILED: $faults bad RPATH/RUNPATH entries"
  exit 1
fi
echo "RPATH/RUNPATH of $checked ELF files: every entry absolute or \$ORIGIN"
