#include "codec/codepage.h"

#include "codec/utf8.h"

namespace sharelink {

local_text utf8_to_local(std::string_view utf8) { return repair_utf8(as_local(utf8)); }

std::string local_to_utf8(std::string_view local) { return repair_utf8(as_local(local)); }

}  // namespace sharelink
