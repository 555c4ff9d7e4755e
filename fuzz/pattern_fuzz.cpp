// The pattern matcher's compile and search loop with arbitrary patterns and texts.
// Input: one flags byte, the pattern up to a zero byte, then the text.
#include <climits>
#include <cstdint>
#include <string>

#include "check.h"
#include "runtime/pattern.h"

using namespace sharelink;
using fuzz::check;

namespace {

void check_matches(const match_list& matches, std::string_view text) {
  std::int64_t previous_end = 0;
  std::size_t groups = matches.empty() ? 0 : matches.front().spans.size();
  for (const search_result& result : matches) {
    check(!result.spans.empty() && result.spans.size() == groups, "results differ in shape");
    check(result.spans[0].matched, "the whole match did not match");
    check(result.spans[0].offset >= previous_end, "matches overlap or go backwards");
    previous_end = std::int64_t{result.spans[0].offset} + result.spans[0].length;
    for (std::size_t i = 0; i < result.spans.size(); ++i) {
      const match_span& span = result.spans[i];
      int index = static_cast<int>(i);
      if (!span.matched) {
        check(match_group_text(result, text, index).empty(), "an unmatched group has text");
        continue;
      }
      check(span.offset >= 0 && span.length >= 0 &&
                std::int64_t{span.offset} + span.length <= static_cast<std::int64_t>(text.size()),
            "a span lies outside the text");
      int start = -2;
      check(match_group_text(result, text, index, &start) == text.substr(span.offset, span.length),
            "group text is not the span's bytes");
      check(start == span.offset, "start is not the span's offset");
      // A shorter text than the searched one must not be read past its end.
      std::string shorter(text.substr(0, span.offset + span.length / 2));
      match_group_text(result, shorter, index);
    }
    for (int bad : {-1, static_cast<int>(result.spans.size()), INT_MAX, INT_MIN})
      check(match_group_text(result, text, bad).empty(), "an index out of range gave text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  bool case_sensitive = in.take<std::uint8_t>() & 1;
  std::string pattern(in.take_until('\0'));
  std::string text(in.rest());

  pattern_object object = regex_create();
  bool compiled = regex_compile(object, pattern, case_sensitive);
  match_list first = regex_search_all(object, text);
  if (!compiled) check(first.empty(), "an object that never compiled found matches");
  check_matches(first, text);

  // A rejected pattern leaves the previous expression in place.
  check(!regex_compile(object, "(", case_sensitive), "a lone parenthesis compiled");
  match_list again = regex_search_all(object, text);
  check(again.size() == first.size(), "a failed compile changed the expression");

  search_result empty = match_create();
  check(match_group_text(empty, text, 0).empty(), "an empty result gave text");
  regex_release(object);
  check(regex_search_all(object, text).empty(), "a released object still matches");
  return 0;
}
