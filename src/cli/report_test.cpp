#include "cli/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace sharelink::cli {
namespace {

resolution sample() {
  resolution r;
  r.address = "http://host/d/ABC";
  r.service = "kuaichuan";
  r.fields = {"http://dl.example/f.zip", "测试.zip", "ZIP   (zip)", "1.5KB",
              "0123456789ABCDEF0123456789abcdef"};
  return r;
}

TEST(LabelledReport, KeepsEveryFieldOnItsOwnLine) {
  resolution r = sample();
  r.fields.file_name = "a\nb\r\x1b[31mc";
  EXPECT_EQ(labelled_report(r),
            "文件名称：a b  [31mc\n"
            "文件扩展名：ZIP   (zip)\n"
            "文件大小：1.5KB\n"
            "文件MD5值：0123456789ABCDEF0123456789abcdef\n"
            "下载地址：http://dl.example/f.zip\n");
}

TEST(JsonReport, IsOneValidObjectWhateverTheBytes) {
  resolution r = sample();
  r.fields.file_name = "bad\xff\xfe name\n\"q\"";
  r.error = "refused";
  const std::string line = json_report(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["file_name"].get<std::string>(), "bad\xEF\xBF\xBD\xEF\xBF\xBD name\n\"q\"");
  EXPECT_EQ(parsed["error"], "refused");
  EXPECT_EQ(parsed["size"], "1.5KB");

  r.error.reset();
  EXPECT_TRUE(nlohmann::json::parse(json_report(r))["error"].is_null());
  // The keys come in a fixed order, so the lines can be compared as text.
  EXPECT_EQ(json_report(r).rfind("{\"address\":\"http://host/d/ABC\",\"service\":\"kuaichuan\",", 0), 0u);
}

TEST(Aria2Entry, WritesAddressNameAndChecksum) {
  EXPECT_EQ(aria2_entry(sample()),
            "http://dl.example/f.zip\n"
            "  out=测试.zip\n"
            "  checksum=md5=0123456789abcdef0123456789abcdef\n");

  resolution r = sample();
  r.fields.md5 = "0123456789abcdef0123456789abcde";  // one digit short
  r.fields.file_name.clear();
  EXPECT_EQ(aria2_entry(r), "http://dl.example/f.zip\n");

  r.fields.md5 = "0123456789abcdef0123456789abcdeg";
  EXPECT_EQ(aria2_entry(r), "http://dl.example/f.zip\n");

  r.fields.download_url.clear();
  EXPECT_EQ(aria2_entry(r), "");
}

TEST(Aria2Entry, PageTextCannotAddOptionsOrLeaveTheFolder) {
  resolution r = sample();
  r.fields.md5.clear();
  r.fields.download_url = " http://dl.example/a b\tc\n  dir=/etc";
  r.fields.file_name = "../../.bashrc\n  dir=/etc";
  EXPECT_EQ(aria2_entry(r),
            "%20http://dl.example/a%20b%09c%0A%20%20dir=/etc\n"
            "  out=.._.._.bashrc_  dir=_etc\n");

  for (const char* name : {"..", ".", "  ", " .. "}) {
    r.fields.file_name = name;
    EXPECT_EQ(aria2_entry(r).find("out="), std::string::npos) << name;
  }
  r.fields.file_name = "dir\\name";
  EXPECT_NE(aria2_entry(r).find("  out=dir_name\n"), std::string::npos);
}

}  // namespace
}  // namespace sharelink::cli
