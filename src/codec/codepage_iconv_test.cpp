// How the Linux conversion replaces what code page 936 lacks and what is not
// UTF-8. On Windows the system's own conversion decides these cases.
#include "codec/codepage.h"
#include "codec/cp936_tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace sharelink {
namespace {

TEST(Cp936Tables, CompiledInTablesEqualWhatIconvGivesNow) {
  const auto now = std::make_unique<cp936::tables>(cp936::read_from_iconv());
  EXPECT_EQ(cp936::built_in.from_high_byte, now->from_high_byte);
  // Element by element, so that a difference names the first place it lies.
  for (std::size_t unit = 0; unit < now->from_unit.size(); ++unit) {
    ASSERT_EQ(cp936::built_in.from_unit[unit], now->from_unit[unit]) << std::hex << "U+" << unit;
  }
  for (std::size_t pair = 0; pair < now->from_pair.size(); ++pair) {
    ASSERT_EQ(cp936::built_in.from_pair[pair], now->from_pair[pair])
        << std::hex << cp936::kFirstLead + pair / cp936::kTrailCount << ' '
        << cp936::kFirstTrail + pair % cp936::kTrailCount;
  }
}

TEST(Utf8ToLocal, MissingCharactersBecomeOneQuestionMarkPerUtf16Unit) {
  EXPECT_EQ(utf8_to_local("\xF0\x9F\x98\x80"), "??");          // U+1F600, a surrogate pair
  EXPECT_EQ(utf8_to_local("a\xF4\x8F\xBF\xBF" "b"), "a??b");   // U+10FFFF
  EXPECT_EQ(utf8_to_local("\xD7\x90"), "?");                   // Hebrew alef
  EXPECT_EQ(utf8_to_local("\xEF\xBF\xBD"), "?");               // U+FFFD itself
  EXPECT_EQ(utf8_to_local("\xEE\x80\x80"), "?");               // private use
}

TEST(Utf8ToLocal, InvalidSequencesAreReplacedByMaximalSubpart) {
  EXPECT_EQ(utf8_to_local("\x80"), "?");
  EXPECT_EQ(utf8_to_local("\xBF\x80" "a"), "??a");
  EXPECT_EQ(utf8_to_local("\xE4\xB8"), "?");            // truncated at the end
  EXPECT_EQ(utf8_to_local("\xE4\xB8" "a"), "?a");       // truncated before ASCII
  EXPECT_EQ(utf8_to_local("\xE4\xB8\xE4\xB8\xAD"), "?\xD6\xD0");
  EXPECT_EQ(utf8_to_local("\xF0\x9F\x98"), "?");
  EXPECT_EQ(utf8_to_local("\xC0\xAF"), "??");           // overlong
  EXPECT_EQ(utf8_to_local("\xE0\x80\xAF"), "???");      // overlong
  EXPECT_EQ(utf8_to_local("\xF0\x80\x80\xAF"), "????");  // overlong
  EXPECT_EQ(utf8_to_local("\xED\xA0\x80"), "???");      // lone high surrogate
  EXPECT_EQ(utf8_to_local("\xED\xBF\xBF"), "???");      // lone low surrogate
  EXPECT_EQ(utf8_to_local("\xED\x9F\xBF"), "?");        // U+D7FF is a character, but not in the code page
  EXPECT_EQ(utf8_to_local("\xF4\x90\x80\x80"), "????"); // above U+10FFFF
  EXPECT_EQ(utf8_to_local("\xF5\xFE\xFF"), "???");
  // The sample from the Unicode standard's discussion of U+FFFD substitution.
  EXPECT_EQ(utf8_to_local("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"), "a???b?c??d");
  // Code page 936 bytes are not UTF-8 and are not passed through.
  EXPECT_EQ(utf8_to_local("\xD6\xD0\xCE\xC4"), "????");
}

TEST(LocalToUtf8, BrokenSequencesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(local_to_utf8("a\xD6"), "a" + fffd);                  // lead byte at the end
  EXPECT_EQ(local_to_utf8("\xD6" "0"), fffd + "0");               // no trail byte after it
  EXPECT_EQ(local_to_utf8("\xD6\x7F"), fffd + "\x7F");
  EXPECT_EQ(local_to_utf8("\xFF" "a"), fffd + "a");
  EXPECT_EQ(local_to_utf8("\xA1\x40" "a"), fffd + "a");           // a pair with no character
}

}  // namespace
}  // namespace sharelink
