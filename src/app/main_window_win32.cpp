#include "app/main_window_win32.h"

#include <windowsx.h>
#include <commctrl.h>
#include <initguid.h>  // the accessibility GUIDs below are defined here
#include <oleacc.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/background.h"
#include "app/window_description.h"
#include "codec/wide_win32.h"

namespace sharelink::app {
namespace {

constexpr wchar_t kWindowClass[] = L"SharelinkMainWindow";
constexpr wchar_t kStateProperty[] = L"SharelinkWindowState";
// Control ids start above IDOK and IDCANCEL, which the dialog keys send.
constexpr int kFirstControlId = 100;
constexpr std::size_t kControlCount = 15;
// Posted by a resolution's worker when its results are in.
constexpr UINT kResolvedMessage = WM_APP + 1;

// Everything the window needs while it lives; owned by the window (freed on
// WM_NCDESTROY).
class window_state final : public window_access {
 public:
  explicit window_state(const action_services& services) : services_(services) {}

  HWND window = nullptr;
  std::array<HWND, kControlCount> controls{};
  HWND last_focus = nullptr;  // the control that had the focus at deactivation
  const action_services& services_;
  std::shared_ptr<resolve_job> job;  // the resolution under way, if any
  HWND tooltips = nullptr;
  std::wstring tip;  // the text of the tooltip being shown
  HWND list = nullptr;               // the file list, a list view of owner data
  std::vector<resolved_file> files;  // what it lists
  std::wstring cell;                 // the text of the cell the list asked for last
  bool choosing = false;             // the program, not the user, is selecting a row

  HWND control(std::string_view name) const {
    const auto all = main_controls();
    for (std::size_t i = 0; i < all.size(); ++i)
      if (all[i].name == name) return controls[i];
    return name == names::file_list ? list : nullptr;
  }

  local_text text(std::string_view name) const override {
    HWND box = control(name);
    if (!box) return {};
    std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(GetWindowTextW(box, wide.data(), static_cast<int>(wide.size()))));
    return from_wide(wide, CP_UTF8);
  }

  bool text_is_local(std::string_view name) const override {
    HWND box = control(name);
    if (!box) return true;
    std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(GetWindowTextW(box, wide.data(), static_cast<int>(wide.size()))));
    if (wide.empty()) return true;
    // Local text is UTF-8 and holds any character; only half of a surrogate pair
    // has no UTF-8 form.
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()),
                               nullptr, 0, nullptr, nullptr) > 0;
  }

  void set_text(std::string_view name, std::string_view local) override {
    if (HWND box = control(name)) SetWindowTextW(box, to_wide(as_local(local), CP_UTF8).c_str());
  }

  bool checked(std::string_view name) const override {
    HWND button = control(name);
    return button && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  void set_checked(std::string_view name, bool on) override {
    if (HWND button = control(name))
      SendMessageW(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    keep_radio_tab_stops();
  }

  // Checking a radio button takes the tab stop away from the unchecked one; both
  // stay in the focus order.
  void keep_radio_tab_stops() const {
    for (std::string_view name : {names::kuaichuan_choice, names::pan_choice}) {
      HWND button = control(name);
      const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
      if (button && !(style & WS_TABSTOP)) SetWindowLongPtrW(button, GWL_STYLE, style | WS_TABSTOP);
    }
  }

  void show_files(std::vector<resolved_file> shown, std::ptrdiff_t chosen) override {
    const bool listing = !shown.empty();
    files = std::move(shown);
    choosing = true;
    SendMessageW(list, LVM_SETITEMCOUNT, files.size(), 0);
    LVITEMW unselected{};
    unselected.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&unselected));
    if (listing && chosen >= 0) {
      LVITEMW selected{};
      selected.stateMask = selected.state = LVIS_SELECTED | LVIS_FOCUSED;
      SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(chosen), reinterpret_cast<LPARAM>(&selected));
      SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(chosen), FALSE);
    }
    choosing = false;
    if (!listing && GetFocus() == list) SetFocus(control(names::resolve_button));
    if (!listing && last_focus == list) last_focus = nullptr;
    ShowWindow(list, listing ? SW_SHOWNA : SW_HIDE);
    InvalidateRect(list, nullptr, TRUE);
    fit_window(listing);
  }

  // The window's height with the list or without, kept on its monitor's work area.
  void fit_window(bool listing) const {
    const window_record& w = main_window();
    const int height = listing ? w.listing_outer_height : w.outer_height;
    RECT now;
    GetWindowRect(window, &now);
    int top = now.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) &&
        top + height > monitor.rcWork.bottom)
      top = std::max(monitor.rcWork.top, monitor.rcWork.bottom - height);
    SetWindowPos(window, nullptr, now.left, top, now.right - now.left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // The first visible, enabled control of the focus order.
  HWND first_focusable() const {
    for (std::string_view name : focus_order()) {
      HWND c = control(name);
      if (c && IsWindowVisible(c) && IsWindowEnabled(c)) return c;
    }
    return nullptr;
  }
};

