#include "runtime/text.h"
// STUB: to be written.
namespace sharelink {
std::string_view as_local(std::string_view t) { return t.substr(0, t.find('\0')); }
int text_length(std::string_view t) { return static_cast<int>(as_local(t).size()); }
local_text text_left(std::string_view, int) { return {}; }
int find_text(std::string_view, std::string_view, int, bool) { return -1; }
local_text replace_span(std::string_view t, int, int, std::string_view) { return local_text(t); }
local_text to_text(std::string_view b) { return local_text(as_local(b)); }
local_text to_text(double) { return {}; }
double to_number(std::string_view) { return 0; }
float to_single(std::string_view) { return 0; }
}  // namespace sharelink
