#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string_view>

namespace qiv::redact {

namespace {

std::string Trim(std::string_view text) {
    const std::string_view blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

// Stores an option's value in the options. Returns what is wrong with it
// (completing "option NAME ..."), or nullptr when it was taken. Options
// without a value are handed an empty one.
using Setter = const char* (*)(Options& options, const std::string& value);

constexpr const char* needsFileName = "needs a file name";

template <std::vector<std::string> Options::*list>
const char* AddFile(Options& options, const std::string& value) {
    if (value.empty()) {
        return needsFileName;
    }
    (options.*list).push_back(value);
    return nullptr;
}

template <std::optional<std::string> Options::*field>
const char* SetFileOnce(Options& options, const std::string& value) {
    if (value.empty()) {
        return needsFileName;
    }
    if ((options.*field).has_value()) {
        return "given more than once";
    }
    options.*field = value;
    return nullptr;
}

// Digits only: strtoul alone would take a sign or leading blanks.
const char* SetJobs(Options& options, const std::string& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long jobs = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 ||
        jobs < 1 || jobs > 1024) {
        return "needs a number from 1 to 1024";
    }
    options.jobs = static_cast<unsigned int>(jobs);
    return nullptr;
}

// PREFIX=URI; checked once all options are read, with the rules files' own.
const char* AddNamespace(Options& options, const std::string& value) {
    if (value.find('=') == std::string::npos) {
        return "needs PREFIX=URI";
    }
    options.namespaces.push_back(value);
    return nullptr;
}

template <bool Options::*flag>
const char* Enable(Options& options, const std::string& /*value*/) {
    options.*flag = true;
    return nullptr;
}

// --indent and --raw: the last one given wins.
template <bool raw>
const char* SetLayout(Options& options, const std::string& /*value*/) {
    options.raw = raw;
    options.layoutGiven = true;
    return nullptr;
}

// --in-place alone rewrites the file; --in-place=SUFFIX also keeps the
// original under the file's name with SUFFIX appended.
const char* SetInPlace(Options& options, const std::string& suffix) {
    if (suffix.find('/') != std::string::npos) {
        return "needs a SUFFIX without '/' (the backup stays next to the file)";
    }
    options.inPlace = true;
    options.backupSuffix = suffix;
    return nullptr;
}

enum class Value {
    None,      // --name; --name=VALUE is refused
    Required,  // -x VALUE, -xVALUE, --name VALUE, --name=VALUE
    Optional,  // --name or --name=VALUE (only in the '=' form)
};

struct OptionRow {
    std::string_view longName;  // without its "--"
    char shortName;             // or '\0'
    Value value;
    Setter set;
};

// An empty --compress FORMAT is refused like a missing file name; the format
// itself is checked once all options are read.
// clang-format off
constexpr OptionRow optionTable[] = {
    {"input",         'i',  Value::Required, AddFile<&Options::inputPaths>},
    {"output",        'o',  Value::Required, SetFileOnce<&Options::outputPath>},
    {"expressions",   'e',  Value::Required, AddFile<&Options::expressionFiles>},
    {"files-from",    '\0', Value::Required, SetFileOnce<&Options::filesFrom>},
    {"rules",         '\0', Value::Required, AddFile<&Options::rulesFiles>},
    {"key-file",      '\0', Value::Required, SetFileOnce<&Options::keyFile>},
    {"namespace",     'N',  Value::Required, AddNamespace},
    {"report-json",   '\0', Value::Required, SetFileOnce<&Options::reportJson>},
    {"output-dir",    '\0', Value::Required, SetFileOnce<&Options::outputDir>},
    {"compress",      '\0', Value::Required, SetFileOnce<&Options::compress>},
    {"jobs",          'j',  Value::Required, SetJobs},
    {"in-place",      '\0', Value::Optional, SetInPlace},
    {"indent",        '\0', Value::None,     SetLayout<false>},
    {"raw",           '\0', Value::None,     SetLayout<true>},
    {"reformat",      '\0', Value::None,     Enable<&Options::reformat>},
    {"records",       '\0', Value::None,     Enable<&Options::records>},
    {"whole",         '\0', Value::None,     Enable<&Options::whole>},
    {"stream",        '\0', Value::None,     Enable<&Options::stream>},
    {"break-links",   '\0', Value::None,     Enable<&Options::breakLinks>},
    {"deep",          '\0', Value::None,     Enable<&Options::deep>},
    {"attributes",    '\0', Value::None,     Enable<&Options::attributes>},
    {"entities",      '\0', Value::None,     Enable<&Options::entities>},
    {"report",        '\0', Value::None,     Enable<&Options::report>},
    {"check",         '\0', Value::None,     Enable<&Options::check>},
    {"require-match", '\0', Value::None,     Enable<&Options::requireMatch>},
    {"strict",        '\0', Value::None,     Enable<&Options::strict>},
    {"timings",       '\0', Value::None,     Enable<&Options::timings>},
    {"verify",        '\0', Value::None,     Enable<&Options::verify>},
    {"quiet",         'q',  Value::None,     Enable<&Options::quiet>},
    {"help",          'h',  Value::None,     Enable<&Options::help>},
    {"version",       '\0', Value::None,     Enable<&Options::version>},
};
// clang-format on

// The long option that name is, or abbreviates: an exact name wins over the
// longer ones it begins; otherwise the prefix must name one option alone.
// --key-file is taken only in full, so that "--key SECRET" is refused rather
// than read as a file name. Null with the error when it names none or several.
const OptionRow* FindLongOption(std::string_view name, std::string& error) {
    std::vector<const OptionRow*> candidates;
    for (const OptionRow& row : optionTable) {
        if (row.longName == name) {
            return &row;
        }
        if (row.longName.compare(0, name.size(), name) == 0 && row.longName != "key-file") {
            candidates.push_back(&row);
        }
    }
    if (candidates.size() == 1) {
        return candidates.front();
    }
    if (candidates.empty()) {
        error = "unknown option --" + std::string(name);
        return nullptr;
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const OptionRow* left, const OptionRow* right) {
                  return left->longName < right->longName;
              });
    error = "option --" + std::string(name) + " is ambiguous; it may be";
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        error += index == 0 ? " " : index + 1 == candidates.size() ? " or " : ", ";
        error += "--" + std::string(candidates[index]->longName);
    }
    return nullptr;
}

