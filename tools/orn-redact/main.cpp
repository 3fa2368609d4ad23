// orn-redact: replaces the text selected by XPath expressions in an XML
// document with "redacted".
//
// The output is the input's own bytes with only the selected values replaced.
// Standard output carries nothing but the document. The library announces
// loads and reports parse errors on std::cout, so std::cout is pointed at
// standard error for the whole run and the document is written through the
// original buffer. Nothing is written until every step has succeeded.
// Several files are redacted on worker threads, each on its own (Batch.h).
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Actions.h"
#include "Batch.h"
#include "FileRedaction.h"
#include "Options.h"
#include "OutputFile.h"
#include "Processors.h"
#include "RecordClass.h"
#include "Redaction.h"
#include "Report.h"
#include "Rules.h"
#include "Workers.h"

namespace {

using namespace qiv::redact;

constexpr const char* programName = "orn-redact";

void Message(const std::string& text) { std::cerr << programName << ": " << text << '\n'; }

int UsageError(const std::string& reason) {
    Message(reason);
    std::cerr << UsageText();
    return ExitUsage;
}

// Restores std::cout's own buffer when the run ends, however it ends.
class StandardOutputGuard {
public:
    StandardOutputGuard() : original_(std::cout.rdbuf(std::cerr.rdbuf())) {}
    ~StandardOutputGuard() { std::cout.rdbuf(original_); }
    StandardOutputGuard(const StandardOutputGuard&) = delete;
    StandardOutputGuard& operator=(const StandardOutputGuard&) = delete;

    std::streambuf* Original() const { return original_; }

private:
    std::streambuf* original_;
};

const char* KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// One task per input. Two inputs that would write the same file, or the same
// file given twice, are refused before anything runs.
bool PlanBatch(const std::vector<std::string>& inputs, const Options& options,
               std::vector<FileTask>& tasks, std::string& error) {
    if (!options.outputDir && !options.inPlace) {
        error = "several input files need --output-dir DIR or --in-place";
        return false;
    }
    std::map<std::string, std::string> written;  // output (or input in place) -> input
    for (const std::string& input : inputs) {
        FileTask task;
        task.input = input;
        task.inPlace = options.inPlace;
        std::string key = input;
        if (options.outputDir) {
            const std::string name = std::filesystem::path(input).filename().string();
            if (name.empty() || name == "." || name == "..") {
                error =
                    "input " + input + " has no file name to write under in " + *options.outputDir;
                return false;
            }
            task.output = (std::filesystem::path(*options.outputDir) / name).string();
            key = *task.output;
        }
        std::error_code ignored;
        const std::filesystem::path canonical =
            std::filesystem::weakly_canonical(std::filesystem::absolute(key, ignored), ignored);
        if (!canonical.empty()) {
            key = canonical.string();
        }
        const auto [found, added] = written.emplace(key, input);
        if (!added) {
            error = options.outputDir ? "inputs " + found->second + " and " + input +
                                            " would both be written to " + *task.output
                                      : "input " + input + " is given more than once";
            return false;
        }
        tasks.push_back(std::move(task));
    }
    return true;
}

// --check: per rule, its action and whether it can run record by record.
void PrintRulePaths(const std::vector<Rule>& rules, std::ostream& out) {
    for (std::size_t index = 0; index < rules.size(); ++index) {
        const Rule& rule = rules[index];
        const std::string problem = RecordModeProblem(rule.select, {});
        out << "rule " << index + 1 << " (" << (rule.origin.empty() ? "command line" : rule.origin)
            << "): " << ActionName(rule.action) << " '" << rule.select
            << "': " << (problem.empty() ? "record by record" : "whole document, " + problem)
            << '\n';
    }
    out.flush();
}

// --check with inputs: per file, the path taken and what each rule would do.
int PrintCheck(const std::vector<Rule>& rules, const std::vector<ReportedFile>& files,
               bool requireMatch, std::ostream& out) {
    bool unmatched = false;
    bool failed = false;
    for (const ReportedFile& file : files) {
        const std::string name = file.input.value_or("standard input");
        const FileResult& result = file.result;
        if (result.status != ExitOk && result.status != ExitNothingMatched) {
            out << name << ": cannot be redacted (see the messages above)\n";
            failed = true;
            continue;
        }
        out << name << ": " << (result.route.empty() ? "not redacted" : result.route)
            << (result.reason.empty() ? "" : " (" + result.reason + ")") << '\n';
        for (std::size_t index = 0; index < result.outcomes.size(); ++index) {
            const ExpressionOutcome& outcome = result.outcomes[index];
            const Action action = index < rules.size() ? rules[index].action : Action::Redact;
            out << name << ": rule " << index + 1 << " selects " << outcome.selected;
            if (action == Action::Keep) {
                out << ", would keep " << outcome.selected - outcome.skipped;
            } else {
                out << ", would " << (action == Action::Drop ? "drop " : "change ")
                    << outcome.redacted;
            }
            if (outcome.skipped > 0) {
                out << ", leaves " << outcome.skipped << " alone (kept or dropped before)";
            }
            out << '\n';
            unmatched = unmatched || outcome.selected == 0;
        }
    }
    out.flush();
    return failed ? ExitFailure : requireMatch && unmatched ? ExitNothingMatched : ExitOk;
}

// Ends the run: the --check lines and the JSON report, when asked for.
int Finish(const Options& options, const std::vector<Rule>& rules,
           const std::vector<ReportedFile>& reported, int status, std::streambuf* standardOutput) {
    if (options.check) {
        std::ostream out(standardOutput);
        status = PrintCheck(rules, reported, options.requireMatch, out);
    }
    if (options.reportJson) {
        if (*options.reportJson == "-") {
            WriteReport(std::cerr, rules, reported);
        } else {
            std::ofstream file(*options.reportJson, std::ios::binary | std::ios::trunc);
            WriteReport(file, rules, reported);
            file.close();
            if (!file) {
                Message("cannot write the report " + *options.reportJson + ": " +
                        std::strerror(errno));
                return ExitFailure;
            }
        }
    }
    return status;
}

int Run(const std::vector<std::string>& arguments, std::streambuf* standardOutput) {
    const ParsedOptions parsed = ParseOptions(arguments);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::ostream(standardOutput) << HelpText() << std::flush;
        return ExitOk;
    }
    if (options.version) {
        std::ostream(standardOutput) << programName << ' ' << ORN_REDACT_VERSION << '\n'
                                     << std::flush;
        return ExitOk;
    }

