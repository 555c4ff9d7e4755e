// Rule files checked, and their own tests run, as --check-rules does.
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli/rule_check.h"
#include "testing/test_folder.h"

namespace sharelink::cli {
namespace {

constexpr const char* page = "<a href=\"https://dl.example/f/1\" data-name=\"a.zip\">";

constexpr const char* reads_the_page =
    "name = 'mine'\n"
    "addresses = ['^https?://mine\\.example/s/']\n"
    "[fields.download_url]\npattern = 'href=\"([^\"]*)\"'\n"
    "[fields.file_name]\npattern = 'data-name=\"([^\"]*)\"'\n";

struct check_case {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  ///< name in the folder, text
  int status;
  std::string out;                 ///< standard output, whole
  std::vector<std::string> err;    ///< texts standard error holds, FOLDER/ for the folder
};

TEST(CheckRules, ReadsStrictlyWarnsAndRunsTheTests) {
  const std::string tests_pass = std::string(reads_the_page) +
                                 "[[tests]]\nname = 'one file'\naddress = 'https://mine.example/s/1'\n"
                                 "page = 'saved/p.html'\nexpect = { file_name = 'a.zip', files = 1 }\n";
  const check_case cases[] = {
      {"a test that passes", {{"mine.toml", tests_pass}}, 0, "ok mine: one file\n", {}},
      {"every expectation that differs is named, and an error not expected",
       {{"mine.toml", std::string(reads_the_page) +
                          "[[tests]]\npage = 'saved/p.html'\nexpect = { file_name = 'b.zip', size = 5, md5 = 'x' }\n"
                          "[[tests]]\npage = 'saved/none.html'\n"
                          "[[tests]]\npage = 'saved/empty.html'\n"
                          "[[tests]]\npage = 'saved/p.html'\nexpect = { error_kind = 'page' }\n"}},
       1,
       "FAIL mine: test 1: expected file_name \"b.zip\", got \"a.zip\"; expected md5 \"x\", got \"\"; "
       "expected size 5, got \"0B\"\n"
       "FAIL mine: test 2: cannot read saved/none.html: No such file or directory\n"
       "FAIL mine: test 3: expected no error, got page (the page holds no download address)\n"
       "FAIL mine: test 4: expected error_kind page, got no error\n",
       {}},
      {"a file that does not read is exit 2, the others still run",
       {{"bad.toml", "name = 'bad'\n[fields.download_url]\npattern = '(x'\n"}, {"mine.toml", tests_pass}},
       2,
       "ok mine: one file\n",
       {"FOLDER/bad.toml:3:11: the pattern does not compile"}},
      {"tests are read as strictly as the rule",
       {{"mine.toml", std::string(reads_the_page) + "[[tests]]\npage = 'p'\nexpect = { error_kind = 'oops' }\n"},
        {"steps.toml", std::string(reads_the_page) + "[[tests]]\npage = 'p'\nsteps = { list = 'l.json' }\n"},
        {"keys.toml", std::string(reads_the_page) + "[[tests]]\npage = 'p'\nexpected = {}\n"}},
       2,
       "",
       {"FOLDER/mine.toml:9:25: 'oops' is no error kind (", "FOLDER/steps.toml:9:18: the test gives an answer for the step list",
        "FOLDER/keys.toml:9:12: unknown key 'expected' in [[tests]]"}},
      {"addresses that take another service's example, two files of one service, no tests",
       {{"mine.toml", tests_pass},
        {"greedy.toml", "name = 'greedy'\naddresses = ['/s/', '/share/']\n[fields.download_url]\npattern = '(x)'\n"},
        {"again.toml", reads_the_page}},
       0,
       "ok mine: one file\n",
       {"FOLDER/greedy.toml:2:13: warning: 'addresses' also finds https://mine.example/s/1, an example of the service mine",
        "FOLDER/greedy.toml:2:13: warning: 'addresses' also finds https://pan.example.com/share/link?shareid=1&uk=2, "
        "an example of the service pan",
        "FOLDER/again.toml:1:8: warning: FOLDER/mine.toml names the service mine too; this file takes its place",
        "FOLDER/again.toml: warning: no [[tests]]"}},
  };
  for (const check_case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::test_folder folder;
    std::filesystem::create_directories(testing::utf8_path(folder / "saved"));
    testing::test_folder::write(folder / "saved/p.html", page);
    testing::test_folder::write(folder / "saved/empty.html", "");
    std::vector<std::string> files;
    for (const auto& [name, text] : c.files) {
      testing::test_folder::write(folder / name, text);
      files.push_back(folder / name);
    }
    std::ostringstream out, err;
    EXPECT_EQ(check_rule_files(files, out, err), c.status) << err.str();
    EXPECT_EQ(out.str(), c.out);
    for (std::string expected : c.err) {
      for (std::size_t at = expected.find("FOLDER"); at != std::string::npos; at = expected.find("FOLDER"))
        expected.replace(at, 6, folder.path());
      EXPECT_NE(err.str().find(expected), std::string::npos) << expected << "\nin:\n" << err.str();
    }
    if (c.err.empty()) {
      EXPECT_EQ(err.str(), "");
    }
  }
}

}  // namespace
}  // namespace sharelink::cli
