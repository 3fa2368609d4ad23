#include "Run.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "Check.h"
#include "CommandLine.h"
#include "FileRedaction.h"
#include "HelpText.h"
#include "ManyFiles.h"
#include "PlanMaker.h"
#include "Processors.h"
#include "Report.h"
#include "Tasks.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

constexpr const char* programName = "orn-redact";

int UsageError(const std::string& reason) {
    Message(reason);
    std::cerr << UsageText();
    return ExitUsage;
}

// The rules: each rules file's in order, then the command line's expressions,
// then each expression file's, which redact.
int ReadPlan(const Options& options, RunPlan& plan) {
    std::vector<Rule> rules;
    for (const std::string& file : options.rulesFiles) {
        std::string error;
        if (!ReadRulesFile(file, rules, error, &plan.redaction.namespaces)) {
            Message(error);
            Message("nothing written");
            return ExitUsage;
        }
    }
    std::vector<SourcedExpression> alone;
    for (const std::string& expression : options.expressions) {
        alone.push_back({expression, {}});
    }
    for (const std::string& file : options.expressionFiles) {
        std::string error;
        if (!ReadExpressionFile(file, alone, error)) {
            return UsageError("cannot read expressions from " + file + ": " + error);
        }
    }
    std::string usageReason;
    bool usage = false;
    const int status = MakePlan(
        options, std::move(rules), alone, plan,
        [&usageReason](const std::string& text) {
            if (!usageReason.empty()) {
                Message(usageReason);
            }
            usageReason = text;
        },
        usage);
    if (usage) {
        return UsageError(usageReason);
    }
    if (!usageReason.empty()) {
        Message(usageReason);
    }
    return status;
}

// The documents: -i in order, then the list's.
int ReadInputs(const Options& options, std::vector<std::string>& inputs) {
    inputs = options.inputPaths;
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
        const std::string problem = InPlaceProblem(inputs);
        if (!problem.empty()) {
            Message(problem);
            return ExitUsage;
        }
    }
    return ExitOk;
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

// One document: from the input (or standard input) to the output (or
// standard output).
int RunOne(const Options& options, const RunPlan& plan, const std::vector<std::string>& inputs,
           std::streambuf* standardOutput) {
    const bool reporting = options.reportJson.has_value() || options.check;
    FileTask task;
    if (!inputs.empty()) {
        task.input = inputs.front();
    }
    task.output = options.outputPath;
    task.inPlace = options.inPlace;
    if (options.inPlace && !options.backupSuffix.empty()) {
        task.backup = *task.input + options.backupSuffix;
    }
    task.progress = true;
    task.digests = options.reportJson.has_value();
    std::vector<std::string> said;
    const MessageSink message = [&said, reporting](const std::string& text) {
        if (reporting && text.rfind("timings:", 0) != 0) {
            said.push_back(text);
        }
        Message(text);
    };
    FileResult result =
        RedactFile(task, options, plan.redaction, AvailableProcessors(), message, standardOutput);
    const int status = result.status;
    std::vector<ReportedFile> reported;
    reported.push_back({task.input, task.output, task.inPlace, std::move(result), std::move(said)});
    return Finish(options, plan.rules, reported, status, standardOutput);
}

// Several documents (or --check), each on its own.
int RunMany(const Options& options, const RunPlan& plan, const std::vector<std::string>& inputs,
            std::streambuf* standardOutput) {
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
    } else if (!MakeTasks(inputs, options, tasks, error)) {
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
    const bool reporting = options.reportJson.has_value() || options.check;
    std::vector<ReportedFile> reported;
    const int status =
        RedactMany(tasks, batchOptions, plan.redaction, reporting ? &reported : nullptr);
    return Finish(options, plan.rules, reported, status, standardOutput);
}

}  // namespace

void Message(const std::string& text) { std::cerr << programName << ": " << text << '\n'; }

int Run(const std::vector<std::string>& arguments, std::streambuf* standardOutput,
        const char* version) {
    const ParsedOptions parsed = ParseOptions(arguments);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    const Options& options = parsed.options;
    if (options.help || options.version) {
        std::ostream out(standardOutput);
        if (options.help) {
            out << HelpText();
        } else {
            out << programName << ' ' << version << '\n' << VersionNotice();
        }
        out.flush();
        return ExitOk;
    }
    RunPlan plan;
    if (const int status = ReadPlan(options, plan); status != ExitOk) {
        return status;
    }
    // One pool of workers for everything: the processors this process may
    // use, or more when --jobs asks for more files at once.
    WorkerPool::Configure(std::max(AvailableProcessors(), options.jobs) - 1);
    if (options.breakLinks && !options.inPlace) {
        Message("note: --break-links applies only with --in-place");
    }
    std::vector<std::string> inputs;
    if (const int status = ReadInputs(options, inputs); status != ExitOk) {
        return status;
    }
    if (options.check) {
        std::ostream out(standardOutput);
        PrintRulePaths(plan.rules, out);
        if (inputs.empty()) {
            return ExitOk;
        }
    }
    const bool many = inputs.size() > 1 || options.filesFrom || options.outputDir || options.check;
    return many ? RunMany(options, plan, inputs, standardOutput)
                : RunOne(options, plan, inputs, standardOutput);
}

}  // namespace qiv::redact
