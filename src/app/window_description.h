#pragma once
// The main window as data: one record for the window, one per control.
// Every back end (Qt, Win32) builds the window from these tables, so geometry
// and texts are written only here. Texts are UTF-8.
#include <array>
#include <span>
#include <string_view>

namespace sharelink::app {

enum class control_kind { radio_button, edit_box, label, push_button, list_view };

struct control_record {
  control_kind kind;
  std::string_view name;  ///< the control's name, also its Qt objectName
  int left, top, width, height;  ///< client-area pixels
  std::string_view text;  ///< text at start
  bool checked;           ///< radio buttons: checked at start
  bool tab_stop;
  int focus_index;        ///< position in the focus order, -1 for labels
};

struct window_record {
  std::string_view title;
  int outer_width, outer_height;    ///< with a classic Windows frame
  int client_width, client_height;  ///< what that frame leaves inside
  int left, top;                    ///< stored position; centring overrides it
  /// The window's height while it lists a page's files: the list takes the room
  /// below the button, the rest stays where it is.
  int listing_outer_height, listing_client_height;
};

/// Control names, as the actions and tests use them.
namespace names {
inline constexpr std::string_view kuaichuan_choice = "单选框1";
inline constexpr std::string_view kuaichuan_address = "迅雷下载编辑框";
inline constexpr std::string_view pan_choice = "单选框2";
inline constexpr std::string_view pan_address = "百度下载编辑框";
inline constexpr std::string_view file_name = "文件名称编辑框";
inline constexpr std::string_view file_type = "文件扩展名编辑框";
inline constexpr std::string_view file_size = "文件大小编辑框";
inline constexpr std::string_view file_md5 = "文件md5编辑框";
inline constexpr std::string_view download_url = "文件下载地址编辑框";
inline constexpr std::string_view resolve_button = "按钮1";
inline constexpr std::string_view file_list = "文件列表框";
}  // namespace names

/// The sample share addresses the two address boxes start with.
inline constexpr std::string_view sample_kuaichuan_address = "http://kuai.example.com/d/QWERTYUIOPAS";
inline constexpr std::string_view sample_pan_address =
    "http://pan.example.com/share/link?shareid=3170289471&uk=2536730811";

/// The main window's own record.
const window_record& main_window();

/// The fifteen controls, in creation order.
std::span<const control_record> main_controls();

/// The focusable controls in focus order (ten names).
std::span<const std::string_view> focus_order();

/// The list of a page's files, below the button. It shows only while the page
/// lists several files, the window then listing_outer_height high; one file or
/// none leaves the window as the fifteen controls make it. Its text is its name
/// for screen readers.
const control_record& file_list();

/// The list's two columns: the file's name, then its size as the size box writes
/// it, in a column this wide; the name takes the rest.
inline constexpr std::string_view file_list_name_heading = "文件名称";
inline constexpr std::string_view file_list_size_heading = "文件大小";
inline constexpr int file_list_size_width = 72;

/// focus_order() with the list, which comes right after the resolve button: a
/// press of the button, then Tab, reaches the files it found. A hidden list is
/// passed over.
std::span<const std::string_view> focus_order_with_list();

/// An edit box and the control whose text names it: its label, or, for a share
/// address box, the radio button of its service. Screen readers announce the box
/// by that text.
struct box_label {
  std::string_view box;
  std::string_view label;
};

/// A box's tooltip shows its text, up to this many characters (UTF-16 units) and
/// then an ellipsis: the system's tooltips hold no more.
inline constexpr int tooltip_characters = 1000;

/// The seven edit boxes with their labels, in creation order.
std::span<const box_label> box_labels();

/// The record named `name` (the list's included), or nullptr.
const control_record* find_control(std::string_view name);

/// Fatal start-up message (caption, text) shown when the window cannot be created.
inline constexpr std::string_view startup_error_caption = "错误";
inline constexpr std::string_view startup_error_text = "运行时出错!\n\n错误信息：载入启动窗口失败\n";

}  // namespace sharelink::app
