#pragma once
// The decode steps a rule names for a value, and reading a value's bytes as text.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/gb18030.h"
#include "codec/local_text.h"
#include "reading/rule_trace.h"
#include "rules/rule.h"

namespace sharelink {

/// `value` through the decode steps, in order: well-formed UTF-8 without a zero
/// byte. Bytes that are not UTF-8, before the steps or after them, are read as
/// utf8_or_gb18030 reads them; those of an address are kept `escaped`, so that a
/// download asks for what the page wrote. A size_units step that cannot read its
/// text leaves it as it is and, when `problem` is given, says so there. Each step
/// is told to `steps_done` when it is given.
local_text decode_value(std::string_view value, const std::vector<decode_step>& steps,
                        std::optional<std::string>* problem = nullptr,
                        std::vector<traced_decode>* steps_done = nullptr,
                        broken_bytes broken = broken_bytes::replaced);

/// The `backslashes` step: the first "\\/\\/" becomes "//", then every "\\/"
/// becomes "/", as a search from the start again after each replacement would.
local_text unescape_slashes(std::string_view address);

}  // namespace sharelink
