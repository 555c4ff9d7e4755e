#pragma once
// The hand-written readers of the two built-in services' pages: every file the
// page lists, each from its own record, and the window's five fields. The rule
// files of these services read pages exactly so; these readers are their
// reference in the tests and the differential fuzz target.
#include <string_view>

#include "reading/file_record.h"

namespace sharelink {

/// Reads a Kuaichuan page (local text). Pure.
///
/// Each start tag with a file_url attribute is one file (for_each_start_tag:
/// double-quoted, single-quoted or bare values, names case-sensitive, the first
/// of a repeated attribute counts, comments and script text skipped). Its
/// download address is file_url and its file name file_name, both decoded as the
/// window decodes them; its size is file_size (references decoded, read at
/// double precision); its MD5 text is the page's key marker.
page_reading read_kuaichuan_page(std::string_view page_text);

/// Reads a Pan page (local text). Pure.
///
/// Each closed object of the escaped data that holds a dlink key is one file
/// (find_data_objects: keys matched whole, a run of backslashes before a quote).
/// Its address is the dlink value unescaped, its name the text after that
/// object's "filename=" percent-decoded, its size the size value read at single
/// precision (size_bytes exact), its MD5 text its own md5 value as it stands.
page_reading read_pan_page(std::string_view page_text);

}  // namespace sharelink
