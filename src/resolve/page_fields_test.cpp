#include "resolve/page_fields.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(SearchablePart, EndsAfterTheLastClosingText) {
  EXPECT_EQ(searchable_part("a'>b'>c", "'>"), "a'>b'>");
  EXPECT_EQ(searchable_part("abc", "'>"), "");
  EXPECT_EQ(searchable_part("", "'>"), "");
  EXPECT_EQ(searchable_part("abc", ""), "abc");
}

TEST(EndOfLastEscapedBrace, NeedsABackslashBeforeTheQuotes) {
  const auto npos = std::string_view::npos;
  EXPECT_EQ(end_of_last_escaped_brace(R"(a\"}b)"), 4u);
  EXPECT_EQ(end_of_last_escaped_brace(R"(\""}x"}""})"), 4u);
  EXPECT_EQ(end_of_last_escaped_brace(R"(x\"}""}"})"), 4u);
  EXPECT_EQ(end_of_last_escaped_brace(R"("}""})"), npos);
  EXPECT_EQ(end_of_last_escaped_brace(R"(\})"), npos);
  EXPECT_EQ(end_of_last_escaped_brace(""), npos);
}

TEST(LastGroupText, TakesGroupOneOfTheLastMatch) {
  pattern_object object = regex_create();
  EXPECT_EQ(last_group_text(object, "k=(.*?);", "k=a; k=b; k=c", ";"), "b");
  EXPECT_EQ(last_group_text(object, "k=(.*?);", "no keys;", ";"), "");
  EXPECT_EQ(last_group_text(object, "k=(.*?);", "k=a", ";"), "");
  // A pattern that does not compile finds nothing, rather than reusing the last one.
  EXPECT_EQ(last_group_text(object, "k=(.*?;", "k=a;", ";"), "");
}

// Pages assembled from pieces of the markers, so that matches start, fail to
// close, nest and overlap in many ways.
std::string random_page(std::mt19937& random, const std::vector<std::string>& pieces) {
  std::uniform_int_distribution<std::size_t> count(0, 16);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string page;
  for (std::size_t n = count(random); n > 0; --n) page += pieces[pick(random)];
  return page;
}

local_text last_group_of_whole_page(std::string_view pattern, const std::string& page) {
  pattern_object object = regex_create();
  EXPECT_TRUE(regex_compile(object, pattern));
  const match_list matches = regex_search_all(object, page);
  return matches.empty() ? local_text() : match_group_text(matches.back(), page, 1);
}

TEST(LastGroupText, NarrowedSearchFindsWhatTheWholePageGives) {
  const std::vector<field_pattern> fields = {
      {R"re(file_url=\x22(.*?)(\x22 file_size=))re", "\" file_size=", nullptr, false},
      {R"re(key\x22 value='(.*?)('>))re", "'>", nullptr, false},
      {R"re(dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "\"}", end_of_last_escaped_brace, true},
      {R"re(dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "\"}", nullptr, false},
      {R"re(size\\+\x22:\\+\x22(.*?)(\\+\x22))re", "\\\"", nullptr, true},
      {R"re(filename=(.*?)(\\+\x22))re", "\\\"", nullptr, true},
  };
  const std::vector<std::string> pieces = {
      "file_url=\"", "\" file_size=", "\"", " ", "x", "\n", "key\" value='", "'>", "'", ">",
      "dlink\\\":\\\"", "\\", "\"\"}", "\\\\\\", "\\\"}", "\\\\\\\"", "\"}", "}", "size\\\":\\\"", "\\\"", "filename=", ":"};
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    const std::string page = random_page(random, pieces);
    for (const field_pattern& field : fields) {
      pattern_object object = regex_create();
      ASSERT_EQ(last_group_text(object, field, page), last_group_of_whole_page(field.pattern, page))
          << field.pattern << "\n" << page;
    }
  }
}

}  // namespace
}  // namespace sharelink
