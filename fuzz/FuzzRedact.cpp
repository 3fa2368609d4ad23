// Runs the tool's whole path for one file, RedactFile, on a document built
// from the input, and judges the output with RedactOracle.h: one well-formed
// document that declares its encoding truthfully, holds no byte the parser
// did not read, and differs from the input only in the selected values.
// A failed run must leave nothing behind.
//
// ORN_FUZZ_STRICT_TOP_LEVEL=1 in the environment holds every output to one
// document's top level, also where the input has text, a second element or a
// DOCTYPE after its document element (which the parser tolerates).
//
// Input layout (every part may be cut short; what is missing is empty):
//   byte 0  options: 1 --deep, 2 --attributes, 4 --reformat, 8 --raw,
//           16 input through a pipe, 32 output to standard output,
//           64 in place, 128 two threads
//   byte 1  prolog: bits 0-3 choose the encoding (Prologs below);
//           16 pads the XML declaration past 4 KiB (128: so that the
//           encoding straddles the 4 KiB mark instead); 32 puts a 4 KiB
//           comment before the document; 64 adds a DOCTYPE declaring the
//           entity "co"
//   byte 2  nesting: the body is nested that deep, except that 252, 253
//           and 254 nest it 32,000, 48,000 and 64,000 deep: deep enough for
//           work that grows with the square of the depth to take many
//           seconds. The mutator below keeps those rare.
//   then the expressions, one per line, up to a NUL; then three parts, each
//   a length byte and that many bytes: the nesting's opening text (default
//   "<a>"), its closing text (default "</a>"), what follows the document;
//   the rest is the body. The expressions end at a NUL (the tool reads one
//   only that far), so that the fuzzer can lengthen and shorten them without
//   moving the other parts.
// Every part but the expressions may hold any byte, NUL included. The document is
//   prolog, opening^n, body, closing^n, trailing
// converted to UTF-16 when the prolog asks for it.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "Expression.h"
#include "FileRedaction.h"
#include "FuzzSupport.h"
#include "RedactOracle.h"
#include "Redaction.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

using qiv::fuzz::Check;
using qiv::fuzz::Fail;

enum class Wide { No, Le, Be };

struct Prolog {
    const char* bom;       // bytes before everything (after the conversion)
    const char* encoding;  // the declaration's encoding; null: no encoding named
    bool declaration;      // an XML declaration at all
    Wide wide;
};

const Prolog prologs[16] = {
    {"", nullptr, false, Wide::No},         {"", nullptr, true, Wide::No},
    {"", "UTF-8", true, Wide::No},          {"\xEF\xBB\xBF", "UTF-8", true, Wide::No},
    {"", "ISO-8859-1", true, Wide::No},     {"", "latin1", true, Wide::No},
    {"", "windows-1252", true, Wide::No},   {"", "ISO-8859-15", true, Wide::No},
    {"", "ISO-8859-2", true, Wide::No},     {"", "ISO_8859-1", true, Wide::No},
    {"\xFF\xFE", "UTF-16", true, Wide::Le}, {"\xFE\xFF", "UTF-16", true, Wide::Be},
    {"", "UTF-16", true, Wide::Le},  // no byte order mark: known by "<?" in UTF-16LE
    {"", "US-ASCII", true, Wide::No},       {"\xEF\xBB\xBF", nullptr, false, Wide::No},
    {"", "iso-8859-1", true, Wide::No},
};

// The values of byte 2 that nest thousands of levels deep.
constexpr unsigned int firstDeep = 252;
constexpr std::size_t deepDepths[] = {32000, 48000, 64000};

bool IsDeep(unsigned int value) { return value >= firstDeep && value < firstDeep + 3; }

// A deep run takes a good part of a second even when all is linear. In about
// one input of this many the mutator makes the nesting deep.
constexpr unsigned int deepOneIn = 512;

constexpr std::size_t maxNested = 2 << 20;  // bytes of nesting, at most
// Indented output of a deep document grows with the square of its depth
// (each line is indented by its depth), so that stays shallow.
constexpr std::size_t maxIndentedDepth = 2000;

struct Case {
    qiv::redact::Options options;
    unsigned int threads = 1;
    bool pipe = false;
    bool toStandardOutput = false;
    std::string document;
    std::vector<std::string> expressions;
    bool deep = false;  // nested thousands of times
};

// Whether pugixml selects this in time linear in the document on a deeply
// nested one: one descendant step or axis at most, and no predicate, union
// or parent step, which sort or compare the items along their ancestors.
bool LinearOnDeepDocuments(const std::string& expression) {
    std::size_t steps = 0;
    for (std::size_t at = expression.find("//"); at != std::string::npos;
         at = expression.find("//", at + 2)) {
        ++steps;
    }
    for (std::size_t at = expression.find("::"); at != std::string::npos;
         at = expression.find("::", at + 2)) {
        ++steps;
    }
    return steps <= 1 && expression.find_first_of("[|") == std::string::npos &&
           expression.find("..") == std::string::npos;
}