const OptionRow* FindShortOption(char name) {
    for (const OptionRow& row : optionTable) {
        if (row.shortName != '\0' && row.shortName == name) {
            return &row;
        }
    }
    return nullptr;
}

// How an option is named in a message: as given when short, by its full
// name when long (an abbreviation is expanded).
std::string Named(const OptionRow& option, bool isLong) {
    return isLong ? "--" + std::string(option.longName) : std::string{'-', option.shortName};
}

std::string Apply(const OptionRow& option, bool isLong, const std::string& value,
                  Options& options) {
    const char* complaint = option.set(options, value);
    return complaint == nullptr ? std::string()
                                : "option " + Named(option, isLong) + " " + complaint;
}

// Takes the long option arguments[index] ("--name" or "--name=value"),
// advancing index past a separate value; returns the error, or an empty string.
std::string TakeLongOption(const std::vector<std::string>& arguments, std::size_t& index,
                           Options& options) {
    const std::string_view argument = std::string_view(arguments[index]).substr(2);
    const auto equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    if (name.empty()) {
        return "unknown option " + arguments[index];  // "--=VALUE" begins every name
    }
    std::string error;
    const OptionRow* option = FindLongOption(name, error);
    if (option == nullptr) {
        return error;
    }
    const bool hasInlineValue = equals != std::string_view::npos;
    const std::string inlineValue =
        hasInlineValue ? std::string(argument.substr(equals + 1)) : std::string();
    switch (option->value) {
        case Value::None:
            if (hasInlineValue) {
                return "option " + Named(*option, true) + " takes no value";
            }
            return Apply(*option, true, {}, options);
        case Value::Optional:
            if (hasInlineValue && inlineValue.empty()) {
                return "option " + Named(*option, true) + " has an '=' but no value after it";
            }
            return Apply(*option, true, inlineValue, options);
        case Value::Required:
            break;
    }
    // A missing value is an empty one, which every option refuses.
    std::string value = inlineValue;
    if (!hasInlineValue && index + 1 < arguments.size()) {
        value = arguments[++index];
    }
    return Apply(*option, true, value, options);
}

// Takes the short options bundled in arguments[index] ("-q", "-qj2",
// "-qi FILE"): flags up to the first one that takes a value, which takes the
// rest of the argument or, when nothing is left, the next argument.
std::string TakeShortOptions(const std::vector<std::string>& arguments, std::size_t& index,
                             Options& options) {
    const std::string& argument = arguments[index];
    for (std::size_t at = 1; at < argument.size(); ++at) {
        const OptionRow* option = FindShortOption(argument[at]);
        if (option == nullptr) {
            return "unknown option -" + std::string(1, argument[at]) +
                   (argument.size() > 2 ? " (in " + argument + ")" : std::string());
        }
        if (option->value != Value::Required) {
            if (std::string error = Apply(*option, false, {}, options); !error.empty()) {
                return error;
            }
            continue;
        }
        std::string value = argument.substr(at + 1);
        if (value.empty() && index + 1 < arguments.size()) {
            value = arguments[++index];
        }
        return Apply(*option, false, value, options);
    }
    return {};
}

