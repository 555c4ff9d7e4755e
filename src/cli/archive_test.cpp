// The download archive, --check and --md5sums, and aria2 over RPC: the built
// command in its own processes against servers on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "cli/archive.h"
#include "download/md5.h"
#include "runtime/fetch.h"
#include "testing/loopback_server.h"
#include "testing/test_folder.h"

extern char** environ;

namespace sharelink::cli {
namespace {

using namespace std::chrono_literals;
using sharelink::testing::loopback_server;
using sharelink::testing::test_folder;

struct pan_file {
  std::string name, url, md5;
  std::size_t size = 0;
};

// A Pan share page listing `files`, written as the service writes it.
std::string pan_page(const std::vector<pan_file>& files) {
  std::string list;
  for (const pan_file& f : files) {
    std::string dlink;
    for (char c : f.url) dlink += c == '/' ? std::string(R"(\\/)") : std::string(1, c);
    list += (list.empty() ? "" : ",") + std::string(R"({\"server_filename\":\")") + f.name + R"(\",\"size\":\")" +
            std::to_string(f.size) + R"(\",\"md5\":\")" + f.md5 + R"(\",\"dlink\":\")" + dlink + R"(\"})";
  }
  return R"(<script>yunData.setData(JSON.parse("{\"file_list\":{\"errno\":0,\"list\":[)" + list + R"(]}}"));</script>)";
}