std::string Widen(std::string_view text, Wide wide) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        if (wide == Wide::Le) {
            out += c;
            out += '\0';
        } else {
            out += '\0';
            out += c;
        }
    }
    return out;
}

Case Decode(const std::uint8_t* data, std::size_t size) {
    Case decoded;
    const unsigned flags = data[0];
    const unsigned prologFlags = data[1];
    decoded.deep = IsDeep(data[2]);
    std::size_t depth = decoded.deep ? deepDepths[data[2] - firstDeep] : data[2];
    std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const auto part = [&rest]() {
        if (rest.empty()) {
            return std::string_view();
        }
        const std::size_t length =
            std::min<std::size_t>(static_cast<unsigned char>(rest[0]), rest.size() - 1);
        const std::string_view taken = rest.substr(1, length);
        rest.remove_prefix(1 + length);
        return taken;
    };
    const std::size_t expressionsEnd = std::min(rest.find('\0'), rest.size());
    std::string_view expressionText = rest.substr(0, expressionsEnd);
    rest.remove_prefix(std::min(expressionsEnd + 1, rest.size()));
    std::string_view open = part();
    std::string_view close = part();
    const std::string_view trailing = part();
    const std::string_view body = rest;

    qiv::redact::Options& options = decoded.options;
    options.deep = (flags & 1) != 0;
    options.attributes = (flags & 2) != 0;
    options.reformat = (flags & 4) != 0;
    options.raw = (flags & 8) != 0;
    options.layoutGiven = options.raw;
    decoded.pipe = (flags & 16) != 0;
    decoded.toStandardOutput = (flags & 32) != 0;
    options.inPlace = (flags & 64) != 0 && !decoded.pipe;
    decoded.threads = (flags & 128) != 0 ? 2 : 1;

    if (open.empty() && close.empty()) {
        open = "<a>";
        close = "</a>";
    }
    depth = std::min(depth, maxNested / (open.size() + close.size()));
    if (options.reformat && !options.raw) {
        depth = std::min(depth, maxIndentedDepth);
    }

    while (!expressionText.empty() && decoded.expressions.size() < 8) {
        const std::size_t end = std::min(expressionText.find('\n'), expressionText.size());
        std::string expression(expressionText.substr(0, end));
        expressionText.remove_prefix(std::min(end + 1, expressionText.size()));
        // The tool rejects an expression that is not a usable node set up front.
        if (!expression.empty() && qiv::redact::ExpressionProblem(expression).empty() &&
            (!decoded.deep || LinearOnDeepDocuments(expression))) {
            decoded.expressions.push_back(std::move(expression));
        }
    }
    if (decoded.expressions.empty()) {
        decoded.expressions.emplace_back("//a");
    }

    const Prolog& prolog = prologs[prologFlags & 15];
    std::string text;
    const bool pad = (prologFlags & 16) != 0;
    if (prolog.declaration || pad) {
        text += "<?xml version=\"1.0\"";
        if (pad) {
            text.append((prologFlags & 128) != 0 ? 4070 : 4100, ' ');
        }
        if (prolog.encoding != nullptr) {
            text += std::string(" encoding=\"") + prolog.encoding + '"';
        }
        text += "?>\n";
    }
    if ((prologFlags & 64) != 0) {
        text += "<!DOCTYPE r [<!ENTITY co \"Company\">]>\n";
    }
    if ((prologFlags & 32) != 0) {
        text += "<!--" + std::string(4100, ' ') + "-->\n";
    }
    text.reserve(text.size() + depth * (open.size() + close.size()) + body.size() +
                 trailing.size());
    for (std::size_t level = 0; level < depth; ++level) {
        text += open;
    }
    text += body;
    for (std::size_t level = 0; level < depth; ++level) {
        text += close;
    }
    text += trailing;
    decoded.document =
        std::string(prolog.bom) + (prolog.wide == Wide::No ? text : Widen(text, prolog.wide));
    return decoded;
}

std::string folder;  // the target's own temporary folder
bool strictTopLevel = false;

void RemoveFolder() {
    if (DIR* directory = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlink((folder + "/" + name).c_str());
            }
        }
        ::closedir(directory);
    }
    ::rmdir(folder.c_str());
}

std::vector<std::string> FolderEntries() {
    std::vector<std::string> names;
    if (DIR* directory = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(directory);
    }
    return names;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    Check(static_cast<bool>(out.flush()), "cannot write the input file " + path);
}

// Feeds text into a pipe from another thread; the tool reads it through
// /dev/fd, as it would read standard input or any other pipe.
class PipeInput {
public:
    explicit PipeInput(const std::string& text) {
        int ends[2];
        Check(::pipe(ends) == 0, "cannot make a pipe");
        readEnd_ = ends[0];
        writer_ = std::thread([text, writeEnd = ends[1]]() {
            std::size_t written = 0;
            while (written < text.size()) {
                const ssize_t count =
                    ::write(writeEnd, text.data() + written, text.size() - written);
                if (count <= 0) {
                    break;  // the reader is gone
                }
                written += static_cast<std::size_t>(count);
            }
            ::close(writeEnd);
        });
    }
    ~PipeInput() {
        ::close(readEnd_);
        writer_.join();
    }
    PipeInput(const PipeInput&) = delete;
    PipeInput& operator=(const PipeInput&) = delete;

