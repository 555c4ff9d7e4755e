// Answers in other character sets than UTF-8: what they declare, and GBK where they
// declare nothing.
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "codec/gb18030.h"
#include "codec/utf8.h"
#include "reading/rule_reading.h"
#include "rules/services.h"
#include "testing/rule_text.h"
#include "reading/size_format.h"
#include "testing/sample_page.h"

namespace sharelink {
namespace {

using testing::rule_of;

/// UTF-8 text written in GBK: every character of GBK's two-byte area, found by
/// reading each of its codes.
std::string gbk(std::string_view utf8) {
  static const std::map<std::string, std::string> codes = [] {
    std::map<std::string, std::string> found;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const std::string code = {static_cast<char>(lead), static_cast<char>(trail)};
        if (const std::optional<std::string> c = gb18030_to_utf8(code)) found.emplace(*c, code);
      }
    return found;
  }();
  std::string out;
  for (std::size_t at = 0; at < utf8.size();) {
    const utf8_char c = read_utf8(utf8, at);
    const std::string one(utf8.substr(at, c.length));
    if (c.code_point < 0x80) {
      out += one;
    } else {
      const auto code = codes.find(one);
      EXPECT_NE(code, codes.end()) << one << " is not in GBK";
      if (code != codes.end()) out += code->second;
    }
    at += c.length ? c.length : 1;
  }
  return out;
}

local_text replaced(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(AnswerText, AutomaticReadsTheCharsetTheAnswerDeclares) {
  const service_rule automatic = rule_of("name = 'x'\n[fields.download_url]\npattern = 'u=(.*?)(;)'\n[fields.file_name]\npattern = 'n=(.*?)(;)'\n");
  const std::string gbk_name = gbk("中文１２.zip"), big5_name = "\xA4\xA4\xA4\xE5";
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"text/html; charset=GBK", gbk_name, "中文１２.zip"},
      {"", "<meta charset=gb2312>" + gbk_name, "<meta charset=gb2312>中文１２.zip"},
      {"", "<meta http-equiv='Content-Type' content='text/html; charset=gb18030'>" + gbk_name,
       "<meta http-equiv='Content-Type' content='text/html; charset=gb18030'>中文１２.zip"},
      {"text/html; charset=big5", big5_name, "中文"},
      // UTF-8, nothing, or nothing this system can read declared: the bytes as they
      // came, up to a zero byte, for each value to be read on its own.
      {"text/html; charset=utf-8", std::string("中文\xFF\0tail", 12), "中文\xFF"},
      {"text/html; charset=x-unheard-of", gbk_name, gbk_name},
      {"text/html", gbk_name, gbk_name},
  };
  for (const auto& [content_type, bytes, text] : cases)
    EXPECT_EQ(answer_text(automatic, bytes, content_type), text) << content_type;

  // A value of an answer that declares nothing is GB18030 when it is not UTF-8, a
  // JSON answer's included.
  const service_rule json = rule_of("name = 'j'\n[fields.download_url]\njson = '/u'\n[fields.file_name]\njson = '/n'\n");
  EXPECT_EQ(read_with_rule(json, {{"page", gbk("{\"n\":\"中文.zip\"}")}}).reading.fields.file_name, "中文.zip");
  EXPECT_EQ(read_with_rule(automatic, {{"page", "n=" + gbk_name + ";"}}).reading.fields.file_name, "中文１２.zip");
  EXPECT_EQ(read_with_rule(automatic, {{"page", "n=中文;"}}).reading.fields.file_name, "中文");
  // Neither: a name takes U+FFFD for what is broken, as all text inside is UTF-8,
  // and an address keeps the page's bytes escaped, as a browser sends them.
  const file_record neither = read_with_rule(automatic, {{"page", "u=http://h/\xFF\x80;n=\xFF\x80;"}}).reading.fields;
  EXPECT_EQ(neither.file_name, "\uFFFD\uFFFD");
  EXPECT_EQ(neither.download_url, "http://h/%FF%80");
}

