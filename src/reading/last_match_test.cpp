#include "reading/last_match.h"

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
  // The first of many keys takes in all the others: its match is the last one.
  std::string keys;
  for (int i = 0; i < 40; ++i) keys += "k=" + std::to_string(i) + " ";
  EXPECT_EQ(last_group_text(object, "k=(.*?);", keys + ";", ";"), keys.substr(2));
  EXPECT_EQ(last_group_text(object, "k=(.*?);", "k=x;" + keys + ";", ";"), keys.substr(2));
  const std::string spaced = keys + "k=" + std::string(1000, '.') + keys.substr(0, 64) + ";";  // 15 keys after the long one
  EXPECT_EQ(last_group_text(object, "k=(.*?);", spaced, ";"), spaced.substr(2, spaced.size() - 3));
  // A pattern that does not compile finds nothing, rather than reusing the last one.
  EXPECT_EQ(last_group_text(object, "k=(.*?;", "k=a;", ";"), "");
}

TEST(OpeningLiteral, OnlyPatternsWhoseEndsCannotChooseHaveOne) {
  const struct {
    const char* pattern;
    const char* opening;
  } cases[] = {
      {R"re(file_url=\x22(.*?)(\x22 file_size=))re", "file_url=\""},
      {R"re(key\x22 value='(.*?)('>))re", "key\" value='"},
      {R"re(dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "dlink\\"},
      {R"re(filename=(.*?)(\\+\x22))re", "filename="},
      {R"re(k=(.*?);)re", "k="},
      {R"re(k(.*?)(a+a))re", ""},       // a run that can give a byte back
      {R"re(k\\+(.*?)(x))re", ""},     // the opening ends in a run
      {R"re(\\k(.*?)(x))re", ""},      // the opening starts with a backslash
      {R"re(k\b(.*?)(x))re", ""},       // an assertion
      {R"re(k\<(.*?)(x))re", ""},
      {R"re(k(.*?)(x|y))re", ""},
      {R"re(k+?(.*?)(x))re", ""},
      {R"re(ka*(.*?)(x))re", ""},
      {R"re(k\x223(.*?)(x))re", "k\"3"},  // the escape takes two digits, as the engine reads it
      {R"re(\x22dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "\"dlink\\"},
      {R"re(k(.*)(x))re", ""},
      {R"re((.*?)(x))re", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(opening_literal(c.pattern), c.opening) << c.pattern;
}

// Pages assembled from pieces of the markers, so that matches start, fail to
// close, nest and overlap in many ways.
std::string random_page(std::mt19937& random, const std::vector<std::string>& pieces, std::size_t most) {
  std::uniform_int_distribution<std::size_t> count(0, most);
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
  std::vector<field_pattern> fields = {
      {R"re(file_url=\x22(.*?)(\x22 file_size=))re", "\" file_size=", nullptr, false},
      {R"re(key\x22 value='(.*?)('>))re", "'>", nullptr, false},
      {R"re(dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "\"}", end_of_last_escaped_brace, true},
      {R"re(dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "\"}", nullptr, false},
      {R"re(size\\+\x22:\\+\x22(.*?)(\\+\x22))re", "\\\"", nullptr, true},
      {R"re(filename=(.*?)(\\+\x22))re", "\\\"", nullptr, true},
      {R"re(file_name=\x22(.*?)(\x22))re", "\"", nullptr, false},
      {R"re(md5\\+\x22:\\+\x22(.*?)(\\+\x22))re", "\\\"", nullptr, true},
      // Not of the shape the search from the end needs: always the plain search.
      {R"re(key\x22 value='(.*?)('+>))re", "'>", nullptr, false},
  };
  // The Pan rule file's patterns, narrowed by what hints_for reads from them, as a
  // rule's fields are.
  const char* const rule_patterns[] = {R"re(\x22dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re",
                                       R"re(\x22size\\+\x22:\\+\x22(.*?)(\\+\x22))re",
                                       R"re(\x22md5\\+\x22:\\+\x22(.*?)(\\+\x22))re"};
  std::vector<pattern_hints> hints;
  for (const char* pattern : rule_patterns) hints.push_back(hints_for(pattern));
  for (std::size_t i = 0; i < hints.size(); ++i) {
    ASSERT_FALSE(hints[i].closing.empty()) << rule_patterns[i];
    fields.push_back({rule_patterns[i], hints[i].closing, nullptr, hints[i].backslash_runs_alike});
  }
  const std::vector<std::string> pieces = {
      "file_url=\"", "\" file_size=", "\"", " ", "x", "\n", "key\" value='", "'>", "'", ">",
      "dlink\\\":\\\"", "\\", "\"\"}", "\\\\\\", "\\\"}", "\\\\\\\"", "\"}", "}", "size\\\":\\\"", "\\\"", "filename=", ":",
      "file_name=\"", "md5\\\":\\\"", "''>", "\"dlink\\\":\\\"", "\"size\\\":\\\""};
  std::mt19937 random(7);
  // Short pages, and long ones holding more markers than the search from the end
  // looks at before it gives up and searches the whole page.
  for (int round = 0; round < 4000; ++round) {
    const std::string page = random_page(random, pieces, round % 4 == 0 ? 160 : 16);
    for (const field_pattern& field : fields) {
      pattern_object object = regex_create();
      ASSERT_EQ(last_group_text(object, field, page), last_group_of_whole_page(field.pattern, page))
          << field.pattern << "\n" << page;
    }
  }
}

}  // namespace
}  // namespace sharelink
