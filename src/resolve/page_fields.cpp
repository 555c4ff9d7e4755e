#include "resolve/page_fields.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace sharelink {
namespace {

// A text with each run of backslashes shortened to one, and the way back to the
// positions of the original.
class collapsed_runs {
 public:
  explicit collapsed_runs(std::string_view original) {
    text_.reserve(original.size());
    std::size_t removed = 0;
    for (std::size_t i = 0; i < original.size();) {
      text_.push_back(original[i]);
      if (original[i] != '\\') {
        ++i;
        continue;
      }
      std::size_t run_end = i + 1;
      while (run_end < original.size() && original[run_end] == '\\') ++run_end;
      if (run_end - i > 1) {
        removed += run_end - i - 1;
        // From here on, positions of the copy lie `removed` bytes further on in
        // the original. The end of a run maps to the end of the original run.
        shifts_.push_back({text_.size(), removed});
      }
      i = run_end;
    }
  }

  std::string_view text() const { return text_; }

  /// The original position of `position` in the copy. Positions inside a run are
  /// never asked for: matches of such patterns start and end outside runs or at
  /// their ends.
  std::size_t original_position(std::size_t position) const {
    auto after = std::upper_bound(shifts_.begin(), shifts_.end(), position,
                                  [](std::size_t p, const shift& s) { return p < s.from; });
    return after == shifts_.begin() ? position : position + std::prev(after)->removed;
  }

 private:
  struct shift {
    std::size_t from;     // first position of the copy this applies to
    std::size_t removed;  // bytes removed before it
  };
  std::string text_;
  std::vector<shift> shifts_;
};

}  // namespace

std::string_view searchable_part(std::string_view page, std::string_view closing) {
  if (closing.empty()) return page;
  const std::size_t last = page.rfind(closing);
  if (last == std::string_view::npos) return {};
  return page.substr(0, last + closing.size());
}

std::size_t end_of_last_escaped_brace(std::string_view page) {
  std::size_t brace = page.rfind("\"}");
  while (brace != std::string_view::npos) {
    std::size_t quotes = brace;
    while (quotes > 0 && page[quotes - 1] == '"') --quotes;
    if (quotes == 0) break;
    if (page[quotes - 1] == '\\') return brace + 2;
    // No "}" starts inside this run of quotes; look before it.
    brace = page.rfind("\"}", quotes - 1);
  }
  return std::string_view::npos;
}

local_text last_group_text(pattern_object& object, const field_pattern& field,
                           std::string_view page) {
  // A pattern that does not compile would leave the previous one in the object;
  // searching with that would fill the field from the wrong marker.
  if (!regex_compile(object, field.pattern)) return {};
  const std::string_view local = as_local(page);
  std::string_view searched;
  if (field.last_closing_end != nullptr) {
    const std::size_t end = field.last_closing_end(local);
    if (end != std::string_view::npos) searched = local.substr(0, end);
  } else {
    searched = searchable_part(local, field.closing);
  }
  if (searched.empty()) return {};

  if (!field.backslash_runs_alike || searched.find("\\\\") == std::string_view::npos) {
    const match_list matches = regex_search_all(object, searched);
    if (matches.empty()) return {};
    return match_group_text(matches.back(), searched, 1);
  }

  const collapsed_runs copy(searched);
  const match_list matches = regex_search_all(object, copy.text());
  if (matches.empty() || matches.back().spans.size() < 2) return {};
  const match_span& group = matches.back().spans[1];
  if (!group.matched || group.length <= 0) return {};
  const std::size_t begin = copy.original_position(static_cast<std::size_t>(group.offset));
  const std::size_t end =
      copy.original_position(static_cast<std::size_t>(group.offset) + static_cast<std::size_t>(group.length));
  return local_text(searched.substr(begin, end - begin));
}

local_text last_group_text(pattern_object& object, std::string_view pattern,
                           std::string_view page, std::string_view closing) {
  return last_group_text(object, field_pattern{pattern, closing, nullptr, false}, page);
}

}  // namespace sharelink