// Starts the command with `args`, its output and errors to files; it reads no
// configuration file unless `with_config`.
pid_t start(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            bool with_config = false) {
  std::vector<std::string> text{SHARELINK_BINARY};
  if (!with_config) text.push_back("--no-config");
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct ran {
  int status = -1;
  std::string out, err;
};

ran run(const test_folder& folder, const std::vector<std::string>& args, bool with_config = false) {
  ran r;
  r.status = wait_for(start(args, folder / "stdout", folder / "stderr", with_config));
  r.out = test_folder::read(folder / "stdout");
  r.err = test_folder::read(folder / "stderr");
  return r;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

std::size_t count_lines_starting(const std::string& text, const std::string& start) {
  std::size_t n = 0;
  for (const std::string& line : lines(text)) n += line.starts_with(start);
  return n;
}

// Serves /file/<n> (`size(n)` bytes of n's own) and counts what it served.
struct file_server {
  loopback_server server;
  std::atomic<int> served{0};
  std::function<std::size_t(int)> size = [](int) { return std::size_t{100}; };

  static std::string content(int n, std::size_t size) { return std::string(size, static_cast<char>('a' + n % 26)); }

  file_server() {
    server.http().Get(R"(/file/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      ++served;
      const int n = std::stoi(req.matches[1]);
      res.set_content(content(n, size(n)), "application/octet-stream");
    });
  }
  // File n, named `name` (the Pan page takes the name from its address).
  pan_file file(int n, std::string name = {}) {
    const std::size_t bytes = size(n);
    if (name.empty()) name = "f" + std::to_string(n) + ".bin";
    return {name, server.url("/file/" + std::to_string(n) + "?filename=" + name), md5_hex(content(n, bytes)), bytes};
  }
  /// Serves at `path` the page that `files` gives when asked (the addresses need
  /// the server's port).
  void serve_page(const std::string& path, std::function<std::vector<pan_file>()> files) {
    server.http().Get(path, [files](const httplib::Request&, httplib::Response& res) {
      res.set_content(pan_page(files()), "text/html");
    });
  }
  void serve_page(const std::string& path, int first, int count) {
    serve_page(path, [this, first, count] {
      std::vector<pan_file> files;
      for (int n = first; n < first + count; ++n) files.push_back(file(n));
      return files;
    });
  }
};

TEST(DownloadArchive, RefusesAFileNotItsOwnAndBringsAnOlderOneUpToDate) {
  test_folder folder;
  const auto database = [&](const std::string& name, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open((folder / name).c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return folder / name;
  };
  test_folder::write(folder / "text", "not a database, though long enough to have a header of sorts\n");
  test_folder::write(folder / "empty", "");
  const struct {
    std::string path;
    const char* refusal;  ///< nullptr: opened
  } cases[] = {
      {folder / "text", "not an SQLite database"},
      {database("other", "CREATE TABLE t(x)"), "an SQLite database of another program"},
      {database("newer", "PRAGMA application_id = 1936223339; PRAGMA user_version = 2"), "written by a newer sharelink"},
      {database("older", "PRAGMA application_id = 1936223339"), nullptr},
      {folder / "empty", nullptr},
      {folder / "new", nullptr},
      {folder / "no-such-folder/new", "cannot open the archive"},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto archive = download_archive::open(c.path, false, nullptr, error);
    if (!c.refusal) {
      ASSERT_TRUE(archive) << c.path << ": " << error;
      archived_file f{"pan", "https://s/1", "", "a.bin", 5, ""};
      EXPECT_FALSE(archive->find(f));
      EXPECT_FALSE(archive->record(f, "/d/a.bin", "saved"));
      EXPECT_EQ(archive->find(f), "/d/a.bin");
      f.size = 6;  // a new version
      EXPECT_FALSE(archive->find(f)) << c.path;
    } else {
      EXPECT_FALSE(archive) << c.path;
      EXPECT_TRUE(error.starts_with(c.path + ": ")) << error;
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
  }
  // Read-only, as --list-archive opens it: nothing is made.
  std::string error;
  EXPECT_FALSE(download_archive::open(folder / "missing", true, nullptr, error));
  EXPECT_FALSE(test_folder::exists(folder / "missing"));
}

// Two runs on one archive at once, 16 downloads each: every file gets its row; a
// second pass fetches nothing; a file whose size changed comes again under a new
// name; --aria2 leaves out what the archive holds; --list-archive shows it all.
TEST(DownloadArchive, KeepsEveryRowOfRunsAtOnceAndPassesOverWhatItHolds) {
  file_server files;
  files.serve_page("/share/a", 0, 60);
  files.serve_page("/share/b", 100, 60);
  std::atomic<bool> grown{false};
  files.size = [&](int n) { return n == 0 && grown ? std::size_t{150} : std::size_t{100}; };
  files.server.start();
  test_folder folder;
  const std::string archive = folder / "archive.sqlite";
  const auto both_at_once = [&] {
    std::vector<std::string> common = {"--download", "--jobs", "16", "--archive", archive, "--output-dir"};
    std::vector<std::string> a = common, b = common;
    a.insert(a.end(), {folder / "a", files.server.url("/share/a")});
    b.insert(b.end(), {folder / "b", files.server.url("/share/b")});
    const pid_t pa = start(a, folder / "a.out", folder / "a.err");
    const pid_t pb = start(b, folder / "b.out", folder / "b.err");
    EXPECT_EQ(wait_for(pa), 0) << test_folder::read(folder / "a.err");
    EXPECT_EQ(wait_for(pb), 0) << test_folder::read(folder / "b.err");
    return test_folder::read(folder / "a.out") + test_folder::read(folder / "b.out");
  };
  const std::string first = both_at_once();
  EXPECT_EQ(count_lines_starting(first, "saved: "), 120u) << first;
  EXPECT_EQ(files.served.load(), 120);
  const ran listed = run(folder, {"--archive", archive, "--list-archive"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::set<std::string> paths;
  for (const std::string& line : lines(listed.out)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 9u) << line;
    EXPECT_EQ(fields[1], "saved");
    EXPECT_EQ(fields[2], "pan");
    EXPECT_EQ(fields[6], "100");
    EXPECT_TRUE(std::filesystem::path(fields[8]).is_absolute()) << line;
    paths.insert(fields[8]);
  }
  EXPECT_EQ(paths.size(), 120u);

  const std::string second = both_at_once();
  EXPECT_EQ(count_lines_starting(second, "in archive: "), 120u) << second;
  EXPECT_EQ(files.served.load(), 120);
  const ran aria2 = run(folder, {"--aria2", "--archive", archive, files.server.url("/share/a"),
                                 files.server.url("/share/b"), files.server.url("/share/c-unknown")});
  EXPECT_EQ(aria2.out, "") << aria2.out;

  grown = true;
  const ran again = run(folder, {"--download", "--json", "--archive", archive, "--output-dir", folder / "a",
                                 files.server.url("/share/a")});
  EXPECT_EQ(again.status, 0) << again.err;
  const nlohmann::json result = nlohmann::json::parse(again.out);
  EXPECT_EQ(result["files"][0]["download"]["result"], "saved");
  EXPECT_EQ(result["files"][0]["download"]["path"], folder / "a/f0 (1).bin");
  EXPECT_EQ(result["files"][1]["download"]["result"], "in archive");
  const ran json = run(folder, {"--archive", archive, "--list-archive", "--json"});
  const std::vector<std::string> rows = lines(json.out);
  ASSERT_EQ(rows.size(), 121u);
  const nlohmann::json last = nlohmann::json::parse(rows.back());
  EXPECT_EQ(last["size"], 150);
  EXPECT_EQ(last["path"], "f0.bin");
  EXPECT_TRUE(last["file_id"].is_null());
}

// A run killed while a file is on its way leaves rows for the files that were
// whole, none for that one; the next run saves it and writes its row.
TEST(DownloadArchive, AKilledRunLeavesNoRowForAFileNotWhole) {
  file_server files;
  std::atomic<bool> hold{true};
  std::atomic<int> held{0};
  files.server.http().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "application/octet-stream", [&](std::size_t offset, std::size_t, httplib::DataSink& sink) {
      if (offset == 0) {
        sink.write(std::string(500, 's').data(), 500);
        ++held;
        return true;
      }
      for (int i = 0; i < 500 && hold; ++i) std::this_thread::sleep_for(10ms);
      sink.write(std::string(1000 - offset, 's').data(), 1000 - offset);
      return true;
    });
  });
  files.serve_page("/share/k", [&] {
    return std::vector<pan_file>{files.file(0), {"slow.bin", files.server.url("/slow?filename=slow.bin"), "", 1000}};
  });
  files.server.start();
  test_folder folder;
  const std::string archive = folder / "archive.sqlite";
  const std::vector<std::string> args = {"--download", "--jobs", "1", "--archive", archive, "--output-dir",
                                         folder / "out", files.server.url("/share/k")};
  const pid_t pid = start(args, folder / "out1", folder / "err1");
  for (int i = 0; i < 1000 && held == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(held.load(), 1);
  kill(pid, SIGKILL);
  wait_for(pid);
  hold = false;
  const auto rows = [&] { return lines(run(folder, {"--archive", archive, "--list-archive"}).out); };
  ASSERT_EQ(rows().size(), 1u);
  EXPECT_NE(rows()[0].find("\tf0.bin\t"), std::string::npos) << rows()[0];
  const ran second = run(folder, args);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("in archive: "), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("saved: "), std::string::npos) << second.out;
  EXPECT_EQ(rows().size(), 2u);
}

// --check names the files as --download saves them (two of one name included) and
// tells each missing, differing or whole; --md5sums writes what md5sum -c checks.
TEST(CheckAndMd5sums, TellWhatTheFolderHoldsAgainstThePage) {
  file_server files;
  // Two files of one name.
  const auto listing = [&] {
    return std::vector<pan_file>{files.file(0), files.file(1, "f0.bin"), files.file(2), files.file(3)};
  };
  files.serve_page("/share/c", listing);
  files.server.start();
  const std::vector<pan_file> listed = listing();
  test_folder folder;
  const std::string out = folder / "out", share = files.server.url("/share/c");
  ASSERT_EQ(run(folder, {"--download", "--output-dir", out, share}).status, 0);
  const ran sums = run(folder, {"--md5sums", share});
  EXPECT_EQ(sums.status, 0) << sums.err;
  test_folder::write(folder / "MD5SUMS", sums.out);
  EXPECT_EQ(lines(sums.out).size(), 4u) << sums.out;
  EXPECT_NE(sums.out.find(listed[1].md5 + "  f0 (1).bin\n"), std::string::npos) << sums.out;
  const std::string md5sum = "cd '" + out + "' && md5sum --quiet -c '" + (folder / "MD5SUMS") + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(md5sum.c_str()), 0);

  const ran whole = run(folder, {"--check", "--output-dir", out, share});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(count_lines_starting(whole.out, "whole: "), 4u) << whole.out;

  std::filesystem::remove(out + "/f0.bin");
  test_folder::write(out + "/f0 (1).bin", "short");
  test_folder::write(out + "/f2.bin", std::string(100, '?'));
  const ran bad = run(folder, {"--check", "--output-dir", out, share});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "missing: " + out + "/f0.bin\n" + "size differs: " + out +
                         "/f0 (1).bin (5 bytes, the page states 100)\n" + "MD5 differs: " + out +
                         "/f2.bin (the file's is " + md5_hex(std::string(100, '?')) + ", the page states " +
                         listed[2].md5 + ")\n" + "whole: " + out + "/f3.bin (100 bytes, MD5 matched)\n");
  EXPECT_EQ(lines(bad.err).size(), 1u) << bad.err;
  EXPECT_NE(std::system(md5sum.c_str()), 0);
  EXPECT_EQ(files.served.load(), 4);
}

