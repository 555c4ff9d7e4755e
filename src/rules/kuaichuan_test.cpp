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

// The sample file names.
const std::string report_rar = "中文报告.rar";
const std::string song_mp3 = "第二首歌.mp3";

TEST(KuaichuanPage, SharePageGivesAllFiveFields) {
  const resolved_file file = built_in_fields("kuaichuan", sample_page("kuaichuan_share.html"));
  EXPECT_EQ(file.download_url, "http://dl.kc.example/d/AbC123/report.rar?key=8f14e45f&t=1350000000");
  EXPECT_EQ(file.file_name, report_rar);
  EXPECT_EQ(file.file_type, "winrar压缩包文件   (rar)");
  EXPECT_EQ(file.size, "1MB");
  EXPECT_EQ(file.md5, "8f14e45fceea167a5a36dedd4b4c7d2b");
}

TEST(KuaichuanPage, EachFieldComesFromTheLastOccurrenceOfItsOwnMarker) {
  // Two files: address and name from the second, size from the only size marker,
  // key from "mykey" (the key marker is not anchored), capitals ignored.
  const resolved_file file = built_in_fields("kuaichuan", sample_page("kuaichuan_several.html"));
  EXPECT_EQ(file.download_url, "http://dl.kc.example/d/XyZ789/%E7%AC%AC%E4%BA%8C.mp3?n=2");
  EXPECT_EQ(file.file_name, song_mp3);
  EXPECT_EQ(file.file_type, "声音文件   (mp3)");
  EXPECT_EQ(file.size, "700MB");
  EXPECT_EQ(file.md5, "92eb5ffee6ae2fec3ad71c777531578f");
}

TEST(KuaichuanPage, MissingMarkersLeaveTheirFieldsEmptyAndTheOthersFilled) {
  const resolved_file nothing = built_in_fields("kuaichuan", "<html><body>404 Not Found</body></html>");
  EXPECT_EQ(nothing, (resolved_file{"", "", "", "0B", ""}));

  const resolved_file name_only = built_in_fields("kuaichuan", R"(<a file_name="notes.txt">)");
  EXPECT_EQ(name_only, (resolved_file{"", "notes.txt", name_only.file_type, "0B", ""}));
  EXPECT_EQ(name_only.file_type, "文本文档   (txt)");

  const resolved_file no_extension = built_in_fields("kuaichuan", R"(file_name="README" key" value='k'>)");
  EXPECT_EQ(no_extension.file_type, "");
  EXPECT_EQ(no_extension.md5, "k");
}

TEST(KuaichuanPage, DownloadAddressRunsToTheFirstQuoteBlankFileSize) {
  // Another attribute in between is taken in, quote included.
  EXPECT_EQ(built_in_fields("kuaichuan", R"(file_url="http://a/x" title="t" file_size="1")").download_url,
            R"(http://a/x" title="t)");
  // Line breaks are part of the value.
  EXPECT_EQ(built_in_fields("kuaichuan", "file_url=\"http://a/\nx\" file_size=\"1\"").download_url,
            "http://a/\nx");
  // A quote followed by a line break is no delimiter: with nothing after it, no address.
  EXPECT_EQ(built_in_fields("kuaichuan", "file_url=\"http://a/x\"\n file_size=\"1\"").download_url, "");
  // Percent escapes and backslashes stay; character references are decoded.
  EXPECT_EQ(built_in_fields("kuaichuan", R"(file_url="http:\/\/a/%41?b=1&amp;c" file_size=1)").download_url,
            R"(http:\/\/a/%41?b=1&c)");
}

TEST(KuaichuanPage, MarkersAreCaseSensitiveAndEmptyValuesStillCount) {
  EXPECT_EQ(built_in_fields("kuaichuan", R"(FILE_URL="http://a/x" file_size=1 KEY" value='k'>)"),
            (resolved_file{"", "", "", "0B", ""}));
  // The last marker wins even when its value is empty.
  const resolved_file file = built_in_fields("kuaichuan", 
      R"(file_url="http://a/x" file_size=1 file_url="" file_size=1 key" value='k'> key" value=''>)");
  EXPECT_EQ(file.download_url, "");
  EXPECT_EQ(file.md5, "");
}

TEST(KuaichuanPage, SizeIsReadAsADecimalNumber) {
  auto size_of = [](const std::string& value) {
    return built_in_fields("kuaichuan", "first_file_size\" value='" + value + "'>").size;
  };
  EXPECT_EQ(size_of("1048576"), "1MB");
  EXPECT_EQ(size_of("123456789"), "117.7MB");  // double precision: no rounding to float
  EXPECT_EQ(size_of("1536abc"), "1.5KB");
  EXPECT_EQ(size_of("unknown"), "0B");
  EXPECT_EQ(size_of(""), "0B");
}

TEST(KuaichuanPage, FileNamesArePercentDecodedFromUtf8) {
  EXPECT_EQ(built_in_fields("kuaichuan", R"(file_name="%E4%B8%AD%E6%96%87.zip")").file_name, "中文.zip");
  EXPECT_EQ(built_in_fields("kuaichuan", R"(file_name="a+b 100%25.txt")").file_name, "a+b 100%.txt");
}

TEST(KuaichuanPage, CharacterReferencesAreDecodedInTheAddressAndTheName) {
  struct row {
    std::string url_attribute, name_attribute, url, name;
  };
  const row rows[] = {
      {"http://a/f?x=1&amp;y=2&#38;z", "a&amp;b.txt", "http://a/f?x=1&y=2&z", "a&b.txt"},
      // Outside ASCII: the character in local text, whichever way it is written.
      {"http://a/&#x4e2d;", "&#x4e2d;%E6%96%87&#25991;.rar", "http://a/中", "中文文.rar"},
      // References first, then percent escapes: each decoded once.
      {"http://a/&#37;41", "&#37;41&amp;#37;.zip", "http://a/%41", "A&#37;.zip"},
      // Unknown, malformed and out-of-range references stay as they stand.
      {"http://a/?a=&nbsp;&AMP;&#xD800;&#0;&amp", "x&copy.txt", "http://a/?a=&nbsp;&AMP;&#xD800;&#0;&amp",
       "x&copy.txt"},
  };
  for (const row& r : rows) {
    const resolved_file file = built_in_fields("kuaichuan", "<a file_url=\"" + r.url_attribute +
                                                    "\" file_size=\"1\" file_name=\"" + r.name_attribute + "\">");
    EXPECT_EQ(file.download_url, r.url) << r.url_attribute;
    EXPECT_EQ(file.file_name, r.name) << r.name_attribute;
  }
  // The key and the size are left as they stand.
  const resolved_file file = built_in_fields("kuaichuan", "key\" value='a&amp;b'> first_file_size\" value='&#49;'>");
  EXPECT_EQ(file.md5, "a&amp;b");
  EXPECT_EQ(file.size, "0B");
}

TEST(KuaichuanPage, PageEndsAtItsFirstZeroByte) {
  const std::string page = std::string("key\" value='a'>") + '\0' + "key\" value='b'>";
  EXPECT_EQ(built_in_fields("kuaichuan", page).md5, "a");
}

TEST(KuaichuanResolve, EmptyAddressGivesEmptyFields) {
  EXPECT_EQ(resolve_kuaichuan(""), (resolved_file{"", "", "", "0B", ""}));
}

}  // namespace
}  // namespace sharelink
