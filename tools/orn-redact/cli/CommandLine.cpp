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

}  // namespace qiv::redact
