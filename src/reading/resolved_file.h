#pragma once
#include "runtime/text.h"

namespace sharelink {

/// What a resolver hands back: five local texts, each always present, possibly empty.
struct resolved_file {
  local_text download_url;
  local_text file_name;
  local_text file_type;  ///< classify_file_type(file_name)
  local_text size;       ///< format_size(size in bytes), "0B" when the page has none
  local_text md5;        ///< for Kuaichuan pages: the page's key value
  bool operator==(const resolved_file&) const = default;
};

}  // namespace sharelink
