#pragma once
// The hand-written readers of the two built-in services' pages: every file the
// page lists, each from its own record, and the window's five fields. The rule
// files of these services read pages exactly so; these readers are their
// reference in the tests and the differential fuzz target.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resolve/resolved_file.h"
#include "runtime/error_kind.h"

namespace sharelink {

/// One file of a page, every field from that file's own record (local text).
struct file_record {
  local_text download_url;
  local_text file_name;
  local_text file_type;  ///< classify_file_type(file_name)
  local_text extension;  ///< file_type_key(file_name): the key the file-type table looks up
  local_text size;       ///< format_size of the record's size, "0B" when it has none
  /// The size as a whole number of bytes, read exactly (read_whole_bytes); nothing
  /// when the record has no size or its value is not a whole number.
  std::optional<std::uint64_t> size_bytes;
  local_text md5;  ///< Pan: the record's own md5 key; Kuaichuan: the page's key marker
  /// The folders above the file within the share, their names joined by "/"; empty
  /// at the top.
  local_text folder;
  /// A rule's further values of the record ([records.fields] beyond the four), by name.
  std::vector<std::pair<std::string, local_text>> extra;
  /// Set when this file, and only it, could not be read whole (a step for it failed,
  /// its download address is not http or https): why, in one line, and its kind.
  std::optional<failure> error;
  bool operator==(const file_record&) const = default;
};

/// A page read both ways.
struct page_reading {
  /// What the window shows: the fields of the page's last file in page order when it
  /// lists any (read past most_files too), so that all five describe one file;
  /// otherwise the markers' (parse_*_page).
  resolved_file fields;
  local_text extension;   ///< file_type_key(fields.file_name)
  /// The size the window's size comes from, as a whole number of bytes read
  /// exactly; nothing when there is none or it is not a whole number.
  std::optional<std::uint64_t> size_bytes;
  std::vector<file_record> files;  ///< every file the page lists, in page order, up to most_files
  bool more_files = false;         ///< the page lists more than most_files; those are left out
  bool operator==(const page_reading&) const = default;
};

/// The most files read from one page: far more than a share page lists, and it
/// keeps a page made of nothing but tiny records from taking gigabytes once each
/// record becomes text.
inline constexpr std::size_t most_files = 10000;

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
