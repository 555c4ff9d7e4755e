#include "codec/charset.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace sharelink {
namespace {

TEST(Charset, DeclaredByTheHeaderThenTheFirstMetaThatNamesOne) {
  const std::string padding(5000, ' ');
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"text/html; charset=GBK", "", "gbk"},
      {"text/html;charset=\"gb2312\"", "", "gb2312"},
      {"text/html; Charset = 'Big5' ; q=1", "", "big5"},
      {"text/html", "<head><meta charset=utf-8>", "utf-8"},
      {"", "<META CHARSET=\"GB18030\"/>", "gb18030"},
      {"", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">", "gbk"},
      {"", "<meta name=\"description\" content=\"about charsets\"><meta charset='shift_jis'>", "shift_jis"},
      {"text/html; charset=utf-8", "<meta charset=gbk>", "utf-8"},  // the header comes first
      {"", "\xEF\xBB\xBF<meta charset=gbk>", "utf-8"},              // and a byte order mark before it
      {"", "<meta charset=UTF-16LE>", "utf-8"},
      {"text/plain; charset=utf-16", "", "utf-16"},
      {"", "<metadata charset=gbk>", ""},
      {"", "<meta charset=>", ""},
      {"", "<p>charset=gbk</p>", ""},
      {"", padding + "<meta charset=gbk>", ""},  // past the first 4 KB
      {"", "", ""},
  };
  for (const auto& [content_type, body, charset] : cases)
    EXPECT_EQ(declared_charset(content_type, body), charset) << content_type << " | " << body.substr(0, 80);
}

TEST(Charset, TheSystemReadsTheOtherCommonOnes) {
  // Each by one of its names, as a page may give it.
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"Big5-HKSCS", "\xA4\xA4\xA4\xE5.zip", "中文.zip"},
      {"sjis", "\x93\xFA\x96\x7B\\x", "日本\\x"},  // a backslash stays one
      {"ks_c_5601-1987", "\xC7\xD1\xB1\xDB", "한글"},
      {"cp1251", "\xCF\xF0\xE8", "При"},
      {"iso-8859-1", "caf\xE9 \x80", "café €"},  // as windows-1252
      {"KOI8-R", "\xF0\xD2\xC9", "При"},
  };
  for (const auto& [charset, bytes, text] : cases) {
    const std::optional<std::string> read = system_charset_to_utf8(charset_name(charset), bytes);
    ASSERT_TRUE(read.has_value()) << charset;
    EXPECT_EQ(*read, text) << charset;
  }
  // A character the end cuts off loses itself only.
  const std::optional<std::string> cut = system_charset_to_utf8("big5", "ab\xA4");
  ASSERT_TRUE(cut.has_value());
  EXPECT_TRUE(cut->starts_with("ab") && cut->size() > 2) << *cut;
  for (const std::string unknown : {"x-unheard-of", "../../etc/x", "utf-8//TRANSLIT", ""})
    EXPECT_EQ(system_charset_to_utf8(unknown, "abc"), std::nullopt) << unknown;
}

}  // namespace
}  // namespace sharelink
