#pragma once
// Regular expressions over local text (Perl syntax, Boost.Regex).
// Matching is byte-wise: a double-byte character is two independent bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

/// Why a pattern was rejected: the engine's reason, and the byte of the pattern
/// (from 0) where it stopped reading it.
struct pattern_error {
  std::string reason;
  std::size_t position = 0;
};

/// Compiles `pattern` (Perl syntax; up to its first zero byte) into `object`.
/// Returns false when the pattern is rejected; the object then keeps its previous
/// expression (or stays empty), and `why`, when given, says why.
bool regex_compile(pattern_object& object, std::string_view pattern, bool case_sensitive = true,
                   pattern_error* why = nullptr);

/// The number of groups of the object's expression, named ones included; 0 when empty.
int regex_group_count(const pattern_object& object);

/// The names of the object's named groups ("(?<name>...)", "(?'name'...)"), in the
/// order they open, each once.
std::vector<std::string> regex_group_names(const pattern_object& object);

/// The work the searches of one reading may do together, and a flag that stops
/// them. The engine's own limit holds for one search only; a page read match by
/// match is many searches, each within that limit, and together they can take
/// hours (a look-ahead to the end of the page from every byte). Work is counted
/// as bytes the engine reads, a byte read again counting again.
/// Once the work is spent or the flag is up, every search given the budget gives
/// up, within a few thousand bytes of work. Not to be shared between threads.
class search_budget {
 public:
  /// No limit of its own and no flag: only the engine's limit per search.
  search_budget();
  explicit search_budget(std::uint64_t reads, const std::atomic<bool>* cancel = nullptr);

  /// True once the work is spent or the flag turned true.
  bool exhausted() const;
  /// True when the flag turned true.
  bool cancelled() const;

  /// Counts one byte read; throws the engine out of its search when the budget
  /// is exhausted. For the search functions below.
  void read() {
    if (--countdown_ == 0) next_block();
  }

 private:
  void next_block();
  std::uint64_t left_;  // reads not yet handed out in blocks
  std::uint32_t countdown_ = 1;
  bool spent_ = false;
  const std::atomic<bool>* cancel_ = nullptr;
};

/// The work a reading of answers is allowed: a second or two of the engine's
/// work, far above what a plain pattern costs on an answer of 8 MiB (a few reads
/// of each byte).
inline constexpr std::uint64_t reading_search_reads = std::uint64_t{1} << 30;

/// Every successive, non-overlapping match of the object's expression in `text`.
/// Each search after the first starts at the end of the previous match, with that
/// point as the base for "^" and "\b". The loop ends on an empty match anywhere.
/// An empty object, an empty text, or an engine that gives up (complexity limit)
/// yields the matches recorded so far. Offsets are relative to `text.data()`.
match_list regex_search_all(const pattern_object& object, std::string_view text);

/// regex_search_all that also tells, in `gave_up`, whether the engine gave up
/// (complexity or memory limit, or `budget` exhausted) before the end of the text.
match_list regex_search_all(const pattern_object& object, std::string_view text, bool& gave_up,
                            search_budget* budget = nullptr);

/// The matches regex_search_all finds, handed to `visit` one by one as they are
/// found instead of being kept (`match` is reused from one call to the next);
/// `visit` returns false to stop there. Returns false when the engine gave up
/// (as regex_search_all's `gave_up`), true otherwise.
bool regex_for_each_match(const pattern_object& object, std::string_view text,
                          const std::function<bool(const search_result& match)>& visit,
                          search_budget* budget = nullptr);

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
                                search_result& result, search_budget* budget = nullptr);

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