    std::string Path() const { return "/dev/fd/" + std::to_string(readEnd_); }

private:
    int readEnd_ = -1;
    std::thread writer_;
};

std::string Describe(const Case& run, const std::vector<std::string>& messages) {
    std::string text = "expressions:";
    for (const std::string& expression : run.expressions) {
        text += " '" + expression + "'";
    }
    text += "\nmessages:";
    for (const std::string& message : messages) {
        text += "\n  " + message;
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qiv::fuzz::SilenceOutput(qiv::LogLevel::Emergency);
    std::signal(SIGPIPE, SIG_IGN);  // the pipe's writer sees a reader that gave up
    // Memory-backed when there is such a folder: every run writes two files.
    struct stat info {};
    const bool shm =
        ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && ::access("/dev/shm", W_OK) == 0;
    std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/orn-fuzz-redact.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        Fail("cannot make a temporary folder " + pattern);
    }
    folder = pattern;
    std::atexit(RemoveFolder);
    const char* strict = std::getenv("ORN_FUZZ_STRICT_TOP_LEVEL");
    strictTopLevel = strict != nullptr && std::string(strict) == "1";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const Case run = Decode(data, size);
    const std::string inputPath = folder + "/input.xml";
    const std::string outputPath = folder + "/output.xml";
    ::unlink(outputPath.c_str());
    ::unlink(inputPath.c_str());

    qiv::redact::FileTask task;
    std::unique_ptr<PipeInput> pipe;
    if (run.pipe) {
        pipe = std::make_unique<PipeInput>(run.document);
        task.input = pipe->Path();
    } else {
        WriteFile(inputPath, run.document);
        task.input = inputPath;
    }
    task.inPlace = run.options.inPlace;
    if (!run.toStandardOutput && !task.inPlace) {
        task.output = outputPath;
    }
    std::vector<std::string> messages;
    const qiv::redact::MessageSink sink = [&messages](const std::string& message) {
        messages.push_back(message);
    };
    std::stringbuf standardOutput;
    const qiv::redact::FileResult result = qiv::redact::RedactFile(
        task, run.options, run.expressions, run.threads, sink, &standardOutput);
    pipe.reset();

    std::string output;
    const bool haveOutput =
        task.output ? ReadFile(outputPath, output) : (output = standardOutput.str(), true);
    // Status 4 is a written output that a warning says holds something
    // selected that is still readable.
    const bool written =
        result.status == qiv::redact::ExitOk || result.status == qiv::redact::ExitLeftReadable;
    Check(result.status != qiv::redact::ExitLeftReadable ||
              std::any_of(messages.begin(), messages.end(),
                          [](const std::string& message) {
                              return message.find("warning: ") != std::string::npos;
                          }),
          "status 4 without a warning\n" + Describe(run, messages));
    if (!written) {
        // Nothing written: no output file, no partial one, the input as it was.
        Check(!task.output || !haveOutput,
              "a failed run wrote its output file\n" + Describe(run, messages));
        Check(task.output || task.inPlace || output.empty(),
              "a failed run wrote to standard output\n" + Describe(run, messages));
        std::string input;
        Check(run.pipe || (ReadFile(inputPath, input) && input == run.document),
              "a failed run changed its input\n" + Describe(run, messages));
        const std::vector<std::string> left = FolderEntries();
        Check(left.size() == (run.pipe ? 0u : 1u),
              "a failed run left a file behind\n" + Describe(run, messages));
        return 0;
    }
    for (const std::string& name : FolderEntries()) {
        Check(name == "input.xml" || name == "output.xml",
              "a run left " + name + " behind\n" + Describe(run, messages));
    }
    if (task.inPlace) {
        Check(ReadFile(inputPath, output), "the input file is gone after an in-place run");
    } else {
        Check(haveOutput, "a successful run wrote no output file\n" + Describe(run, messages));
    }
    const std::string problem =
        qiv::fuzz::OutputProblem(run.document, output,
                                 {run.expressions, run.options.deep, run.options.attributes,
                                  run.options.reformat, strictTopLevel});
    if (!problem.empty()) {
        Fail(problem + "\n" + Describe(run, messages) + "\noutput (first 2000 bytes):\n" +
             output.substr(0, 2000));
    }
    return 0;
}

// Every input the fuzzer tries comes through here: its own mutations, then a
// deep nesting for about one input in deepOneIn and for no other. Left to the
// fuzzer, deep inputs would fill the corpus (their size reaches code that no
// small one does), everything made from them would be deep too, and the runs
// would slow down twentyfold.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (size >= 3) {
        std::minstd_rand random(seed);
        if (random() % deepOneIn == 0) {
            data[2] = static_cast<std::uint8_t>(firstDeep + random() % 3);
        } else if (IsDeep(data[2])) {
            data[2] = static_cast<std::uint8_t>(data[2] - 52);  // 200 to 202 levels
        }
    }
    return size;
}
