#pragma once

#include <string>
#include <string_view>

#include "Rules.h"

namespace qiv::redact {

/// value with every character but the first keepFirst and the last keepLast
/// replaced by settings.character (and, with keepSeparators, but '-', ' ',
/// '@' and '.'). Characters are UTF-8 sequences; a byte that is not part of
/// a well-formed sequence (overlong forms and surrogates are not) counts as
/// one character, so that the result is valid UTF-8 whenever value is.
/// Separators count as characters for keepFirst and keepLast, wherever they
/// stand: "4111-1111-1111-1234" with keepLast 4 and keepSeparators is
/// "****-****-****-1234". When keepFirst and keepLast together cover every
/// character, value is returned as it is.
std::string Masked(std::string_view value, const MaskSettings& settings);

/// Whether text is exactly one well-formed UTF-8 character (the mask
/// character): one code point, so "e" followed by a combining accent is two.
bool IsOneCharacter(std::string_view text);

}  // namespace qiv::redact
