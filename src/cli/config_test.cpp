#include "cli/config.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include <gtest/gtest.h>

namespace sharelink::cli {
namespace {

TEST(Config, ReadsEveryKey) {
  std::string error;
  const auto c = parse_config(
      "# defaults for sharelink\n"
      "jobs = 8\ntimeout = 2.5\nproxy = \"socks5h://127.0.0.1:1080\"\noutput_dir = \"/tmp/下载\"\n"
      "retries = 0\nmax_per_host = 2\ncacert = \"/etc/ca.pem\"\narchive = \"a.sqlite\"\n"
      "aria2_rpc = \"http://127.0.0.1:6800/jsonrpc\"\naria2_secret = \"s\"\n"
      "cookies = \"c.txt\"\n",
      "config.toml", error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->jobs, 8);
  EXPECT_EQ(c->timeout_ms, 2500);
  EXPECT_EQ(c->proxy, "socks5h://127.0.0.1:1080");
  EXPECT_EQ(c->output_dir, "/tmp/下载");
  EXPECT_EQ(c->retries, 0);
  EXPECT_EQ(c->max_per_host, 2);
  EXPECT_EQ(c->cacert, "/etc/ca.pem");
  EXPECT_EQ(c->archive, "a.sqlite");
  EXPECT_EQ(c->aria2_rpc, "http://127.0.0.1:6800/jsonrpc");
  EXPECT_EQ(c->aria2_secret, "s");
  EXPECT_EQ(c->cookies, "c.txt");

  const auto empty = parse_config("", "config.toml", error);
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->jobs || empty->timeout_ms || empty->proxy || empty->output_dir || empty->retries ||
               empty->max_per_host || empty->cacert);
  // A whole number of seconds, and one too small to be a millisecond, which still waits.
  EXPECT_EQ(parse_config("timeout = 30", "c", error)->timeout_ms, 30000);
  EXPECT_EQ(parse_config("timeout = 1e-9", "c", error)->timeout_ms, 1);
  EXPECT_EQ(parse_config("proxy = ''", "c", error)->proxy, "");
}

// Each refusal is one line that says where the fault is.
TEST(Config, RefusesWithFileLineAndColumn) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"jobs = 0", "c.toml:1:8: jobs must be a whole number above 0"},
      {"jobs = 2.0", "c.toml:1:8: jobs must be a whole number above 0"},
      {"jobs = 4294967297", "c.toml:1:8: jobs must be a whole number above 0"},
      {"\n  retries = -1", "c.toml:2:13: retries must be a whole number, 0 or more"},
      {"max_per_host = '2'", "c.toml:1:16: max_per_host must be a whole number above 0"},
      {"timeout = 0", "c.toml:1:11: timeout must be a number of seconds above 0"},
      {"timeout = nan", "c.toml:1:11: timeout must be a number of seconds above 0"},
      {"timeout = '5'", "c.toml:1:11: timeout must be a number of seconds above 0"},
      {"proxy = 8080", "c.toml:1:9: proxy must be a string (in quotes)"},
      {"jobs = 2\nJobs = 3", "c.toml:2:1: unknown key 'Jobs'"},
      {"[network]\nproxy = ''", "c.toml:1:2: unknown key 'network'"},
      {"jobs = ", "c.toml:1:8: "},
      {"jobs = 1\njobs = 2", "c.toml:2:8: "},
      {"output_dir = \"a\x01b\"", "c.toml:1:"},
      {"jobs = 2\n\xCB\xA0", "c.toml:2:1: a character outside ASCII may stand only in a string or a comment"},
  };
  for (const auto& test : cases) {
    std::string error;
    EXPECT_FALSE(parse_config(test.text, "c.toml", error)) << test.text;
    EXPECT_EQ(error.rfind(test.message, 0), 0u) << test.text << "\n  gave: " << error;
    EXPECT_EQ(error.find_first_of("\r\n"), std::string::npos) << error;
  }
}

TEST(Config, LoadsFromAFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("sharelink-config-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string error, warning;
  // No file is no configuration, and no error.
  const auto none = load_config((dir / "missing.toml").string(), error, warning);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->jobs);

  std::ofstream((dir / "config.toml").string()) << "jobs = 3\n";
  EXPECT_EQ(load_config((dir / "config.toml").string(), error, warning)->jobs, 3);

  std::ofstream((dir / "bad.toml").string()) << "jobs = 3\njobs = [\n";
  EXPECT_FALSE(load_config((dir / "bad.toml").string(), error, warning));
  EXPECT_EQ(error.rfind((dir / "bad.toml").string() + ":2:", 0), 0u) << error;

  // A folder where the file should be cannot be read: an error, not silence.
  std::filesystem::create_directories(dir / "folder.toml");
  EXPECT_FALSE(load_config((dir / "folder.toml").string(), error, warning));
  EXPECT_EQ(error.rfind((dir / "folder.toml").string() + ": ", 0), 0u) << error;
  EXPECT_EQ(warning, "");
  std::filesystem::remove_all(dir);
}

// Which folder shuts a path away, as the system answers for each (a seam: root is
// let into every folder). Only a folder that can be looked up itself is named.
TEST(Config, TheFolderThatMayNotBeSearchedIsFound) {
  const std::string file = "/home/other/.config/sharelink/config.toml";
  const auto denied_below = [](std::string top) {
    return [top](const std::string& path) {
      if (path.starts_with(top + "/")) return std::make_error_code(std::errc::permission_denied);
      return std::error_code();
    };
  };
  EXPECT_EQ(unsearchable_folder(file, denied_below("/home/other")), "/home/other");
  EXPECT_EQ(unsearchable_folder(file, denied_below("/home/other/.config/sharelink")), "/home/other/.config/sharelink");
  EXPECT_EQ(unsearchable_folder(file, denied_below("/home")), "/home");
  EXPECT_EQ(unsearchable_folder(file, [](const std::string&) { return std::error_code(); }), std::nullopt);
  EXPECT_EQ(unsearchable_folder(file, [](const std::string&) { return std::make_error_code(std::errc::no_such_file_or_directory); }),
            std::nullopt);
  EXPECT_EQ(unsearchable_folder(file, [](const std::string&) { return std::make_error_code(std::errc::permission_denied); }),
            std::nullopt);
  EXPECT_EQ(unsearchable_folder(file, [](const std::string& path) {
              return path == "/home" ? std::make_error_code(std::errc::io_error)
                                     : std::make_error_code(std::errc::permission_denied);
            }),
            std::nullopt);
}

TEST(Config, DefaultPathFollowsTheBaseDirectoryRules) {
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string xdg = saved_xdg ? saved_xdg : "";
  ::setenv("HOME", std::getenv("HOME") ? std::getenv("HOME") : "/home/u", 1);
  const std::string home = std::getenv("HOME");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(default_config_path(), "/cfg/sharelink/config.toml");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(default_config_path(), home + "/.config/sharelink/config.toml");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(default_config_path(), home + "/.config/sharelink/config.toml");
  if (saved_xdg) ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
}

}  // namespace
}  // namespace sharelink::cli
