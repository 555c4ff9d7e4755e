#include "reading/file_type.h"

#include <string>

#include <gtest/gtest.h>

namespace sharelink {
namespace {

// Descriptions as the window shows them.
const std::string archive = "winrar压缩包文件   (";
const std::string text_document = "文本文档   (";
const std::string sound = "声音文件   (";
const std::string torrent = "迅雷bt种子文件   (";
const std::string e_source = "易语言源码文件   (";

TEST(FileTypeKey, IsTheBytesAfterTheLastDot) {
  EXPECT_EQ(file_type_key("setup.exe"), "exe");
  EXPECT_EQ(file_type_key("backup.tar.gz"), "gz");
  EXPECT_EQ(file_type_key(".profile"), "profile");
  EXPECT_EQ(file_type_key("trailing."), "");
  EXPECT_EQ(file_type_key("README"), "");
  EXPECT_EQ(file_type_key(""), "");
  // A GBK name: the key is taken by bytes and the name's characters stay whole.
  EXPECT_EQ(file_type_key("中文.中"), "中");
  EXPECT_EQ(file_type_key(std::string("a.txt\0.exe", 10)), "txt");
}

TEST(ClassifyFileType, KnownKeysGetTheirGroupDescription) {
  EXPECT_EQ(classify_file_type("a.rar"), archive + "rar)");
  EXPECT_EQ(classify_file_type("a.rar").size(), 29u);
  EXPECT_EQ(classify_file_type("a.7z"), archive + "7z)");
  EXPECT_EQ(classify_file_type("notes.txt"), text_document + "txt)");
  EXPECT_EQ(classify_file_type("song.mp3"), sound + "mp3)");
  EXPECT_EQ(classify_file_type("x.torrent"), torrent + "torrent)");
  EXPECT_EQ(classify_file_type("project.e"), e_source + "e)");
  EXPECT_EQ(classify_file_type("setup.exe"), classify_file_type("other.exe"));
  EXPECT_EQ(classify_file_type("report.doc"), "Microsoft Office Word 2003文档   (doc)");
  EXPECT_EQ(classify_file_type("中文.zip"), archive + "zip)");
}

TEST(ClassifyFileType, EveryTableKeyIsRecognised) {
  for (const char* key : {"rar", "zip", "jar", "7z", "cab", "bmp", "jpg", "png", "gif", "ico", "exe",
                          "iso", "txt", "e", "doc", "wav", "mp3", "aac", "wma", "avi", "rm", "rmvb",
                          "mpeg", "mp4", "torrent"}) {
    const std::string type = classify_file_type(std::string("f.") + key);
    EXPECT_EQ(type.substr(type.size() - std::string(key).size() - 5), std::string("   (") + key + ")")
        << key;
  }
}

TEST(ClassifyFileType, UnknownKeysComeBackUnchanged) {
  EXPECT_EQ(classify_file_type("a.RAR"), "RAR");
  EXPECT_EQ(classify_file_type("a.pdf"), "pdf");
  EXPECT_EQ(classify_file_type("a. rar"), " rar");
  EXPECT_EQ(classify_file_type("a.docx"), "docx");
  EXPECT_EQ(classify_file_type("a.中"), "中");
}

TEST(ClassifyFileType, NamesWithoutAKeyGiveEmptyText) {
  EXPECT_EQ(classify_file_type(""), "");
  EXPECT_EQ(classify_file_type("README"), "");
  EXPECT_EQ(classify_file_type("dot."), "");
}

}  // namespace
}  // namespace sharelink
