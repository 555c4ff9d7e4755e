#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/desktop.h"
#include "codec/wide_win32.h"

namespace sharelink {
namespace {

// What the clipboard holds as Unicode text, in UTF-8; "<none>" when it holds no text.
std::string clipboard_text() {
  std::string text = "<none>";
  if (!OpenClipboard(nullptr)) return "<closed>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* units = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = from_wide(units, CP_UTF8);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

TEST(ClipboardTest, ReplacesContentWithLocalText) {
  // Characters of any script, whatever the code page, then an address.
  const std::string text = "下载😀한글é http://dl.example.com/a.zip";
  ASSERT_TRUE(set_clipboard_text(text));
  EXPECT_EQ(clipboard_text(), text);

  ASSERT_TRUE(set_clipboard_text("second"));
  EXPECT_EQ(clipboard_text(), "second");

  // An empty text is a real, empty clipboard text; a zero byte ends the text.
  ASSERT_TRUE(set_clipboard_text(""));
  EXPECT_EQ(clipboard_text(), "");
  ASSERT_TRUE(set_clipboard_text(std::string("ab\0cd", 5)));
  EXPECT_EQ(clipboard_text(), "ab");
}

TEST(ClipboardTest, BusyClipboardIsLeftAsItWas) {
  ASSERT_TRUE(set_clipboard_text("kept"));
  // Another thread holds the clipboard open, as another program would.
  std::atomic<int> phase{0};
  std::thread holder([&] {
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!OpenClipboard(owner)) {
      phase = -1;
      return;
    }
    phase = 1;
    while (phase == 1) Sleep(1);
    CloseClipboard();
    DestroyWindow(owner);
  });
  while (phase == 0) Sleep(1);
  ASSERT_EQ(phase, 1);
  EXPECT_FALSE(set_clipboard_text("lost"));
  phase = 2;
  holder.join();
  EXPECT_EQ(clipboard_text(), "kept");
}

}  // namespace
}  // namespace sharelink
