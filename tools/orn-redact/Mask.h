#pragma once

#include <string>
#include <string_view>

#include "Rules.h"

namespace qiv::redact {

/// value with every character but the first keepFirst and the last keepLast
/// replaced by settings.character (and, with keepSeparators, but '-', ' ',
/// '@' and '.'). Characters are UTF-8 sequences; a byte that does not start
/// or continue a valid sequence counts as one character, so that the result
/// is valid UTF-8 whenever value is.
std::string Masked(std::string_view value, const MaskSettings& settings);

/// Whether text is exactly one UTF-8 character (the mask character).
bool IsOneCharacter(std::string_view text);

}  // namespace qiv::redact
