#pragma once

namespace qiv::redact {

/// XML's white space: space, tab, carriage return and line feed.
constexpr bool IsBlank(char character) {
    return character == ' ' || character == '\t' || character == '\r' || character == '\n';
}

}  // namespace qiv::redact
