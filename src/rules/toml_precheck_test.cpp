#include "rules/toml_precheck.h"

#include <string>

#include <gtest/gtest.h>

#include "rules/rule.h"

namespace sharelink {
namespace {

// U+02E0 and U+2E80 are characters toml++ 3.3's whitespace table cannot answer for.
TEST(TomlPrecheck, RefusesWhatTheReaderCannotAskAboutAndNothingElse) {
  const std::string ml = "\"\"\"";
  const struct {
    std::string text;
    int line;  // 0: passes
    int column;
  } cases[] = {
      {"a = 1 \xCB\xA0\n", 1, 7},
      {"\xCB\xA0 = 1\n", 1, 1},
      {"[t]\nb\xE2\xBA\x80 = 2\n", 2, 2},
      {"a = \"\xC3\xA9\" \xCB\xA0\n", 1, 9},  // columns count characters
      {"a = " + ml + "\\\xCB\xA0" + ml + "\n", 1, 9},
      {"a = " + ml + "x \\  \xCB\xA0" + ml + "\n", 1, 13},  // not at the line's end
      {"a = 'x\n\xCB\xA0 = 1\n", 2, 1},  // an unclosed string ends with its line
      // A quote glued to a bare value opens no string: the reader scans on through it.
      {"name = 0\"d\xCE\x8Do\"\n", 1, 11},
      {"a = 1.\"\xCB\xA0\"\n", 1, 8},
      {"a = [{x=1},{b=2.'\xCB\xA0'}]\n", 1, 18},
      {"a = true'\xCB\xA0'\n", 1, 10},
      {"a = 7''x=\"\xCB\xA0\"\n", 1, 11},
      {"\xEF\xBB\xBF" "a = \"\xCB\xA0\" # \xE2\xBA\x80\n", 0, 0},
      {"a = 'it''s' # \xCB\xA0\n", 0, 0},
      {"a = \"\\\"\xCB\xA0\"\n", 0, 0},
      {"a = " + ml + "\"\"\xCB\xA0\\\"" + ml + "\"\"\nb = '''\xCB\xA0''''\n", 0, 0},
      {"a = " + ml + "x \\\n  y\xCB\xA0" + ml + "\n", 0, 0},
      {"[\"\xCB\xA0\".'\xE2\xBA\x80']\n", 0, 0},
      {"a = {b.\"\xCB\xA0\" = 1, c.'\xCB\xA0' = [\"\xCB\xA0\",'\xCB\xA0']}\n", 0, 0},
      // A table header's first key is where the reader assumes a key begins.
      {"[[[\n[t]\n", 1, 1},
      {"a = 1\n[[ [t]]\n", 2, 1},
      {"[\t,]\n", 1, 1},
      {"[[\n", 1, 1},
      {"[ #c\n", 1, 1},
      {"[[ 'a' ]]\n[ b.\"c\" ]\n[_-9]\nx = [[[1]]]\n", 0, 0},
      {"[ [t]]\n", 0, 0},  // refused by the reader itself
      {"[]\n", 0, 0},
      {"[[", 0, 0},
  };
  for (const auto& c : cases) {
    const toml_precheck checked = precheck_toml(c.text);
    if (c.line == 0) {
      EXPECT_FALSE(checked.problem) << c.text;
      EXPECT_EQ(checked.text, c.text);
      continue;
    }
    ASSERT_TRUE(checked.problem) << c.text;
    EXPECT_EQ(std::make_pair(checked.problem->line, checked.problem->column), std::make_pair(c.line, c.column))
        << c.text;
  }
}

// The first character after a line-ending backslash is one TOML allows there: it
// reaches the reader as its escape, and the string holds it all the same.
TEST(TomlPrecheck, AfterALineEndingBackslashACharacterGoesAsItsEscape) {
  const std::string ml = "\"\"\"";
  const std::string text = "name = 'x'\ntitle = " + ml + "a \\\n   \xCB\xA0" "b \\ \r\n\n\xF0\x9F\x98\x80" + ml +
                           "\n[fields.download_url]\npattern = '(u)'\n";
  EXPECT_EQ(precheck_toml(text).text, "name = 'x'\ntitle = " + ml + "a \\\n   \\U000002E0b \\ \r\n\n\\U0001F600" + ml +
                                          "\n[fields.download_url]\npattern = '(u)'\n");
  const auto read = read_rule(text);
  ASSERT_TRUE(std::holds_alternative<service_rule>(read)) << describe(std::get<rule_problem>(read), "r");
  EXPECT_EQ(std::get<service_rule>(read).title, "a \xCB\xA0" "b \xF0\x9F\x98\x80");
}

// Every character outside ASCII, where a key may stand: refused before the TOML
// reader sees it (the sanitizer build stops on toml++'s unreachable branch otherwise).
TEST(TomlPrecheck, ARuleFileWithAnyCharacterWhereAKeyStandsIsRefused) {
  for (char32_t c = 0x80; c < 0x10000; c += (c < 0x3200 ? 1 : 0x61)) {
    if (c >= 0xD800 && c < 0xE000) continue;
    std::string utf8 = c < 0x800 ? std::string{char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))}
                                  : std::string{char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)),
                                                char(0x80 | (c & 0x3F))};
    const auto read = read_rule("name = \"x\"\n" + utf8 + "a = 1\n");
    const auto* problem = std::get_if<rule_problem>(&read);
    ASSERT_TRUE(problem) << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(problem->line, 2);
  }
}

}  // namespace
}  // namespace sharelink
