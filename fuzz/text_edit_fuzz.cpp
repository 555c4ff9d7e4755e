// find_text, replace_span, text_left and to_text with arbitrary texts, positions
// and counts.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "check.h"
#include "runtime/text.h"

using namespace sharelink;
using fuzz::check;

namespace {

/// The length of the well-formed UTF-8 character at `i` (the table of well-formed
/// byte sequences, written out), or 1 when none begins there.
std::size_t character_length(std::string_view text, std::size_t i) {
  const auto at = [&](std::size_t k) -> unsigned {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0x100u;
  };
  const auto in = [](unsigned b, unsigned low, unsigned high) { return b >= low && b <= high; };
  const unsigned b0 = at(0);
  if (b0 < 0x80) return 1;
  if (in(b0, 0xC2, 0xDF)) return in(at(1), 0x80, 0xBF) ? 2 : 1;
  unsigned low = 0x80, high = 0xBF;
  if (b0 == 0xE0) low = 0xA0;
  if (b0 == 0xED) high = 0x9F;
  if (in(b0, 0xE0, 0xEF))
    return in(at(1), low, high) && in(at(2), 0x80, 0xBF) ? 3 : 1;
  if (b0 == 0xF0) low = 0x90;
  if (b0 == 0xF4) high = 0x8F;
  if (in(b0, 0xF0, 0xF4))
    return in(at(1), low, high) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 1;
  return 1;
}

/// The walk find_text is documented to make, written plainly.
int expected_find(std::string_view text, std::string_view sought, long long start) {
  text = as_local(text);
  sought = as_local(sought);
  std::size_t i = static_cast<std::size_t>(std::clamp<long long>(start - 1, 0, text.size()));
  if (sought.empty()) return i < text.size() ? 1 : -1;
  while (text.size() - i >= sought.size()) {
    if (text.compare(i, sought.size(), sought) == 0) return static_cast<int>(i + 1);
    i += character_length(text, i);
  }
  return -1;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  int start = in.take<int>();
  int count = in.take<int>();
  std::string_view sought = in.take_until('|');
  std::string_view replacement = in.take_until('|');
  std::string_view text = in.rest();
  std::string_view seen = as_local(text);

  int found = find_text(text, sought, start, false);
  check(found == expected_find(text, sought, start), "find_text walked differently");

  int found_any_case = find_text(text, sought, start, true);
  if (found != -1) {
    check(found_any_case != -1 && found_any_case <= found,
          "ignoring case missed an exact occurrence");
  }
  if (found_any_case != -1 && !as_local(sought).empty()) {
    check(found_any_case >= 1 &&
              static_cast<std::size_t>(found_any_case - 1) + as_local(sought).size() <= seen.size(),
          "find_text (any case) reported a place outside the text");
    check(equal_ignoring_case(seen.substr(found_any_case - 1, as_local(sought).size()),
                              as_local(sought)),
          "find_text (any case) reported a place that does not match");
  }

  // replace_span: the span is clamped into the text, a count <= 0 only inserts.
  long long p = std::clamp<long long>(static_cast<long long>(start) - 1, 0, seen.size());
  long long removed = count > 0 ? std::min<long long>(count, seen.size() - p) : 0;
  std::string expected(seen.substr(0, p));
  expected += as_local(replacement);
  expected += seen.substr(p + removed);
  check(replace_span(text, start, count, replacement) == expected, "replace_span result differs");

  check(text_left(text, count) == seen.substr(0, std::clamp<long long>(count, 0, seen.size())),
        "text_left result differs");
  check(text_length(text) == static_cast<int>(std::min<std::size_t>(seen.size(), INT_MAX)),
        "text_length differs");
  check(to_text(text) == seen, "to_text of bytes differs");
  return 0;
}
