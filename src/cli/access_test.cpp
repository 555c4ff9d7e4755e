// Logins, extraction codes and shares pasted as text, against pages served on 127.0.0.1.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "testing/command_run.h"
#include "testing/loopback_server.h"
#include "testing/test_folder.h"

namespace sharelink::cli {
namespace {

using testing::test_folder;

using testing::command_run;
using testing::json_lines;
using testing::run_command;

// A share that opens only with the login cookie of the user's cookies file; its page
// lists one file on its own host and one on "localhost", another site of the same
// server. The cookies each request carried are noted by path.
class LoggedInShare : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.http().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string cookie = req.get_header_value("Cookie");
      {
        std::lock_guard lock(mutex_);
        seen_[req.path] = cookie;
      }
      if (req.path == "/s/1" && cookie.find("sid=let-me-in") == std::string::npos) {
        res.status = 403;
        return;
      }
      const std::string other = "http://localhost:" + std::to_string(server_.port());
      res.set_content(req.path == "/s/1" ? "<a href=\"" + server_.url("/f/own") + "\" name=\"own.bin\">\n<a href=\"" +
                                               other + "/f/other\" name=\"other.bin\">"
                                         : "bytes",
                      "text/html");
    });
    server_.start();
    test_folder::write(folder_ / "cookies.txt",
                       "# Netscape HTTP Cookie File\n"
                       "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tlet-me-in\n"
                       "localhost\tFALSE\t/\tFALSE\t0\tsid\tnot-for-a-rule\n");
    write_rule("");
  }
  void write_rule(const std::string& steps) {
    test_folder::write(folder_ / "rule.toml", R"toml(name = "locked"
addresses = ['^http://127\.0\.0\.1:\d+/s/']
needs_login = true
[records]
pattern = 'href="(?<download_url>[^"]+)" name="(?<file_name>[^"]+)"'
)toml" + steps);
  }
  command_run sharelink(std::vector<std::string> args) {
    args.insert(args.begin(), {"--no-config", "--json", "--retries", "0", "--rules", folder_ / "rule.toml"});
    args.push_back(server_.url("/s/1"));
    return run_command(args);
  }
  std::map<std::string, std::string> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

  testing::loopback_server server_;
  test_folder folder_;
  std::mutex mutex_;
  std::map<std::string, std::string> seen_;  // path -> the Cookie header it came with
};

TEST_F(LoggedInShare, TheCookiesFileOpensItAndGoesToTheSharesSiteOnly) {
  const command_run run = sharelink({"--cookies", folder_ / "cookies.txt", "--download", "--output-dir", folder_ / "out"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::map<std::string, std::string> expected = {
      {"/s/1", "sid=let-me-in"}, {"/f/own", "sid=let-me-in"}, {"/f/other", ""}};
  EXPECT_EQ(seen(), expected);
  EXPECT_EQ(run.err.find("let-me-in"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("let-me-in"), std::string::npos) << run.out;
}

TEST_F(LoggedInShare, WithoutALoginNothingIsAsked) {
  const command_run run = sharelink({});
  EXPECT_EQ(run.status, 1);
  const std::vector<nlohmann::json> objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u) << run.out;
  EXPECT_EQ(objects[0]["error_kind"], "login");
  EXPECT_NE(objects[0]["error"].get<std::string>().find("--cookies"), std::string::npos);
  EXPECT_TRUE(seen().empty());
}

TEST_F(LoggedInShare, ARuleThatWouldCarryTheLoginElsewhereIsRefused) {
  const std::string elsewhere = "localhost:" + std::to_string(server_.port());
  write_rule("[[steps]]\nname = \"sign\"\naddress = 'http://" + elsewhere + "/api/sign'\n");
  const command_run run = sharelink({"--cookies", folder_ / "cookies.txt"});
  EXPECT_EQ(run.status, 1);
  const std::vector<nlohmann::json> objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u) << run.out;
  EXPECT_NE(objects[0]["error"].get<std::string>().find("step sign may not go to " + elsewhere), std::string::npos)
      << objects[0];
  EXPECT_TRUE(seen().empty());
}

TEST_F(LoggedInShare, ACookiesFileThatCannotBeUsedEndsTheRunAtOnce) {
  test_folder::write(folder_ / "bad.txt", "# comment\npan.example TRUE / FALSE 0 sid 1\n");
  const std::pair<std::string, std::string> files[] = {
      {folder_ / "bad.txt", folder_ / "bad.txt" + ":2: a cookie is 7 fields"},
      {folder_ / "missing.txt", folder_ / "missing.txt" + ": "},
  };
  for (const auto& [file, said] : files) {
    const command_run run = sharelink({"--cookies", file});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("sharelink: " + said, 0), 0u) << run.err;
  }
  EXPECT_TRUE(seen().empty());
}

// The extraction code reaches the request that needs it: from --password, else the
// address's query, else the share text the address was pasted in.
TEST(PastedShares, TheCodeComesFromTheOptionTheAddressOrTheText) {
  testing::loopback_server server;
  server.http().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/check") {
      res.set_content("u=" + server.url("/f/" + req.get_param_value("code")), "text/plain");
    } else {
      res.set_content("share page", "text/plain");
    }
  });
  server.start();
  test_folder folder;
  test_folder::write(folder / "rule.toml", R"toml(name = "coded"
addresses = ['^http://127\.0\.0\.1:\d+/s/']
[password]
query = "pwd"
text = '提取码(?::|：)?\s*([A-Za-z0-9]{4})'
[[steps]]
name = "check"
address = ')toml" + server.url("/check?code={password}") + R"toml('
[fields.download_url]
pattern = 'u=(.*)'
)toml");
  const std::string share = server.url("/s/1AbC");
  const std::string input = "链接: " + share + " 提取码: x7k2 复制这段内容后打开\n" +
                            "\"" + share + "?pwd=q1w2\"\n" +
                            share + "，提取码：z9z9。\n" +
                            "<" + share + ">\n" +
                            "no address here\n";
  const std::vector<std::string> args = {"--no-config", "--json", "--rules", folder / "rule.toml"};
  const std::vector<nlohmann::json> found = json_lines(run_command(args, input).out);
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0]["download_url"], server.url("/f/x7k2"));
  EXPECT_EQ(found[1]["download_url"], server.url("/f/q1w2"));
  EXPECT_EQ(found[2]["download_url"], server.url("/f/z9z9"));
  EXPECT_EQ(found[3]["error_kind"], "password");
  EXPECT_NE(found[3]["error"].get<std::string>().find("--password"), std::string::npos);
  EXPECT_EQ(found[4]["error_kind"], "address");

  std::vector<std::string> given = args;
  given.insert(given.end(), {"--password", "p0p0"});
  for (const nlohmann::json& object : json_lines(run_command(given, input).out))
    if (object["error_kind"] != "address") {
      EXPECT_EQ(object["download_url"], server.url("/f/p0p0")) << object;
    }
}

}  // namespace
}  // namespace sharelink::cli
