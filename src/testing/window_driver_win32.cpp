// Drives sharelink-gui.exe from outside, as a user would: real key presses and
// mouse clicks through SendInput, texts through WM_GETTEXT, the clipboard read
// back. Prints one line per check and exits non-zero when any check failed.
//
//   window_driver_win32 <sharelink-gui.exe> <page address> <stalling address> [shot.bmp [list-shot.bmp]]
//
// The page at <page address> must carry a download address
// "http://dl.example.com/files/test.zip", the file name "测试.zip" (percent-escaped
// UTF-8) and the key "0123abcd"; the one at <page address>-several the two files of
// src/resolve/testdata/kuaichuan_several.html, the one at <page address>-many ten
// thousand files, f0.bin of 1000 bytes to f9999.bin. The page at <stalling address>
// must send nothing more for several seconds once asked for.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/window_description.h"
#include "codec/wide_win32.h"

namespace {

using namespace sharelink;
using namespace sharelink::app;

int failures = 0;

void check(bool ok, const char* what, const std::string& detail = {}) {
  std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() ? "" : ": ",
              detail.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

bool wait_until(const std::function<bool()>& done, int milliseconds = 3000) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (done()) return true;
    Sleep(20);
  }
  return done();
}

std::string utf8(std::wstring_view wide) { return from_wide(wide, CP_UTF8); }

std::wstring text_of(HWND window) {
  wchar_t buffer[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

struct gui {
  PROCESS_INFORMATION process{};
  HWND window = nullptr;
  DWORD thread = 0;
  std::map<std::string_view, HWND> controls;

  HWND operator[](std::string_view name) const {
    auto it = controls.find(name);
    return it == controls.end() ? nullptr : it->second;
  }

  HWND focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
  }

  std::string name_of(HWND control) const {
    for (const auto& [name, hwnd] : controls)
      if (hwnd == control) return std::string(name);
    return control ? "another window" : "nothing";
  }
};

void press(WORD key, bool shift = false, bool ctrl = false) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(in);
  };
  if (shift) add(VK_SHIFT, false);
  if (ctrl) add(VK_CONTROL, false);
  add(key, false);
  add(key, true);
  if (ctrl) add(VK_CONTROL, true);
  if (shift) add(VK_SHIFT, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void click_at(int x, int y);

void click(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  click_at((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// A left click at a point of the screen.
void click_at(int x, int y) {
  INPUT in[3] = {};
  for (auto& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    i.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    i.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  }
  in[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
  in[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
  SendInput(3, in, sizeof(INPUT));
}

void move_to(int x, int y) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
  in.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  in.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  SendInput(1, &in, sizeof(INPUT));
}

// Rests the pointer on `control` and returns the text of the tooltip that shows,
// or "<no tooltip>".
std::string tooltip_over(const gui& g, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  move_to(r.left - 40, r.top - 40);
  Sleep(300);
  for (int step = 0; step < 3; ++step) {
    move_to((r.left + r.right) / 2 + step, (r.top + r.bottom) / 2);
    Sleep(50);
  }
  std::string text = "<no tooltip>";
  wait_until(
      [&] {
        HWND tip = nullptr;
        while ((tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr))) {
          DWORD pid = 0;
          GetWindowThreadProcessId(tip, &pid);
          if (pid == g.process.dwProcessId && IsWindowVisible(tip)) {
            text = from_wide(text_of(tip), CP_UTF8);
            return true;
          }
        }
        return false;
      },
      4000);
  return text;
}

std::string clipboard() {
  std::string text = "<no text>";
  if (!wait_until([] { return OpenClipboard(nullptr) != FALSE; }, 2000)) return "<busy>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* units = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = utf8(units);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void put_on_clipboard(const std::string& text) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
  std::memcpy(GlobalLock(memory), text.c_str(), text.size());
  GlobalUnlock(memory);
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
    CloseClipboard();
  } else {
    GlobalFree(memory);
  }
}

void save_screenshot(HWND window, const std::wstring& path) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4d42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + stride * h;
  if (FILE* out = _wfopen(path.c_str(), L"wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, stride, h, out);
    std::fclose(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

bool start(gui& g, const std::wstring& program) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command = L"\"" + program + L"\"";
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &g.process)) {
    std::printf("     cannot start %s: error %lu\n", utf8(program).c_str(), GetLastError());
    return false;
  }
  const bool found = wait_until(
      [&] {
        HWND w = nullptr;
        while ((w = FindWindowExW(nullptr, w, L"SharelinkMainWindow", nullptr))) {
          DWORD pid = 0;
          DWORD tid = GetWindowThreadProcessId(w, &pid);
          if (pid == g.process.dwProcessId && IsWindowVisible(w)) {
            g.window = w;
            g.thread = tid;
            return true;
          }
        }
        return false;
      },
      20000);
  if (!found) {
    // What the program shows instead, such as a message box, to say what went wrong.
    DWORD code = 0;
    GetExitCodeProcess(g.process.hProcess, &code);
    if (code != STILL_ACTIVE) std::printf("     the program ended with exit code %lu\n", code);
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, nullptr, nullptr))) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      wchar_t kind[64] = {};
      GetClassNameW(w, kind, 64);
      if (pid == g.process.dwProcessId)
        std::printf("     the program shows a %s window \"%s\"\n", utf8(kind).c_str(), utf8(text_of(w)).c_str());
    }
    return false;
  }
  for (const control_record& record : main_controls()) {
    POINT p{record.left + 2, record.top + 2};
    HWND c = ChildWindowFromPointEx(g.window, p, CWP_ALL);
    if (c && c != g.window) g.controls[record.name] = c;
  }
  // Hidden, and outside the window of one file: found by its class.
  if (HWND list = FindWindowExW(g.window, nullptr, L"SysListView32", nullptr)) g.controls[names::file_list] = list;
  return true;
}

