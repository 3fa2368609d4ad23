#pragma once

#include <streambuf>
#include <string>
#include <vector>

namespace qiv::redact {

/// The whole run for a command line (without the program's name): the
/// options are read, the plan made, and the documents redacted. Messages go
/// to standard error prefixed by the program's name; documents that go to
/// standard output are written to standardOutput. Returns the exit status.
int Run(const std::vector<std::string>& arguments, std::streambuf* standardOutput,
        const char* version);

/// Says text on standard error as the program's own message.
void Message(const std::string& text);

}  // namespace qiv::redact