    // Rules: each rules file's in order, then the command line's expressions,
    // then each expression file's, which redact.
    std::vector<Rule> rules;
    for (const std::string& file : options.rulesFiles) {
        std::string error;
        if (!ReadRulesFile(file, rules, error)) {
            Message(error);
            Message("nothing written");
            return ExitUsage;
        }
    }
    const std::size_t fromRulesFiles = rules.size();
    for (Rule& rule : rules) {
        rule.inRulesFile = true;
    }
    std::vector<SourcedExpression> sourced;
    for (const Rule& rule : rules) {
        sourced.push_back({rule.select, rule.origin});
    }
    for (const std::string& expression : options.expressions) {
        sourced.push_back({expression, {}});
    }
    for (const std::string& file : options.expressionFiles) {
        std::string error;
        if (!ReadExpressionFile(file, sourced, error)) {
            return UsageError("cannot read expressions from " + file + ": " + error);
        }
    }
    if (sourced.empty()) {
        return UsageError("no XPath expression given (the expression files hold none)");
    }
    for (std::size_t index = fromRulesFiles; index < sourced.size(); ++index) {
        Rule rule;
        rule.select = sourced[index].text;
        rule.origin = sourced[index].origin;
        rules.push_back(std::move(rule));
    }
    std::vector<std::string> expressions;
    bool allUsable = true;
    for (const SourcedExpression& expression : sourced) {
        const std::string problem = ExpressionProblem(expression.text);
        if (!problem.empty()) {
            const std::string where =
                expression.origin.empty() ? "" : " (" + expression.origin + ")";
            std::string shown = expression.text;
            for (std::size_t nul = shown.find('\0'); nul != std::string::npos;
                 nul = shown.find('\0', nul)) {
                shown.replace(nul, 1, "\\0");
            }
            Message("rejected expression '" + shown + "'" + where + ": " + problem);
            allUsable = false;
        }
        expressions.push_back(expression.text);
    }
    if (!allUsable) {
        Message("nothing written");
        return ExitUsage;
    }

