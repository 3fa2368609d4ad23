// Files that change or vanish under the tool: an input cut short after it was
// parsed, and a temporary output when the process is told to stop.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "DataParserIF.h"
#include "DocumentInput.h"
#include "InterfaceFactory.h"
#include "OutputFile.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace qiv;
using namespace qiv::redact;

std::size_t EntriesIn(const fs::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

// Once read, the bytes are the tool's own: cutting the file short cannot take
// them away (a mapped file would kill the process on the next access). Cut
// short before it is read, the file fails with a message of its own.
TEST(FileHandling, AnInputCutShortFailsAloneWithAMessage) {
    const test::TempDir folder;
    std::string document = "<r>";
    for (int index = 0; index < 20000; ++index) {
        document += "<a>value</a>";
    }
    document += "</r>";
    for (const bool cutBeforeReading : {false, true}) {
        const std::string path = folder.Write("in.xml", document).string();
        std::unique_ptr<DataParserIF> parser = InterfaceFactory::Create<DataParserIF>("XML");
        InputDocument input;
        input.path = path;
        std::string error;
        ASSERT_TRUE(LoadDocument(*parser, input, error)) << error;
        if (cutBeforeReading) {
            fs::resize_file(path, 100);
            EXPECT_FALSE(ReadSource(input, error));
            EXPECT_EQ(error, "cannot read " + path + ": it changed while it was being redacted");
        } else {
            ASSERT_TRUE(ReadSource(input, error)) << error;
            fs::resize_file(path, 100);
            EXPECT_EQ(std::string(input.source), document);
        }
    }
}

// The process is stopped while its output is half written: the temporary file
// goes with it, and the process still ends by that signal.
TEST(FileHandling, TemporaryOutputIsRemovedWhenTheProcessIsStopped) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const test::TempDir folder;
        const std::string target = (folder.Path() / "out.xml").string();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RemoveTemporaryFilesOnSignals();
            std::string error;
            WriteFileAtomically(
                target,
                [signal](std::ostream& out) {
                    out << "<partial>" << std::flush;
                    std::raise(signal);
                },
                error);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_EQ(EntriesIn(folder.Path()), 0u) << "signal " << signal;
    }
}

}  // namespace