window_state* state_of(HWND window) {
  return static_cast<window_state*>(GetPropW(window, kStateProperty));
}

std::wstring wide_utf8(std::string_view utf8) { return to_wide(utf8, CP_UTF8); }

// The tooltips and the file list come from the common controls, loaded at run
// time: the program imports nothing beyond the system's base DLLs.
bool load_common_controls() {
  HMODULE common = LoadLibraryW(L"comctl32.dll");
  if (!common) return false;
  using init_function = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = reinterpret_cast<init_function>(
      reinterpret_cast<void (*)()>(GetProcAddress(common, "InitCommonControlsEx")));
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  if (init) init(&classes);
  return true;
}

// Each edit box shows its text as a tooltip, asked for each time it shows, so it is
// always the box's text of the moment.
void add_tooltips(HWND window, HINSTANCE instance, window_state& state) {
  state.tooltips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                   instance, nullptr);
  if (!state.tooltips) return;
  SendMessageW(state.tooltips, TTM_SETMAXTIPWIDTH, 0, 480);  // long texts wrap
  SendMessageW(state.tooltips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
  const auto records = main_controls();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].kind != control_kind::edit_box) continue;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;  // understood by every version of the control
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(state.controls[i]);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(state.tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

// The list asks for the text of the cells in sight only, so ten thousand files list
// at once: the name, or the size as the size box writes it.
void fill_cell(window_state& state, LVITEMW& item) {
  if (!(item.mask & LVIF_TEXT) || item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= state.files.size())
    return;
  const resolved_file& file = state.files[static_cast<std::size_t>(item.iItem)];
  state.cell = to_wide(as_local(item.iSubItem == 0 ? file.file_name : file.size), CP_UTF8);
  item.pszText = state.cell.data();
}

// A row the user selected, by a click or a key: its file fills the boxes.
void file_selected(window_state& state, const NMLISTVIEW& change) {
  const bool now_selected = (change.uNewState & LVIS_SELECTED) && !(change.uOldState & LVIS_SELECTED);
  if (state.choosing || !now_selected || change.iItem < 0 ||
      static_cast<std::size_t>(change.iItem) >= state.files.size())
    return;
  choose_file_action(state, state.files[static_cast<std::size_t>(change.iItem)]);
}

// Typing in the list goes to the next file whose name starts with what was typed
// (in any case), or nowhere when none does.
LRESULT find_file(const window_state& state, const NMLVFINDITEMW& find) {
  const std::size_t count = state.files.size();
  if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz || count == 0) return -1;
  const std::wstring_view wanted = find.lvfi.psz;
  const std::size_t start = find.iStart >= 0 ? static_cast<std::size_t>(find.iStart) % count : 0;
  const std::size_t tries = find.lvfi.flags & LVFI_WRAP ? count : count - start;
  for (std::size_t k = 0; k < tries; ++k) {
    const std::size_t i = (start + k) % count;
    const std::wstring name = to_wide(as_local(state.files[i].file_name), CP_UTF8);
    const int compared = static_cast<int>(std::min(name.size(), wanted.size()));
    const bool whole = !(find.lvfi.flags & LVFI_PARTIAL);
    if ((whole ? name.size() == wanted.size() : name.size() >= wanted.size()) &&
        CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, name.data(), compared, wanted.data(),
                       static_cast<int>(wanted.size())) == CSTR_EQUAL)
      return static_cast<LRESULT>(i);
  }
  return -1;
}

