#pragma once

// Runs the built orn-redact as a child process and captures what a user sees:
// exit status, standard output and standard error; each test has a folder of
// its own, removed at the end.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace redact_tool_test {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::HasSubstr;
using testing::Not;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

inline void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// SHA-256 of a file in hex, as sha256sum gives it (empty when it cannot run).
inline std::string Sha256Sum(const std::string& path) {
    std::string listed;
    if (FILE* pipe = ::popen(("sha256sum " + path).c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            listed += buffer;
        }
        ::pclose(pipe);
    }
    return listed.substr(0, std::min<std::size_t>(listed.size(), 64));
}

inline const std::string mixedDocument =
    "<people><person id=\"p1\"><email>a@example.org</email>"
    "<notes>Call <b>Ada</b> at home</notes></person>"
    "<person id=\"p2\"><email>b@example.org</email>"
    "<notes><![CDATA[<vip>]]> and more</notes></person></people>";

// How many times part occurs in text (overlaps counted).
inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Checks the exit status, and that standard error holds each message.
inline void ExpectExit(const Outcome& result, int status,
                       std::initializer_list<std::string> messages = {}) {
    EXPECT_EQ(result.status, status) << result.err;
    for (const std::string& message : messages) {
        EXPECT_THAT(result.err, HasSubstr(message));
    }
}

class RedactTool : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orn-redact-test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs the tool with stdinText on standard input. stdoutPath redirects
    // standard output to a file of the caller's (e.g. /dev/full); fileSizeLimit
    // caps the size of any file the tool writes; creationMask, when set, is
    // the tool's umask.
    Outcome Run(std::vector<std::string> arguments, const std::string& stdinText = "",
                const std::string& stdoutPath = "", rlim_t fileSizeLimit = RLIM_INFINITY,
                int creationMask = -1) {
        const std::string in = Path(".stdin"), out = Path(".stdout"), err = Path(".stderr");
        WriteFile(in, stdinText);
        // ORN_REDACT_TEST_BINARY runs the tests against another build of the tool.
        const char* binary = std::getenv("ORN_REDACT_TEST_BINARY");
        arguments.insert(arguments.begin(), binary != nullptr ? binary : ORN_REDACT_BINARY);
        if (const std::string launcher = ORN_REDACT_LAUNCHER; !launcher.empty()) {
            arguments.insert(arguments.begin(), launcher);
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            const int descriptors[] = {::open(in.c_str(), O_RDONLY),
                                       ::open((stdoutPath.empty() ? out : stdoutPath).c_str(),
                                              O_WRONLY | O_CREAT | O_TRUNC, 0600),
                                       ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
            for (int target = 0; target < 3; ++target) {
                if (descriptors[target] < 0 || ::dup2(descriptors[target], target) < 0) {
                    ::_exit(127);
                }
            }
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (creationMask >= 0) {
                ::umask(static_cast<mode_t>(creationMask));
            }
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        Outcome outcome;
        int status = 0;
        if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            outcome.status = WEXITSTATUS(status);
        }
        outcome.out = stdoutPath.empty() ? ReadFile(out) : "";
        outcome.err = ReadFile(err);
        for (const std::string& file : {in, out, err}) {
            fs::remove(file);
        }
        return outcome;
    }

    // How many files the test's folder holds: none is left behind.
    std::ptrdiff_t Files() const { return std::distance(fs::directory_iterator(dir_), {}); }

    fs::path dir_;
};

}  // namespace redact_tool_test
