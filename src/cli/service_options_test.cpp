// The service options in-process: user rule folders, --rules, --list-services,
// --page with the service of the one rule file, a step's answer from a file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "codec/one_line.h"
#include "rules/services.h"
#include "testing/command_run.h"
#include "testing/loopback_server.h"

namespace sharelink::cli {
namespace {

using outcome = testing::command_run;
using testing::run_command;

class ServiceOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("sharelink-services-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_ / "sharelink" / "services");
    setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(folder_);
  }
  std::string write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::filesystem::path folder_;
};

TEST_F(ServiceOptions, UserRuleFilesAreListedAndAReplacedBuiltInSaysSo) {
  const std::string mine = write("sharelink/services/pan.toml",
                                 "name = 'pan'\ntitle = 'Pan, mended'\n[fields.download_url]\npattern = 'u=(\\S+)'\n");
  write("sharelink/services/bad.toml", "name = 'bad'\n[fields.download_url]\npattern = '(x'\n");
  write("sharelink/services/vague.toml",
        "name = 'vague'\naddresses = ['^https?://v\\.example/', \"\\t\"]\n[fields.download_url]\npattern = 'u=\\S+'\n");
  std::filesystem::create_symlink(folder_ / "gone.toml", folder_ / "sharelink/services/nowhere.toml");
  const outcome listed = run_command({"--no-config", "--list-services"});
  EXPECT_EQ(listed.status, 0);
  // Each address pattern a field of its own, a tab of the rule's shown as a blank.
  EXPECT_EQ(listed.out, "kuaichuan\tKuaichuan (快传)\tbuilt in\t^[A-Za-z][A-Za-z0-9+.-]*://[^/?#]*/d/\n"
                       "pan\tPan, mended\t" + mine + "\nvague\tvague\t" +
                           (folder_ / "sharelink/services/vague.toml").string() + "\t^https?://v\\.example/\t \n");
  EXPECT_NE(listed.err.find("bad.toml:3:11: the pattern does not compile"), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("vague.toml:4:11: warning: the pattern has no group"), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("nowhere.toml: not a regular file; passed over"), std::string::npos) << listed.err;
  const std::string page = write("page.html", "u=http://h/a.zip");
  const outcome read = run_command({"--no-config", "--service", "pan", "--page", page, "--json"});
  EXPECT_NE(read.out.find("\"download_url\":\"http://h/a.zip\""), std::string::npos) << read.out;
}

// A --rules file that cannot be used ends the run with its own line, at a bounded
// cost: a folder, a file past the limit, a device that never ends, a bad rule.
TEST_F(ServiceOptions, ARulesFileThatCannotBeUsedIsAMistake) {
  const std::string huge = write("huge.toml", "# " + std::string(largest_rule_file, 'x') + "\nname = 'huge'\n");
  const struct {
    std::string file, said;
  } cases[] = {{folder_.string(), ": a folder, not a rule file"},
               {huge, ": larger than 1048576 bytes; not a rule file"},
               {"/dev/zero", ": larger than 1048576 bytes; not a rule file"},
               {(folder_ / "missing.toml").string(), ": no such file"},
               {write("bad.toml", "name = 'bad'\n"), ":1:1: the rule reads no download_url: give [fields.download_url] or [records]"}};
  for (const auto& c : cases) {
    for (const char* then : {"--list-services", "http://127.0.0.1:1/d/X"}) {
      const outcome listed = run_command({"--no-config", "--rules", c.file, then});
      EXPECT_EQ(listed.status, 2);
      EXPECT_EQ(listed.out, "");
      EXPECT_EQ(listed.err, "sharelink: " + c.file + c.said + "\n");
    }
  }
  // The word after a rule file is an address, not another rule file.
  const std::string good = write("good.toml", "name = 'good'\n[fields.download_url]\npattern = 'u=(\\S+)'\n");
  const outcome then_address = run_command({"--no-config", "--rules", good, "http://127.0.0.1:1/d/X"});
  EXPECT_EQ(then_address.status, 1);
  EXPECT_NE(then_address.err.find("sharelink: http://127.0.0.1:1/d/X: connection refused"), std::string::npos)
      << then_address.err;
}

TEST_F(ServiceOptions, ARuleFileReadsSavedAnswersOfItsSteps) {
  const std::string rule = write("api.toml", R"toml(
name = "api"
[[steps]]
name = "list"
address = "https://api.example/list?id={id}"
[steps.values]
id = { pattern = 'id=(\w+)' }
[records]
json_array = "/files"
[records.fields]
download_url = "/u"
)toml");
  const std::string page = write("share.html", "id=7"), list = write("list.json", R"({"files":[{"u":"http://h/1"}]})");
  const outcome read = run_command({"--no-config", "--rules", rule, "--page", page, "--page", "list=" + list, "--json"});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find("\"service\":\"api\""), std::string::npos) << read.out;
  EXPECT_NE(read.out.find("\"download_url\":\"http://h/1\""), std::string::npos) << read.out;

  const outcome no_step = run_command({"--no-config", "--rules", rule, "--page", page, "--json"});
  EXPECT_EQ(no_step.status, 1);
  EXPECT_NE(no_step.out.find("--page list=FILE"), std::string::npos) << no_step.out;
  // A step's answer past the size of a fetched one is cut there, and said so.
  const std::string big = write("big.json", R"({"files":[{"u":"http://h/1"})" + std::string(8 << 20, ' ') + "]}");
  const outcome cut = run_command({"--no-config", "--rules", rule, "--page", page, "--page", "list=" + big, "--json"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.out.find(R"("error":"step list: the page is larger than 8388608 bytes; stopped there","error_kind":"page")"),
            std::string::npos)
      << cut.out;
  EXPECT_EQ(run_command({"--no-config", "--page", page}).status, 2);
  EXPECT_EQ(run_command({"--no-config", "--service", "nope", "--page", page}).status, 2);
  // An answer for a step the rule does not have, or one given twice, is a mistake.
  const outcome misspelt = run_command({"--no-config", "--rules", rule, "--page", page, "--page", "lsit=" + list});
  EXPECT_EQ(misspelt.status, 2);
  EXPECT_NE(misspelt.err.find("--page lsit=FILE: api has no step lsit (its steps: list)"), std::string::npos)
      << misspelt.err;
  EXPECT_EQ(run_command({"--no-config", "--rules", rule, "--page", page, "--page", "list=" + list, "--page",
                         "list=" + list})
                .status,
            2);
  // A paged step reads its answers as its pages, in turn.
  const std::string paged = write("paged.toml", R"toml(
name = "paged"
[[steps]]
name = "list"
address = "https://api.example/list?p={page}"
[steps.pages]
param = "page"
more = { json = "/more", equals = "1" }
[records]
json_array = "/files"
[records.fields]
download_url = "/u"
)toml");
  const std::string first = write("p1.json", R"({"more":1,"files":[{"u":"http://h/1"}]})");
  const std::string second = write("p2.json", R"({"more":0,"files":[{"u":"http://h/2"}]})");
  const outcome pages = run_command({"--no-config", "--rules", paged, "--page", page, "--page", "list=" + first,
                                     "--page", "list=" + second, "--json"});
  EXPECT_EQ(pages.status, 0) << pages.err;
  EXPECT_NE(pages.out.find(R"("files":[{"download_url":"http://h/1")"), std::string::npos) << pages.out;
  EXPECT_NE(pages.out.find(R"({"download_url":"http://h/2")"), std::string::npos) << pages.out;
}

// A rule's own texts (a failure's message, a title) and a service's name the user
// gives reach the terminal only as one_line makes them, in every line written.
TEST_F(ServiceOptions, RuleTextReachesTheTerminalOnlyThroughTheFilter) {
  testing::loopback_server server;
  server.serve("/s/x", "nothing to read here");
  server.start();
  const auto filtered = [](const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      for (std::istringstream fields(line); std::getline(fields, line, '\t');)  // --list-services' columns
        if (one_line(line) != line) return false;
    return true;
  };
  // Each as the rule file writes it, and as its bytes are.
  const std::pair<std::string, std::string> hostile[] = {
      {"\\u001b]0;pwned\\u0007", "\x1b]0;pwned\x07"},
      {"a\\rb", "a\rb"},
      {"\\u009b2J", "\xC2\x9B" "2J"},
      {"exe.\\u202etxt", "exe.\xE2\x80\xAEtxt"},
  };
  for (const auto& [escaped, bytes] : hostile) {
    SCOPED_TRACE(escaped);
    const std::string rule = write("hostile.toml", "name = 'api'\ntitle = \"T" + escaped +
                                                       "\"\naddresses = ['/s/']\n[[fail]]\npattern = 'here'\n"
                                                       "message = \"not " + escaped + " read\"\n"
                                                       "[fields.download_url]\njson = '/u'\n");
    const outcome read = run_command({"--no-config", "--rules", rule, server.url("/s/x")});
    EXPECT_EQ(read.status, 1);
    EXPECT_NE(read.err.find(" read"), std::string::npos) << read.err;
    EXPECT_TRUE(filtered(read.err)) << read.err;
    const outcome listed = run_command({"--no-config", "--rules", rule, "--list-services"});
    EXPECT_NE(listed.out.find("\tT"), std::string::npos) << listed.out;
    EXPECT_TRUE(filtered(listed.out)) << listed.out;
    const outcome unknown = run_command({"--no-config", "--rules", rule, "--service", bytes, server.url("/s/x")});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("is not a service"), std::string::npos) << unknown.err;
    EXPECT_TRUE(filtered(unknown.err)) << unknown.err;
  }
}

}  // namespace
}  // namespace sharelink::cli

namespace sharelink::cli {
namespace {

// A share's folders become folders under the output folder, whatever names the
// service gives them, and the aria2 list names each file in its folder; a file
// whose address is no web address fails alone.
TEST_F(ServiceOptions, FoldersOfAShareStayUnderTheOutputFolder) {
  testing::loopback_server server;
  server.serve("/s/x", "<p>share</p>");
  server.http().Get("/api", [](const httplib::Request& request, httplib::Response& response) {
    const std::string dir = request.get_param_value("dir");
    const std::string body =
        dir.empty() ? R"({"l":[{"n":"top.bin","u":"/f/1"},{"n":"../../up","d":"/a"},{"n":"bad.bin","u":"ftp://h/x"}]})"
        : dir == "/a" ? R"({"l":[{"n":"in.bin","u":"/f/2"},{"n":"top.bin","u":"/f/3"}]})"
                      : R"({"l":[]})";
    response.set_content(body, "application/json");
  });
  server.http().Get(R"(/f/(\d))", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content("file " + request.matches[1].str(), "application/octet-stream");
  });
  server.start();
  const std::string rule = write("tree.toml", "name = 'tree'\naddresses = ['/s/']\n[[steps]]\nname = 'list'\naddress = '" +
                                                  server.url("/api") + "?dir={dir}'\n[records]\njson_array = '/l'\n"
                                                  "fields = { download_url = '/u', file_name = '/n' }\n"
                                                  "folders = { when = { json = '/d', present = true }, path = '/d' }\n");
  const outcome listed = run_command({"--no-config", "--rules", rule, "--aria2", server.url("/s/x")});
  EXPECT_EQ(listed.status, 1);  // bad.bin
  EXPECT_NE(listed.out.find("  out=top.bin\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("  out=up/in.bin\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("  out=up/top.bin\n"), std::string::npos) << listed.out;  // no number: another folder
  EXPECT_NE(listed.err.find("bad.bin: the download address is not http or https"), std::string::npos) << listed.err;
  const std::filesystem::path into = folder_ / "out";
  const outcome saved = run_command({"--no-config", "--rules", rule, "--download", "--output-dir", into.string(),
                                     server.url("/s/x")});
  EXPECT_EQ(saved.status, 1);
  std::ifstream inner(into / "up" / "in.bin");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(inner), {}), "file 2") << saved.out << saved.err;
  EXPECT_TRUE(std::filesystem::exists(into / "up" / "top.bin"));
  EXPECT_TRUE(std::filesystem::exists(into / "top.bin"));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "up"));
}

}  // namespace
}  // namespace sharelink::cli