// The tooltip's text: the box's text now, cut to what a tooltip holds.
void fill_tooltip(window_state& state, NMTTDISPINFOW& info) {
  const HWND box = reinterpret_cast<HWND>(info.hdr.idFrom);
  const int length = GetWindowTextLengthW(box);
  state.tip.assign(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  state.tip.resize(static_cast<std::size_t>(
      GetWindowTextW(box, state.tip.data(), static_cast<int>(state.tip.size()))));
  if (state.tip.size() > static_cast<std::size_t>(tooltip_characters)) {
    std::size_t keep = tooltip_characters;
    if (IS_LOW_SURROGATE(state.tip[keep])) --keep;  // never half a character
    state.tip.resize(keep);
    state.tip += L'\u2026';
  }
  info.lpszText = state.tip.data();
  info.hinst = nullptr;
}

// Screen readers announce each box by its label's text. They would find a label
// just before its box by themselves (see order_controls), but not the radio
// button that names a share address box, so every box gets its name explicitly.
// The names stay with the boxes when the service object is released.
void name_boxes(const window_state& state) {
  IAccPropServices* names = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, reinterpret_cast<void**>(&names))) ||
      !names)
    return;
  for (const box_label& pair : box_labels()) {
    const control_record* label = find_control(pair.label);
    HWND box = state.control(pair.box);
    if (label && box)
      names->SetHwndPropStr(box, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                            wide_utf8(label->text).c_str());
  }
  names->SetHwndPropStr(state.list, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                        wide_utf8(file_list().text).c_str());
  names->Release();
}

// Makes the pointer take the shape the window under it asks for now.
void refresh_cursor() {
  POINT at;
  if (GetCursorPos(&at)) SetCursorPos(at.x, at.y);
}

// The resolve button: the fetches run on a thread of their own, so the window keeps
// painting and can be moved or closed; the controls take no input meanwhile (see
// run_message_loop) and the pointer shows the wait.
void start_resolving(HWND window, window_state& state) {
  if (state.job) return;
  std::vector<resolve_request> requests = read_resolve_requests(state);
  state.job = resolve_job::start(requests, state.services_,
                                 [window] { PostMessageW(window, kResolvedMessage, 0, 0); });
  if (state.job) {
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
    return;
  }
  // No thread to be had: resolve here, the window waiting as a whole.
  HCURSOR before = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
  show_resolved(state, run_resolve_requests(requests, state.services_));
  SetCursor(before);
}

void finish_resolving(window_state& state) {
  if (!state.job) return;
  const std::shared_ptr<resolve_job> job = std::move(state.job);  // state.job is empty now
  show_resolved(state, job->take_results());
  refresh_cursor();
}

// What a user does to the controls, which waits while a page loads. Non-client
// input (moving, the Close button) and system keys (Alt+F4, Alt+Space) are not.
bool is_control_input(const MSG& message) {
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_DEADCHAR:
    case WM_UNICHAR:
      return true;
    default:
      return message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST;
  }
}

bool is_edit_box(HWND control) {
  wchar_t name[16] = {};
  return GetClassNameW(control, name, 16) > 0 && lstrcmpiW(name, L"Edit") == 0;
}

// The copy action runs on the press, before the box sees it; the box then takes
// the focus and places the caret as usual.
LRESULT CALLBACK download_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(box, GWLP_USERDATA));
  window_state* state = state_of(GetParent(box));
  // The second press of a double click is a press too.
  if (state && (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)) {
    int keys = 0;
    if (wparam & MK_CONTROL) keys |= 1;
    if (wparam & MK_SHIFT) keys |= 2;
    if (GetKeyState(VK_MENU) < 0) keys |= 4;
    copy_action(*state, state->services_, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), keys);
  }
  return CallWindowProcW(original, box, message, wparam, lparam);
}

// A notification of the tooltips or the file list: its answer; nothing for the
// notifications of other controls.
std::optional<LRESULT> notified(window_state& state, LPARAM lparam) {
  const auto* header = reinterpret_cast<const NMHDR*>(lparam);
  if (header->hwndFrom == state.tooltips && header->code == TTN_GETDISPINFOW) {
    fill_tooltip(state, *reinterpret_cast<NMTTDISPINFOW*>(lparam));
    return 0;
  }
  if (header->hwndFrom != state.list) return std::nullopt;
  if (header->code == LVN_GETDISPINFOW) fill_cell(state, reinterpret_cast<NMLVDISPINFOW*>(lparam)->item);
  if (header->code == LVN_ITEMCHANGED) file_selected(state, *reinterpret_cast<NMLISTVIEW*>(lparam));
  // Left alone, the answer 0 would send every key typed to the first file.
  if (header->code == LVN_ODFINDITEMW) return find_file(state, *reinterpret_cast<NMLVFINDITEMW*>(lparam));
  return 0;
}

