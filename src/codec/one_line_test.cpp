#include "codec/one_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace sharelink {
namespace {

using namespace std::string_literals;

TEST(OneLine, NothingHostileReachesTheTerminal) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain 中文 é ~", "plain 中文 é ~"},
      {"\x1b[31mred\x1b]0;title\x07", " [31mred ]0;title "},  // ESC, BEL
      {"a\rb\nc\td\x7f", "a b c d "},                          // CR, LF, tab, DEL
      {"\0x"s, " x"},
      {"\xC2\x9B" "2J \xC2\x85 \xC2\x80\xC2\x9F", " 2J     "},  // C1: CSI, NEL, the first and last
      {"\xC2\xA0\xC2\xA9", "\xC2\xA0\xC2\xA9"},                // no-break space and © are no controls
      {"\xE2\x80\xA8\xE2\x80\xA9", "  "},                      // line and paragraph separators
      {"evil\xE2\x80\xAEtxt.exe", "evil txt.exe"},             // right-to-left override
      {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9", "        "},
      {"\xE2\x80\x8F\xE2\x80\x8E", "\xE2\x80\x8F\xE2\x80\x8E"},  // marks reorder nothing and stay
      {"\x9B" "2J\xC2", "\uFFFD2J\uFFFD"},  // bytes that are not UTF-8: never a raw 0x9B
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& [text, line] : cases) {
    EXPECT_EQ(one_line(text), line) << text;
    std::ostringstream out;
    write_line(out, text);
    EXPECT_EQ(out.str(), line + "\n");
  }
}

}  // namespace
}  // namespace sharelink
