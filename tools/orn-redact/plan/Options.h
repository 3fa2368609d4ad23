#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qiv::redact {

/// Exit statuses of the tool.
enum ExitStatus : int {
    ExitOk = 0,
    ExitFailure = 1,         // the document could not be read, parsed or written
    ExitUsage = 2,           // bad command line or a rejected expression
    ExitNothingMatched = 3,  // --require-match and an expression selected nothing
    // The output was written, but something selected is known to be still
    // readable in it: a warning says what (--verify found a changed value or
    // a fault, an attribute or text was left, a name missed for its
    // namespace, an entity's value stayed in the DOCTYPE).
    ExitLeftReadable = 4
};

/// The command line, parsed.
struct Options {
    std::vector<std::string>
        inputPaths;  // -i, in order; standard input when none (a "-" given is dropped)
    std::optional<std::string> filesFrom;   // further inputs, one per line ("-": standard input)
    std::optional<std::string> outputPath;  // standard output when empty
    std::optional<std::string> outputDir;   // several inputs: each output goes here
    std::optional<std::string> compress;    // --compress: the output's format, by name
    unsigned int jobs = 0;                  // files at once; 0: one per processor
    std::vector<std::string> expressionFiles;
    std::vector<std::string> expressions;   // from the command line, in order
    std::vector<std::string> rulesFiles;    // --rules, in order
    std::optional<std::string> keyFile;     // --key-file: the pseudonym key
    std::vector<std::string> namespaces;    // -N: "PREFIX=URI", in order
    std::optional<std::string> reportJson;  // --report-json: a file, or "-" for standard error
    bool check = false;                     // --check: say what the rules would do, write nothing
    bool inPlace = false;
    std::string backupSuffix;  // --in-place=SUFFIX: keep the original as FILE+SUFFIX
    bool reformat = false;     // write the document anew instead of splicing the input
    bool records = false;      // --records: record by record, or a usage error
    bool whole = false;        // --whole: never record by record
    bool stream = false;       // --stream: standard output written as the records are done
    bool raw = false;          // --raw: one line; otherwise indented with TAB (when written anew)
    bool layoutGiven = false;  // --raw or --indent was given
    bool breakLinks = false;   // --in-place may replace one name of a hard-linked file
    bool deep = false;
    bool attributes = false;
    bool entities = false;  // replace the DOCTYPE value of entities referenced from changed values
    bool report = false;
    bool requireMatch = false;
    bool strict = false;   // --strict: refuse input the parser takes but XML does not allow
    bool timings = false;  // print how long each step took
    bool verify = false;   // read the written output back and audit it
    bool quiet = false;    // no progress line or summary for several files
    bool help = false;
    bool version = false;
};

}  // namespace qiv::redact
