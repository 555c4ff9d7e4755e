#include "download/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "testing/test_folder.h"

namespace sharelink {
namespace {

using testing::test_folder;

TEST(DownloadFiles, WriteReadTruncateUnderAUnicodeName) {
  test_folder folder;
  const std::string path = folder / "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80.bin.part";
  EXPECT_EQ(stat_path(path).kind, path_kind::missing);

  file_handle file;
  ASSERT_EQ(file.open_write(path), open_result::opened) << file.error();
  EXPECT_EQ(file.seek_end(), 0);
  ASSERT_TRUE(file.write("hello, "));
  ASSERT_TRUE(file.write(std::string(100000, 'x')));
  ASSERT_TRUE(file.close());
  EXPECT_EQ(stat_path(path).kind, path_kind::file);
  EXPECT_EQ(stat_path(path).size, 100007u);

  // Reopened: positioned at the start, readable, then appended to at the end.
  ASSERT_EQ(file.open_write(path), open_result::opened);
  char head[7];
  ASSERT_EQ(file.read(head, sizeof head), 7);
  EXPECT_EQ(std::string(head, 7), "hello, ");
  EXPECT_EQ(file.seek_end(), 100007);
  ASSERT_TRUE(file.write("!"));
  ASSERT_TRUE(file.close());
  EXPECT_EQ(test_folder::read(path).size(), 100008u);

  ASSERT_EQ(file.open_write(path), open_result::opened);
  ASSERT_TRUE(file.truncate());
  ASSERT_TRUE(file.write("new"));
  file.close();
  EXPECT_EQ(test_folder::read(path), "new");

  ASSERT_TRUE(file.open_read(path));
  char all[8];
  EXPECT_EQ(file.read(all, sizeof all), 3);
  EXPECT_EQ(file.read(all, sizeof all), 0);
}

TEST(DownloadFiles, AFileBeingWrittenIsBusyForASecondWriter) {
  test_folder folder;
  file_handle first, second;
  ASSERT_EQ(first.open_write(folder / "a.part"), open_result::opened);
  EXPECT_EQ(second.open_write(folder / "a.part"), open_result::busy);
  first.close();
  EXPECT_EQ(second.open_write(folder / "a.part"), open_result::opened);
}

// A second writer spinning on the same .part, while the first renames or removes it
// and lets go: it never ends up holding the file that now has the final name.
TEST(DownloadFiles, AHoldCoversTheRenameAndTheRemoval) {
  test_folder folder;
  const std::string part = folder / "x.part", whole = folder / "x";
  for (int round = 0; round < 100; ++round) {
    const bool rename = round % 2 == 0;
    file_handle first;
    ASSERT_EQ(first.open_write(part), open_result::opened) << first.error();
    ASSERT_TRUE(first.write("the whole file"));
    std::atomic<bool> go{false};
    std::thread second_writer([&] {
      file_handle second;
      while (!go.load()) std::this_thread::yield();
      for (int tries = 0; tries < 100000; ++tries) {
        const open_result opened = second.open_write(part);
        if (opened == open_result::busy) continue;
        ASSERT_EQ(opened, open_result::opened) << second.error();
        EXPECT_TRUE(second.is_at(part));
        second.truncate();
        second.write("junk");
        return;
      }
    });
    go = true;
    std::string error;
    if (rename) {
      ASSERT_EQ(first.rename_to(part, whole, error), rename_result::renamed) << error;
      EXPECT_TRUE(first.is_at(whole));
      EXPECT_FALSE(first.is_at(part));
    } else {
      ASSERT_TRUE(first.remove(part));
    }
    first.close();
    second_writer.join();
    if (rename) {
      EXPECT_EQ(test_folder::read(whole), "the whole file");
    }
    EXPECT_EQ(test_folder::read(part), "junk");
    remove_file(whole);
    remove_file(part);
  }
  // Renamed while held: the new name is held too.
  file_handle first, second;
  ASSERT_EQ(first.open_write(part), open_result::opened);
  std::string error;
  ASSERT_EQ(first.rename_to(part, whole, error), rename_result::renamed);
  EXPECT_EQ(second.open_write(whole), open_result::busy);
  test_folder::write(folder / "taken", "taken");
  EXPECT_EQ(first.rename_to(whole, folder / "taken", error), rename_result::target_exists);
  EXPECT_EQ(first.rename_to(part, folder / "y", error), rename_result::failed);  // not there now
}

// A link planted at NAME.part must not send the bytes elsewhere.
TEST(DownloadFiles, ALinkAtTheNameIsRefused) {
  test_folder folder;
  test_folder::write(folder / "target", "keep");
  const auto target = testing::utf8_path(folder / "target");
  const struct {
    const char* name;
    void (*make)(const std::filesystem::path&, const std::filesystem::path&, std::error_code&);
  } links[] = {
      {"soft.part", [](const auto& to, const auto& at, auto& e) { std::filesystem::create_symlink(to, at, e); }},
      {"hard.part", [](const auto& to, const auto& at, auto& e) { std::filesystem::create_hard_link(to, at, e); }},
  };
  int made = 0;
  for (const auto& link : links) {
    std::error_code failed;
    link.make(target, testing::utf8_path(folder / link.name), failed);
    if (failed) continue;  // not on this file system
    ++made;
    file_handle file;
    EXPECT_EQ(file.open_write(folder / link.name), open_result::failed) << link.name;
  }
  EXPECT_EQ(test_folder::read(folder / "target"), "keep");
  if (made == 0) GTEST_SKIP() << "no links here";
}

TEST(DownloadFiles, FailuresCarryTheSystemsReason) {
  test_folder folder;
  file_handle file;
  EXPECT_EQ(file.open_write(folder / "missing/a.part"), open_result::failed);
  EXPECT_FALSE(file.error().empty());
  EXPECT_FALSE(file.open_read(folder / "missing.txt"));
  EXPECT_FALSE(file.error().empty());
  EXPECT_EQ(file.open_write(folder.path()), open_result::failed);  // a folder
}

TEST(DownloadFiles, RenameNeverReplaces) {
  test_folder folder;
  test_folder::write(folder / "a.part", "new");
  test_folder::write(folder / "a", "old");
  std::string error;
  EXPECT_EQ(rename_no_replace(folder / "a.part", folder / "a", error), rename_result::target_exists);
  EXPECT_EQ(test_folder::read(folder / "a"), "old");
  EXPECT_EQ(rename_no_replace(folder / "a.part", folder / "b", error), rename_result::renamed);
  EXPECT_EQ(test_folder::read(folder / "b"), "new");
  EXPECT_FALSE(test_folder::exists(folder / "a.part"));
  EXPECT_EQ(rename_no_replace(folder / "gone", folder / "c", error), rename_result::failed);
  EXPECT_FALSE(error.empty());
}

TEST(DownloadFiles, Folders) {
  test_folder folder;
  EXPECT_EQ(join_path("", "a.txt"), "a.txt");
  EXPECT_EQ(join_path("d/", "a.txt"), "d/a.txt");
  EXPECT_EQ(join_path("d\\", "a.txt"), "d\\a.txt");
  EXPECT_EQ(join_path("d", "a.txt"), std::string("d") + path_separator + "a.txt");

  const std::string nested = folder / "x/\xE4\xB8\xAD/z";
  EXPECT_EQ(make_directories(nested), "");
  EXPECT_EQ(stat_path(nested).kind, path_kind::directory);
  EXPECT_EQ(make_directories(nested), "");
  test_folder::write(folder / "file", "");
  EXPECT_NE(make_directories(folder / "file"), "");
  EXPECT_NE(make_directories(folder / "file/below"), "");
}

}  // namespace
}  // namespace sharelink
