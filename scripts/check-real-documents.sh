#!/usr/bin/env bash
# Redacts documents that Debian ships (MIME database, xkb rules, iso-codes,
# GObject introspection files, CLDR locale data, MAME software lists)
# with orn-redact and checks, for each document and expression set, that:
#   - the byte-preserving output, written anew, equals the --reformat output
#     (the same document);
#   - every line that differs from the input holds "redacted";
#   - the default run (record by record where the expressions allow it) writes
#     byte for byte what --whole writes, and which path it took is shown;
#   - a batch of all the documents (one thread each) gives the same bytes as
#     one run per file (all threads);
#   - with a rules file of every action (keep, pseudonym, mask, replace, drop,
#     redact), the output parses to the document with those changes, record
#     mode writes what --whole writes, and two runs give the same bytes and the
#     same JSON report.
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
# Exit status 4 says that something selected is still readable (a warning
# says what); expression sets such as //* select elements that hold others.
redact() { "$tool" "$@" || [ $? -eq 4 ]; }
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
  "/usr/share/mime/packages/freedesktop.org.xml|-N m=http://www.freedesktop.org/standards/shared-mime-info //m:comment[@xml:lang] //m:mime-type/m:acronym"
  "/usr/share/gir-1.0/GLib-2.0.gir|-N g=http://www.gtk.org/introspection/core/1.0 --deep //g:doc //g:doc-deprecated"
  "/usr/share/gir-1.0/GObject-2.0.gir|-N c=http://www.gtk.org/introspection/c/1.0 --attributes //@c:identifier //@c:type"
  "/usr/share/gir-1.0/Gio-2.0.gir|-N g=http://www.gtk.org/introspection/core/1.0 -N glib=http://www.gtk.org/introspection/glib/1.0 --attributes //g:class/@glib:type-name //g:record/g:doc"
  "/usr/share/unicode/cldr/common/main/de.xml|--deep //localeDisplayNames/languages/language //territories"
  "/usr/share/unicode/cldr/common/main/fr.xml|//*[@type='NL']"
  "/usr/share/games/mame/hash/a2600.xml|--attributes //software/@name //description //year //publisher"
  "/usr/share/games/mame/hash/nes.xml|--attributes //rom/@crc //rom/@sha1 //part/feature/@value"
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
  redact -i "$document" -o "$work/spliced.xml" "${arguments[@]}" 2>"$work/stderr" || {
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
  redact -i "$document" -o "$work/reformatted.xml" --reformat "${arguments[@]}" 2>/dev/null
  # An expression that selects nothing writes the spliced output anew.
  redact -i "$work/spliced.xml" -o "$work/again.xml" --reformat //orn-selects-nothing 2>/dev/null
  if ! cmp -s "$work/again.xml" "$work/reformatted.xml"; then
    echo "FAILED: $label: the output is not the redacted document"
    failed=$((failed + 1))
    continue
  fi
  redact -i "$document" -o "$work/whole.xml" --whole "${arguments[@]}" 2>/dev/null
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
  if ! redact "${inputs[@]}" --output-dir "$work/batch" --jobs 2 --quiet --attributes //@name \
    //description '//*' 2>"$work/stderr"; then
    echo "FAILED: the batch run failed:"
    cat "$work/stderr"
    exit 1
  fi
  for document in "${documents[@]}"; do
    redact -i "$document" -o "$work/single.xml" --attributes //@name //description '//*' 2>/dev/null
    if ! cmp -s "$work/single.xml" "$work/batch/$(basename "$document")"; then
      echo "FAILED: batch output of $document differs from a single run"
      failed=$((failed + 1))
    fi
  done
  echo "ok: batch of ${#documents[@]} documents equals single runs"
fi

# Rules with every action, per document (YAML written here, one per case).
# shellcheck source=lib/rules-yaml.sh
source "$root/scripts/lib/rules-yaml.sh"
export ORN_REDACT_KEY="real documents check"
rules_cases=(
  "/usr/share/mime/packages/freedesktop.org.xml|keep //mime-type[@type='text/plain']/comment;pseudonym //mime-type/@type;mask //glob/@pattern;drop //mime-type/comment[@xml:lang];replace //expanded-acronym;redact //alias/@type"
  "/usr/share/X11/xkb/rules/evdev.xml|keep //layout/configItem/name;pseudonym //variant//name;mask //description;drop //configItem/shortDescription;replace //iso639Id"
  "/usr/share/xml/iso-codes/iso_3166-1.xml|keep //@alpha_2;pseudonym //@name;mask //@official_name;drop //@common_name"
  "/usr/share/xml/iso-codes/iso_639-3.xml|drop //iso_639_3_entry[@scope='S'];mask //@name;pseudonym //@inverted_name"
)
for entry in "${rules_cases[@]}"; do
  document=${entry%%|*}
  [ -r "$document" ] || continue
  rules="$work/rules.yaml"
  rules_yaml "$rules" "${entry#*|}"
  label="$(basename "$document") rules: ${entry#*|}"
  # Both runs write out.xml, so that their reports can be compared whole.
  if ! redact -i "$document" -o "$work/out.xml" --rules "$rules" --report-json "$work/report1.json" \
    2>"$work/stderr" || ! mv "$work/out.xml" "$work/spliced.xml"; then
    echo "FAILED: $label: the run failed:"
    cat "$work/stderr"
    failed=$((failed + 1))
    continue
  fi
  redact -i "$document" -o "$work/reformatted.xml" --reformat --rules "$rules" 2>/dev/null
  redact -i "$work/spliced.xml" -o "$work/again.xml" --reformat //orn-selects-nothing 2>/dev/null
  redact -i "$document" -o "$work/whole.xml" --whole --jobs 1 --rules "$rules" 2>/dev/null
  redact -i "$document" -o "$work/out.xml" --rules "$rules" --report-json "$work/report2.json" 2>/dev/null
  if ! cmp -s "$work/again.xml" "$work/reformatted.xml"; then
    echo "FAILED: $label: the output is not the document with the rules applied"
    failed=$((failed + 1))
  elif ! cmp -s "$work/whole.xml" "$work/spliced.xml" || ! cmp -s "$work/out.xml" "$work/spliced.xml"; then
    echo "FAILED: $label: record mode, --whole or a second run wrote other bytes"
    failed=$((failed + 1))
  elif ! cmp -s "$work/report1.json" "$work/report2.json"; then
    echo "FAILED: $label: two runs gave different reports"
    failed=$((failed + 1))
  else
    changed=$( (diff -d "$document" "$work/spliced.xml" || true) | grep -c '^[<>]' || true)
    path=$(sed -n 's/.*"path": "\([^"]*\)".*/\1/p' "$work/report1.json" | head -n 1)
    echo "ok: $label ($changed lines differ; $path)"
    checked=$((checked + 1))
  fi
done

if [ "$checked" -eq 0 ] && [ "$failed" -eq 0 ]; then
  echo "check-real-documents: none of the documents is installed" >&2
  exit 1
fi
echo "check-real-documents: $checked passed, $failed failed"
[ "$failed" -eq 0 ]
