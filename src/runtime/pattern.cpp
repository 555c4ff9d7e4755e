#include "runtime/pattern.h"
#include SHARELINK_REGEX_TRAITS_HEADER
// STUB: to be written.
namespace sharelink {
struct pattern_object::impl {};
pattern_object::pattern_object() = default;
pattern_object::~pattern_object() = default;
pattern_object::pattern_object(pattern_object&&) noexcept = default;
pattern_object& pattern_object::operator=(pattern_object&&) noexcept = default;
pattern_object regex_create() { return {}; }
bool regex_compile(pattern_object&, std::string_view, bool) { return false; }
match_list regex_search_all(const pattern_object&, std::string_view) { return {}; }
local_text match_group_text(const search_result&, std::string_view, int, int*) { return {}; }
search_result match_create() { return {}; }
void match_release(search_result& r) { r.spans.clear(); }
void regex_release(pattern_object&) {}
}  // namespace sharelink
