#include "app/actions.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/window_description.h"

namespace sharelink::app {
namespace {

// A window that keeps its controls in maps and logs every access in order.
class fake_window final : public window_access {
 public:
  std::map<std::string, std::string, std::less<>> texts;
  std::map<std::string, bool, std::less<>> checks;
  mutable std::vector<std::string> log;

  local_text text(std::string_view name) const override {
    log.push_back("text " + std::string(name));
    auto it = texts.find(name);
    return it == texts.end() ? local_text() : it->second;
  }
  void set_text(std::string_view name, std::string_view local) override {
    log.push_back("set " + std::string(name) + "=" + std::string(local));
    texts[std::string(name)] = std::string(local);
  }
  bool checked(std::string_view name) const override {
    log.push_back("checked " + std::string(name));
    auto it = checks.find(name);
    return it != checks.end() && it->second;
  }
  void set_checked(std::string_view name, bool on) override {
    log.push_back("check " + std::string(name) + (on ? "=1" : "=0"));
    checks[std::string(name)] = on;
  }
  // Boxes whose text UTF-8 cannot hold.
  std::set<std::string, std::less<>> not_local;
  bool text_is_local(std::string_view name) const override { return !not_local.contains(name); }
  // The file list: what it shows and which row is selected.
  std::vector<resolved_file> files;
  std::ptrdiff_t chosen = -1;
  void show_files(std::vector<resolved_file> shown, std::ptrdiff_t row) override {
    log.push_back("files " + std::to_string(shown.size()) + " chosen " + std::to_string(row));
    files = std::move(shown);
    chosen = row;
  }
};

std::string str(std::string_view v) { return std::string(v); }

resolved_file file(const std::string& tag) {
  return {tag + "-url", tag + "-name", tag + "-type", tag + "-size", tag + "-md5"};
}

// Services that record what the actions hand them.
struct recorded_services {
  std::vector<std::string> calls;
  bool clipboard_result = true;

  action_services make() {
    action_services s;
    s.resolve_kuaichuan = [this](std::string_view a) {
      calls.push_back("kuaichuan " + str(a));
      return file("k");
    };
    s.resolve_pan = [this](std::string_view a) {
      calls.push_back("pan " + str(a));
      return file("p");
    };
    s.set_clipboard_text = [this](std::string_view t) {
      calls.push_back("clipboard " + str(t));
      return clipboard_result;
    };
    s.open_web_address = [this](std::string_view a) { calls.push_back("open " + str(a)); };
    return s;
  }
};

std::vector<std::string> writes_of(const std::string& tag) {
  return {"set " + str(names::file_name) + "=" + tag + "-name",
          "set " + str(names::file_type) + "=" + tag + "-type",
          "set " + str(names::file_size) + "=" + tag + "-size",
          "set " + str(names::file_md5) + "=" + tag + "-md5",
          "set " + str(names::download_url) + "=" + tag + "-url"};
}

// What a result of one file shows: the five fields, and no list.
std::vector<std::string> shown_alone(const std::string& tag) {
  auto writes = writes_of(tag);
  writes.push_back("files 0 chosen -1");
  return writes;
}

class ResolveAction : public ::testing::Test {
 protected:
  fake_window window;
  recorded_services services;