// The sample pages say they are GBK, though their names are escaped ASCII: written
// in GBK as such a page is, they read the same, declared or not.
TEST(AnswerText, GbkSharePagesReadAsTheirNamesAndSizes) {
  const service_registry registry = service_registry::built_in();
  const service_rule& rule = registry.find("kuaichuan")->rule;
  const std::string meta = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">";

  std::string one = testing::sample_page("kuaichuan_share.html");
  one = replaced(one, "%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A.rar", gbk("中文报告.rar"));
  one = replaced(one, "file_size=\"1048576\"", "file_size=\"" + gbk("１０４８５７６") + "\"");
  one = replaced(one, "value='1048576'", "value='" + gbk("１０４８５７６") + "'");
  std::string several = testing::sample_page("kuaichuan_several.html");
  several = replaced(several, "%E7%AC%AC%E4%BA%8C.mp3", gbk("第二.mp3"));
  several = replaced(several, "%E7%AC%AC%E4%BA%8C%E9%A6%96%E6%AD%8C.mp3", gbk("第二首歌.mp3"));
  several = replaced(several, "file_size=\"5242880\"", "file_size=\"" + gbk("５２４２８８０") + "\"");

  for (const auto& [content_type, without_meta] :
       {std::pair{"", false}, {"", true}, {"text/html; charset=GBK", true}, {"text/html", false}}) {
    SCOPED_TRACE(std::string(content_type) + (without_meta ? ", no meta" : ""));
    const auto read = [&](const std::string& page) {
      const std::string bytes = without_meta ? replaced(page, meta, "") : page;
      return read_with_rule(rule, {{"page", answer_text(rule, bytes, content_type)}}).reading;
    };
    const page_reading first = read(one);
    ASSERT_EQ(first.files.size(), 1u);
    EXPECT_EQ(first.files[0].file_name, "中文报告.rar");
    EXPECT_EQ(first.files[0].size, "1MB");
    EXPECT_EQ(first.fields.size, "1MB");
    const page_reading second = read(several);
    ASSERT_EQ(second.files.size(), 2u);
    EXPECT_EQ(second.files[1].download_url, "http://dl.kc.example/d/XyZ789/第二.mp3?n=2");
    EXPECT_EQ(second.files[1].file_name, "第二首歌.mp3");
    EXPECT_EQ(second.files[1].size, "5MB");
    EXPECT_EQ(second.files[0].file_name, "first.iso");
  }
}

// Pages that declare nothing, or UTF-8, each value in UTF-8 or GBK at random: every
// value reads back as the characters it was written from.
TEST(AnswerText, ARandomMixOfUtf8AndGbkValuesReadsBackWhole) {
  const service_rule rule = rule_of(R"(
name = "mix"
[fields.md5]
pattern = '<i>(.*?)</i>'
[records]
start_tags = "data-url"
[records.fields]
download_url = "data-url"
file_name = "data-name"
size = "data-size"
)");
  std::mt19937 random(20240601);
  const auto pick = [&](int least, int most) { return std::uniform_int_distribution<int>(least, most)(random); };
  const auto some_text = [&] {
    std::string text;
    for (int n = pick(1, 12); n > 0; --n) {
      switch (pick(0, 3)) {
        case 0: text += "abcXYZ019.-_"[pick(0, 11)]; break;
        case 1: append_utf8(text, static_cast<char32_t>(0xFF21 + pick(0, 25))); break;  // full-width letters
        default: append_utf8(text, static_cast<char32_t>(pick(0x4E00, 0x9FA5)));  // CJK ideographs
      }
    }
    return text;
  };
  // A value in GBK whose bytes happen to be UTF-8 too is read as UTF-8: the one
  // thing the rule cannot tell, so the test writes none.
  const auto written = [&](const std::string& text) {
    if (pick(0, 1) == 0) return text;
    const std::string bytes = gbk(text);
    return bytes != text && is_utf8(bytes) ? text : bytes;
  };
  struct file {
    std::string url, name;
    std::uint64_t size;
  };
  for (int page_number = 0; page_number < 300; ++page_number) {
    std::vector<file> files(static_cast<std::size_t>(pick(1, 4)));
    const std::string md5 = some_text();
    std::string page = "<html><body>\n";
    for (file& f : files) {
      f = {"http://h.example/" + some_text() + ".bin", some_text(),
           std::uniform_int_distribution<std::uint64_t>(0, 1'000'000'000'000)(random)};
      std::string size = std::to_string(f.size);
      if (pick(0, 1) == 0) {  // in full-width digits
        std::string wide;
        for (char digit : size) append_utf8(wide, static_cast<char32_t>(0xFF10 + (digit - '0')));
        size = wide;
      }
      page += "<a data-url=\"" + written(f.url) + "\" data-name=\"" + written(f.name) + "\" data-size=\"" +
              written(size) + "\">get</a>\n";
    }
    page += "<i>" + written(md5) + "</i></body></html>\n";

    SCOPED_TRACE("page " + std::to_string(page_number));
    // A page that says it is UTF-8 and is not is read the same.
    const std::string content_type = pick(0, 1) == 0 ? "" : "text/html; charset=utf-8";
    const page_reading reading = read_with_rule(rule, {{"page", answer_text(rule, page, content_type)}}).reading;
    ASSERT_EQ(reading.files.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(reading.files[i].download_url, files[i].url);
      EXPECT_EQ(reading.files[i].file_name, files[i].name);
      EXPECT_EQ(reading.files[i].size, format_size(static_cast<double>(files[i].size)));
      EXPECT_EQ(reading.files[i].md5, md5);
    }
  }
}

}  // namespace
}  // namespace sharelink
