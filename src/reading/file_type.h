#pragma once
#include <string_view>

#include "runtime/text.h"

namespace sharelink {

/// The bytes after the last '.' of `file_name` (empty when there is no '.').
local_text file_type_key(std::string_view file_name);

/// The file-type text shown for `file_name`: a fixed description of the kind of
/// file, three spaces, "(", the extension key and ")"; the bare key when the key is
/// not in the table; empty for a name without an extension. Case-sensitive.
local_text classify_file_type(std::string_view file_name);

}  // namespace sharelink
