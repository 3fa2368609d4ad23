#include "HelpText.h"

namespace qiv::redact {

const char* UsageText() {
    return "usage: orn-redact [-i FILE | -]... [--files-from LIST]\n"
           "                  [-o FILE | --output-dir DIR | --in-place[=SUFFIX]]\n"
           "                  [-e FILE]... [--rules FILE]... [--key-file FILE]\n"
           "                  [--records | --whole | --reformat [--indent | --raw]]\n"
           "                  [--stream] [--compress FORMAT] [--break-links]\n"
           "                  [-N PREFIX=URI]... [--deep] [--attributes] [--entities]\n"
           "                  [--report] [--report-json FILE] [--check] [--require-match]\n"
           "                  [--strict] [--timings] [--verify] [--jobs N] [--quiet] [--]\n"
           "                  [XPATH]...\n"
           "Try 'orn-redact --help' for more information.\n";
}

const char* VersionNotice() {
    return "Copyright (c) 2026 orn DataParser maintainers\n"
           "License: MIT <https://opensource.org/licenses/MIT>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

const char* HelpText() {
    return R"(usage: orn-redact [OPTIONS] XPATH...

Replaces the text of every element selected by the XPath expressions with
"redacted" and writes the document. The output is the input itself with only
the selected values replaced: declaration, DOCTYPE, entity and character
references, comments, processing instructions, whitespace, line ends, quotes
and attribute order stay byte for byte. Standard output carries only the
document; messages go to standard error.

A rules file (--rules) gives each expression an action of its own: redact,
replace with a text, mask all but some characters, pseudonym (a keyed
HMAC-SHA-256 token, the same for the same value everywhere), drop or keep;
the manual describes each one and its parameters.

Options:
  -i, --input FILE        read the document from FILE (default, or FILE "-":
                          standard input; a lone "-" operand says the same);
                          give it several times to redact several files
      --files-from LIST   also redact the files named in LIST, one per line
                          ("-": read the list from standard input)
  -o, --output FILE       write the document to FILE (default, or FILE "-":
                          standard output);
                          the file is replaced atomically and keeps its permissions;
                          a symbolic link is followed, as by the shell's '>'
      --output-dir DIR    write each document to DIR under its own file name
                          (DIR is created when missing)
  -e, --expressions FILE  read further expressions from FILE, one per line;
                          blank lines and lines starting with '#' are ignored
      --rules FILE        apply the rules in FILE (YAML or JSON): per rule an
                          expression and an action - redact, replace, mask,
                          pseudonym, drop or keep (see the manual)
      --key-file FILE     the secret key of pseudonym rules (else the
                          environment variable ORN_REDACT_KEY)
  -N, --namespace PREFIX=URI
                          in the expressions, PREFIX:name selects the name in
                          namespace URI, whatever prefix (or default
                          namespace) the document uses; names with an unbound
                          prefix match the document's prefix literally
      --in-place[=SUFFIX]
                          rewrite the input file (needs -i, excludes -o); with
                          SUFFIX, first keep the original as FILE+SUFFIX - the
                          unredacted original, readable as the file was (a
                          warning says so when group or others may read it)
      --break-links       with --in-place, replace the file even when it has
                          further hard links (they keep the original content)
      --reformat          write the document anew with the parser instead of
                          keeping the input's bytes (comments, DOCTYPE and
                          processing instructions are then not kept; the tool
                          says which the input had)
      --indent            when written anew, indent with one TAB per level
                          (default); deep nesting makes that grow with the
                          square of the depth, and an indented document far
                          larger than the input is refused (use --raw)
      --raw               when written anew, no indentation or line breaks
      --compress FORMAT   write the output compressed as FORMAT: none, gzip,
                          bzip2, xz or zstd (default: as an output file's name
                          says - .gz, .bz2, .xz, .zst - and otherwise, on
                          standard output or in place, as the input was)
      --records           redact record by record (the default where the
                          expressions allow it); an expression that needs the
                          whole document is then a usage error
      --whole             redact the whole document at once, never record by
                          record
      --stream            write standard output as the records are done instead
                          of once the document is complete, so that a pipeline
                          can start on it; a failure then leaves the output cut
                          short (exit status 1; see the manual)
      --deep              also set every text, CDATA section and comment inside
                          each selected element to "redacted"
      --attributes        also set the value of every selected attribute to
                          "redacted"
      --entities          also replace, in the DOCTYPE, the value of each
                          internal entity that a changed value refers to
      --report            print, per expression, how many items it selected and
                          how many of them were redacted
      --report-json FILE  write a JSON report per input file (sizes, SHA-256
                          digests, path taken, counts per rule) to FILE
                          ("-": standard error)
      --check             say per rule which path it takes and, for the input
                          files, how many items it would change; write nothing
      --require-match     treat an expression that selects nothing as an error
      --strict            refuse input with an '&' that starts no reference
                          (such as "A & B"), which XML does not allow but the
                          parser takes as a plain '&' (else a warning says so)
      --timings           print how long loading, selecting, redacting,
                          splicing and writing took
      --verify            read each written file back and audit it: well-formed,
                          the elements of the redacted document, and no value a
                          rule changed left as the whole of a text, CDATA
                          section, attribute value, comment, PI or entity
                          declaration, nor (4 bytes or more) as a word in
                          one; each place found is told, and the exit status is
                          4 (needs -o, --output-dir or --in-place)
  -j, --jobs N            redact up to N files at once (default: one per
                          processor)
  -q, --quiet             with several files, no progress line and no summary
  -h, --help              show this help and exit
      --version           show the version and licence, and exit

Short options bundle (-qj2 is -q -j 2), a long option but --key-file may be
shortened to any unambiguous beginning (--requ for --require-match), and a
value may follow '=' (--jobs=2). Options and expressions come in any order.

Every expression is checked before the document is read; nothing is written
when any step fails (with --stream, what was written stays, cut short). An
element without text gets "redacted" before its end tag (<e/> becomes
<e>redacted</e>). An expression that selects the document
node itself (/, //.) selects its document element, so the output stays one
document. Input in UTF-16 or UTF-32 makes the tool write the document anew, as
with --reformat; it says so on standard error. Latin-1 and other 8-bit
encodings keep their bytes; written anew, they keep their declared encoding.
Rules read values as UTF-8 whatever the encoding; a new character the
document's encoding cannot hold is written as a reference (&#8364;).
A document that holds a NUL character is refused: the parser reads nothing
after one. Input compressed with gzip, bzip2, xz or zstd is read as it is
(recognised by its content, not its name).

A document is redacted record by record (the children of its document element,
in batches, on all processors, in memory bounded by the batches in flight)
when the expressions select within one record: paths from the root along the
child, descendant, self and attribute axes, with predicates that look only
inside the item they test (//rec[@id='7']/ssn, /list/rec/phone[1]). Positions
among records (//rec[1]), the parent, ancestor, preceding and following axes,
id() and absolute paths in predicates make the tool redact the document whole
instead, and say so. On a terminal a single large input shows a progress line.

Several files (-i given more than once, --files-from, or --output-dir) need
--output-dir DIR or --in-place. Each file is done or not done on its own: one
that cannot be read, parsed or written is reported with its name, gets no
output, and the others go on. Messages are prefixed by the file's name; on a
terminal a progress line shows files and bytes done and the time left, and a
summary line ends the run.

By default only the first text run of a selected element is replaced, so mixed
content keeps its later text; the tool says, per expression, how many selected
elements still hold other text (comments included).
  <notes>Call <b>Ada</b> at home</notes>    with //notes gives
  <notes>redacted<b>Ada</b> at home</notes>
With --deep:
  <notes>redacted<b>redacted</b>redacted</notes>

Attributes are left unchanged by default, with a warning. With --attributes:
  <customer id='c-1001'>                    with //customer/@id gives
  <customer id='redacted'>

Exit status: 0 done, 1 document not readable, not parseable or not written
(or --in-place on a file with several hard links; with several files: any
file), 2 usage error, rejected expression or --in-place on what is not a
regular file, 3 an expression matched nothing
(--require-match; with several files: in any file), 4 written, but something
selected is still readable and a warning says what: text or attributes left in
selected elements, a name missed for its namespace, an entity's value left in
the DOCTYPE, or --verify found a changed value or a fault (with several files:
in any file, unless one failed).

Use -- before an expression that starts with '-': every argument after it is
an expression.
Report bugs to the maintainers of liborn_DataParser: <dataparser@orn.invalid>
)";
}

}  // namespace qiv::redact
