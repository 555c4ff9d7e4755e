#include "app/main_window_win32.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/background.h"
#include "app/window_description.h"
#include "codec/wide_win32.h"
#include "testing/raw_server.h"

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

// The name a screen reader announces for `control`.
std::string accessible_name(HWND control) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                        reinterpret_cast<void**>(&object))) ||
      !object)
    return "<no accessible object>";
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::string result = "<no name>";
  if (object->get_accName(self, &name) == S_OK && name) {
    result = from_wide(std::wstring_view(name, SysStringLen(name)), CP_UTF8);
    SysFreeString(name);
  }
  object->Release();
  return result;
}

// A box with a label is named after it: the label comes just before it. The share
// address boxes are named after their radio buttons by explicit names, which Wine
// does not keep (it would name the Pan box after the label before the box above it).
TEST(Win32Window, ScreenReadersAnnounceABoxByItsLabel) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  action_services services;
  HWND window = create_main_window(GetModuleHandleW(nullptr), services);
  ASSERT_TRUE(window);
  for (const box_label& pair : box_labels()) {
    const control_record* label = find_control(pair.label);
    if (label->kind != control_kind::label) continue;
    const control_record* record = find_control(pair.box);
    const HWND box = ChildWindowFromPointEx(window, POINT{record->left + 2, record->top + 2}, CWP_ALL);
    EXPECT_EQ(accessible_name(box), label->text) << pair.box;
  }
  DestroyWindow(window);
  MSG message;
  PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  if (SUCCEEDED(com)) CoUninitialize();
}

// Closing the window while a page loads stops the real fetch, which would otherwise
// wait 20 s for a server that never answers.
TEST(Win32Window, ClosingWhileAPageLoadsStopsItsFetch) {
  testing::raw_server silent([](testing::raw_connection& connection) { connection.hold(); });
  action_services services = platform_services();
  services.open_web_address = [](std::string_view) {};
  HWND window = create_main_window(GetModuleHandleW(nullptr), services);
  ASSERT_TRUE(window);
  const auto child = [&](std::string_view name) {
    const control_record* record = find_control(name);
    return ChildWindowFromPointEx(window, POINT{record->left + 2, record->top + 2}, CWP_ALL);
  };
  SetWindowTextW(child(names::kuaichuan_address), to_wide(silent.url("/d/ABCDEFGHIJKL"), CP_UTF8).c_str());
  SendMessageW(child(names::resolve_button), BM_CLICK, 0, 0);
  for (int i = 0; i < 500 && silent.connections() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(silent.connections(), 1);
  ASSERT_TRUE(detached_work_running());

  DestroyWindow(window);
  MSG message;
  PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  for (int i = 0; i < 500 && detached_work_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(detached_work_running());
}

}  // namespace
}  // namespace sharelink::app
