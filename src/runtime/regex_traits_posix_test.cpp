// The Linux traits class has no locale of its own: bytes of 0x80 and above
// belong to no character class, whatever the process locale says.
#include "runtime/pattern.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace sharelink {
namespace {

pattern_object compiled(std::string_view pattern) {
  pattern_object object = regex_create();
  EXPECT_TRUE(regex_compile(object, pattern));
  return object;
}

TEST(PosixRegexTraits, HighBytesAreInNoClass) {
  const std::string text = "\xD6\xD0\xCE\xC4";  // GBK "中文"
  EXPECT_EQ(regex_search_all(compiled("\\w"), text).size(), 0u);
  EXPECT_EQ(regex_search_all(compiled("[[:alpha:]]"), text).size(), 0u);
  EXPECT_EQ(regex_search_all(compiled("\\w+"), "ab_1").size(), 1u);
}

TEST(PosixRegexTraits, ProcessLocaleDoesNotChangeClasses) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "zh_CN.GBK") && !std::setlocale(LC_ALL, "de_DE.UTF-8"))
    GTEST_SKIP() << "no other locale installed";
  const std::size_t found = regex_search_all(compiled("\\w"), "\xD6\xD0\xE4").size();
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(found, 0u);
}

}  // namespace
}  // namespace sharelink
