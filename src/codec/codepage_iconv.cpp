#include "codec/codepage.h"
// STUB
namespace sharelink {
local_text utf8_to_local(std::string_view u) { return local_text(as_local(u)); }
std::string local_to_utf8(std::string_view l) { return std::string(as_local(l)); }
}
