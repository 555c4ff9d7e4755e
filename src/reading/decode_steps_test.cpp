#include "reading/decode_steps.h"

#include <random>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runtime/text.h"

namespace sharelink {
namespace {

TEST(UnescapeSlashes, EscapedSlashesBecomePlainSlashes) {
  EXPECT_EQ(unescape_slashes(R"(http:\\/\\/d.example\\/f\\/a?b=1)"), "http://d.example/f/a?b=1");
  EXPECT_EQ(unescape_slashes(R"(\\/\\/\\/\\/)"), "////");
  // A run of four backslashes before a slash also ends as one slash.
  EXPECT_EQ(unescape_slashes(R"(a\\\\/b)"), "a/b");
  EXPECT_EQ(unescape_slashes(R"(a\\\/b)"), R"(a\/b)");
}

TEST(UnescapeSlashes, OtherAddressesStayUnchanged) {
  EXPECT_EQ(unescape_slashes("http://d.example/f"), "http://d.example/f");
  EXPECT_EQ(unescape_slashes(R"(http:\/\/d.example\/f)"), R"(http:\/\/d.example\/f)");
  EXPECT_EQ(unescape_slashes(R"(a\\b/)"), R"(a\\b/)");
  EXPECT_EQ(unescape_slashes(""), "");
}

TEST(UnescapeSlashes, CharactersBeforeAnEscapeAreKept) {
  EXPECT_EQ(unescape_slashes("\xE4\xB8\xAD\\\\/"), "\xE4\xB8\xAD/");
  EXPECT_EQ(unescape_slashes("\x95\\\\/"), "\x95/");
  EXPECT_EQ(unescape_slashes("\xE4\xB8\\\\/"), "\xE4\xB8/");
}

// The unescaping as first written: replace the first occurrence, search again
// from the start, until none is left.
local_text unescape_by_repeated_search(std::string_view address) {
  local_text text(address);
  const int first = find_text(text, R"(\\/\\/)");
  if (first > 0) text = replace_span(text, first, 6, "//");
  for (int at = find_text(text, R"(\\/)"); at > 0; at = find_text(text, R"(\\/)"))
    text = replace_span(text, at, 3, "/");
  return text;
}

TEST(UnescapeSlashes, AgreesWithRepeatedSearchFromTheStart) {
  std::mt19937 random(20240601);
  const std::string alphabet = "\\\\\\/a:\xE4\xB8\xAD\x95";
  std::uniform_int_distribution<std::size_t> length(0, 14);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 20000; ++round) {
    std::string address;
    for (std::size_t n = length(random); n > 0; --n) address.push_back(alphabet[pick(random)]);
    ASSERT_EQ(unescape_slashes(address), unescape_by_repeated_search(address)) << address;
  }
}

}  // namespace
}  // namespace sharelink
