#pragma once
#include <string_view>

#include "codec/local_text.h"

namespace sharelink {

/// Percent escapes to bytes, then those bytes read into local text: as UTF-8
/// when they are well-formed UTF-8, else as GB18030 when they are that, else as
/// UTF-8 with U+FFFD for what is broken.
/// "+" stays "+"; %00 adds nothing; a malformed escape ("%" followed by a non-hex
/// byte, or fewer than two bytes left) copies its bytes unchanged and the walk
/// still moves on three positions. Never reads past the end.
local_text percent_decode(std::string_view escaped);

}  // namespace sharelink
