#pragma once
// Regular expressions over local text (Perl syntax, Boost.Regex).
// Matching is byte-wise: a double-byte character is two independent bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/text.h"

namespace sharelink {

/// Where one group of a match lies in the searched text.
struct match_span {
  std::int32_t offset = 0;  ///< bytes from the start of the searched text
  std::int32_t length = 0;  ///< bytes in the span
  bool matched = false;     ///< false when the group took no part in the match
};

/// One match: spans[0] is the whole match, spans[i] the i-th group.
struct search_result {
  std::vector<match_span> spans;
};

/// Every match of one search, in text order.
using match_list = std::vector<search_result>;

/// Holds at most one compiled expression; empty until a compile succeeds.
class pattern_object {
 public:
  pattern_object();
  ~pattern_object();
  pattern_object(pattern_object&&) noexcept;
  pattern_object& operator=(pattern_object&&) noexcept;
  struct impl;
  impl* get() const { return impl_.get(); }
 private:
  std::unique_ptr<impl> impl_;
};

/// A new, empty pattern object.
pattern_object regex_create();

/// Compiles `pattern` (Perl syntax; up to its first zero byte) into `object`.
/// Returns false when the pattern is rejected; the object then keeps its previous
/// expression (or stays empty).
bool regex_compile(pattern_object& object, std::string_view pattern, bool case_sensitive = true);

/// Every successive, non-overlapping match of the object's expression in `text`.
/// Each search after the first starts at the end of the previous match, with that
/// point as the base for "^" and "\b". The loop ends on an empty match anywhere.
/// An empty object, an empty text, or an engine that gives up (complexity limit)
/// yields the matches recorded so far. Offsets are relative to `text.data()`.
match_list regex_search_all(const pattern_object& object, std::string_view text);

/// regex_search_all that also tells, in `gave_up`, whether the engine gave up
/// (complexity or memory limit) before the end of the text.
match_list regex_search_all(const pattern_object& object, std::string_view text, bool& gave_up);

/// The number of the group named `name` in the object's expression ("(?<name>...)"),
/// or -1 when it has none of that name.
int regex_group_number(const pattern_object& object, std::string_view name);

/// How a match at one fixed place went.
enum class match_at_outcome {
  matched,     ///< a match starts there; the result holds it
  no_match,    ///< no match starts there
  gave_up,     ///< the engine gave up (complexity or memory limit), or nothing to match with
};

/// The match of the object's expression that starts exactly at `at` in `text`,
/// searched the way regex_search_all continues from `at` (that point is the base
/// for "^", "\b" and look-behind). Offsets are relative to `text.data()`.
match_at_outcome regex_match_at(const pattern_object& object, std::string_view text, std::size_t at,
                                search_result& result);

/// The text of span `index` of `result`, cut out of `text` (the searched text).
/// Empty when the result has no spans, the index is out of range, the group did not
/// match, or the span lies outside `text`. `start`, when given, receives the offset.
local_text match_group_text(const search_result& result, std::string_view text, int index,
                            int* start = nullptr);

/// An empty search result.
search_result match_create();
/// Frees what a search result holds; it is empty afterwards.
void match_release(search_result& result);
/// Frees the object's expression; it is empty afterwards.
void regex_release(pattern_object& object);

}  // namespace sharelink
