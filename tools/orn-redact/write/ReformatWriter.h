#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "DataParserIF.h"

namespace qiv::redact {

/// Writes a redacted document anew with the parser, instead of splicing its
/// input: with a declaration that names the encoding the bytes are written
/// in, and able to say what of the input the new document leaves out.
class ReformatWriter {
public:
    /// source: the bytes the document was parsed from (read only here);
    /// parser: holds the redacted document; raw: no indentation.
    ReformatWriter(std::string_view source, DataParserIF& parser, bool raw);

    /// What of the input the new document leaves out ("its DOCTYPE",
    /// "2 comments", ...), layout aside; empty when nothing.
    const std::vector<std::string>& Lost() const { return lost_; }

    /// False, with a message, when the indented document would be far larger
    /// than the input: every level of nesting adds a TAB to each line inside
    /// it, so deep nesting grows it with the square of the depth.
    bool CheckSize(std::size_t inputSize, std::string& error) const;

    void Write(std::ostream& out) const;

private:
    DataParserIF& parser_;
    bool raw_;
    std::string declaredEncoding_;  // written into a declaration of our own, when set
    bool latin1_ = false;           // the parser converted the input from Latin-1
    std::vector<std::string> lost_;
};

/// "a", "a and b", "a, b and c".
std::string JoinedList(const std::vector<std::string>& items);

}  // namespace qiv::redact
