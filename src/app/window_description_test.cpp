#include "app/window_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace sharelink::app {
namespace {

TEST(WindowDescription, NamesAreUniqueAndFoundByName) {
  std::set<std::string_view> seen;
  for (const auto& c : main_controls()) {
    EXPECT_TRUE(seen.insert(c.name).second) << c.name;
    EXPECT_EQ(find_control(c.name), &c);
  }
  EXPECT_EQ(seen.size(), 15u);
  EXPECT_EQ(find_control("按钮2"), nullptr);
}

// Each edit box is named by one label or radio button on its own row, left of it.
TEST(WindowDescription, EveryBoxHasTheLabelBesideIt) {
  std::set<std::string_view> boxes;
  for (const box_label& pair : box_labels()) {
    const control_record* box = find_control(pair.box);
    const control_record* label = find_control(pair.label);
    ASSERT_TRUE(box && label) << pair.box;
    EXPECT_EQ(box->kind, control_kind::edit_box) << pair.box;
    EXPECT_TRUE(label->kind == control_kind::label || label->kind == control_kind::radio_button);
    EXPECT_LE(std::abs(box->top - label->top), 1) << pair.box;
    EXPECT_LT(label->left + label->width, box->left) << pair.box;
    EXPECT_TRUE(boxes.insert(pair.box).second) << pair.box;
  }
  for (const auto& c : main_controls()) {
    if (c.kind == control_kind::edit_box) {
      EXPECT_TRUE(boxes.contains(c.name)) << c.name;
    }
  }
}

TEST(WindowDescription, FocusIndicesAgreeWithTheFocusOrder) {
  auto order = focus_order();
  ASSERT_EQ(order.size(), 10u);
  for (int i = 0; i < static_cast<int>(order.size()); ++i) {
    const control_record* c = find_control(order[i]);
    ASSERT_NE(c, nullptr) << order[i];
    EXPECT_EQ(c->focus_index, i) << c->name;
    EXPECT_TRUE(c->tab_stop) << c->name;
  }
  for (const auto& c : main_controls()) {
    if (c.kind == control_kind::label) {
      EXPECT_FALSE(c.tab_stop) << c.name;
      EXPECT_EQ(c.focus_index, -1) << c.name;
    } else {
      EXPECT_GE(c.focus_index, 0) << c.name;
    }
  }
}

TEST(WindowDescription, ControlsFitTheClientAreaLeftByTheClassicFrame) {
  const window_record& w = main_window();
  EXPECT_EQ(w.outer_width - w.client_width, 2 * 3);
  EXPECT_EQ(w.outer_height - w.client_height, 2 * 3 + 19);
  for (const auto& c : main_controls()) {
    EXPECT_GE(c.left, 0) << c.name;
    EXPECT_GE(c.top, 0) << c.name;
    EXPECT_LE(c.left + c.width, w.client_width) << c.name;
    EXPECT_LE(c.top + c.height, w.client_height) << c.name;
  }
}

// The list adds room below everything else and changes nothing above it: the
// window of one file is the window without a list.
TEST(WindowDescription, TheFileListTakesTheRoomTheTallerWindowAdds) {
  const window_record& w = main_window();
  const control_record& list = file_list();
  EXPECT_EQ(find_control(names::file_list), &list);
  EXPECT_EQ(w.listing_outer_height - w.listing_client_height, w.outer_height - w.client_height);
  int lowest = 0;
  for (const auto& c : main_controls()) lowest = std::max(lowest, c.top + c.height);
  EXPECT_GT(list.top, lowest);
  EXPECT_EQ(list.left + list.width, w.client_width - list.left);
  EXPECT_EQ(w.listing_client_height - (list.top + list.height), list.top - lowest);
  EXPECT_GT(list.width, 2 * file_list_size_width);

  // Right after the button, and otherwise the focus order as it is.
  std::vector<std::string_view> without(focus_order_with_list().begin(), focus_order_with_list().end());
  ASSERT_LT(list.focus_index, static_cast<int>(without.size()));
  EXPECT_EQ(without[list.focus_index], names::file_list);
  EXPECT_EQ(without[list.focus_index - 1], names::resolve_button);
  without.erase(without.begin() + list.focus_index);
  EXPECT_TRUE(std::ranges::equal(without, focus_order()));
}

TEST(WindowDescription, OnlyTheKuaichuanChoiceStartsChecked) {
  for (const auto& c : main_controls())
    EXPECT_EQ(c.checked, c.name == names::kuaichuan_choice) << c.name;
}

bool all_of(std::string_view s, int (*pred)(int)) {
  if (s.empty()) return false;
  for (unsigned char ch : s)
    if (!pred(ch)) return false;
  return true;
}

TEST(WindowDescription, SampleAddressesHaveTheFormsTheServicesUse) {
  EXPECT_EQ(find_control(names::kuaichuan_address)->text, sample_kuaichuan_address);
  EXPECT_EQ(find_control(names::pan_address)->text, sample_pan_address);

  std::string_view k = sample_kuaichuan_address;
  ASSERT_EQ(k.substr(0, 7), "http://");
  auto path = k.find('/', 7);
  ASSERT_NE(path, std::string_view::npos);
  EXPECT_EQ(k.substr(path, 3), "/d/");
  EXPECT_EQ(k.find('?'), std::string_view::npos);
  std::string_view code = k.substr(path + 3);
  EXPECT_EQ(code.size(), 12u);
  EXPECT_TRUE(all_of(code, [](int c) { return c >= 'A' && c <= 'Z' ? 1 : 0; })) << code;

  std::string_view p = sample_pan_address;
  auto ppath = p.find('/', 7);
  ASSERT_NE(ppath, std::string_view::npos);
  std::string_view rest = p.substr(ppath);
  ASSERT_EQ(rest.substr(0, 20), "/share/link?shareid=");
  rest.remove_prefix(20);
  auto amp = rest.find("&uk=");
  ASSERT_NE(amp, std::string_view::npos);
  EXPECT_TRUE(all_of(rest.substr(0, amp), std::isdigit));
  EXPECT_TRUE(all_of(rest.substr(amp + 4), std::isdigit));
}

}  // namespace
}  // namespace sharelink::app