// aria2c with its RPC interface on a port of 127.0.0.1, ended by its PID.
class aria2_daemon {
 public:
  aria2_daemon(const std::string& dir, const std::string& secret) {
    // A port nothing listens on now.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    close(probe);
    std::vector<std::string> text = {"aria2c", "--enable-rpc", "--rpc-listen-port=" + std::to_string(port_),
                                     "--rpc-secret=" + secret, "--dir=" + dir, "--quiet", "--no-conf",
                                     "--rpc-listen-all=false", "--check-certificate=false"};
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "aria2c", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Listening within five seconds.
    for (int i = 0; i < 100 && pid_ > 0 && !listening(); ++i) std::this_thread::sleep_for(50ms);
  }
  ~aria2_daemon() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      wait_for(pid_);
    }
  }
  bool listening() const {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return connected;
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/jsonrpc"; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// The files aria2 takes over RPC arrive whole and checked, asked for with the
// referer, user agent and cookie the server requires; a wrong secret or no aria2
// is one error line and exit status 1, and the secret is printed nowhere.
TEST(Aria2Rpc, FilesArriveWholeWithTheHeadersTheServerRequires) {
  if (std::system("command -v aria2c >/dev/null") != 0) GTEST_SKIP() << "no aria2c";
  file_server files;
  const std::string share_path = "/share/r";
  std::atomic<int> refused{0};
  files.server.http().set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
    if (!req.path.starts_with("/file/")) return httplib::Server::HandlerResponse::Unhandled;
    if (req.get_header_value("Referer") != files.server.url(share_path) ||
        req.get_header_value("User-Agent") != fetch_user_agent || req.get_header_value("Cookie") != "sid=42") {
      ++refused;
      res.status = 403;
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  files.server.http().Get(share_path, [&](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "sid=42; Path=/");
    std::vector<pan_file> listed = {files.file(0), files.file(1, "f0.bin"), files.file(2)};
    res.set_content(pan_page(listed), "text/html");
  });
  files.server.start();
  test_folder folder;
  const std::string secret = "s3cr3t-token";
  aria2_daemon aria2(folder.path(), secret);
  ASSERT_TRUE(aria2.listening());
  const std::string share = files.server.url(share_path);

  const ran sent = run(folder, {"--json", "--aria2-rpc", aria2.url(), "--aria2-secret", secret, "--output-dir",
                                folder / "got", share});
  EXPECT_EQ(sent.status, 0) << sent.err;
  const nlohmann::json result = nlohmann::json::parse(sent.out);
  std::set<std::string> gids;
  for (const auto& f : result["files"]) gids.insert(f.value("aria2_gid", ""));
  EXPECT_EQ(gids.size(), 3u) << sent.out;
  EXPECT_FALSE(gids.contains(""));
  const std::vector<std::string> names = {"f0.bin", "f0 (1).bin", "f2.bin"};
  const auto arrived = [&] {
    for (const std::string& name : names)
      if (!test_folder::exists(folder / ("got/" + name)) || test_folder::exists(folder / ("got/" + name + ".aria2")))
        return false;
    return true;
  };
  for (int i = 0; i < 200 && !arrived(); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(arrived());
  for (int n : {0, 1, 2})
    EXPECT_EQ(md5_hex(test_folder::read(folder / ("got/" + names[static_cast<std::size_t>(n)]))), files.file(n).md5);
  EXPECT_EQ(refused.load(), 0);

  const ran wrong = run(folder, {"--aria2-rpc", aria2.url(), "--aria2-secret", "wrong", share});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(lines(wrong.err).size(), 1u) << wrong.err;
  EXPECT_NE(wrong.err.find("Unauthorized"), std::string::npos) << wrong.err;
  const ran unreachable = run(folder, {"--aria2-rpc", "http://127.0.0.1:1/jsonrpc", "--aria2-secret", secret, share});
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_EQ(lines(unreachable.err).size(), 1u) << unreachable.err;
  const ran help = run(folder, {"--help"});

  // The configuration file's aria2 takes the files of a run that asks for
  // nothing else; the archive keeps them from going twice.
  std::filesystem::create_directories(folder / "xdg/sharelink");
  test_folder::write(folder / "xdg/sharelink/config.toml",
                     "aria2_rpc = \"" + aria2.url() + "\"\naria2_secret = \"" + secret + "\"\n");
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string saved_value = saved ? saved : "";
  setenv("XDG_CONFIG_HOME", (folder / "xdg").c_str(), 1);
  const std::string archive = folder / "archive.sqlite";
  ASSERT_EQ(run(folder, {"--download", "--archive", archive, "--output-dir", folder / "saved", share}, true).status, 0);
  const ran configured = run(folder, {"--archive", archive, share}, true);
  if (saved) setenv("XDG_CONFIG_HOME", saved_value.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(configured.status, 0) << configured.err;
  EXPECT_EQ(count_lines_starting(configured.out, "in archive: "), 3u) << configured.out;
  for (const ran& r : {sent, wrong, unreachable, help, configured})
    EXPECT_EQ((r.out + r.err).find(secret), std::string::npos) << r.out << r.err;
}

}  // namespace
}  // namespace sharelink::cli