    // With a rules file, each expression has its action; the key is read
    // only when a rule needs it.
    RedactionPlan plan(expressions);
    std::vector<std::unique_ptr<RuleAction>> actions;
    if (fromRulesFiles > 0) {
        std::string key;
        const bool keyed = std::any_of(rules.begin(), rules.end(), [](const Rule& rule) {
            return rule.action == Action::Pseudonym;
        });
        if (keyed) {
            std::string warning, error;
            if (!ReadKey(options.keyFile, key, warning, error)) {
                return UsageError(error);
            }
            if (!warning.empty()) {
                Message("warning: " + warning);
            }
        } else if (options.keyFile) {
            Message("note: --key-file is used only by pseudonym rules, and there are none");
        }
        for (const Rule& rule : rules) {
            actions.push_back(std::make_unique<RuleAction>(rule, key));
            plan.plans.push_back({actions.back().get(), rule.deep.value_or(options.deep),
                                  rule.attributes.value_or(options.attributes)});
        }
        std::fill(key.begin(), key.end(), '\0');
    }

    // One pool of workers for everything: the processors this process may
    // use, or more when --jobs asks for more files at once.
    WorkerPool::Configure(std::max(AvailableProcessors(), options.jobs) - 1);

    if (options.breakLinks && !options.inPlace) {
        Message("note: --break-links applies only with --in-place");
    }

    // The documents: -i in order, then the list's.
    std::vector<std::string> inputs = options.inputPaths;
    if (options.filesFrom) {
        std::string error;
        if (!ReadFileList(*options.filesFrom, inputs, error)) {
            return UsageError("cannot read the file list " + *options.filesFrom + ": " + error);
        }
        if (inputs.empty()) {
            return UsageError("no input file given (the file list " + *options.filesFrom +
                              " names none)");
        }
    }
    if (options.inPlace) {
        // Only a file can be replaced: a pipe or a device would be read and
        // then written back into, where the document is lost.
        for (const std::string& input : inputs) {
            struct stat info {};
            if (::stat(input.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
                Message("--in-place needs regular files: " + input + " is " +
                        KindOfFile(info.st_mode) + "; nothing written");
                return ExitUsage;
            }
        }
    }
    if (options.check) {
        std::ostream out(standardOutput);
        PrintRulePaths(rules, out);
        if (inputs.empty()) {
            return ExitOk;
        }
    }
    const bool batch = inputs.size() > 1 || options.filesFrom || options.outputDir || options.check;
    std::vector<ReportedFile> reported;
    const bool reporting = options.reportJson.has_value() || options.check;
    int status = ExitOk;
    if (!batch) {
        FileTask task;
        if (!inputs.empty()) {
            task.input = inputs.front();
        }
        task.output = options.outputPath;
        task.inPlace = options.inPlace;
        task.progress = true;
        task.digests = options.reportJson.has_value();
        std::vector<std::string> said;
        const MessageSink message = [&said, reporting](const std::string& text) {
            if (reporting && text.rfind("timings:", 0) != 0) {
                said.push_back(text);
            }
            Message(text);
        };
        const unsigned int threads = AvailableProcessors();
        FileResult result = RedactFile(task, options, plan, threads, message, standardOutput);
        status = result.status;
        reported.push_back(
            {task.input, task.output, task.inPlace, std::move(result), std::move(said)});
        return Finish(options, rules, reported, status, standardOutput);
    }

    std::vector<FileTask> tasks;
    std::string error;
    if (options.check) {
        for (const std::string& input : inputs) {
            FileTask task;
            task.input = input;
            task.discard = true;
            task.digests = options.reportJson.has_value();
            tasks.push_back(std::move(task));
        }
    } else if (!PlanBatch(inputs, options, tasks, error)) {
        return UsageError(error);
    } else if (options.reportJson) {
        for (FileTask& task : tasks) {
            task.digests = true;
        }
    }
    if (options.outputDir) {
        std::error_code failure;
        std::filesystem::create_directories(*options.outputDir, failure);
        if (failure) {
            Message("cannot create the output folder " + *options.outputDir + ": " +
                    failure.message() + "; nothing written");
            return ExitFailure;
        }
    }
    Options batchOptions = options;
    batchOptions.quiet = options.quiet || options.check;  // no summary of what was not written
    status = RunBatch(tasks, batchOptions, plan, reporting ? &reported : nullptr);
    return Finish(options, rules, reported, status, standardOutput);
}

}  // namespace

int main(int argc, char** argv) {
    // Process-wide settings, made before any other thread starts.
    // A file-size limit then makes the write fail with a message instead of
    // killing the tool halfway; the temporary file is removed either way.
    std::signal(SIGXFSZ, SIG_IGN);
    RemoveTemporaryFilesOnSignals();
    ReadCreationMask();

    StandardOutputGuard standardOutput;
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc), standardOutput.Original());
    } catch (const std::exception& failure) {
        Message(std::string("failed: ") + failure.what() + "; nothing written");
    }
    return ExitFailure;
}
