// What only Windows has: a reparse point (a symbolic link made by the system's own
// call) at NAME.part is opened as itself and refused, never followed.
#include <windows.h>

#include <gtest/gtest.h>

#include "codec/wide_win32.h"
#include "download/files.h"
#include "testing/test_folder.h"

namespace sharelink {
namespace {

using testing::test_folder;

TEST(DownloadFilesWindows, AReparsePointAtTheNameIsRefused) {
  test_folder folder;
  test_folder::write(folder / "target", "keep");
  const std::wstring link = to_wide(join_path(folder.path(), "link.part"), CP_UTF8);
  const std::wstring target = to_wide(join_path(folder.path(), "target"), CP_UTF8);
  if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      !CreateSymbolicLinkW(link.c_str(), target.c_str(), 0))
    GTEST_SKIP() << "cannot make a symbolic link here (error " << GetLastError() << ")";
  const DWORD made = GetFileAttributesW(link.c_str());
  if (made == INVALID_FILE_ATTRIBUTES || !(made & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "this system reports a link made but made none";  // Wine 8
  file_handle file;
  EXPECT_EQ(file.open_write(join_path(folder.path(), "link.part")), open_result::failed);
  EXPECT_EQ(test_folder::read(folder / "target"), "keep");
}

}  // namespace
}  // namespace sharelink
