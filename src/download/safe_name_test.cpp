#include "download/safe_name.h"

#include <gtest/gtest.h>

#include <string>

namespace sharelink {
namespace {


TEST(SafeName, MakesBareNamesThatStayInTheFolder) {
  const struct {
    std::string name, expected;
  } cases[] = {
      {"report.pdf", "report.pdf"},
      {"\xE4\xB8\xAD\xE6\x96\x87 video.mp4", "\xE4\xB8\xAD\xE6\x96\x87 video.mp4"},
      {"../../etc/passwd", "passwd"},
      {"..\\..\\Windows\\win.ini", "win.ini"},
      {"C:\\Users\\x\\evil.exe", "evil.exe"},
      {"C:evil.exe", "C_evil.exe"},
      {"dir/", "dir"},
      {"/abs/name.txt", "name.txt"},
      {".bashrc", "bashrc"},
      {"...hidden", "hidden"},
      {"  spaced name.txt  ", "spaced name.txt"},
      {"trailing. . .", "trailing"},
      {"a<b>c:d\"e|f?g*h.txt", "a_b_c_d_e_f_g_h.txt"},
      {"line\nbreak\tand\x1B[31mred\x7F.txt", "line_break_and_[31mred_.txt"},
      {"c1\xC2\x85.txt", "c1_.txt"},                              // U+0085
      {"cod\xE2\x80\xAEtxt.exe", "cod_txt.exe"},                // right-to-left override
      {"bad\xFF\xC0\xAF utf8.txt", "bad___ utf8.txt"},          // stray and overlong bytes
      {"surrogate\xED\xA0\x80.txt", "surrogate___.txt"},
      {"cut\xE4\xB8", "cut__"},
      {"CON", "_CON"},
      {"con.txt", "_con.txt"},
      {"Nul .tar.gz", "_Nul .tar.gz"},
      {"COM1", "_COM1"},
      {"lpt9.log", "_lpt9.log"},
      {"COM\xC2\xB9.txt", "_COM\xC2\xB9.txt"},
      {"CONOUT$", "_CONOUT$"},
      {"CONSOLE.txt", "CONSOLE.txt"},
      {"COM10", "COM10"},
      {"AUXILIARY", "AUXILIARY"},
  };
  for (const auto& c : cases) {
    for (auto units : {name_units::utf8_bytes, name_units::utf16_units})
      EXPECT_EQ(safe_file_name(c.name, "http://h/x", units), c.expected) << c.name;
  }
}

TEST(SafeName, FolderPathsStayUnderTheFolder) {
  const std::pair<const char*, const char*> rows[] = {
      {"", ""},
      {"docs", "docs"},
      {"docs/sub", "docs/sub"},
      {"/docs//sub/", "docs/sub"},
      {"../../etc", "etc"},
      {"a\\..\\b", "a/b"},
      {"./x/.", "x"},
      {"C:/Windows", "C_/Windows"},
      {"CON/aux.txt", "_CON/_aux.txt"},
      {"...", "_"},
      {"a\x1B[31m", "a_[31m"},
  };
  for (const auto& [folder, safe] : rows)
    for (auto units : {name_units::utf8_bytes, name_units::utf16_units})
      EXPECT_EQ(safe_folder_path(folder, units), safe) << folder;
}

TEST(SafeName, EmptyNamesComeFromTheAddress) {
  const struct {
    std::string name, fallback, expected;
  } cases[] = {
      {"", "https://pan.example.com/s/1AbC_d?pwd=x#top", "1AbC_d"},
      {"..", "http://host/share/file.zip/", "file.zip"},
      {"/", "http://host/a/..", "download"},
      {"...", "http://host/", "download"},
      {" . ", "http://host/con", "_con"},
      {"", "http://host/a%3Fb?c", "a%3Fb"},
      {"", "plain name", "plain name"},
      {"", "", "download"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(safe_file_name(c.name, c.fallback, name_units::utf8_bytes), c.expected)
        << c.name << " / " << c.fallback;
}

TEST(SafeName, LongNamesAreCutOnACharacterBoundaryKeepingTheExtension) {
  const std::string han = "\xE4\xB8\xAD";        // 3 bytes, 1 UTF-16 unit
  const std::string emoji = "\xF0\x9F\x98\x80";  // 4 bytes, 2 UTF-16 units
  std::string cjk;
  for (int i = 0; i < 300; ++i) cjk += han;

  // Linux counts bytes: 83 characters (249 bytes) and ".mp4" would be 253.
  std::string bytes = safe_file_name(cjk + ".mp4", "", name_units::utf8_bytes);
  EXPECT_EQ(bytes.size(), 82 * 3 + 4u);
  EXPECT_TRUE(bytes.ends_with(han + ".mp4"));
  // Windows counts UTF-16 units: 246 characters and ".mp4".
  std::string units = safe_file_name(cjk + ".mp4", "", name_units::utf16_units);
  EXPECT_EQ(units.size(), 246 * 3 + 4u);

  std::string emojis;
  for (int i = 0; i < 200; ++i) emojis += emoji;
  EXPECT_EQ(safe_file_name(emojis, "", name_units::utf16_units).size(), 125 * 4u);
  EXPECT_EQ(safe_file_name(emojis, "", name_units::utf8_bytes).size(), 62 * 4u);

  // A cut that leaves a trailing dot or blank drops it; an overlong "extension" is not one.
  std::string dotted = std::string(245, 'a') + " .    x.txt";
  EXPECT_EQ(safe_file_name(dotted, "", name_units::utf8_bytes), std::string(245, 'a') + ".txt");
  std::string long_extension = "a." + std::string(300, 'b');
  EXPECT_EQ(safe_file_name(long_extension, "", name_units::utf8_bytes),
            "a." + std::string(248, 'b'));
  EXPECT_EQ(safe_file_name(std::string(250, 'x'), "", name_units::utf8_bytes), std::string(250, 'x'));

  // A device name's '_' is counted within the length, with or without an extension.
  for (const auto units : {name_units::utf8_bytes, name_units::utf16_units}) {
    EXPECT_EQ(safe_file_name("CON." + std::string(246, 'a'), "", units),
              "_CON." + std::string(245, 'a'));
    EXPECT_EQ(safe_file_name("AUX.tar." + std::string(300, 'a') + ".gz", "", units),
              "_AUX.tar." + std::string(238, 'a') + ".gz");
  }
}

TEST(SafeName, NumberedAlternatives) {
  const auto u8 = name_units::utf8_bytes;
  EXPECT_EQ(numbered_file_name("movie.mkv", 1, u8), "movie (1).mkv");
  EXPECT_EQ(numbered_file_name("archive.tar.gz", 2, u8), "archive.tar (2).gz");
  EXPECT_EQ(numbered_file_name("README", 12, u8), "README (12)");
  std::string longest = std::string(246, 'n') + ".iso";
  EXPECT_EQ(numbered_file_name(longest, 3, u8), std::string(242, 'n') + " (3).iso");
  EXPECT_EQ(numbered_file_name(longest, 3, name_units::utf16_units).size(), 250u);
}

}  // namespace
}  // namespace sharelink
