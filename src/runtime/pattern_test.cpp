#include "runtime/pattern.h"

#include <atomic>
#include <string>

#include <gtest/gtest.h>

namespace sharelink {
namespace {

pattern_object compiled(std::string_view pattern, bool case_sensitive = true) {
  pattern_object object = regex_create();
  EXPECT_TRUE(regex_compile(object, pattern, case_sensitive)) << pattern;
  return object;
}

std::vector<std::string> group_texts(const match_list& matches, std::string_view text, int index) {
  std::vector<std::string> texts;
  for (const search_result& result : matches) texts.push_back(match_group_text(result, text, index));
  return texts;
}

TEST(PatternSearch, CollectsEverySuccessiveMatchWithOffsetsFromTheTextStart) {
  const std::string text = "a1b22c";
  const match_list matches = regex_search_all(compiled("[0-9]+"), text);
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_EQ(matches[0].spans[0].offset, 1);
  EXPECT_EQ(matches[0].spans[0].length, 1);
  EXPECT_EQ(matches[1].spans[0].offset, 3);
  EXPECT_EQ(matches[1].spans[0].length, 2);
  EXPECT_EQ(group_texts(matches, text, 0), (std::vector<std::string>{"1", "22"}));
}

TEST(PatternSearch, GroupOffsetsStayRelativeToTheTextStartAfterContinuations) {
  const std::string text = "k=aa; k=bbb; k=c;";
  const match_list matches = regex_search_all(compiled("k=(.*?);"), text);
  ASSERT_EQ(matches.size(), 3u);
  EXPECT_EQ(matches[2].spans[1].offset, 15);
  EXPECT_EQ(group_texts(matches, text, 1), (std::vector<std::string>{"aa", "bbb", "c"}));
  int start = -1;
  EXPECT_EQ(match_group_text(matches[1], text, 1, &start), "bbb");
  EXPECT_EQ(start, 8);
}

TEST(PatternSearch, MatchesDoNotOverlap) {
  EXPECT_EQ(regex_search_all(compiled("aa"), "aaaaa").size(), 2u);
}

TEST(PatternSearch, DotMatchesLineBreaksAndNonGreedyGroupsStopAtTheFirstDelimiter) {
  const std::string text = "x\ny x\r\nz y";
  const match_list matches = regex_search_all(compiled("x(.*?)y"), text);
  EXPECT_EQ(group_texts(matches, text, 1), (std::vector<std::string>{"\n", "\r\nz "}));
}

TEST(PatternSearch, ContinuationPointCountsAsTheStartOfTheText) {
  // "^" matches at each continuation point as well as after line breaks.
  EXPECT_EQ(regex_search_all(compiled("^a"), "aab").size(), 2u);
  EXPECT_EQ(regex_search_all(compiled("^b"), "ab\nb").size(), 1u);
  // "\b" sees no word character before the continuation point.
  EXPECT_EQ(regex_search_all(compiled("\\bx"), "xxy").size(), 2u);
}

TEST(PatternSearch, CaseSensitiveUnlessAskedOtherwise) {
  EXPECT_TRUE(regex_search_all(compiled("ABC"), "abc").empty());
  EXPECT_EQ(regex_search_all(compiled("ABC", false), "xabc").size(), 1u);
}

TEST(PatternSearch, HighBytesAreOrdinaryBytes) {
  // GBK "中文" (D6 D0 CE C4): a byte-wise engine with no locale of its own.
  const std::string text = "\xD6\xD0\xCE\xC4";
  EXPECT_EQ(regex_search_all(compiled("\xD0\xCE"), text).size(), 1u);
  const match_list any = regex_search_all(compiled("(.)", false), text);
  EXPECT_EQ(any.size(), 4u);
}

TEST(PatternSearch, HexEscapesAndEscapedPunctuationAreLiteralBytes) {
  const std::string text = R"(a\\"}b)";
  const match_list matches = regex_search_all(compiled(R"((\\+"+\}))"), text);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(match_group_text(matches[0], text, 1), R"(\\"})");
  EXPECT_EQ(regex_search_all(compiled(R"(\x22)"), "say \"hi\"").size(), 2u);
}

