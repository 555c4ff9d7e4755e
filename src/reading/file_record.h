#pragma once
// A file as a share page lists it, from the page to what the command and the window
// show of it, and a page read whole.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codec/local_text.h"
#include "runtime/error_kind.h"

namespace sharelink {

/// One file of a page, every field from that file's own record (UTF-8, as all text
/// inside the program is). What more a file is given on its way (how its download
/// ended, what a check found) is added by whoever adds it, beside these fields.
struct file_record {
  local_text download_url;
  local_text file_name;
  local_text file_type;   ///< classify_file_type(file_name)
  local_text extension;   ///< file_type_key(file_name): the key the file-type table looks up
  local_text size = "0B";  ///< format_size of the record's size, "0B" when it has none
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

/// A page read: the file the window shows and every file the page lists.
struct page_reading {
  /// What the window shows: the page's last file in page order when it lists any
  /// (read past most_files too), so that all its fields describe one file;
  /// otherwise the fields the rule reads from the page as a whole ([fields]).
  file_record fields;
  std::vector<file_record> files;  ///< every file the page lists, in page order, up to most_files
  bool more_files = false;         ///< the page lists more than most_files; those are left out
  bool operator==(const page_reading&) const = default;
};

/// The most files read from one page: far more than a share page lists, and it
/// keeps a page made of nothing but tiny records from taking gigabytes once each
/// record becomes text.
inline constexpr std::size_t most_files = 10000;

}  // namespace sharelink
