#pragma once
#include <string_view>

#include "resolve/resolved_file.h"

namespace sharelink {

/// The fields of a Pan share page (local text): the escaped data object's dlink
/// (unescaped), filename (percent-decoded), size (read at single precision) and md5.
/// Pure; each field comes from the last occurrence of its own key.
resolved_file parse_pan_page(std::string_view page_text);

/// Undoes the page's slash escaping: the first "\\/\\/" becomes "//", then every
/// "\\/" becomes "/", searching again from the start after each replacement.
local_text unescape_pan_address(std::string_view address);

/// Fetches the share page at `share_address` and parses it. Never fails.
resolved_file resolve_pan(std::string_view share_address);

}  // namespace sharelink
