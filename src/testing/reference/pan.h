#pragma once
#include <string_view>

#include "resolve/named_services.h"

namespace sharelink {

/// The values of the page's four keys as they stand in the page, each from the
/// last occurrence of its own key; empty when the page has none.
struct pan_markers {
  local_text download_url;  ///< slashes still escaped
  local_text file_name;     ///< percent-escaped
  local_text size;          ///< decimal text
  local_text md5;
};

/// Finds the four keys in a page (local text). Pure.
pan_markers find_pan_markers(std::string_view page_text);

/// The window's fields from the keys: the address unescaped, the file name
/// percent-decoded, the size read at single precision and formatted, the md5 as
/// it stands.
resolved_file pan_fields(const pan_markers& markers);

/// The fields of a Pan share page (local text): the escaped data object's dlink
/// (unescaped), filename (percent-decoded), size (read at single precision) and md5.
/// pan_fields of find_pan_markers. Pure; each field comes from the last
/// occurrence of its own key, matched whole ("block_md5" is no md5).
resolved_file parse_pan_page(std::string_view page_text);

}  // namespace sharelink
