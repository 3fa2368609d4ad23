#!/usr/bin/env bash
# Redacts documents that Debian ships (MIME database, xkb rules, iso-codes)
# with orn-redact and checks, for each document and expression set, that:
#   - the byte-preserving output, written anew, equals the --reformat output
#     (the same document);
#   - every line that differs from the input holds "redacted";
#   - the default run (record by record where the expressions allow it) writes
#     byte for byte what --whole writes, and which path it took is shown;
#   - a batch of all the documents (one thread each) gives the same bytes as
#     one run per file (all threads).
# Documents that are not installed are skipped with a note; none at all is an
# error. Usage: scripts/check-real-documents.sh [ORN_REDACT]
# (default build/default/tools/orn-redact/orn-redact).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/default/tools/orn-redact/orn-redact}
if [ ! -x "$tool" ]; then
  echo "check-real-documents: $tool not found; build the tool first" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/orn-real-documents.XXXXXX")
trap 'rm -rf "$work"' EXIT

# document|expression set (options and expressions, space-separated)
cases=(
  "/usr/share/mime/packages/freedesktop.org.xml|//expanded-acronym"
  "/usr/share/mime/packages/freedesktop.org.xml|--deep //mime-type/comment //alias"
  "/usr/share/mime/packages/freedesktop.org.xml|--attributes //glob/@pattern //@type"
  "/usr/share/mime/packages/freedesktop.org.xml|//*"
  "/usr/share/X11/xkb/rules/evdev.xml|//description"
  "/usr/share/X11/xkb/rules/evdev.xml|--deep //layout //configItem/name"
  "/usr/share/X11/xkb/rules/evdev.xml|//*"
  "/usr/share/xml/iso-codes/iso_3166-1.xml|--attributes //@name //@official_name"
  "/usr/share/xml/iso-codes/iso_3166-2.xml|--attributes --deep //iso_3166_subdivision //@*"
  "/usr/share/xml/iso-codes/iso_639-3.xml|--attributes //iso_639_3_entry/@name"
  "/usr/share/xml/iso-codes/iso_639-2.xml|//*"
  "/usr/share/xml/iso-codes/iso_639-3.xml|--attributes //iso_639_3_entry[@scope='I']/@name"
  "/usr/share/mime/packages/freedesktop.org.xml|//mime-type[1]/comment"
)

checked=0
failed=0
declare -A seen=()
for entry in "${cases[@]}"; do
  document=${entry%%|*}
  read -r -a arguments <<<"${entry#*|}"
  if [ ! -r "$document" ]; then
    if [ -z "${seen[$document]:-}" ]; then
      echo "skipped (not installed): $document"
      seen[$document]=1
    fi
    continue
  fi
  label="$(basename "$document") ${arguments[*]}"
  "$tool" -i "$document" -o "$work/spliced.xml" "${arguments[@]}" 2>"$work/stderr" || {
    echo "FAILED: $label: the byte-preserving run failed:"
    cat "$work/stderr"
    failed=$((failed + 1))
    continue
  }
  if grep -q "writing the document anew" "$work/stderr"; then
    echo "FAILED: $label: fell back to writing anew:"
    cat "$work/stderr"
    failed=$((failed + 1))
    continue
  fi
  "$tool" -i "$document" -o "$work/reformatted.xml" --reformat "${arguments[@]}" 2>/dev/null
  # An expression that selects nothing writes the spliced output anew.
  "$tool" -i "$work/spliced.xml" -o "$work/again.xml" --reformat //orn-selects-nothing 2>/dev/null
  if ! cmp -s "$work/again.xml" "$work/reformatted.xml"; then
    echo "FAILED: $label: the output is not the redacted document"
    failed=$((failed + 1))
    continue
  fi
  "$tool" -i "$document" -o "$work/whole.xml" --whole "${arguments[@]}" 2>/dev/null
  if ! cmp -s "$work/whole.xml" "$work/spliced.xml"; then
    echo "FAILED: $label: the default run and --whole differ"
    failed=$((failed + 1))
    continue
  fi
  path="record by record"
  if grep -q "is redacted as a whole document" "$work/stderr"; then
    path="whole: $(sed -n 's/.*is redacted as a whole document: //p' "$work/stderr" | head -n 1)"
  fi
  changed=$( (diff -d "$document" "$work/spliced.xml" || true) | grep -c '^>' || true)
  stray=$( (diff -d "$document" "$work/spliced.xml" || true) | grep '^>' | grep -vc redacted || true)
  if [ "$stray" -ne 0 ]; then
    echo "FAILED: $label: $stray changed lines without \"redacted\""
    failed=$((failed + 1))
    continue
  fi
  echo "ok: $label ($changed lines changed; $path)"
  checked=$((checked + 1))
done

# The same documents as one batch: byte for byte what single runs give.
documents=()
for document in /usr/share/mime/packages/freedesktop.org.xml /usr/share/X11/xkb/rules/evdev.xml \
  /usr/share/xml/iso-codes/iso_3166-1.xml /usr/share/xml/iso-codes/iso_639-3.xml; do
  [ -r "$document" ] && documents+=("$document")
done
if [ "${#documents[@]}" -gt 1 ]; then
  inputs=()
  for document in "${documents[@]}"; do inputs+=(-i "$document"); done
  if ! "$tool" "${inputs[@]}" --output-dir "$work/batch" --jobs 2 --quiet --attributes //@name \
    //description '//*' 2>"$work/stderr"; then
    echo "FAILED: the batch run failed:"
    cat "$work/stderr"
    exit 1
  fi
  for document in "${documents[@]}"; do
    "$tool" -i "$document" -o "$work/single.xml" --attributes //@name //description '//*' 2>/dev/null
    if ! cmp -s "$work/single.xml" "$work/batch/$(basename "$document")"; then
      echo "FAILED: batch output of $document differs from a single run"
      failed=$((failed + 1))
    fi
  done
  echo "ok: batch of ${#documents[@]} documents equals single runs"
fi

if [ "$checked" -eq 0 ] && [ "$failed" -eq 0 ]; then
  echo "check-real-documents: none of the documents is installed" >&2
  exit 1
fi
echo "check-real-documents: $checked passed, $failed failed"
[ "$failed" -eq 0 ]
