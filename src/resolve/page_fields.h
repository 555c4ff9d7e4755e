#pragma once
// The extraction step both resolvers share: one pattern, searched over the page,
// the last match's first group kept.
#include <string_view>

#include "runtime/pattern.h"
#include "runtime/text.h"

namespace sharelink {

/// The part of `page` that can hold a match ending in `closing`: the page up to the
/// end of the last occurrence of `closing`, or an empty view when it has none.
/// Offsets into the view are offsets into the page.
std::string_view searchable_part(std::string_view page, std::string_view closing);

/// Compiles `pattern` (case-sensitive) into `object`, finds every successive match
/// in `page` and returns group 1 of the last one; empty when nothing matches.
/// Every match of `pattern` must end in the literal `closing`: the search covers
/// only searchable_part(page, closing), which finds the same matches as the whole
/// page and skips the search entirely when the page lacks the closing text.
local_text last_group_text(pattern_object& object, std::string_view pattern,
                           std::string_view page, std::string_view closing);

}  // namespace sharelink
