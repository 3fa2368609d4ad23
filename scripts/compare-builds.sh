#!/usr/bin/env bash
# Runs two builds of orn-redact side by side on many inputs and option sets
# and reports every run where they behave differently. Meant for changes that
# must not change behaviour (restructuring, refactoring, build options).
#
# Usage: scripts/compare-builds.sh OLD_BINARY NEW_BINARY
#
# For every run it compares:
#   - standard output, byte for byte;
#   - standard error, byte for byte after normalising what may differ between
#     two correct runs: the two binaries' paths (as "orn-redact"), the seconds
#     of a batch's summary line and of --timings, and, for batches on several
#     threads, the order in which the files' messages interleave (each file's
#     own lines keep their order);
#   - the exit status;
#   - every file left in the run's working folder: names, kinds, modes, sizes
#     and content (outputs of -o, --output-dir, --report-json and --in-place,
#     compressed ones as written, and any stray temporary file).
# Both builds run in the same working folder path with the same environment
# (LC_ALL=C, umask 022, a fixed TMPDIR), one after the other; two runs at a
# time are in flight (JOBS). A run that times out counts as a difference.
#
# What it runs (groups; a group whose inputs are missing is skipped with a note):
#   examples    every orn-redact command of README.md and the manual page, on
#               the bundled files under examples/data, plus the README's
#               record-by-record table and the usage errors it describes
#   options     option handling: usage errors, --check, rules files (YAML, JSON,
#               malformed), keys, links, in-place, compression choice
#   debian      documents Debian ships: MIME database, xkb rules, iso-codes,
#               GObject introspection (.gir), CLDR, MAME software lists,
#               each with several expression sets through the default route,
#               --whole, --records, --reformat, and rules of several actions
#   fuzz        every file of fuzz/corpus/* as a document, several expression
#               sets, also on standard input (redirected and through a pipe)
#   bench       a generated document (GENERATOR, else build/*/bench/orn-bench-gen
#               or the bench folder of either binary's build) with the
#               README's speed-section expression sets
#   compressed  gzip, zstd, xz and bzip2 input and output of one document
#               (2 MB generated, else the MIME database), multi-member,
#               truncated and corrupt input, in place
#   batch       several files at once with --output-dir, --files-from,
#               --in-place and --jobs 2
#
# Environment: JOBS (runs at once, default 2), TIMEOUT (seconds per run,
# default 120), GENERATOR (the bench document generator), BENCH_MB (size of
# the generated document, default 5), COMPARE_GROUPS (space-separated subset of
# the groups above), KEEP_WORK=1 (keep the working folder, with both sides'
# outputs of every run, and name the folder of each run that differs),
# SHOW_LINES (lines of each diff shown, default 20).
# Each difference is printed with the run's setup and command line, where $ORN
# stands for the binary under test and $IN for the folder of shared inputs,
# then what differs (diffs cut to SHOW_LINES lines). The last line is
# "compare-builds: N runs, M differ".
# Exit status: 0 no run differs, 1 some run differs, 2 usage error.
set -uo pipefail

