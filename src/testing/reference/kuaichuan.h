#pragma once
#include <string_view>

#include "resolve/named_services.h"

namespace sharelink {

/// The values of a Kuaichuan page's four markers as they stand in the page, each
/// from the last occurrence of its own marker; empty when the page has none.
struct kuaichuan_markers {
  local_text download_url;
  local_text file_name;  ///< percent-escaped, character references not yet decoded
  local_text size;       ///< the first_file_size value, decimal text
  local_text key;
};

/// Finds the four markers in a page (local text). Pure.
kuaichuan_markers find_kuaichuan_markers(std::string_view page_text);

/// The window's fields from the markers: character references decoded in the
/// download address and the file name, then the file name percent-decoded; the
/// size read at double precision and formatted; the key as it stands.
resolved_file kuaichuan_fields(const kuaichuan_markers& markers);

/// The fields of a Kuaichuan share page (local text): kuaichuan_fields of
/// find_kuaichuan_markers. Pure; each field comes from the last occurrence of its
/// own marker and stays empty ("0B" for the size) when the page has none.
resolved_file parse_kuaichuan_page(std::string_view page_text);

/// A file name as the page writes it, in an attribute value, into local text:
/// character references first (those outside ASCII as UTF-8), then percent_decode.
local_text decode_kuaichuan_file_name(std::string_view attribute_value);

}  // namespace sharelink
