#include "resolve/named_services.h"
#include "testing/built_in_reading.h"
#include "testing/sample_page.h"

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace sharelink {
namespace {

using testing::built_in_fields;
using testing::sample_page;

// One entry of the page's data object, every quote escaped with one backslash.
std::string entry(const std::string& key, const std::string& value) {
  return "\\\"" + key + "\\\":\\\"" + value + "\\\"";
}

TEST(PanPage, SharePageGivesAllFiveFields) {
  const resolved_file file = built_in_fields("pan", sample_page("pan_share.html"));
  EXPECT_EQ(file.download_url,
            "http://d.pan.example/file/e10adc39?fid=881235566&filename=%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A.rar");
  EXPECT_EQ(file.file_name, "中文报告.rar");
  EXPECT_EQ(file.file_type, "winrar压缩包文件   (rar)");
  EXPECT_EQ(file.size, "1.5KB");
  EXPECT_EQ(file.md5, "e10adc3949ba59abbe56e057f20f883e");
}

TEST(PanPage, EachFieldComesFromTheLastOccurrenceOfItsOwnKey) {
  // Second file's address and name; keys in capitals ignored; block_md5 is another
  // key, not md5; 16777217 read at single precision is 16 MiB.
  const resolved_file file = built_in_fields("pan", sample_page("pan_several.html"));
  EXPECT_EQ(file.download_url, "https://d.pan.example/file/92eb5ffe?fid=1002&filename=%E7%94%B5%E5%BD%B1.mp4");
  EXPECT_EQ(file.file_name, "电影.mp4");
  EXPECT_EQ(file.file_type, "媒体视频文件   (mp4)");
  EXPECT_EQ(file.size, "16MB");
  EXPECT_EQ(file.md5, "92eb5ffee6ae2fec3ad71c777531578f");
}

TEST(PanPage, MissingKeysLeaveTheirFieldsEmptyAndTheOthersFilled) {
  EXPECT_EQ(built_in_fields("pan", "<html>error</html>"), (resolved_file{"", "", "", "0B", ""}));
  const resolved_file no_link =
      built_in_fields("pan", "{" + entry("server_filename", "x") + "," + entry("size", "1048576") + "," +
                     entry("md5", "abc") + "}");
  EXPECT_EQ(no_link, (resolved_file{"", "", "", "1MB", "abc"}));
}

TEST(PanPage, KeysAreMatchedWholeAndByTheirCase) {
  const std::string page = "{" + entry("size", "2048") + "," + entry("filesize", "1") + "," + entry("Size", "1") +
                           "," + entry("md5", "a") + "," + entry("slice_md5", "b") + "," + entry("MD5", "c") + "," +
                           entry("dlink", "u") + "}{" + entry("xdlink", "v") + "}";
  const resolved_file file = built_in_fields("pan", page);
  EXPECT_EQ(file.size, "2KB");
  EXPECT_EQ(file.md5, "a");
  EXPECT_EQ(file.download_url, "u");
}

TEST(PanPage, SizeIsReadAtSinglePrecision) {
  auto size_of = [](const std::string& value) { return built_in_fields("pan", entry("size", value)).size; };
  EXPECT_EQ(size_of("16777217"), "16MB");
  EXPECT_EQ(size_of("1048576"), "1MB");
  EXPECT_EQ(size_of("1536"), "1.5KB");
  EXPECT_EQ(size_of("123456789"), "117.7MB");
  EXPECT_EQ(size_of("n/a"), "0B");
}

TEST(PanPage, EscapedQuotesMayCarryAnyNumberOfBackslashes) {
  const std::string page = R"(\\\"dlink\\\":\\\"http:\\\\/\\\\/h\\\\/f\\\""}, filename=a.txt\\\" \"md5\\":\"m\\")";
  const resolved_file file = built_in_fields("pan", page);
  EXPECT_EQ(file.download_url, "http://h/f");
  EXPECT_EQ(file.file_name, "a.txt");
  EXPECT_EQ(file.md5, "m");
}

TEST(PanPage, FileNameRunsToTheFirstEscapedQuote) {
  EXPECT_EQ(built_in_fields("pan", R"(url=x&filename=%E4%B8%AD.txt\"}")").file_name, "中.txt");
  // A plain quote does not end it; the next escaped one does.
  EXPECT_EQ(built_in_fields("pan", R"(filename=a".txt\")").file_name, "a\".txt");
  EXPECT_EQ(built_in_fields("pan", R"(filename=a".txt")").file_name, "");
}

TEST(PanPage, PageEndsAtItsFirstZeroByte) {
  const std::string page = entry("md5", "a") + '\0' + entry("md5", "b");
  EXPECT_EQ(built_in_fields("pan", page).md5, "a");
}

TEST(PanResolve, EmptyAddressGivesEmptyFields) {
  EXPECT_EQ(resolve_pan(""), (resolved_file{"", "", "", "0B", ""}));
}

}  // namespace
}  // namespace sharelink
