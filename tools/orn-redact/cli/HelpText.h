#pragma once

// The texts the tool prints about itself: the usage lines after a usage
// error, --help, and what --version prints after the version line.

namespace qiv::redact {

const char* UsageText();
const char* HelpText();
/// Copyright, licence and warranty.
const char* VersionNotice();

}  // namespace qiv::redact