// Waits until the focus is on `expected`, then reports.
void expect_focus(const gui& g, std::string_view expected, const char* what) {
  const HWND want = g[expected];
  wait_until([&] { return g.focus() == want; }, 2000);
  check(g.focus() == want, what, "focus on " + g.name_of(g.focus()) + ", wanted " +
                                     std::string(expected));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: window_driver_win32 <sharelink-gui.exe> <page address> <stalling address>"
                 " [shot.bmp]\n");
    return 2;
  }
  gui g;
  if (!start(g, argv[1])) {
    check(false, "the window appears");
    return 1;
  }
  check(g.controls.size() == main_controls().size() + 1, "every control is where the table puts it, and the list",
        std::to_string(g.controls.size()) + " found");

  // Geometry and frame.
  RECT r;
  GetWindowRect(g.window, &r);
  check(r.right - r.left == 380 && r.bottom - r.top == 308, "outer size 380x308",
        std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
  check(r.left == (GetSystemMetrics(SM_CXSCREEN) - 380) / 2 &&
            r.top == (GetSystemMetrics(SM_CYSCREEN) - 308) / 2,
        "centred on the screen", std::to_string(r.left) + "," + std::to_string(r.top));
  const LONG_PTR style = GetWindowLongPtrW(g.window, GWL_STYLE);
  check((style & WS_SYSMENU) && !(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)),
        "fixed frame, Close only");
  check(utf8(text_of(g.window)) == main_window().title, "title", utf8(text_of(g.window)));
  check(utf8(text_of(g[names::kuaichuan_address])) == sample_kuaichuan_address,
        "sample Kuaichuan address");
  check(SendMessageW(g[names::kuaichuan_choice], BM_GETCHECK, 0, 0) == BST_CHECKED &&
            SendMessageW(g[names::pan_choice], BM_GETCHECK, 0, 0) == BST_UNCHECKED,
        "Kuaichuan chosen at start");

  // Keyboard: focus order, wrapping both ways.
  SetForegroundWindow(g.window);
  wait_until([&] { return GetForegroundWindow() == g.window; });
  expect_focus(g, names::kuaichuan_address, "focus at start");
  const auto order = focus_order();
  for (std::size_t i = 1; i <= order.size(); ++i) {
    press(VK_TAB);
    expect_focus(g, order[i % order.size()], "Tab follows the focus order");
  }
  press(VK_TAB, true);
  expect_focus(g, names::file_size, "Shift+Tab wraps to the last control");
  press(VK_TAB);
  expect_focus(g, names::kuaichuan_address, "Tab wraps to the first control");

  // Arrow keys move between the radio buttons and check the one reached.
  for (int i = 0; i < 4; ++i) press(VK_TAB);
  expect_focus(g, names::kuaichuan_choice, "Tab reaches the first radio button");
  auto pan_checked = [&] {
    return SendMessageW(g[names::pan_choice], BM_GETCHECK, 0, 0) == BST_CHECKED &&
           SendMessageW(g[names::kuaichuan_choice], BM_GETCHECK, 0, 0) == BST_UNCHECKED;
  };
  auto kuaichuan_checked = [&] {
    return SendMessageW(g[names::kuaichuan_choice], BM_GETCHECK, 0, 0) == BST_CHECKED &&
           SendMessageW(g[names::pan_choice], BM_GETCHECK, 0, 0) == BST_UNCHECKED;
  };
  press(VK_RIGHT);
  expect_focus(g, names::pan_choice, "Right moves to the second radio button");
  check(wait_until(pan_checked), "Right checks the second radio button only");
  press(VK_DOWN);
  expect_focus(g, names::kuaichuan_choice, "Down wraps to the first radio button");
  check(wait_until(kuaichuan_checked), "Down checks the first radio button only");
  press(VK_LEFT);
  check(wait_until(pan_checked), "Left checks the other radio button");
  press(VK_UP);
  check(wait_until(kuaichuan_checked), "Up checks the first radio button again");

  // Focus comes back to where it was after another window was active.
  for (int i = 0; i < 4; ++i) press(VK_TAB);
  expect_focus(g, names::file_md5, "Tab reaches the MD5 box");
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                               100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(other);
  wait_until([&] { return GetForegroundWindow() == other; });
  SetForegroundWindow(g.window);
  wait_until([&] { return GetForegroundWindow() == g.window; });
  expect_focus(g, names::file_md5, "focus remembered across deactivation");
  DestroyWindow(other);
  SetForegroundWindow(g.window);
  wait_until([&] { return GetForegroundWindow() == g.window; });

  // A press on the empty download-address box leaves the clipboard alone.
  put_on_clipboard("before");
  click(g[names::download_url]);
  expect_focus(g, names::download_url, "a press on the empty address box focuses it");
  Sleep(200);
  check(clipboard() == "before", "empty address box leaves the clipboard", clipboard());

  // Resolve against the loopback page with a real click on the button.
  const std::wstring page = argv[2];
  SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(page.c_str()));
  click(g[names::resolve_button]);
  const std::string url = "http://dl.example.com/files/test.zip";
  const bool resolved =
      wait_until([&] { return utf8(text_of(g[names::download_url])) == url; }, 20000);
  check(resolved, "resolve fills the download address", utf8(text_of(g[names::download_url])));
  check(utf8(text_of(g[names::file_name])) == "测试.zip", "file name decoded",
        utf8(text_of(g[names::file_name])));
  check(utf8(text_of(g[names::file_md5])) == "0123abcd", "key shown",
        utf8(text_of(g[names::file_md5])));
  check(!text_of(g[names::file_size]).empty(), "size shown", utf8(text_of(g[names::file_size])));

  // The copy action: a press on the filled box puts its text on the clipboard.
  click(g[names::download_url]);
  const bool copied = wait_until([&] { return clipboard() == url; });
  check(copied, "press copies the download address", clipboard());
  expect_focus(g, names::download_url, "the box still takes the press");

  // Characters beyond any one code page (Chinese, an emoji, Hangul) reach the boxes
  // and the clipboard whole.
  const std::wstring names_page = page + L"-names";
  SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(names_page.c_str()));
  click(g[names::resolve_button]);
  const std::string names_url = "http://dl.example.com/%E6%96%87%E4%BB%B6/文件😀.zip";
  const bool filled = wait_until([&] { return utf8(text_of(g[names::download_url])) == names_url; }, 20000);
  check(filled, "an address of any script fills its box", utf8(text_of(g[names::download_url])));
  check(utf8(text_of(g[names::file_name])) == "测试😀한글é.txt", "a name of any script fills its box",
        utf8(text_of(g[names::file_name])));
  click(g[names::download_url]);
  const bool copied_whole = wait_until([&] { return clipboard() == names_url; });
  check(copied_whole, "an address of any script is copied whole", clipboard());

  if (argc > 4) {
    SetForegroundWindow(g.window);
    Sleep(300);
    save_screenshot(g.window, argv[4]);
  }

  // Each box shows its text as a tooltip, the text of the moment.
  const std::string tip = tooltip_over(g, g[names::file_md5]);
  check(tip == "0123abcd", "the MD5 box's tooltip is its text", tip);
  SendMessageW(g[names::file_md5], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"测试 changed"));
  const std::string changed = tooltip_over(g, g[names::file_md5]);
  check(changed == "测试 changed", "the tooltip follows the text", changed);

  // Screen readers name a box after the label just before it.
  for (const box_label& pair : box_labels()) {
    if (find_control(pair.label)->kind != control_kind::label) continue;
    check(GetWindow(g[pair.box], GW_HWNDPREV) == g[pair.label], "the label comes just before its box",
          std::string(pair.box));
  }

  // A page of several files: the window grows by the list, which shows them all,
  // the row of the file the boxes show selected.
  const HWND list = g[names::file_list];
  const auto outer_height = [&] {
    RECT w;
    GetWindowRect(g.window, &w);
    return static_cast<int>(w.bottom - w.top);
  };
  const auto selected_row = [&] {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  };
  const auto box = [&](std::string_view name) { return utf8(text_of(g[name])); };
  check(list && !IsWindowVisible(list) && outer_height() == main_window().outer_height,
        "a page of one file shows no list", std::to_string(outer_height()));
  const std::wstring several = page + L"-several";
  SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(several.c_str()));
  click(g[names::resolve_button]);
  const bool listed = wait_until([&] { return box(names::file_name) == "第二首歌.mp3"; }, 20000);
  check(listed && IsWindowVisible(list) && outer_height() == main_window().listing_outer_height,
        "a page of two files grows the window by the list", box(names::file_name) + ", " + std::to_string(outer_height()));
  check(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 2 && selected_row() == 1,
        "both files listed, the one in the boxes selected", std::to_string(selected_row()));
  if (argc > 5) {
    Sleep(300);
    save_screenshot(g.window, argv[5]);
  }

  // Tab from the button reaches the list; Up chooses the first file.
  expect_focus(g, names::resolve_button, "the button keeps the focus after its press");
  press(VK_TAB);
  expect_focus(g, names::file_list, "Tab from the button reaches the list");
  press(VK_UP);
  // (Each wait comes before its check: the order in which a call's arguments are
  // worked out is not fixed, and the detail must show the state after the wait.)
  const bool up = wait_until([&] { return box(names::file_name) == "first.iso"; });
  check(up && box(names::file_size) == "700MB" && box(names::download_url) == "http://dl.kc.example/d/XyZ789/first.iso",
        "Up chooses the first file", box(names::file_name) + " " + box(names::download_url));

  // A click on the second row chooses it; a press on the address box copies its address.
  RECT rows, head;
  GetWindowRect(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), &head);
  GetClientRect(list, &rows);
  const int per_page = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
  const int row_height = per_page > 0 ? (rows.bottom - (head.bottom - head.top)) / per_page : 16;
  click_at((head.left + head.right) / 2, head.bottom + row_height * 3 / 2);
  const bool clicked = wait_until([&] { return box(names::file_name) == "第二首歌.mp3"; });
  check(clicked, "a click chooses the second file", box(names::file_name));
  click(g[names::download_url]);
  const std::string second_url = "http://dl.kc.example/d/XyZ789/%E7%AC%AC%E4%BA%8C.mp3?n=2";
  const bool copied_chosen = wait_until([&] { return clipboard() == second_url; });
  check(copied_chosen, "the address box copies the chosen file's address", clipboard());

  // Ten thousand files list at once; Home and End reach both ends.
  const std::wstring many = page + L"-many";
  SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(many.c_str()));
  const ULONGLONG asked = GetTickCount64();
  click(g[names::resolve_button]);
  const bool all_listed = wait_until(
      [&] { return box(names::file_name) == "f9999.bin" && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 10000; },
      20000);
  const ULONGLONG listing_took = GetTickCount64() - asked;
  DWORD_PTR answered = 0;
  check(all_listed && selected_row() == 9999, "ten thousand files listed, the last selected",
        std::to_string(selected_row()));
  check(SendMessageTimeoutW(g.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &answered) != 0,
        "the window answers with ten thousand files listed");
  std::printf("10000 files: fetched, read and listed in %llu ms\n", listing_took);
  expect_focus(g, names::resolve_button, "the button has the focus");
  press(VK_TAB);
  press(VK_HOME);
  const bool home = wait_until([&] { return box(names::file_name) == "f0.bin"; });
  check(home && box(names::file_size) == "1000B", "Home chooses the first of ten thousand",
        box(names::file_name) + " " + box(names::file_size));
  const ULONGLONG pressed_end = GetTickCount64();
  press(VK_END);
  const bool end = wait_until([&] { return box(names::file_name) == "f9999.bin"; });
  const ULONGLONG end_took = GetTickCount64() - pressed_end;
  check(end, "End chooses the last", box(names::file_name));
  std::printf("10000 files: End chose the last in %llu ms\n", end_took);
  press('X');
  Sleep(500);
  check(box(names::file_name) == "f9999.bin", "typing X, which no name starts with, goes nowhere",
        box(names::file_name));
  Sleep(1000);  // a new search, not "XF"
  press('F');
  const bool typed = wait_until([&] { return box(names::file_name) == "f0.bin"; });
  check(typed, "typing F goes to the next name that starts with it", box(names::file_name));

  // A page of one file gives the window back as it was.
  SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(page.c_str()));
  click(g[names::resolve_button]);
  const bool one_again = wait_until([&] { return box(names::download_url) == url; }, 20000);
  check(one_again && !IsWindowVisible(list) && outer_height() == main_window().outer_height,
        "a page of one file takes the list away", std::to_string(outer_height()));

  // Ctrl+A selects the whole text of a box.
  click(g[names::kuaichuan_address]);
  expect_focus(g, names::kuaichuan_address, "a click focuses the address box");
  press('A', false, true);
  const DWORD length = static_cast<DWORD>(text_of(g[names::kuaichuan_address]).size());
  DWORD from = 1, to = 0;
  wait_until([&] {
    SendMessageW(g[names::kuaichuan_address], EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                 reinterpret_cast<LPARAM>(&to));
    return from == 0 && to == length;
  });
  check(from == 0 && to == length, "Ctrl+A selects the whole address",
        std::to_string(from) + "-" + std::to_string(to) + " of " + std::to_string(length));

  // Enter presses no button and moves no focus, in a box or on the button itself:
  // a resolution would rewrite the MD5 box.
  const std::wstring md5_before = text_of(g[names::file_md5]);
  for (std::string_view at : {names::kuaichuan_address, names::resolve_button}) {
    if (at == names::resolve_button) press(VK_TAB);
    expect_focus(g, at, "before Enter");
    press(VK_RETURN);
    Sleep(500);
    expect_focus(g, at, "Enter leaves the focus where it is");
    check(text_of(g[names::file_md5]) == md5_before, "Enter resolves nothing",
          std::string(at) + ": " + utf8(text_of(g[names::file_md5])));
  }

  // An address holding half of a surrogate pair is not sent: sent, it would reach
  // the page (the fragment stays behind), and the boxes would fill again.
  const std::wstring unrepresentable = page + L"#\xD83D";
  SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(unrepresentable.c_str()));
  click(g[names::resolve_button]);
  const bool emptied = wait_until([&] { return utf8(text_of(g[names::file_size])) == "0B"; }, 20000);
  check(emptied && text_of(g[names::download_url]).empty() && text_of(g[names::file_name]).empty() &&
            text_of(g[names::file_md5]).empty(),
        "an address UTF-8 cannot hold resolves as a failed fetch",
        utf8(text_of(g[names::file_size])) + " " + utf8(text_of(g[names::download_url])));

  // Escape closes the window; the program ends with 0.
  auto close_and_wait = [&](const char* what) {
    SetForegroundWindow(g.window);
    wait_until([&] { return GetForegroundWindow() == g.window; });
    press(VK_ESCAPE);
    const ULONGLONG pressed = GetTickCount64();
    const bool ended = WaitForSingleObject(g.process.hProcess, 15000) == WAIT_OBJECT_0;
    const ULONGLONG took = GetTickCount64() - pressed;
    DWORD code = 1234;
    GetExitCodeProcess(g.process.hProcess, &code);
    check(ended && code == 0, what, "exit code " + std::to_string(code));
    if (!ended) TerminateProcess(g.process.hProcess, 1);
    CloseHandle(g.process.hProcess);
    CloseHandle(g.process.hThread);
    return took;
  };
  close_and_wait("Escape closes the window, exit code 0");

  // A page that stalls: the window still answers and can be closed at once; the
  // boxes take no input meanwhile.
  gui s;
  if (!start(s, argv[1])) {
    check(false, "the window appears again");
  } else {
    g = s;
    const std::wstring stalling = argv[3];
    SendMessageW(g[names::kuaichuan_address], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(stalling.c_str()));
    SetForegroundWindow(g.window);
    wait_until([&] { return GetForegroundWindow() == g.window; });
    click(g[names::resolve_button]);
    Sleep(1000);
    DWORD_PTR answer = 0;
    check(SendMessageTimeoutW(g.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &answer) != 0,
          "the window answers while the page loads");
    click(g[names::kuaichuan_address]);
    press('X');
    Sleep(200);
    check(text_of(g[names::kuaichuan_address]) == stalling, "the boxes take no input while it loads",
          utf8(text_of(g[names::kuaichuan_address])));
    const ULONGLONG took = close_and_wait("Escape during the fetch closes the window, exit code 0");
    check(took <= 1000, "the program ends within a second of Escape", std::to_string(took) + " ms");
    std::printf("escape during a stalled fetch: program ended after %llu ms\n", took);
  }
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
