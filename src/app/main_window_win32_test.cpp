#include "app/main_window_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sharelink::app {
namespace {

// Window creation refused, for one class, by a hook on this thread.
const wchar_t* refused_class = nullptr;

LRESULT CALLBACK refuse_creation(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && refused_class) {
    const wchar_t* name = reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs->lpszClass;
    if (!IS_INTRESOURCE(name) && lstrcmpiW(name, refused_class) == 0) return 1;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A window that cannot be made opens no home page and posts no quit message,
// which would close the message box that reports the failure at once.
TEST(Win32Window, OnlyAWindowThatCameIntoBeingEndsTheLoopAndOpensTheHomePage) {
  const struct {
    const wchar_t* refused;  // nullptr: the window is made, then destroyed
    bool made;
  } cases[] = {{L"SharelinkMainWindow", false}, {L"Edit", false}, {L"Button", false}, {nullptr, true}};
  for (const auto& c : cases) {
    std::vector<std::string> opened;
    action_services services;
    services.open_web_address = [&](std::string_view a) { opened.emplace_back(a); };
    services.home_page = "file:///C:/home.html";
    refused_class = c.refused;
    HHOOK hook = SetWindowsHookExW(WH_CBT, refuse_creation, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    HWND window = create_main_window(GetModuleHandleW(nullptr), services);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(window != nullptr, c.made);
    if (window) DestroyWindow(window);

    MSG message;
    EXPECT_EQ(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, c.made);
    EXPECT_EQ(opened.size(), c.made ? 1u : 0u);
  }
}

}  // namespace
}  // namespace sharelink::app