// "-" for an input is standard input, which only one reader can have and
// which has no file to rewrite or name to write under.
std::string CheckStandardStreams(const Options& options) {
    const auto standardInputs =
        std::count(options.inputPaths.begin(), options.inputPaths.end(), "-");
    if (standardInputs == 0) {
        return {};
    }
    if (standardInputs > 1) {
        return "standard input (-) is given as an input more than once";
    }
    if (options.filesFrom == "-") {
        return "-i - and --files-from - cannot both read standard input";
    }
    if (options.inPlace) {
        return "--in-place cannot rewrite standard input (-); name the file with -i FILE";
    }
    if (options.outputDir) {
        return "--output-dir needs input files: standard input (-) has no file name to write "
               "under";
    }
    if (options.inputPaths.size() > 1 || options.filesFrom) {
        return "standard input (-) cannot be redacted together with input files";
    }
    return {};
}

// The options that cannot go together, checked in this order: the first
// conflict is the one reported.
std::string CheckCombination(const Options& options) {
    const bool hasInput = !options.inputPaths.empty() || options.filesFrom;
    if (options.inPlace && !hasInput) {
        return "--in-place needs an input file (-i FILE)";
    }
    if (options.inPlace && options.outputPath) {
        return "--in-place and -o cannot be combined";
    }
    if (options.outputDir && (options.outputPath || options.inPlace)) {
        return "--output-dir cannot be combined with -o or --in-place";
    }
    if (options.outputDir && !hasInput) {
        return "--output-dir needs input files (-i FILE or --files-from LIST)";
    }
    if (options.outputPath && (options.inputPaths.size() > 1 || options.filesFrom)) {
        return "-o takes one input file; for several, use --output-dir DIR or --in-place";
    }
    if (options.compress && *options.compress != "none" && *options.compress != "gzip" &&
        *options.compress != "bzip2" && *options.compress != "xz" && *options.compress != "zstd") {
        return "option --compress needs one of none, gzip, bzip2, xz, zstd";
    }
    if (options.records && options.whole) {
        return "--records and --whole cannot be combined";
    }
    if (options.records && options.reformat) {
        return "--records and --reformat cannot be combined: a document written anew "
               "is redacted whole";
    }
    if (options.expressions.empty() && options.expressionFiles.empty() &&
        options.rulesFiles.empty()) {
        return "no XPath expression given";
    }
    const bool toFile = options.outputPath && *options.outputPath != "-";
    if (options.check && (options.inPlace || options.outputPath || options.outputDir)) {
        return "--check writes nothing: it cannot be combined with -o, --output-dir or "
               "--in-place";
    }
    if (options.stream && (toFile || options.outputDir || options.inPlace || options.check)) {
        return "--stream writes standard output as the records are done: it cannot be "
               "combined with -o FILE, --output-dir, --in-place or --check, which write a "
               "file only once it is complete";
    }
    if (options.verify && (options.check || !(options.inPlace || toFile || options.outputDir))) {
        return "--verify reads the written file back: it needs -o, --output-dir or "
               "--in-place (not standard output or --check)";
    }
    return {};
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    bool optionsEnded = false;

    // Options and operands come in any order; "--" ends the options.
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "-") {
            options.inputPaths.push_back(argument);  // standard input, as with -i -
            continue;
        }
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.expressions.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        parsed.error = argument[1] == '-' ? TakeLongOption(arguments, index, options)
                                          : TakeShortOptions(arguments, index, options);
        if (!parsed.error.empty()) {
            return parsed;
        }
    }

    if (options.help || options.version) {
        return parsed;
    }
    parsed.error = CheckStandardStreams(options);
    if (parsed.error.empty()) {
        parsed.error = CheckCombination(options);
    }
    // From here on, standard input is no input path and standard output no
    // output path.
    const auto standardInput =
        std::remove(options.inputPaths.begin(), options.inputPaths.end(), "-");
    options.inputPaths.erase(standardInput, options.inputPaths.end());
    if (options.outputPath == "-") {
        options.outputPath.reset();
    }
    return parsed;
}

bool ReadExpressionFile(const std::string& path, std::vector<SourcedExpression>& expressions,
                        std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::string line;
    for (std::size_t number = 1; std::getline(file, line); ++number) {
        std::string expression = Trim(line);
        if (!expression.empty() && expression[0] != '#') {
            expressions.push_back({std::move(expression), path + ":" + std::to_string(number)});
        }
    }
    if (file.bad()) {
        // A directory opens but cannot be read.
        error = errno != 0 ? std::strerror(errno) : "read error";
        return false;
    }
    return true;
}

bool ReadFileList(const std::string& path, std::vector<std::string>& paths, std::string& error) {
    std::ifstream file;
    if (path != "-") {
        file.open(path);
        if (!file) {
            error = std::strerror(errno);
            return false;
        }
    }
    std::istream& in = path == "-" ? std::cin : file;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            paths.push_back(line);
        }
    }
    if (in.bad()) {
        error = errno != 0 ? std::strerror(errno) : "read error";
        return false;
    }
    return true;
}

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