usage() {
  echo "usage: $0 OLD_BINARY NEW_BINARY" >&2
  exit 2
}
[ $# -eq 2 ] || usage
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(realpath -e "$1" 2>/dev/null) || { echo "compare-builds: no such program: $1" >&2; exit 2; }
new=$(realpath -e "$2" 2>/dev/null) || { echo "compare-builds: no such program: $2" >&2; exit 2; }
for program in "$old" "$new"; do
  [ -x "$program" ] || { echo "compare-builds: not executable: $program" >&2; exit 2; }
done
jobs=${JOBS:-2}
timeout=${TIMEOUT:-120}
show_lines=${SHOW_LINES:-20}
bench_mb=${BENCH_MB:-5}
wanted_groups=${COMPARE_GROUPS:-"examples options debian fuzz bench compressed batch"}
wants() { [[ " $wanted_groups " == *" $1 "* ]]; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orn-compare-builds.XXXXXX")
in=$work/in
mkdir -p "$in" "$work/runs" "$work/tmp" "$work/home"

# Stops the runs still in flight (each is a process group led by its timeout
# process, whose id is in a .pid file) and removes the working folder.
cleanup() {
  local file pid
  for file in "$work"/runs/*/*.pid; do
    [ -e "$file" ] || continue
    pid=$(cat "$file" 2>/dev/null) || continue
    [ -n "$pid" ] && kill -TERM -- "-$pid" 2>/dev/null
  done
  for pid in $(jobs -p); do kill -TERM "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ "${KEEP_WORK:-0}" = 1 ]; then
    echo "compare-builds: working folder kept: $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'echo "compare-builds: interrupted" >&2; exit 130' INT TERM HUP

# ---------------------------------------------------------------------------
# The list of runs. Each run is a bash command line that uses $ORN (the binary
# under test) and $IN (the folder of shared, read-only inputs), run in an empty
# working folder after an optional setup command (which copies the files a run
# changes or finds by a relative name), with an optional normalisation of
# standard error: "sort" (messages of several threads) or "timings".
run_group=()
run_setup=()
run_norm=()
run_cmd=()
notes=()
group=""
setup=""
norm=""
add() {
  run_group+=("$group")
  run_setup+=("$setup")
  run_norm+=("$norm")
  run_cmd+=("$1")
}
note() { notes+=("$1"); }
# sq TEXT: TEXT in single quotes, for a command line.
sq() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

# rules_yaml FILE RULES: see scripts/lib/rules-yaml.sh.
# shellcheck source=lib/rules-yaml.sh
source "$root/scripts/lib/rules-yaml.sh"

key='ORN_REDACT_KEY=compare-builds-key'

# --- shared inputs ---------------------------------------------------------
cp -r "$root/examples" "$in/examples"
printf '<notes>Call <b>Ada</b> at home<!-- ext. 12 --></notes>\n' >"$in/notes.xml"
printf '<r>\n  <b>x</c>\n</r>\n' >"$in/bad.xml"
printf '<r>t<a>x</a></r>\n' >"$in/document-node.xml"
printf '<?xml version="1.0"?>\n<!DOCTYPE r [<!ENTITY name "Ada">]>\n<!-- c -->\n<?pi x?>\n<r>&name; &#65;<a>t</a><a/></r>\n' >"$in/doctype.xml"
mkdir -p "$in/exports"
for n in 1 2 3; do
  sed "s/c-100/c-${n}0/" "$root/examples/data/customers.xml" >"$in/exports/c-$n.xml"
done
printf '<customers>\n  <customer>\n</customers>\n' >"$in/exports/c-4.xml"
printf 'examples/data/customers.xml\nexamples/data/inventory.xml\n' >"$in/part-1.list"
printf 'some-key-bytes\n' >"$in/key.txt"
chmod 600 "$in/key.txt"
# The manual's example rules file, and the README's one in JSON.
cat >"$in/manual-rules.yaml" <<'EOF'
rules:
  - select: //customer/@id
    action: keep
  - select: //ssn
    action: pseudonym
    prefix: "SSN-"
  - select: //card
    action: mask
    keep_last: 4
    keep_separators: true
  - select: //notes
    action: replace
    with: "(removed)"
    deep: true
  - select: //internalComment
    action: drop
EOF
cat >"$in/rules.json" <<'EOF'
{"rules": [
  {"select": "//customer/@id", "action": "keep"},
  {"select": "//identityNumber", "action": "pseudonym", "prefix": "ID-", "length": 20, "alphabet": "hex"},
  {"select": "//name", "action": "mask", "keep_first": 1, "char": "#"},
  {"select": "//email", "action": "mask", "keep_last": 12, "keep_separators": true},
  {"select": "//address", "action": "drop"},
  {"select": "//notes", "action": "redact", "deep": true},
  {"select": "//balance/@currency", "action": "replace", "with": "X\"<&>'", "attributes": true}
]}
EOF
printf 'rules:\n  - select: //email\n    action: hash\n' >"$in/bad-rules.yaml"
printf 'rules:\n  - select: //email\n    action: mask\n    with: x\n' >"$in/wrong-parameter.yaml"
printf 'rules:\n  - select: /*\n    action: drop\n' >"$in/drop-root.yaml"
# Rules for documents of unknown shape (the fuzz corpus).
rules_yaml "$in/generic-rules.yaml" "keep //*[@class='keep'];pseudonym //@id;mask //name;drop //b;replace //a;redact //email"
# 100,000 nested elements (bench/deep-nesting.sh's document).
perl -e 'print "<a>" x 100000, "x", "</a>" x 100000, "\n"' >"$in/deep.xml"

# The run's working folder holds copies of examples/ and of the manual's files.
setup_examples='cp -r "$IN/examples" "$IN/notes.xml" "$IN/bad.xml" . && cp examples/data/customers.xml examples/data/personal-data.xpath .'

# --- README.md and the manual page -----------------------------------------
if wants examples; then
  group=examples
  setup=$setup_examples
  # README: quick start, diff example, attributes, reports, failures.
  add '$ORN -i examples/data/customers.xml //email //identityNumber'
  add '$ORN -i examples/data/customers.xml -o redacted.xml //email //identityNumber && diff -u --label examples/data/customers.xml --label redacted.xml examples/data/customers.xml redacted.xml'
  add "\$ORN -i examples/data/customers.xml '//customer/@id' >/dev/null"
  add "\$ORN -i examples/data/customers.xml --attributes '//customer/@id' | grep '<customer '"
  add '$ORN -i examples/data/customers.xml -e examples/data/personal-data.xpath --deep --report -o redacted.xml'
  add "\$ORN -i customers.xml '//email[' 'count(//email)'"
  add '$ORN -i bad.xml //b'
  add '$ORN -i notes.xml //notes'
  add '$ORN -i notes.xml --deep //notes'
  add "$key \$ORN -i examples/data/customers.xml --rules examples/data/share-with-testers.yaml -o shared.xml --report-json report.json && diff -u --label customers.xml --label shared.xml examples/data/customers.xml shared.xml"
  add '$ORN -i /usr/share/mime/packages/freedesktop.org.xml -o mime.xml //expanded-acronym'
  # README: compressed files (export.xml.gz is the customer register).
  setup="$setup_examples"' && gzip -n -c customers.xml >export.xml.gz'
  add '$ORN -i export.xml.gz -o shared.xml.zst //email //ssn'
  add '$ORN -i export.xml.gz --in-place //email'
  add 'zcat export.xml.gz | $ORN //email | gzip -1 > out.xml.gz'
  # README and manual: many files (exports/c-4.xml is malformed).
  setup="$setup_examples"' && cp -r "$IN/exports" .'
  norm=sort
  add "find exports -name '*.xml' | sort | \$ORN --files-from - --output-dir redacted -e examples/data/personal-data.xpath --deep"
  add "find exports -name '*.xml' | \$ORN --files-from - --output-dir redacted --jobs 2 -e personal-data.xpath --deep"
  norm=""
  setup="$setup_examples"' && cp "$IN/part-1.list" .'
  add '$ORN --files-from part-1.list --output-dir redacted //email //name'
  # Manual page examples.
  setup=$setup_examples
  add '$ORN -i customers.xml //email //identityNumber'
  add '$ORN -i customers.xml -o redacted.xml //email //identityNumber && diff -u --label customers.xml --label redacted.xml customers.xml redacted.xml'
  add '$ORN -i customers.xml -e personal-data.xpath --report -o out.xml'
  add '$ORN -i customers.xml --in-place --require-match //email'
  add '$ORN -i notes.xml //notes 2>/dev/null'
  add '$ORN -i notes.xml --deep //notes 2>/dev/null'
  add "\$ORN -i customers.xml --attributes '//customer/@id'"
  add '$ORN --reformat --raw //email < customers.xml > compact.xml'
  add "$key \$ORN -i customers.xml --rules \"\$IN/manual-rules.yaml\" --report-json -"
  add '$ORN --timings -i customers.xml -o out.xml //email //idNumber //address/street' ; run_norm[-1]=timings
  add '$ORN --timings --whole -i customers.xml -o out.xml //email //idNumber //address/street' ; run_norm[-1]=timings
  # The README's table of expressions that go record by record or whole.
  for expression in '//email' '/customers/customer/name' '//p:ssn' "//customer[@id = 'c-1002']/email" \
    "//customer[address/city = 'Lakeside']/email" '/customers/customer/address/*[1]' \
    "/customers[@region = 'north']/customer/name" "//customer[contains(notes, 'e-mail')]/notes" \
    '//customer[1]/name' '(//email)[1]' '//customer[last()]' '//name/..' \
    '//customer[following-sibling::customer]' '//customer[count(//customer) > 1]' \
    "id('c-1001')/name" '//customers[customer]/customer' '/' '//.' '/*' '//text()' '//comment()'; do
    add "\$ORN -i customers.xml --report $(sq "$expression")"
    add "\$ORN -i customers.xml --records $(sq "$expression")"
  done
  add '$ORN -i customers.xml --attributes --report //customer/@id'
  add "cat customers.xml | \$ORN --report '//text()'"
  for expression in '/' '//.' '/descendant-or-self::node()' '/*'; do
    add "\$ORN -i \"\$IN/document-node.xml\" $(sq "$expression")"
    add "\$ORN -i \"\$IN/document-node.xml\" --reformat $(sq "$expression")"
  done
  add '$ORN -i "$IN/doctype.xml" --reformat //a'
  add '$ORN -i "$IN/doctype.xml" --deep //r'
  # bench/deep-nesting.sh: a document 100,000 levels deep.
  add '$ORN -i "$IN/deep.xml" -o out.xml //a'
  add '$ORN -i "$IN/deep.xml" -o out.xml --deep //a'
  add '$ORN -i "$IN/deep.xml" -o out.xml --reformat --raw //a'
  add '$ORN -i "$IN/deep.xml" -o out.xml --reformat //a'
  setup=""
fi

# --- option handling --------------------------------------------------------
if wants options; then
  group=options
  setup=$setup_examples
  add '$ORN --help'
  add '$ORN -h'
  add '$ORN --version'
  add '$ORN'
  add '$ORN -i customers.xml'
  add '$ORN --no-such-option //email'
  add '$ORN -i customers.xml -o out.xml --in-place //email'
  add '$ORN --in-place //email < customers.xml'
  add '$ORN -i customers.xml --records --whole //email'
  add '$ORN -i customers.xml --reformat --indent //email'
  add '$ORN -i customers.xml --raw //email'
  add '$ORN -i customers.xml --jobs 0 //email'
  add '$ORN -i customers.xml --jobs x //email'
  add '$ORN -i customers.xml --compress bogus //email'
  add '$ORN -i customers.xml --compress none -o out.xml.gz //email'
  add '$ORN -i customers.xml --break-links //email'
  add '$ORN -i customers.xml --require-match //email //nothing'
  add '$ORN -i customers.xml --require-match --report //nothing'
  add '$ORN -i customers.xml -e missing.xpath'
  add '$ORN -i missing.xml //email'
  add '$ORN -i examples //email'
  add '$ORN -i customers.xml -o missing-folder/out.xml //email'
  add '$ORN --input=customers.xml --output=out.xml //email'
  add '$ORN -icustomers.xml -oout.xml //email'
  add '$ORN -i customers.xml -- //email'
  add '$ORN -i customers.xml -- -x'
  add '$ORN -i customers.xml //email //email'
  add "\$ORN -i customers.xml '//email[' //name"
  add "\$ORN -i customers.xml 'string(//email)' 'count(//a) > 1' '1 + 2' '//@*'"
  add 'ORN_LOG_LEVEL=debug $ORN -i customers.xml //email'
  add 'ORN_LOG_LEVEL=bogus $ORN -i customers.xml //email'
  add "ORN_LOG_LEVEL=7 \$ORN -i customers.xml '//email[' //name"
  # Rules: check, key sources, JSON, malformed files.
  add '$ORN --check --rules examples/data/share-with-testers.yaml'
  add "$key \$ORN --check -i customers.xml --rules examples/data/share-with-testers.yaml //notes"
  add "$key \$ORN --check --require-match -i customers.xml --rules \"\$IN/manual-rules.yaml\""
  add "$key \$ORN --check -i customers.xml -i examples/data/inventory.xml --output-dir out --rules \"\$IN/generic-rules.yaml\""
  add '$ORN -i customers.xml --rules examples/data/share-with-testers.yaml'
  add '$ORN -i customers.xml --rules examples/data/share-with-testers.yaml --key-file "$IN/key.txt" --report --report-json report.json -o out.xml'
  add '$ORN -i customers.xml --rules examples/data/share-with-testers.yaml --key-file missing-key //email'
  add 'cp "$IN/key.txt" open-key && chmod 644 open-key && $ORN -i customers.xml --rules examples/data/share-with-testers.yaml --key-file open-key'
  add "$key \$ORN -i customers.xml --rules \"\$IN/rules.json\" --report-json report.json -o out.xml"
  add "$key \$ORN -i customers.xml --whole --rules \"\$IN/rules.json\" --rules examples/data/share-with-testers.yaml //name"
  add "$key \$ORN -i customers.xml --reformat --rules \"\$IN/rules.json\""
  add '$ORN -i customers.xml --rules "$IN/bad-rules.yaml"'
  add '$ORN -i customers.xml --rules "$IN/wrong-parameter.yaml"'
  add '$ORN -i customers.xml --rules "$IN/drop-root.yaml"'
  add '$ORN -i customers.xml --rules missing.yaml'
  add '$ORN -i customers.xml --rules customers.xml'
  add '$ORN -i customers.xml --report-json - --require-match //email //nothing'
  # Files: links, in place, what is not a regular file.
  add 'ln customers.xml second-name.xml && $ORN -i customers.xml --in-place //email'
  add 'ln customers.xml second-name.xml && $ORN -i customers.xml --in-place --break-links //email'
  add 'ln -s customers.xml link.xml && $ORN -i link.xml --in-place //email'
  add 'ln -s target.xml dangling.xml && $ORN -i customers.xml -o dangling.xml //email'
  add 'ln -s loop-b.xml loop-a.xml && ln -s loop-a.xml loop-b.xml && $ORN -i customers.xml -o loop-a.xml //email'
  add 'chmod 640 customers.xml && cp customers.xml kept-mode.xml && $ORN -i customers.xml -o kept-mode.xml //email'
  add '$ORN -i /dev/null --in-place //email'
  add '$ORN -i examples --in-place //email'
  add '$ORN -i /dev/null //email'
  add '$ORN -i /dev/stdin //email < customers.xml'
  add '$ORN -i customers.xml -o /dev/stdout //email'
  add '$ORN -i customers.xml -o out.xml.bz2 //email && bzip2 -dc out.xml.bz2'
  setup=""
fi

# --- documents Debian ships --------------------------------------------------
# debian_cases DOCUMENT 'EXPRESSIONS' ...: every expression set through the
# default route (standard output, with --report and --report-json), --whole,
# --records and --reformat.
debian_cases() {
  local document=$1 set
  shift
  for set in "$@"; do
    add "\$ORN -i $document --report --report-json report.json $set"
    add "\$ORN -i $document -o out.xml --whole $set"
    add "\$ORN -i $document -o out.xml --records $set"
    add "\$ORN -i $document -o out.xml --reformat $set"
  done
}
# debian_rules DOCUMENT 'ACTION XPATH;...': the rules run (with its JSON
# report) and --check of the same rules.
debian_rules() {
  local document=$1 file
  file="rules-$(basename "$document" | tr -c 'A-Za-z0-9.\n-' _).yaml"
  rules_yaml "$in/$file" "$2"
  add "$key \$ORN -i $document -o out.xml --rules \"\$IN/$file\" --report-json report.json"
  add "$key \$ORN -i $document -o out.xml --whole --rules \"\$IN/$file\""
  add "$key \$ORN --check -i $document --rules \"\$IN/$file\""
}
present() {
  if [ -r "$1" ]; then return 0; fi
  note "skipped (not installed): $1"
  return 1
}
if wants debian; then
  group=debian
  setup=""
  mime=/usr/share/mime/packages/freedesktop.org.xml
  evdev=/usr/share/X11/xkb/rules/evdev.xml
  iso=/usr/share/xml/iso-codes
  if present $mime; then
    # scripts/check-real-documents.sh's sets, then some of this script's own.
    debian_cases $mime '//expanded-acronym' '--deep //mime-type/comment //alias' \
      '--attributes //glob/@pattern //@type' "'//*'" "'//mime-type[1]/comment'" \
      "\"//comment[@xml:lang='de']\" //acronym --require-match" "'(//expanded-acronym)[1]' '//mime-type[last()]/comment'" \
      "--deep --attributes / //@xml:lang"
    debian_rules $mime "keep //mime-type[@type='text/plain']/comment;pseudonym //mime-type/@type;mask //glob/@pattern;drop //mime-type/comment[@xml:lang];replace //expanded-acronym;redact //alias/@type"
  fi
  if present $evdev; then
    debian_cases $evdev '//description' '--deep //layout //configItem/name' "'//*'" \
      '--attributes //variant//description //@popularity' "'//layout[following-sibling::layout]/configItem/name'"
    debian_rules $evdev "keep //layout/configItem/name;pseudonym //variant//name;mask //description;drop //configItem/shortDescription;replace //iso639Id"
  fi
  if [ -d $iso ]; then
    for document in "$iso"/iso_3166-1.xml "$iso"/iso_3166-2.xml "$iso"/iso_639-3.xml "$iso"/iso_639-2.xml; do
      present "$document" || continue
      case $document in
        *3166-1*) debian_cases "$document" '--attributes //@name //@official_name' ;;
        *3166-2*) debian_cases "$document" "--attributes --deep //iso_3166_subdivision '//@*'" ;;
        *639-3*) debian_cases "$document" '--attributes //iso_639_3_entry/@name' "--attributes \"//iso_639_3_entry[@scope='I']/@name\"" ;;
        *639-2*) debian_cases "$document" "'//*'" ;;
      esac
    done
    # Every iso-codes file (one of them may be empty).
    for document in "$iso"/*.xml; do
      [ -L "$document" ] && continue
      add "\$ORN -i $document --attributes --report '//@*'"
      add "\$ORN -i $document '//*'"
    done
    debian_rules "$iso/iso_3166-1.xml" "keep //@alpha_2;pseudonym //@name;mask //@official_name;drop //@common_name"
    debian_rules "$iso/iso_639-3.xml" "drop //iso_639_3_entry[@scope='S'];mask //@name;pseudonym //@inverted_name"
  else
    note "skipped (not installed): $iso (apt-get install iso-codes)"
  fi
  gir_found=0
  for document in /usr/share/gir-1.0/GLib-2.0.gir /usr/share/gir-1.0/GObject-2.0.gir /usr/share/gir-1.0/GModule-2.0.gir; do
    [ -r "$document" ] || continue
    gir_found=1
    debian_cases "$document" '//doc' '--attributes //@c:identifier //@c:type' '--deep //function/doc-deprecated //constant'
  done
  if ((gir_found)); then
    debian_rules /usr/share/gir-1.0/GModule-2.0.gir "keep //function[@name='open']/doc;pseudonym //@c:identifier;mask //doc;drop //source-position;replace //parameter/@name"
  else
    note "skipped (not installed): GObject introspection files under /usr/share/gir-1.0 (apt-get install libgirepository1.0-dev)"
  fi
  cldr=/usr/share/unicode/cldr/common
  if [ -d $cldr/main ]; then
    for document in $cldr/main/en.xml $cldr/main/de.xml $cldr/main/ja.xml $cldr/main/ar.xml $cldr/supplemental/supplementalData.xml; do
      present "$document" || continue
      add "\$ORN -i $document --report //displayName //languages/language"
      add "\$ORN -i $document -o out.xml --whole --attributes //@type //@draft"
      add "\$ORN -i $document -o out.xml --deep //localeDisplayNames '//identity/*'"
      add "\$ORN -i $document -o out.xml --reformat --raw //territory"
    done
    debian_rules $cldr/main/de.xml "keep //language[@type='de'];pseudonym //territory;mask //language;drop //annotation;replace //exemplarCharacters"
  else
    note "skipped (not installed): CLDR under $cldr (apt-get install unicode-cldr-core)"
  fi
  mame=/usr/share/games/mame/hash
  if [ -d $mame ]; then
    for document in $mame/nes.xml $mame/a2600.xml $mame/32x.xml; do
      present "$document" || continue
      debian_cases "$document" '//description //year //publisher' '--attributes //rom/@crc //rom/@sha1' \
        "--deep '//software[@cloneof]' '//software[1]/description'"
    done
    debian_rules $mame/32x.xml "keep //software[@cloneof];pseudonym //rom/@sha1;mask //description;drop //info;replace //publisher"
  else
    note "skipped (not installed): MAME software lists under $mame (apt-get install mame-data)"
  fi
  # A batch of the documents, one thread each.
  batch=()
  for document in $mime $evdev $iso/iso_3166-1.xml $iso/iso_639-3.xml /usr/share/gir-1.0/GModule-2.0.gir $cldr/main/en.xml; do
    [ -r "$document" ] && batch+=("-i $document")
  done
  if [ ${#batch[@]} -gt 1 ]; then
    norm=sort
    add "\$ORN ${batch[*]} --output-dir out --jobs 2 --report --attributes //@name //description '//*'"
    add "$key \$ORN ${batch[*]} --output-dir out --jobs 2 --quiet --rules \"\$IN/generic-rules.yaml\" --report-json report.json"
    norm=""
  fi
fi

# --- the fuzz corpora -------------------------------------------------------
if wants fuzz; then
  group=fuzz
  setup=""
  found=0
  for document in "$root"/fuzz/corpus/*/*; do
    [ -f "$document" ] || continue
    found=1
    add "\$ORN -i $document '//*'"
    add "\$ORN -i $document --records --deep --attributes --report '//*[@id]' '//@*' '//comment()'"
    add "\$ORN -i $document --whole --report-json report.json //name //email //b '//text()'"
    add "\$ORN -i $document --reformat --raw //a //r"
    add "$key \$ORN -i $document --rules \"\$IN/generic-rules.yaml\" -o out.xml"
    add "\$ORN --deep //a //email < $document"
    add "cat $document | \$ORN --attributes '//*' '//@*'"
  done
  ((found)) || note "skipped: no files under $root/fuzz/corpus"
fi

# --- a generated bench document ---------------------------------------------
generator=${GENERATOR:-}
if [ -z "$generator" ]; then
  for candidate in "$root"/build/*/bench/orn-bench-gen "$(dirname "$old")/../../bench/orn-bench-gen" \
    "$(dirname "$new")/../../bench/orn-bench-gen"; do
    if [ -x "$candidate" ]; then generator=$candidate; break; fi
  done
fi
bench_doc=""
if wants bench || wants compressed || wants batch; then
  if [ -n "$generator" ] && [ -x "$generator" ]; then
    if "$generator" "$bench_mb" "$in/bench.xml" 2>/dev/null; then
      bench_doc=$in/bench.xml
    else
      note "skipped: $generator failed to write a ${bench_mb} MB document"
    fi
  else
    note "skipped: generated bench document (set GENERATOR or build orn-bench-gen, e.g. cmake -S . -B build/bench -DORN_BUILD_BENCH=ON && cmake --build build/bench --target orn-bench-gen)"
  fi
fi
if wants bench && [ -n "$bench_doc" ]; then
  group=bench
  setup=""
  rules_yaml "$in/bench-rules.yaml" "keep //record[@type='supplier']/email;pseudonym //idNumber;mask //email;replace //address/street;drop //payload;redact //notes;pseudonym //record/@id"
  # The README's speed-section sets (bench/compare-redact.sh).
  for set in '//email //idNumber //address/street' '//idNumber //record/email //notes'; do
    add "\$ORN -i \$IN/bench.xml -o out.xml --report $set"
    add "\$ORN -i \$IN/bench.xml --whole $set"
    add "\$ORN -i \$IN/bench.xml -o out.xml --reformat $set"
    add "\$ORN -i \$IN/bench.xml -o out.xml --deep --attributes $set //@currency"
    add "cat \$IN/bench.xml | \$ORN $set"
  done
  add "\$ORN -i \$IN/bench.xml -o out.xml --report '//record[1]/email' //name/.."
  add "$key \$ORN -i \$IN/bench.xml -o out.xml --rules \$IN/bench-rules.yaml --report-json report.json"
  add "$key \$ORN -i \$IN/bench.xml -o out.xml --whole --rules \$IN/bench-rules.yaml --report-json report.json"
  add "$key \$ORN --check -i \$IN/bench.xml --rules \$IN/bench-rules.yaml"
  add '$ORN --timings -i $IN/bench.xml -o out.xml //email //idNumber //address/street'
  run_norm[-1]=timings
fi

# --- compressed input and output --------------------------------------------
if wants compressed; then
  group=compressed
  setup=""
  # A document of about 2 MB (two batches of records): xz and bzip2 output
  # at their presets take seconds per MB.
  if [ -n "$bench_doc" ] && "$generator" 2 "$in/doc.xml" 2>/dev/null; then
    :
  elif [ -r /usr/share/mime/packages/freedesktop.org.xml ]; then
    cp /usr/share/mime/packages/freedesktop.org.xml "$in/doc.xml"
  else
    cp "$root/examples/data/customers.xml" "$in/doc.xml"
  fi
  set='//email //comment //idNumber'
  formats=()
  for format in gz zst xz bz2; do
    case $format in
      gz) tool=(gzip -n -c) ;;
      zst) tool=(zstd -q -c) ;;
      xz) tool=(xz -c) ;;
      bz2) tool=(bzip2 -c) ;;
    esac
    if command -v "${tool[0]}" >/dev/null && "${tool[@]}" "$in/doc.xml" >"$in/doc.xml.$format"; then
      formats+=("$format")
    else
      note "skipped: $format files (${tool[0]} missing)"
    fi
  done
  declare -A compress_name=([gz]=gzip [zst]=zstd [xz]=xz [bz2]=bzip2)
  for format in "${formats[@]}"; do
    # Compressed output as the input was, as the name says, as --compress says.
    add "\$ORN -i \$IN/doc.xml.$format $set"
    add "\$ORN -i \$IN/doc.xml -o out.xml.$format --report-json report.json $set"
    # Compressed input, plain output: from a file, a redirected file, a pipe.
    add "\$ORN -i \$IN/doc.xml.$format -o out.xml --report-json report.json $set"
    add "\$ORN --compress none --whole $set < \$IN/doc.xml.$format"
    add "cat \$IN/doc.xml.$format | \$ORN --compress none $set"
  done
  for format in gz zst; do
    [[ " ${formats[*]} " == *" $format "* ]] || continue
    add "\$ORN --compress ${compress_name[$format]} $set < \$IN/doc.xml"
    add "\$ORN -i \$IN/doc.xml.$format --whole -o out.xml.$format $set"
    setup="cp \$IN/doc.xml.$format ."
    add "\$ORN -i doc.xml.$format --in-place $set"
    setup=""
  done
  add "\$ORN -i \$IN/doc.xml.gz -o shared.xml.zst $set"
  add "\$ORN -i \$IN/doc.xml.bz2 --compress xz -o out.bin $set"
  add "\$ORN -i \$IN/doc.xml.zst --compress none $set"
  add "\$ORN -i \$IN/doc.xml.xz --compress none -o out.xml.gz $set"
  add "\$ORN -i \$IN/doc.xml.gz --reformat -o out.xml.gz $set"
  # Two gzip members and two zstd frames read as one content; cut-off input.
  size=$(stat -c %s "$in/doc.xml")
  head -c $((size / 2)) "$in/doc.xml" >"$work/first"
  tail -c +$((size / 2 + 1)) "$in/doc.xml" >"$work/second"
  { gzip -n -c "$work/first"; gzip -n -c "$work/second"; } >"$in/two-members.xml.gz"
  add "\$ORN -i \$IN/two-members.xml.gz -o out.xml $set"
  if command -v zstd >/dev/null; then
    { zstd -q -c "$work/first"; zstd -q -c "$work/second"; } >"$in/two-frames.xml.zst"
    add "\$ORN -i \$IN/two-frames.xml.zst $set"
  fi
  rm -f "$work/first" "$work/second"
  for format in "${formats[@]}"; do
    csize=$(stat -c %s "$in/doc.xml.$format")
    head -c $((csize * 2 / 3)) "$in/doc.xml.$format" >"$in/cut.xml.$format"
    add "\$ORN -i \$IN/cut.xml.$format -o out.xml $set"
  done
  printf '\037\213\010\000garbage' >"$in/corrupt.xml.gz"
  add "\$ORN -i \$IN/corrupt.xml.gz $set"
fi

# --- several files at once ---------------------------------------------------
if wants batch; then
  group=batch
  files=("$root/examples/data/customers.xml" "$root/examples/data/inventory.xml" "$in/exports/c-1.xml"
    "$in/exports/c-4.xml" "$in/notes.xml" "$in/doctype.xml" /usr/share/mime/packages/freedesktop.org.xml
    /usr/share/X11/xkb/rules/evdev.xml)
  [ -n "$bench_doc" ] && files+=("$bench_doc")
  [ -r "$in/doc.xml.gz" ] && files+=("$in/doc.xml.gz")
  inputs=""
  : >"$in/batch.list"
  for file in "${files[@]}"; do
    [ -r "$file" ] || continue
    inputs+=" -i $file"
    echo "$file" >>"$in/batch.list"
  done
  set='//email //name //comment //b'
  norm=sort
  add "\$ORN $inputs --output-dir out --jobs 2 $set"
  add "\$ORN $inputs --output-dir out --jobs 2 --report --deep --attributes $set '//@*'"
  add "\$ORN --files-from \$IN/batch.list --output-dir out --jobs 2 --quiet --report-json report.json $set"
  add "cat \$IN/batch.list | \$ORN --files-from - --output-dir out --jobs 2 --whole $set"
  add "\$ORN $inputs --output-dir out --jobs 2 --require-match $set"
  add "$key \$ORN $inputs --output-dir out --jobs 2 --rules \$IN/generic-rules.yaml --report-json report.json"
  add "\$ORN $inputs --output-dir out --jobs 2 --records //email"
  setup='mkdir copies && cp "$IN/examples/data/"*.xml "$IN/exports/"*.xml copies/'
  add "\$ORN -i copies/customers.xml -i copies/inventory.xml -i copies/c-1.xml -i copies/c-2.xml -i copies/c-4.xml --in-place --jobs 2 $set"
  setup=""
  norm=""
  add "\$ORN $inputs --output-dir out --jobs 1 --report $set"
  add "\$ORN $inputs --jobs 2 $set"
  add "\$ORN -i \$IN/exports/c-1.xml -i \$IN/exports/../exports/c-1.xml --output-dir out $set"
  add "\$ORN -i \$IN/exports/c-1.xml -i \$IN/exports/c-2.xml -o out.xml $set"
  add "\$ORN -i \$IN/exports/c-1.xml --output-dir out //email"
fi

count=${#run_cmd[@]}
# Every setup and command must be valid shell: one with a syntax error would
# fail alike on both sides and hide what it was meant to run.
for ((id = 0; id < count; ++id)); do
  printf 'run_%d() {\n%s\n%s\n}\n' "$id" "${run_setup[$id]:-:}" "${run_cmd[$id]}"
done >"$work/syntax.sh"
if ! bash -n "$work/syntax.sh" 2>"$work/syntax.err"; then
  echo "compare-builds: a run's command line is not valid shell:" >&2
  cat "$work/syntax.err" >&2
  exit 2
fi
if [ "$count" -eq 0 ]; then
  echo "compare-builds: no runs (COMPARE_GROUPS=$wanted_groups)" >&2
  exit 2
fi

# ---------------------------------------------------------------------------
# Running and comparing. (Both sides see the same working folder path, so that
# messages and reports naming it agree.)

# The comparison of one run's two sides, in one process: runs/ID holds
# SIDE.out, SIDE.err, SIDE.status and the folder SIDE.d for old and new; the
# differences go to runs/ID/report (empty when there are none).
cat >"$work/compare.pl" <<'PERL'
use strict;
use warnings;
my ($dir, $norm, $show_lines) = @ARGV;

sub slurp {
  my ($path) = @_;
  open(my $fh, '<:raw', $path) or return undef;
  local $/;
  my $content = <$fh>;
  return defined $content ? $content : '';
}

sub spew {
  my ($path, $content) = @_;
  open(my $fh, '>:raw', $path) or die "cannot write $path: $!";
  print $fh $content;
  close $fh;
}

# Standard error as compared: the binaries' paths, the seconds of a batch's
# summary line (and of --timings) and, for batches on several threads, the
# order in which the files' messages interleave are not compared.
sub normalise {
  my ($text) = @_;
  my @lines = split /^/, $text;
  for (@lines) {
    s/\Q$ENV{NEW_PROGRAM}\E/orn-redact/g;
    s/\Q$ENV{OLD_PROGRAM}\E/orn-redact/g;
    s/^(orn-redact: \d+ files?: .*), \d+(?:\.\d+)? s$/$1, <seconds> s/;
    s/\d+\.\d+ s\b/<seconds> s/g if $norm eq 'timings';
  }
  if ($norm eq 'sort') {
    # Lines are grouped by the file they name; each file keeps its own order.
    my (%groups, @keys);
    for (@lines) {
      my $key = /^orn-redact: (.+?): / ? $1 : /^Loading XML document from (.*)$/ ? $1 : '';
      push @keys, $key unless exists $groups{$key};
      push @{ $groups{$key} }, $_;
    }
    @lines = map { @{ $groups{$_} } } sort @keys;
  }
  return join '', @lines;
}

my @report;

# The first lines of a unified diff and the first differing byte.
sub show {
  my ($what, $old, $new) = @_;
  spew("$dir/diff.old", $old);
  spew("$dir/diff.new", $new);
  my @diff = `diff -a -u --label old --label new "$dir/diff.old" "$dir/diff.new"`;
  my $shown = @diff > $show_lines ? $show_lines : scalar @diff;
  push @report, sprintf("    %s (%d and %d bytes):\n", $what, length $old, length $new);
  for my $line (@diff[0 .. $shown - 1]) {
    chomp $line;
    push @report, '      ' . substr($line, 0, 300) . "\n";
  }
  push @report, '      ... (' . scalar(@diff) . " diff lines in all)\n" if @diff > $shown;
  my $at = 0;
  $at++ while $at < length $old && $at < length $new && substr($old, $at, 1) eq substr($new, $at, 1);
  push @report, "      first difference at byte " . ($at + 1) . "\n";
}

# Kind, mode, size and link target of everything under a folder.
sub tree {
  my ($top) = @_;
  my %entries;
  my @pending = ('');
  while (@pending) {
    my $relative = shift @pending;
    my $path = $relative eq '' ? $top : "$top/$relative";
    opendir(my $dh, $path) or next;
    for my $name (sort grep { $_ ne '.' && $_ ne '..' } readdir $dh) {
      my $entry = $relative eq '' ? $name : "$relative/$name";
      my @st = lstat "$top/$entry" or next;
      my $kind = -l _ ? 'link' : -d _ ? 'folder' : -f _ ? 'file' : 'other';
      my $describe = sprintf('%s mode %04o', $kind, $st[2] & 07777);
      $describe .= " $st[7] bytes" if $kind eq 'file';
      $describe .= ' -> ' . readlink("$top/$entry") if $kind eq 'link';
      $entries{$entry} = $describe;
      push @pending, $entry if $kind eq 'folder';
    }
  }
  return \%entries;
}

my $problems = slurp("$dir/problems");
push @report, map { "    $_\n" } split /\n/, $problems if defined $problems && $problems ne '';
for my $side ('old', 'new') {
  my $setup = slurp("$dir/$side.setup");
  push @report, "    the setup failed on the $side side: $setup" if defined $setup && $setup ne '';
}

my ($old_out, $new_out) = (slurp("$dir/old.out"), slurp("$dir/new.out"));
show('standard output differs', $old_out, $new_out) if $old_out ne $new_out;
my ($old_err, $new_err) = (normalise(slurp("$dir/old.err")), normalise(slurp("$dir/new.err")));
show('standard error differs', $old_err, $new_err) if $old_err ne $new_err;
my ($old_status, $new_status) = (slurp("$dir/old.status"), slurp("$dir/new.status"));
chomp($old_status, $new_status);
push @report, "    exit status differs: old $old_status, new $new_status\n" if $old_status ne $new_status;
for my $side (['old', $old_status], ['new', $new_status]) {
  push @report, "    the $side->[0] side timed out (status $side->[1])\n" if $side->[1] == 124 || $side->[1] == 137;
}

my ($old_tree, $new_tree) = (tree("$dir/old.d"), tree("$dir/new.d"));
my %names = (%$old_tree, %$new_tree);
for my $entry (sort keys %names) {
  my $old_entry = $old_tree->{$entry} // 'missing';
  my $new_entry = $new_tree->{$entry} // 'missing';
  if ($old_entry ne $new_entry) {
    push @report, "    file $entry: old $old_entry, new $new_entry\n";
  }
  next unless $old_entry =~ /^file/ && $new_entry =~ /^file/;
  my ($old_content, $new_content) = (slurp("$dir/old.d/$entry"), slurp("$dir/new.d/$entry"));
  show("file $entry differs", $old_content, $new_content) if $old_content ne $new_content;
}
spew("$dir/report", join '', @report);
PERL

# run_side ID SIDE PROGRAM: the run's setup and command in runs/ID/cwd, under
# the time limit; the folder is then kept as runs/ID/SIDE.d, so that both
# sides run in the same folder path.
run_side() {
  local id=$1 side=$2 program=$3 dir=$work/runs/$1 pid status
  mkdir "$dir/cwd"
  (
    cd "$dir/cwd" && umask 022 &&
      exec timeout -k 5 "$timeout" env -i PATH="$PATH" LC_ALL=C HOME="$work/home" TMPDIR="$work/tmp" \
        IN="$in" ORN="$program" SETUP="${run_setup[$id]}" COMMAND="${run_cmd[$id]}" SETUP_LOG="$dir/$side.setup" \
        bash -o pipefail -c '
          setup=$SETUP command=$COMMAND log=$SETUP_LOG
          unset SETUP COMMAND SETUP_LOG
          if [ -n "$setup" ] && ! (eval "$setup") >"$log" 2>&1; then exit 99; fi
          : >"$log"
          eval "$command"' \
        </dev/null >"$dir/$side.out" 2>"$dir/$side.err"
  ) &
  pid=$!
  echo "$pid" >"$dir/$side.pid"
  wait "$pid"
  status=$?
  rm -f "$dir/$side.pid"
  echo "$status" >"$dir/$side.status"
  mv "$dir/cwd" "$dir/$side.d"
}

# run_pair ID: both builds, the comparison, and the clean-up of what matched.
run_pair() {
  local id=$1 dir=$work/runs/$1 start=$EPOCHREALTIME
  mkdir -p "$dir"
  printf '%s\n' "${run_setup[$id]}" "${run_cmd[$id]}" >"$dir/command"
  run_side "$id" old "$old"
  run_side "$id" new "$new"
  OLD_PROGRAM=$old NEW_PROGRAM=$new perl "$work/compare.pl" "$dir" "${run_norm[$id]}" "$show_lines"
  if [ -s "$dir/report" ]; then
    echo differ >"$dir/result"
  else
    echo same >"$dir/result"
    [ "${KEEP_WORK:-0}" = 1 ] || rm -rf "$dir/old.d" "$dir/new.d"
  fi
  echo "$start $EPOCHREALTIME" >"$dir/time"
}

echo "compare-builds: $count runs, $jobs at a time, ${timeout} s limit each" >&2
echo "  old: $old" >&2
echo "  new: $new" >&2
start=$(date +%s)
running=0
for ((id = 0; id < count; ++id)); do
  run_pair "$id" &
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n
    running=$((running - 1))
  fi
  if (((id + 1) % 100 == 0)); then
    echo "compare-builds: $((id + 1)) of $count runs started ($(($(date +%s) - start)) s)" >&2
  fi
done
wait

differ=0
declare -A group_runs=() group_differ=()
group_order=()
for ((id = 0; id < count; ++id)); do
  g=${run_group[$id]}
  [ -n "${group_runs[$g]:-}" ] || { group_order+=("$g"); group_runs[$g]=0; group_differ[$g]=0; }
  group_runs[$g]=$((group_runs[$g] + 1))
  dir=$work/runs/$id
  if [ "$(cat "$dir/result" 2>/dev/null)" != same ]; then
    differ=$((differ + 1))
    group_differ[$g]=$((group_differ[$g] + 1))
    echo "DIFFERS: run $((id + 1)) ($g):"
    [ -n "${run_setup[$id]}" ] && echo "  setup:   ${run_setup[$id]}"
    echo "  command: ${run_cmd[$id]}"
    [ "${KEEP_WORK:-0}" = 1 ] && echo "  folder:  $dir (old.d, new.d; old.out, old.err, old.status, ...)"
    [ -s "$dir/report" ] && cat "$dir/report" || echo "    (no result: the run did not finish)"
  fi
done

for line in "${notes[@]}"; do echo "note: $line"; done
echo "ORN is the binary under test, IN the folder of shared inputs ($in$([ "${KEEP_WORK:-0}" = 1 ] || echo ', removed at exit; KEEP_WORK=1 keeps it'))."
for g in "${group_order[@]}"; do
  echo "  $g: ${group_runs[$g]} runs, ${group_differ[$g]} differ"
done
echo "compare-builds: took $(($(date +%s) - start)) s"
echo "compare-builds: $count runs, $differ differ"
[ "$differ" -eq 0 ]
