#include "resolve/file_type.h"
// STUB
namespace sharelink {
local_text file_type_key(std::string_view) { return {}; }
local_text classify_file_type(std::string_view) { return {}; }
}