TEST(PatternSearch, EmptyMatchesEndTheSearch) {
  // At the start of the text: exactly one result, empty, at offset 0.
  const match_list at_start = regex_search_all(compiled("z*"), "abc");
  ASSERT_EQ(at_start.size(), 1u);
  EXPECT_EQ(at_start[0].spans[0].offset, 0);
  EXPECT_EQ(at_start[0].spans[0].length, 0);
  // After a real match: the empty match is recorded once and the search stops.
  const match_list later = regex_search_all(compiled("a*"), "aab");
  ASSERT_EQ(later.size(), 2u);
  EXPECT_EQ(later[1].spans[0].offset, 2);
  EXPECT_EQ(later[1].spans[0].length, 0);
}

TEST(PatternSearch, NothingToSearchGivesAnEmptyList) {
  EXPECT_TRUE(regex_search_all(compiled("a*"), "").empty());
  EXPECT_TRUE(regex_search_all(regex_create(), "abc").empty());
  // The text ends at its first zero byte.
  const std::string text("ab\0ab", 5);
  EXPECT_EQ(regex_search_all(compiled("ab"), text).size(), 1u);
}

TEST(PatternSearch, EngineGivingUpKeepsTheMatchesFoundSoFar) {
  // Exponential backtracking after one good match: the engine's complexity
  // guard throws on the second search, the first match stays.
  std::string text = "ok;" + std::string(40, 'a');
  const match_list matches = regex_search_all(compiled("ok;|(a+)+b"), text);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(match_group_text(matches[0], text, 0), "ok;");
}

// The engine's limit holds for one search; a budget for every search it is given
// to, together. Its flag stops them too. A visitor that has seen enough stops.
TEST(PatternSearch, ABudgetBoundsTheSearchesGivenItTogether) {
  const pattern_object quadratic = compiled("a(?=[^z]*$)");
  const std::string text(4096, 'a');
  EXPECT_EQ(regex_search_all(quadratic, text).size(), text.size());  // each search within the engine's limit
  search_budget budget(std::uint64_t{1} << 20);
  bool gave_up = false;
  const std::size_t found = regex_search_all(quadratic, text, gave_up, &budget).size();
  EXPECT_TRUE(gave_up);
  EXPECT_TRUE(budget.exhausted());
  EXPECT_LT(found, text.size() / 4);  // about 2^20 bytes read: the first few hundred
  EXPECT_TRUE(regex_search_all(compiled("a"), "a", gave_up, &budget).empty());
  EXPECT_TRUE(gave_up);

  std::atomic<bool> stop{true};
  search_budget stopped(std::uint64_t{1} << 40, &stop);
  search_result match;
  EXPECT_EQ(regex_match_at(compiled("a"), "aaa", 0, match, &stopped), match_at_outcome::gave_up);
  EXPECT_TRUE(stopped.cancelled());

  int seen = 0;
  EXPECT_TRUE(regex_for_each_match(compiled("a"), "aaa", [&](const search_result&) { return ++seen < 2; }));
  EXPECT_EQ(seen, 2);
}

TEST(PatternMatchAt, MatchesOnlyAtTheGivenPlace) {
  const std::string text = "xk=1;k=22;";
  const pattern_object object = compiled("k=(.*?);");
  search_result result;
  EXPECT_EQ(regex_match_at(object, text, 0, result), match_at_outcome::no_match);
  ASSERT_EQ(regex_match_at(object, text, 5, result), match_at_outcome::matched);
  EXPECT_EQ(match_group_text(result, text, 1), "22");
  EXPECT_EQ(result.spans[0].offset, 5);
  EXPECT_EQ(regex_match_at(object, text, text.size(), result), match_at_outcome::no_match);
  EXPECT_EQ(regex_match_at(regex_create(), text, 1, result), match_at_outcome::gave_up);
  // Exponential backtracking: the engine's complexity guard, not a missing match.
  EXPECT_EQ(regex_match_at(compiled("(a+)+b"), std::string(40, 'a'), 0, result), match_at_outcome::gave_up);
}

