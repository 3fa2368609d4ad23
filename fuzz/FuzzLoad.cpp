// Loads arbitrary bytes as a string and as a stream, walks what loaded,
// saves it and loads the saved text again: the second document must equal
// the first.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "DataParserIF.h"
#include "FuzzSupport.h"
#include "InterfaceFactory.h"

namespace {

using qiv::DataParserIF;
using qiv::DataParserStatus;
using qiv::InterfaceFactory;
using qiv::fuzz::Check;

constexpr unsigned int formatRaw = 0x04;
constexpr unsigned int formatIndent = 0x01;

// Saves the document, loads the text with the same kind of load and checks
// that the result is the same document and saves to the same text.
template <typename Load>
void CheckRoundTrip(DataParserIF& original, Load load) {
    const std::string signature = qiv::fuzz::Walk(original);
    const std::string raw = qiv::fuzz::Saved(original, formatRaw);

    auto reloaded = InterfaceFactory::Create<DataParserIF>("XML");
    const auto result = load(*reloaded, raw);
    Check(result.second == DataParserStatus::Ok, "saved text does not load: " + result.first);
    Check(qiv::fuzz::Walk(*reloaded) == signature, "reloaded document differs");
    Check(qiv::fuzz::Saved(*reloaded, formatRaw) == raw, "reloaded document saves differently");

    // Indented output must load too; indentation may add or drop text runs
    // of white space, so only the load itself is checked.
    const std::string indented = qiv::fuzz::Saved(original, formatIndent);
    const auto indentedResult = load(*reloaded, indented);
    Check(indentedResult.second == DataParserStatus::Ok,
          "indented text does not load: " + indentedResult.first);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qiv::fuzz::SilenceOutput(qiv::LogLevel::Warning);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    auto fromString = InterfaceFactory::Create<DataParserIF>("XML");
    const auto stringResult = fromString->LoadString(input);
    (void)qiv::fuzz::Walk(*fromString);
    if (stringResult.second == DataParserStatus::Ok) {
        CheckRoundTrip(*fromString, [](DataParserIF& parser, const std::string& text) {
            return parser.LoadString(text);
        });
    }

    auto fromStream = InterfaceFactory::Create<DataParserIF>("DefaultIF");
    std::istringstream stream{std::string(input)};
    const auto streamResult = fromStream->LoadStream(stream);
    (void)qiv::fuzz::Walk(*fromStream);
    if (streamResult.second == DataParserStatus::Ok) {
        CheckRoundTrip(*fromStream, [](DataParserIF& parser, const std::string& text) {
            std::istringstream saved(text);
            return parser.LoadStream(saved);
        });
    }
    return 0;
}