  void SetUp() override {
    window.texts[str(names::kuaichuan_address)] = "K-ADDR";
    window.texts[str(names::pan_address)] = "P-ADDR";
  }
  void check(bool kuaichuan, bool pan) {
    window.checks[str(names::kuaichuan_choice)] = kuaichuan;
    window.checks[str(names::pan_choice)] = pan;
  }
};

TEST_F(ResolveAction, KuaichuanReadsItsBoxAndWritesTheFiveFieldsAddressLast) {
  check(true, false);
  resolve_action(window, services.make());

  std::vector<std::string> expected{"checked " + str(names::kuaichuan_choice),
                                    "text " + str(names::kuaichuan_address)};
  for (auto& w : shown_alone("k")) expected.push_back(w);
  expected.push_back("checked " + str(names::pan_choice));
  EXPECT_EQ(window.log, expected);
  EXPECT_EQ(services.calls, std::vector<std::string>{"kuaichuan K-ADDR"});
}

TEST_F(ResolveAction, PanReadsItsOwnBoxAndLeavesTheOtherBoxAlone) {
  check(false, true);
  resolve_action(window, services.make());

  std::vector<std::string> expected{"checked " + str(names::kuaichuan_choice),
                                    "checked " + str(names::pan_choice),
                                    "text " + str(names::pan_address)};
  for (auto& w : shown_alone("p")) expected.push_back(w);
  EXPECT_EQ(window.log, expected);
  EXPECT_EQ(services.calls, std::vector<std::string>{"pan P-ADDR"});
  EXPECT_EQ(window.texts[str(names::kuaichuan_address)], "K-ADDR");
}

TEST_F(ResolveAction, BothChoicesAreTestedSeparatelySoBothResolveInTurn) {
  check(true, true);
  resolve_action(window, services.make());
  EXPECT_EQ(services.calls, (std::vector<std::string>{"kuaichuan K-ADDR", "pan P-ADDR"}));
  EXPECT_EQ(window.texts[str(names::download_url)], "p-url");
}

TEST_F(ResolveAction, NoChoiceDoesNothing) {
  check(false, false);
  resolve_action(window, services.make());
  EXPECT_TRUE(services.calls.empty());
  EXPECT_EQ(window.log.size(), 2u);  // the two check-state reads
}

TEST_F(ResolveAction, EmptyFieldsEmptyTheBoxesOfAnEarlierResolution) {
  check(true, false);
  auto s = services.make();
  resolve_action(window, s);
  s.resolve_kuaichuan = [](std::string_view) { return resolved_file{{}, {}, {}, "0B", {}}; };
  resolve_action(window, s);
  EXPECT_EQ(window.texts[str(names::file_name)], "");
  EXPECT_EQ(window.texts[str(names::file_type)], "");
  EXPECT_EQ(window.texts[str(names::file_size)], "0B");
  EXPECT_EQ(window.texts[str(names::file_md5)], "");
  EXPECT_EQ(window.texts[str(names::download_url)], "");
}

// Read on the window's thread, resolved elsewhere, shown back: the same calls and
// the same writes as the action in one piece, for every choice.
TEST_F(ResolveAction, InThreeStepsItDoesWhatTheActionDoes) {
  for (int choice = 0; choice < 4; ++choice) {
    const bool kuaichuan = choice & 1, pan = choice & 2;
    fake_window whole = window, split = window;
    whole.checks = split.checks = {{str(names::kuaichuan_choice), kuaichuan},
                                   {str(names::pan_choice), pan}};
    recorded_services whole_services, split_services;
    resolve_action(whole, whole_services.make());
    const auto requests = read_resolve_requests(split);
    std::vector<resolve_request> expected;
    if (kuaichuan) expected.push_back({false, "K-ADDR"});
    if (pan) expected.push_back({true, "P-ADDR"});
    EXPECT_EQ(requests, expected);
    const std::size_t reads = split.log.size();
    show_resolved(split, run_resolve_requests(requests, split_services.make()));
    EXPECT_EQ(split.log.size(), reads + 6 * expected.size());  // nothing read after the first step

    EXPECT_EQ(split_services.calls, whole_services.calls) << choice;
    EXPECT_EQ(split.texts, whole.texts) << choice;
  }
}

// A page of several files lists them under the boxes, the row of the file the
// boxes show selected; choosing another fills the boxes with it. A page of one
// file takes the list away again.
TEST(FileList, APageOfSeveralFilesIsListedAndAChosenFileFillsTheBoxes) {
  fake_window window;
  const std::vector<resolved_file> three{file("a"), file("b"), file("c")};
  const auto page = [&](const std::string& boxes, std::vector<resolved_file> files) {
    resolved_page p(file(boxes));
    p.files = std::move(files);
    return std::vector<resolved_page>{p};
  };
  show_resolved(window, page("c", three));
  auto expected = writes_of("c");
  expected.push_back("files 3 chosen 2");
  EXPECT_EQ(window.log, expected);
  EXPECT_EQ(window.files, three);

  window.log.clear();
  choose_file_action(window, window.files[0]);
  EXPECT_EQ(window.log, writes_of("a"));  // the address last, and the list left alone
  EXPECT_EQ(window.files, three);

  // The page lists more files than are kept, and the boxes show one left out.
  show_resolved(window, page("d", three));
  EXPECT_EQ(window.log.back(), "files 3 chosen -1");

  show_resolved(window, page("d", {file("d")}));
  EXPECT_EQ(window.log.back(), "files 0 chosen -1");
  EXPECT_TRUE(window.files.empty());
}

// With U+FFFD for what UTF-8 cannot hold, an address could lead elsewhere.
TEST_F(ResolveAction, AnAddressTheCodePageCannotHoldResolvesAsEmpty) {
  check(true, true);
  window.not_local.insert(str(names::pan_address));
  resolve_action(window, services.make());
  EXPECT_EQ(services.calls, (std::vector<std::string>{"kuaichuan K-ADDR", "pan "}));
  EXPECT_EQ(read_resolve_requests(window),
            (std::vector<resolve_request>{{false, "K-ADDR"}, {true, ""}}));
}

TEST(CopyAction, EmptyBoxLeavesTheClipboardAlone) {
  fake_window window;
  recorded_services services;
  copy_action(window, services.make(), 5, 6, 1);
  EXPECT_TRUE(services.calls.empty());
  EXPECT_EQ(window.log, std::vector<std::string>{"text " + str(names::download_url)});
}

TEST(CopyAction, FilledBoxGoesToTheClipboardExactlyAndAFailureIsIgnored) {
  fake_window window;
  recorded_services services;
  services.clipboard_result = false;
  window.texts[str(names::download_url)] = "http://d.example/测 a";
  copy_action(window, services.make());
  EXPECT_EQ(services.calls, std::vector<std::string>{"clipboard http://d.example/测 a"});
  EXPECT_EQ(window.log.size(), 1u);  // nothing is written back or shown
}

TEST(StartAndEndActions, DefaultChoiceChecksOnlyTheKuaichuanChoice) {
  fake_window window;
  default_choice_action(window);
  EXPECT_EQ(window.log, std::vector<std::string>{"check " + str(names::kuaichuan_choice) + "=1"});
}

TEST(StartAndEndActions, HomePageActionOpensTheHomePageWhenThereIsOne) {
  recorded_services services;
  action_services s = services.make();
  s.home_page = "file:///usr/share/sharelink/home.html";
  home_page_action(s);
  s.home_page.clear();
  home_page_action(s);
  EXPECT_EQ(services.calls, std::vector<std::string>{"open file:///usr/share/sharelink/home.html"});
}

}  // namespace
}  // namespace sharelink::app