TEST(PatternCompile, MalformedPatternIsRejectedAndThePreviousExpressionStays) {
  pattern_object object = compiled("ab");
  EXPECT_FALSE(regex_compile(object, "("));
  EXPECT_FALSE(regex_compile(object, "a{2,1}"));
  EXPECT_EQ(regex_search_all(object, "xaby").size(), 1u);

  pattern_object never = regex_create();
  EXPECT_FALSE(regex_compile(never, "[a"));
  EXPECT_TRUE(regex_search_all(never, "[a").empty());
}

TEST(PatternCompile, EachCompileReplacesTheExpressionAndReleaseEmptiesIt) {
  pattern_object object = compiled("a");
  EXPECT_TRUE(regex_compile(object, "b"));
  EXPECT_TRUE(regex_search_all(object, "aaa").empty());
  EXPECT_EQ(regex_search_all(object, "bb").size(), 2u);
  regex_release(object);
  EXPECT_TRUE(regex_search_all(object, "bb").empty());
  EXPECT_TRUE(regex_compile(object, "b"));
  EXPECT_EQ(regex_search_all(object, "bb").size(), 2u);

  pattern_object moved = std::move(object);
  EXPECT_TRUE(regex_search_all(object, "bb").empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(regex_compile(object, "b"));
  EXPECT_EQ(regex_search_all(object, "b").size(), 1u);
}

TEST(PatternCompile, PatternEndsAtItsFirstZeroByte) {
  pattern_object object = compiled(std::string_view("ab\0(", 4));
  EXPECT_EQ(regex_search_all(object, "ab").size(), 1u);
}

TEST(MatchGroupText, UnmatchedOrMissingGroupsGiveEmptyText) {
  const std::string text = "xy";
  const match_list optional_group = regex_search_all(compiled("x(a)?y"), text);
  ASSERT_EQ(optional_group.size(), 1u);
  EXPECT_FALSE(optional_group[0].spans[1].matched);
  EXPECT_EQ(match_group_text(optional_group[0], text, 1), "");

  const match_list no_groups = regex_search_all(compiled("xy"), text);
  ASSERT_EQ(no_groups.size(), 1u);
  EXPECT_EQ(match_group_text(no_groups[0], text, 1), "");
  EXPECT_EQ(match_group_text(no_groups[0], text, -1), "");
  EXPECT_EQ(match_group_text(match_create(), text, 0), "");
}

TEST(MatchGroupText, NeverReadsBeyondAShorterText) {
  const std::string text = "0123456789";
  const match_list matches = regex_search_all(compiled("5(678)"), text);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(match_group_text(matches[0], "01234567", 1), "67");
  EXPECT_EQ(match_group_text(matches[0], "0123", 1), "");
  search_result forged;
  forged.spans.push_back({-3, 5, true});
  forged.spans.push_back({2, 2147483647, true});
  EXPECT_EQ(match_group_text(forged, text, 0), "");
  EXPECT_EQ(match_group_text(forged, text, 1), "23456789");
}

TEST(MatchGroupText, ReleasedResultHasNoSpans) {
  const std::string text = "ab";
  match_list matches = regex_search_all(compiled("(a)"), text);
  ASSERT_EQ(matches.size(), 1u);
  match_release(matches[0]);
  EXPECT_TRUE(matches[0].spans.empty());
  EXPECT_EQ(match_group_text(matches[0], text, 0), "");
}

}  // namespace
}  // namespace sharelink