// The window is closing: a page still loading is abandoned and its fetch told to
// stop, the home page opens, and the message loop ends.
void closed(window_state& state) {
  if (state.job) {
    state.job->abandon();
    state.job.reset();
    if (state.services_.stop_fetches) *state.services_.stop_fetches = true;
  }
  home_page_action(state.services_);
  PostQuitMessage(0);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  window_state* state = state_of(window);
  switch (message) {
    case WM_COMMAND:
      if (!state) break;
      if (LOWORD(wparam) == IDCANCEL) {  // Escape, through the dialog keys
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
      }
      if (HIWORD(wparam) == BN_CLICKED) {
        const HWND from = reinterpret_cast<HWND>(lparam);
        if (from == state->control(names::resolve_button)) start_resolving(window, *state);
        else state->keep_radio_tab_stops();  // a radio button was clicked or reached by an arrow
      }
      return 0;
    case WM_ACTIVATE:
      if (state && LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) state->last_focus = focus;
      }
      break;  // the default handling gives the window the focus, see WM_SETFOCUS
    case WM_SETFOCUS:
      if (state) {
        HWND target = state->last_focus;
        if (!target || !IsWindow(target) || !IsChild(window, target) || !IsWindowVisible(target))
          target = state->first_focusable();
        if (target) SetFocus(target);
      }
      return 0;
    case WM_NOTIFY:
      if (state) {
        if (const std::optional<LRESULT> answer = notified(*state, lparam)) return *answer;
      }
      break;
    case kResolvedMessage:
      if (state) finish_resolving(*state);
      return 0;
    case WM_SETCURSOR:
      if (state && state->job && LOWORD(lparam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      // Labels and radio captions: black on the 3-D face colour, transparent text background.
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DESTROY:
      // A window whose creation failed has no being-destroyed event, and must not
      // end the message loop of whoever reports the failure: a quit message would
      // close that message box at once.
      if (state) closed(*state);
      return 0;
    case WM_NCDESTROY:
      if (state) {
        RemovePropW(window, kStateProperty);
        delete state;
      }
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool register_class(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, kWindowClass, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = main_window_proc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(main_icon_id), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(main_icon_id), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0;
}

// Height of one line of `font` plus the sunken border.
int minimum_edit_height(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return metrics.tmHeight + 2 * GetSystemMetrics(SM_CYEDGE);
}

// The file list's columns: the name, taking what the size and a scroll bar leave.
void add_columns(HWND list) {
  // A name cut short in its column shows whole while the pointer rests on it.
  constexpr LPARAM extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP;
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  RECT inside;
  GetClientRect(list, &inside);
  std::wstring name = wide_utf8(file_list_name_heading), size = wide_utf8(file_list_size_heading);
  LVCOLUMNW column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = LVCFMT_LEFT;
  column.cx = inside.right - file_list_size_width - GetSystemMetrics(SM_CXVSCROLL);
  column.pszText = name.data();
  column.iSubItem = 0;
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  column.fmt = LVCFMT_RIGHT;
  column.cx = file_list_size_width;
  column.pszText = size.data();
  column.iSubItem = 1;
  SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
}

HWND create_control(HWND parent, HINSTANCE instance, const control_record& record, int id,
                    HFONT font) {
  const wchar_t* kind_class = L"STATIC";
  DWORD style = WS_CHILD | WS_GROUP;
  DWORD ex_style = 0;
  int height = record.height;
  switch (record.kind) {
    case control_kind::edit_box:
      kind_class = L"EDIT";
      style |= ES_LEFT | ES_AUTOHSCROLL;
      ex_style |= WS_EX_CLIENTEDGE;
      height = std::max(height, minimum_edit_height(parent, font));
      break;
    case control_kind::label:
      kind_class = L"STATIC";
      style |= SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX;
      break;
    case control_kind::radio_button:
      kind_class = L"BUTTON";
      style |= BS_AUTORADIOBUTTON | BS_LEFT | BS_VCENTER;
      // The two radio buttons are one group: the second one does not start a new one.
      if (record.name == names::pan_choice) style &= ~WS_GROUP;
      break;
    case control_kind::push_button:
      kind_class = L"BUTTON";
      style |= BS_PUSHBUTTON | BS_CENTER | BS_VCENTER;
      break;
    case control_kind::list_view:
      // Owner data: the list holds no text of its own and asks for what it shows.
      kind_class = WC_LISTVIEWW;
      style |= LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA | LVS_NOSORTHEADER;
      ex_style |= WS_EX_CLIENTEDGE;
      break;
  }
  if (record.tab_stop) style |= WS_TABSTOP;
  HWND control = CreateWindowExW(ex_style, kind_class, wide_utf8(record.text).c_str(), style,
                                 record.left, record.top, record.width, height, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                 nullptr);
  if (!control) return nullptr;
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (record.kind == control_kind::radio_button && record.checked)
    SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
  if (record.kind == control_kind::edit_box) {
    SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // no length limit for typing either
    SendMessageW(control, EM_SETSEL, 0, 0);
  }
  if (record.kind == control_kind::list_view) add_columns(control);
  return control;
}

// Z-order is the dialog keys' Tab order: the focus order, each box's label just
// before the box (screen readers name a box after the label before it), the other
// labels after. Labels take no focus, so the Tab order is the focus order.
void order_controls(const window_state& state) {
  HWND previous = HWND_TOP;
  auto place = [&](HWND c) {
    SetWindowPos(c, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = c;
  };
  for (std::string_view name : focus_order_with_list()) {
    for (const box_label& pair : box_labels()) {
      const control_record* label = find_control(pair.label);
      if (pair.box == name && label && label->kind == control_kind::label)
        place(state.control(pair.label));
    }
    place(state.control(name));
  }
}

}  // namespace

HWND create_main_window(HINSTANCE instance, const action_services& services) {
  if (!register_class(instance)) return nullptr;
  const window_record& record = main_window();
  const std::wstring title = wide_utf8(record.title);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - record.outer_width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - record.outer_height) / 2;
  // Fixed frame, title bar, system menu with Close only; no minimise or maximise.
  HWND window = CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kWindowClass, title.c_str(),
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, left,
                                top, record.outer_width, record.outer_height, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return nullptr;
  auto* state = new window_state(services);
  state->window = window;
  if (!SetPropW(window, kStateProperty, state)) {
    delete state;
    DestroyWindow(window);
    return nullptr;
  }

  const auto fail = [&] {
    // Creation failed: take the window down without running the close actions.
    RemovePropW(window, kStateProperty);
    delete state;
    DestroyWindow(window);
    return nullptr;
  };
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const auto records = main_controls();
  for (std::size_t i = 0; i < records.size() && i < kControlCount; ++i) {
    state->controls[i] =
        create_control(window, instance, records[i], kFirstControlId + static_cast<int>(i), font);
    if (!state->controls[i]) return fail();
  }
  if (!load_common_controls()) return fail();
  state->list = create_control(window, instance, file_list(), kFirstControlId + static_cast<int>(kControlCount), font);
  if (!state->list) return fail();
  order_controls(*state);

  HWND download_box = state->control(names::download_url);
  // The box's own procedure waits in its user data.
  SetWindowLongPtrW(download_box, GWLP_USERDATA, GetWindowLongPtrW(download_box, GWLP_WNDPROC));
  SetWindowLongPtrW(download_box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(download_box_proc));

  add_tooltips(window, instance, *state);
  name_boxes(*state);
  for (HWND c : state->controls) ShowWindow(c, SW_SHOWNA);
  default_choice_action(*state);
  if (!IsWindow(window)) return nullptr;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetForegroundWindow(window);
  return window;
}

int run_message_loop(HWND window) {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 0;
    const bool ours = message.hwnd == window || IsChild(window, message.hwnd);
    const window_state* state = IsWindow(window) ? state_of(window) : nullptr;
    if (state && state->job && ours && is_control_input(message)) {
      // A page is loading: the controls wait, but Escape still closes the window.
      if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE)
        PostMessageW(window, WM_CLOSE, 0, 0);
      continue;
    }
    // Ctrl+A selects the whole text of a box, which the plain edit control does not.
    if (message.message == WM_KEYDOWN && message.wParam == 'A' && ours &&
        GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 && is_edit_box(message.hwnd)) {
      SendMessageW(message.hwnd, EM_SETSEL, 0, -1);
      continue;
    }
    // Enter does nothing: the dialog keys would press the button that has the focus
    // as if it were the default one, and no control here is.
    if ((message.message == WM_KEYDOWN || message.message == WM_CHAR) &&
        message.wParam == VK_RETURN && ours)
      continue;
    if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace sharelink::app
