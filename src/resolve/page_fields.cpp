#include "resolve/page_fields.h"

namespace sharelink {

std::string_view searchable_part(std::string_view page, std::string_view closing) {
  if (closing.empty()) return page;
  const std::size_t last = page.rfind(closing);
  if (last == std::string_view::npos) return {};
  return page.substr(0, last + closing.size());
}

local_text last_group_text(pattern_object& object, std::string_view pattern,
                           std::string_view page, std::string_view closing) {
  // A pattern that does not compile would leave the previous one in the object;
  // searching with that would fill the field from the wrong marker.
  if (!regex_compile(object, pattern)) return {};
  const std::string_view searched = searchable_part(as_local(page), closing);
  if (searched.empty()) return {};
  const match_list matches = regex_search_all(object, searched);
  if (matches.empty()) return {};
  return match_group_text(matches.back(), searched, 1);
}

}  // namespace sharelink
