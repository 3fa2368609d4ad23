#pragma once

// Value reading and writing shared by nodes (through pugi::xml_text) and
// attributes (through pugi::xml_attribute).

#include <string>
#include <string_view>
#include <variant>

#include "DataParserTypes.h"

namespace qiv::detail {

/// Writes one DataValue with a single call of write(x), where x is a
/// NUL-terminated C string, int, unsigned int, double, float or bool.
/// A null C string stores nothing and gives false.
template <typename Write>
bool WriteDataValue(const DataValue& value, Write&& write) {
    return std::visit(
        [&write](auto held) -> bool {
            using Held = decltype(held);
            if constexpr (std::is_same_v<Held, const char*>) {
                return held != nullptr && write(held);
            } else if constexpr (std::is_same_v<Held, std::string_view>) {
                const std::string copy(held);
                return write(copy.c_str());
            } else {
                return write(held);
            }
        },
        value);
}

/// Reads a value as text: the stored text, or the default cut at its first NUL.
/// pugixml gives back the default it is passed when there is no stored text,
/// so a null default tells that case apart without first copying the default
/// into a NUL-terminated string on every read.
template <typename Source>
std::string ReadString(const Source& source, std::string_view defaultValue) {
    if (const char* stored = source.as_string(nullptr); stored != nullptr) {
        return std::string(stored);
    }
    return std::string(defaultValue.substr(0, defaultValue.find('\0')));
}

/// View over a C string from pugixml; null gives an empty view.
inline std::string_view ViewOf(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace qiv::detail
