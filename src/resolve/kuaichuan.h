#pragma once
#include <string_view>

#include "resolve/resolved_file.h"

namespace sharelink {

/// The fields of a Kuaichuan share page (local text). Pure; each field comes from
/// the last occurrence of its own marker and stays empty ("0B" for the size) when
/// the page has none.
resolved_file parse_kuaichuan_page(std::string_view page_text);

/// Fetches the share page at `share_address` and parses it. Never fails: a failed
/// fetch gives empty fields and the size "0B".
resolved_file resolve_kuaichuan(std::string_view share_address);

}  // namespace sharelink
