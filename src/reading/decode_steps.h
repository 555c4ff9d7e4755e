#pragma once
// The decode steps a rule names for a value, and reading a value's bytes as text.
#include <string_view>
#include <vector>

#include "codec/local_text.h"
#include "rules/rule.h"

namespace sharelink {

/// `value` through the decode steps, in order; bytes that are not UTF-8, before the
/// steps or after them, are read as GB18030.
local_text decode_value(std::string_view value, const std::vector<decode_step>& steps);

/// A value from an answer that declares UTF-8 or nothing: UTF-8 when its bytes are
/// that, else GB18030 (which holds GBK and GB2312), in which the pages of these
/// services were written, when they are that; else the bytes as they came (what
/// leaves the program is mended, see utf8_to_local).
local_text utf8_or_gb18030(std::string_view bytes);

/// The `backslashes` step: the first "\\/\\/" becomes "//", then every "\\/"
/// becomes "/", as a search from the start again after each replacement would.
local_text unescape_slashes(std::string_view address);

}  // namespace sharelink
