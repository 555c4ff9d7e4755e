#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/built_in_reading.h"
#include "testing/sample_page.h"

namespace sharelink {
namespace {

using testing::built_in_fields;
using testing::read_built_in;
using testing::sample_page;

TEST(PageReading, OneFileSamplePagesGiveTheResolversResult) {
  const page_reading kuaichuan = read_built_in("kuaichuan", sample_page("kuaichuan_share.html"));
  EXPECT_EQ(shown_fields(kuaichuan.fields), built_in_fields("kuaichuan", sample_page("kuaichuan_share.html")));
  EXPECT_EQ(kuaichuan.fields.extension, "rar");
  EXPECT_EQ(kuaichuan.fields.size_bytes, 1048576u);
  ASSERT_EQ(kuaichuan.files.size(), 1u);
  EXPECT_EQ(kuaichuan.files[0], kuaichuan.fields);

  const page_reading pan = read_built_in("pan", sample_page("pan_share.html"));
  EXPECT_EQ(shown_fields(pan.fields), built_in_fields("pan", sample_page("pan_share.html")));
  EXPECT_EQ(pan.fields.size_bytes, 1536u);
  ASSERT_EQ(pan.files.size(), 1u);
  EXPECT_EQ(pan.files[0], pan.fields);
}

TEST(PageReading, SeveralFileSamplePagesGiveEachFileFromItsOwnRecord) {
  const page_reading kuaichuan = read_built_in("kuaichuan", sample_page("kuaichuan_several.html"));
  ASSERT_EQ(kuaichuan.files.size(), 2u);  // the capitalised mirror is no file_url
  EXPECT_EQ(kuaichuan.files[0].download_url, "http://dl.kc.example/d/XyZ789/first.iso");
  EXPECT_EQ(kuaichuan.files[0].file_name, "first.iso");
  EXPECT_EQ(kuaichuan.files[0].extension, "iso");
  EXPECT_EQ(kuaichuan.files[0].size, "700MB");
  EXPECT_EQ(kuaichuan.files[0].size_bytes, 734003200u);
  EXPECT_EQ(kuaichuan.files[1].file_name, "第二首歌.mp3");
  EXPECT_EQ(kuaichuan.files[1].size, "5MB");
  EXPECT_EQ(kuaichuan.files[1].size_bytes, 5242880u);
  for (const file_record& file : kuaichuan.files) EXPECT_EQ(file.md5, kuaichuan.fields.md5);

  const page_reading pan = read_built_in("pan", sample_page("pan_several.html"));
  ASSERT_EQ(pan.files.size(), 2u);
  EXPECT_EQ(pan.files[0].download_url, "http://d.pan.example/file/0cc175b9?fid=1001&filename=setup.exe");
  EXPECT_EQ(pan.files[0].file_name, "setup.exe");
  EXPECT_EQ(pan.files[0].md5, "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(pan.files[0].size_bytes, 734003200u);
  EXPECT_EQ(pan.files[1].file_name, "电影.mp4");
  // Its own md5, not block_md5 or MD5; size, not Size; exact beside single precision.
  EXPECT_EQ(pan.files[1].md5, "92eb5ffee6ae2fec3ad71c777531578f");
  EXPECT_EQ(pan.files[1].size, "16MB");
  EXPECT_EQ(pan.files[1].size_bytes, 16777217u);
}

TEST(PageReading, TheWindowShowsTheLastFileWholeNeverAMixOfFiles) {
  // Several files: every field of the last one, its own size, never block_md5.
  const page_reading kuaichuan = read_built_in("kuaichuan", sample_page("kuaichuan_several.html"));
  EXPECT_EQ(kuaichuan.fields, kuaichuan.files.back());
  EXPECT_EQ(kuaichuan.fields.size, "5MB");
  const page_reading pan = read_built_in("pan", sample_page("pan_several.html"));
  EXPECT_EQ(pan.fields, pan.files.back());
  EXPECT_EQ(pan.fields.md5, "92eb5ffee6ae2fec3ad71c777531578f");

  // One file with block_md5 after its md5.
  const std::string q = "\\\"";
  const std::string one = "{" + q + "md5" + q + ":" + q + "aaa" + q + "," + q + "block_md5" + q + ":" + q + "bbb" + q +
                          "," + q + "dlink" + q + ":" + q + "http:\\/\\/h\\/f?filename=x.txt" + q + "}";
  EXPECT_EQ(read_built_in("pan", one).fields.md5, "aaa");
  EXPECT_EQ(built_in_fields("pan", one).md5, "aaa");

  // One file whose record leaves out its name and size: the markers give them,
  // to the window and to the file alike.
  const page_reading apart = read_built_in("kuaichuan", 
      "<a file_url=\"http://h/f\"><span file_name=\"n.zip\"></span><i first_file_size\" value='2048'>");
  ASSERT_EQ(apart.files.size(), 1u);
  EXPECT_EQ(apart.files[0], apart.fields);
  EXPECT_EQ(apart.fields.file_name, "n.zip");
  EXPECT_EQ(apart.fields.size, "2KB");
  // With two files, a left-out field stays empty: another file's marker is no help.
  const page_reading two = read_built_in("kuaichuan", 
      "<a file_url=u1 file_size=1><a file_url=u2><span file_name=\"n.zip\"></span><i first_file_size\" value='2048'>");
  EXPECT_EQ(two.fields.size, "0B");
  EXPECT_EQ(two.fields.file_name, "");
}

struct expected_file {
  std::string download_url, file_name, size;
};

void expect_files(const page_reading& reading, const std::vector<expected_file>& expected,
                  const std::string& page) {
  ASSERT_EQ(reading.files.size(), expected.size()) << page;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(reading.files[i].download_url, expected[i].download_url) << page;
    EXPECT_EQ(reading.files[i].file_name, expected[i].file_name) << page;
    EXPECT_EQ(reading.files[i].size, expected[i].size) << page;
  }
}

TEST(PageReading, KuaichuanFilesAreElementsReadAttributeByAttribute) {
  const std::pair<std::string, std::vector<expected_file>> rows[] = {
      {R"(<a file_url="u1" file_size="1024" file_name="a.txt"><a file_url='u2' file_name=b.zip file_size=2048>)",
       {{"u1", "a.txt", "1KB"}, {"u2", "b.zip", "2KB"}}},
      // Any order, blanks around "=", other attributes between, a ">" inside quotes.
      {"<li><a title=\"x>y\" file_name = \"n&amp;m.rar\"\n file_size\t=\t'1536' file_url=\"http://a/?p=1&amp;q\">",
       {{"http://a/?p=1&q", "n&m.rar", "1.5KB"}}},
      // Missing name and size, the first of a repeated attribute, self-closing tag.
      {R"(<a file_url="u" file_url="v" data-x/>)", {{"u", "", "0B"}}},
      {R"(<a file_url=u/>)", {{"u/", "", "0B"}}},
      // Not attributes: other case, text, comments, scripts, end tags, a cut tag.
      {R"(<a FILE_URL="x"> file_url="y" <!-- <a file_url="z"> --><script>"<a file_url='s'>"</script>)"
       R"(</a file_url="e"><a file_url="ok"><a file_url="cut)",
       {{"ok", "", "0B"}}},
      {R"(<a data-file_url="x" file_urlx="y">)", {}},
      {R"(<SCRIPT type=x><a file_url=s></scriptx></Script ><!--><a file_url=ok>)", {{"ok", "", "0B"}}},
      // With no element in the markup, those a script or comment holds: the fields
      // then come from one of them, never each from another.
      {R"(<script>var a = '<a file_url="s1" file_name="a.zip" file_size="9">', b = '<a file_url="s2">';</script>)",
       {{"s1", "a.zip", "9B"}, {"s2", "", "0B"}}},
      {R"(<!-- <a file_url=c1 file_size=20> --><!DOCTYPE html>)", {{"c1", "", "20B"}}},
  };
  for (const auto& [page, expected] : rows) expect_files(read_built_in("kuaichuan", page), expected, page);
}

/// A data object as a Pan page escapes it, quotes written as `q`.
std::string object(const std::vector<std::pair<std::string, std::string>>& members, const std::string& q = "\\\"") {
  std::string text = "{";
  for (const auto& [key, value] : members) {
    if (text.size() > 1) text += ",";
    text += q + key + q + ":" + (value.starts_with("{") || value.starts_with("[") ? value : q + value + q);
  }
  return text + "}";
}

TEST(PageReading, PanFilesAreDataObjectsWithADlinkKey) {
  const std::string link = R"(http:\\/\\/d\\/f?filename=a.rar)";
  const std::pair<std::string, std::vector<expected_file>> rows[] = {
      {object({{"size", "2048"}, {"dlink", link}}), {{"http://d/f?filename=a.rar", "a.rar", "2KB"}}},
      // dlink not last: the value still ends at its own quote.
      {object({{"dlink", link}, {"size", "1024"}, {"filesize", "9"}, {"Size", "9"}}),
       {{"http://d/f?filename=a.rar", "a.rar", "1KB"}}},
      // Any run of backslashes quotes, as the resolver reads it.
      {object({{"dlink", "x?filename=b.zip"}, {"size", "1536"}}, "\\\\\\\""), {{"x?filename=b.zip", "b.zip", "1.5KB"}}},
      // Data escaped twice, wrapped in quotes of one backslash: the wrapper is no string.
      {"JSON.parse(\"\\\"[" + object({{"dlink", "y?filename=c.zip"}, {"size", "1"}}, "\\\\\\\"") + "," +
           object({{"size", "2"}, {"dlink", "z"}}, "\\\\\\\"") + "]\\\"\")",
       {{"y?filename=c.zip", "c.zip", "1B"}, {"z", "", "2B"}}},
      // Objects in a list, one nested inside another, one without a dlink.
      {"[" + object({{"dlink", "u1"}, {"inner", object({{"dlink", "u2"}})}}) + "," + object({{"size", "1"}}) + "]",
       {{"u1", "", "0B"}, {"u2", "", "0B"}}},
      // A size written bare; the file name of a nested object is not its parent's.
      {"{\\\"size\\\": 4096, \\\"dlink\\\":\\\"u\\\", \\\"thumbs\\\":[\\\"t?filename=x.jpg\\\"]}" + object({{"dlink", "w"}}),
       {{"u", "", "4KB"}, {"w", "", "0B"}}},
      // A quote or a backslash inside a value does not end it.
      {"[" + object({{"server_filename", "a\\\\\\\"b"}, {"dlink", "u1"}}) + "," +
           object({{"path", "C:\\\\\\\\"}, {"dlink", "u2"}}) + "," + object({{"dlink", "u3"}}) + "]",
       {{"u1", "", "0B"}, {"u2", "", "0B"}, {"u3", "", "0B"}}},
      // Keys matched whole; an object left open is no file.
      {object({{"xdlink", "u"}}) + object({{"dlinks", "u"}}) + "{\\\"dlink\\\":\\\"u\\\"", {}},
      {"\\\"dlink\\\":\\\"u\\\"}", {}},
      // Nesting is read 64 deep.
      {std::string(63, '[') + object({{"dlink", "u"}}) + std::string(63, ']'), {{"u", "", "0B"}}},
      {std::string(64, '[') + object({{"dlink", "u"}}) + std::string(64, ']'), {}},
  };
  for (const auto& [page, expected] : rows) expect_files(read_built_in("pan", page), expected, page);
}

TEST(PageReading, APageListsAtMostTenThousandFiles) {
  for (const std::size_t count : {most_files, most_files + 1}) {
    std::string kuaichuan, pan = "[";
    for (std::size_t i = 0; i < count; ++i) {
      kuaichuan += "<a file_url=u" + std::to_string(i) + ">";
      pan += object({{"dlink", "u" + std::to_string(i)}}) + ",";
    }
    for (const page_reading& reading : {read_built_in("kuaichuan", kuaichuan), read_built_in("pan", pan + "]")}) {
      ASSERT_EQ(reading.files.size(), most_files);
      EXPECT_EQ(reading.files.back().download_url, "u" + std::to_string(most_files - 1));
      EXPECT_EQ(reading.more_files, count > most_files);
    }
  }
}

TEST(PageReading, SizeBytesIsTheExactValueOfEachSize) {
  EXPECT_EQ(read_built_in("pan", object({{"size", "16777217"}})).fields.size_bytes, 16777217u);
  EXPECT_EQ(read_built_in("pan", object({{"size", "1.5e3"}})).fields.size_bytes, std::nullopt);
  EXPECT_EQ(read_built_in("pan", "").fields.size_bytes, std::nullopt);
  EXPECT_EQ(read_built_in("kuaichuan", "first_file_size\" value='123456789012'>").fields.size_bytes, 123456789012u);
  const page_reading sizes = read_built_in("kuaichuan", R"(<a file_url=u file_size="1536abc"><a file_url=v file_size="&#49;">)");
  ASSERT_EQ(sizes.files.size(), 2u);
  EXPECT_EQ(sizes.files[0].size, "1.5KB");
  EXPECT_EQ(sizes.files[0].size_bytes, std::nullopt);
  EXPECT_EQ(sizes.files[1].size_bytes, 1u);
}

}  // namespace
}  // namespace sharelink
