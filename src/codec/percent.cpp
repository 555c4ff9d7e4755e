#include "codec/percent.h"
#include "codec/codepage.h"
// STUB
namespace sharelink {
local_text percent_decode(std::string_view e) { return utf8_to_local(e); }
}
