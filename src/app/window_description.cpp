#include "app/window_description.h"

#include <algorithm>

namespace sharelink::app {
namespace {

using enum control_kind;

// Focus order: 迅雷下载编辑框, 按钮1, 文件下载地址编辑框, 百度下载编辑框, 单选框1,
// 单选框2, 文件扩展名编辑框, 文件名称编辑框, 文件md5编辑框, 文件大小编辑框.
constexpr std::array<control_record, 15> controls{{
    {radio_button, names::kuaichuan_choice, 16, 16, 80, 24, "迅雷快传", true, true, 4},
    {edit_box, names::kuaichuan_address, 104, 16, 232, 24, sample_kuaichuan_address, false, true, 0},
    {radio_button, names::pan_choice, 17, 55, 80, 24, "百度网盘", false, true, 5},
    {edit_box, names::pan_address, 104, 56, 232, 24, sample_pan_address, false, true, 3},
    {label, "标签2", 16, 88, 72, 24, "文件名称：", false, false, -1},
    {edit_box, names::file_name, 104, 88, 232, 24, "", false, true, 7},
    {label, "标签3", 16, 120, 72, 24, "文件扩展名：", false, false, -1},
    {edit_box, names::file_type, 104, 120, 232, 24, "", false, true, 6},
    {label, "标签4", 21, 152, 72, 24, "文件大小：", false, false, -1},
    {edit_box, names::file_size, 104, 152, 232, 24, "", false, true, 9},
    {label, "标签5", 16, 184, 72, 24, "文件MD5值：", false, false, -1},
    {edit_box, names::file_md5, 104, 184, 232, 24, "", false, true, 8},
    {label, "标签1", 24, 216, 64, 24, "下载地址：", false, false, -1},
    {edit_box, names::download_url, 104, 216, 232, 24, "", false, true, 2},
    {push_button, names::resolve_button, 144, 248, 64, 24, "解析", false, true, 1},
}};

constexpr std::array<std::string_view, 10> order{
    names::kuaichuan_address, names::resolve_button, names::download_url, names::pan_address,
    names::kuaichuan_choice,  names::pan_choice,     names::file_type,    names::file_name,
    names::file_md5,          names::file_size,
};

constexpr std::array<std::string_view, 11> order_with_list{
    names::kuaichuan_address, names::resolve_button, names::file_list, names::download_url,
    names::pan_address,       names::kuaichuan_choice, names::pan_choice, names::file_type,
    names::file_name,         names::file_md5,       names::file_size,
};

// Across the window below the button, as far from the edges as the labels are.
// Its focus index is its place in order_with_list.
constexpr control_record list{list_view, names::file_list, 16, 280, 342, 168, "文件列表", false, true, 2};

constexpr std::array<box_label, 7> labels{{
    {names::kuaichuan_address, names::kuaichuan_choice},
    {names::pan_address, names::pan_choice},
    {names::file_name, "标签2"},
    {names::file_type, "标签3"},
    {names::file_size, "标签4"},
    {names::file_md5, "标签5"},
    {names::download_url, "标签1"},
}};

// The classic Windows frame: 3-px borders and a 19-px caption around 374x283;
// with the list, 8 px below it as above it.
constexpr window_record window{"Varnel 迅雷快传-百度网盘-下载地址解析例程", 380, 308, 374, 283, 50, 50,
                               308 + 173, 283 + 173};

}  // namespace

const window_record& main_window() { return window; }
std::span<const control_record> main_controls() { return controls; }
std::span<const std::string_view> focus_order() { return order; }
std::span<const box_label> box_labels() { return labels; }
const control_record& file_list() { return list; }
std::span<const std::string_view> focus_order_with_list() { return order_with_list; }

const control_record* find_control(std::string_view name) {
  auto it = std::find_if(controls.begin(), controls.end(),
                         [&](const control_record& c) { return c.name == name; });
  if (it != controls.end()) return &*it;
  return name == list.name ? &list : nullptr;
}

}  // namespace sharelink::app
