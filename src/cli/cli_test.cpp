// The sharelink command end to end: the built program in its own process, against
// pages served on 127.0.0.1.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/fetch.h"
#include "testing/built_in_reading.h"
#include "testing/command_run.h"
#include "testing/loopback_server.h"
#include "testing/raw_server.h"
#include "testing/test_folder.h"
#include <sharelink/version.h>

extern char** environ;

namespace sharelink::cli {
namespace {

using testing::read_built_in;

struct finished {
  int status = -1;  ///< exit status, or -1 when the program did not exit normally
  bool signalled = false;
  std::string out, err;
};

struct spawn_settings {
  std::string input;
  bool close_stdout = false;  ///< the reading end of stdout is closed before the program writes
  std::function<void(pid_t)> started = nullptr;  ///< called with the program's pid once it runs
  /// Standard input and standard error are a terminal where the user ends the input at once.
  bool terminal_input = false;
  /// When set, the program (a full path) and its first arguments that run the
  /// command, its path and arguments following them (setpriv, to run as another user).
  std::vector<std::string> launcher = {};
};

// Runs the sharelink binary with `args`, feeding it `input` and collecting both
// output streams.
finished run_sharelink(const std::vector<std::string>& args, const spawn_settings& settings = {}) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int terminal = -1, terminal_end = -1;
  if (settings.terminal_input && openpty(&terminal, &terminal_end, nullptr, nullptr, nullptr) == 0) {
    // Line ends as written, without the CR a terminal puts before each.
    termios mode{};
    tcgetattr(terminal_end, &mode);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(terminal_end, TCSANOW, &mode);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    fcntl(terminal_end, F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, terminal_end, 0);
    posix_spawn_file_actions_adddup2(&actions, terminal_end, 2);
  } else {
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  if (terminal < 0) posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  std::vector<std::string> argv_text = settings.launcher;
  argv_text.push_back(SHARELINK_BINARY);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  if (settings.close_stdout) close(out_pipe[0]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv_text[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (terminal >= 0) {
    // The end-of-file key of a terminal in its usual (canonical) mode, pressed a
    // moment later, as a user would: long enough for a progress line to be drawn.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (write(terminal, "\x04", 1) != 1) ADD_FAILURE() << "cannot write to the terminal";
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << SHARELINK_BINARY;
    return {};
  }

  if (settings.started) settings.started(pid);
  finished result;
  std::size_t written = 0;
  int in_fd = in_pipe[1];
  int out_fd = settings.close_stdout ? -1 : out_pipe[0];
  int err_fd = err_pipe[0];
  if (settings.input.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  while (in_fd >= 0 || out_fd >= 0 || err_fd >= 0) {
    std::vector<pollfd> fds;
    if (in_fd >= 0) fds.push_back({in_fd, POLLOUT, 0});
    if (out_fd >= 0) fds.push_back({out_fd, POLLIN, 0});
    if (err_fd >= 0) fds.push_back({err_fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == in_fd) {
        const ssize_t n = write(in_fd, settings.input.data() + written, settings.input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n < 0 || written == settings.input.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(p.fd, buffer, sizeof buffer);
      std::string& sink = p.fd == out_fd ? result.out : result.err;
      if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
      } else {
        close(p.fd);
        (p.fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (terminal >= 0) {
    // What the program wrote to the terminal; the terminal stays open until it is
    // read, as closing it could drop what was not yet passed on.
    char buffer[4096];
    pollfd p{terminal, POLLIN, 0};
    while (poll(&p, 1, 200) > 0) {
      const ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n <= 0) break;
      result.err.append(buffer, static_cast<std::size_t>(n));
    }
    close(terminal_end);
    close(terminal);
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.signalled = WIFSIGNALED(status);
  return result;
}

using testing::json_lines;

// The command's sample pages hold the least a page of each service needs, in UTF-8;
// the full pages the resolvers read are in src/resolve/testdata.
std::string page(const char* name) { return testing::read_source_file(std::string("src/cli/testdata/") + name); }
std::string page_path(const char* name) {
  return std::string(SHARELINK_SOURCE_DIR) + "/src/cli/testdata/" + name;
}

// The page as the command reads it.
page_reading expected_reading(bool kuaichuan, const std::string& page_text) {
  return read_built_in(kuaichuan ? "kuaichuan" : "pan", page_text);
}

// The five fields of the resolver for `page_text`, as the command prints them.
resolved_file expected_fields(bool kuaichuan, const std::string& page_text) {
  return shown_fields(expected_reading(kuaichuan, page_text).fields);
}

// The object the command prints for a page read without error, as the page reading
// and the fetcher of this build give it.
nlohmann::json expected_json(const std::string& address, bool kuaichuan, const std::string& page_text) {
  const page_reading reading = expected_reading(kuaichuan, page_text);
  const long status = fetch_page_reporting(address).status;
  const auto fields = [](const file_record& r) {
    return nlohmann::json{{"download_url", r.download_url},
                          {"file_name", r.file_name},
                          {"file_type", r.file_type},
                          {"extension", r.extension},
                          {"size", r.size},
                          {"size_bytes", r.size_bytes ? nlohmann::json(*r.size_bytes) : nlohmann::json(nullptr)},
                          {"md5", r.md5}};
  };
  nlohmann::json files = nlohmann::json::array();
  for (const file_record& r : reading.files) {
    nlohmann::json file = fields(r);
    file["folder"] = r.folder;
    files.push_back(std::move(file));
  }
  nlohmann::json object = {{"address", address},
                           {"service", kuaichuan ? "kuaichuan" : "pan"},
                           {"http_status", status ? nlohmann::json(status) : nlohmann::json(nullptr)}};
  object.update(fields(reading.fields));
  object["files"] = files;
  object["error"] = nullptr;
  object["error_kind"] = nullptr;
  return object;
}

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A port on 127.0.0.1 on which nothing listens.
int closed_port() {
  testing::loopback_server server;
  server.start();
  const int port = server.port();
  server.stop();
  return port;
}

class SharelinkCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.serve("/d/ABCDEFGHIJKL", page("kuaichuan_minimal.html"));
    server_.serve("/share/link", page("pan_minimal.html"));
    server_.serve("/d/EMPTY", "<html><body>gone</body></html>");
    server_.start();
  }
  std::string kuaichuan_url() const { return server_.url("/d/ABCDEFGHIJKL"); }
  std::string pan_url() const { return server_.url("/share/link?shareid=1&uk=2"); }

  testing::loopback_server server_;
};

TEST_F(SharelinkCommand, PrintsTheFieldsUnderTheWindowLabels) {
  const finished run = run_sharelink({kuaichuan_url(), pan_url()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const resolved_file k = expected_fields(true, page("kuaichuan_minimal.html"));
  const resolved_file p = expected_fields(false, page("pan_minimal.html"));
  EXPECT_EQ(run.out, "文件名称：" + k.file_name + "\n文件扩展名：" + k.file_type + "\n文件大小：" + k.size +
                         "\n文件MD5值：" + k.md5 + "\n下载地址：" + k.download_url + "\n\n" +
                         "文件名称：" + p.file_name + "\n文件扩展名：" + p.file_type + "\n文件大小：" + p.size +
                         "\n文件MD5值：" + p.md5 + "\n下载地址：" + p.download_url + "\n");
  // The sample pages hold these values; the decoded names arrive as UTF-8.
  EXPECT_NE(run.out.find("文件名称：测试文件.zip\n"), std::string::npos);
  EXPECT_NE(run.out.find("文件大小：1MB\n"), std::string::npos);
  EXPECT_NE(run.out.find("下载地址：http://dl.example.com/files/report.zip?t=1\n"), std::string::npos);
  EXPECT_NE(run.out.find("文件名称：测试.txt\n"), std::string::npos);
  EXPECT_NE(run.out.find("文件大小：1.5KB\n"), std::string::npos);
  EXPECT_NE(run.out.find("下载地址：http://d.pcs.example.com/file/abc?fid=1&filename=%E6%B5%8B%E8%AF%95.txt\n"),
            std::string::npos);
}

TEST_F(SharelinkCommand, JsonGivesOneObjectPerAddressAndLine) {
  const finished run = run_sharelink({"--json", pan_url(), kuaichuan_url()});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0], expected_json(pan_url(), false, page("pan_minimal.html")));
  EXPECT_EQ(objects[1], expected_json(kuaichuan_url(), true, page("kuaichuan_minimal.html")));
  EXPECT_EQ(objects[0]["md5"], "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(objects[1]["service"], "kuaichuan");
  EXPECT_EQ(objects[1]["file_name"], "测试文件.zip");
  EXPECT_EQ(objects[1]["md5"], "0123456789abcdef0123456789ABCDEF");
}

TEST_F(SharelinkCommand, ReadsAddressesFromStandardInput) {
  const std::string input = "\xEF\xBB\xBF" + kuaichuan_url() + "\r\n\n   \n  " + pan_url() +
                            "  \nhttp://127.0.0.1/somewhere/else\n" + server_.url("/d/EMPTY");
  const finished run = run_sharelink({"--json"}, {input});
  EXPECT_EQ(run.status, 1);
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_EQ(objects[0]["address"], kuaichuan_url());
  EXPECT_EQ(objects[0]["file_name"], "测试文件.zip");
  EXPECT_EQ(objects[1]["address"], pan_url());
  EXPECT_EQ(objects[1]["size"], "1.5KB");
  // An address that names neither service is an error of its own, and the rest go on.
  EXPECT_EQ(objects[2]["service"], "");
  EXPECT_TRUE(objects[2]["error"].is_string());
  EXPECT_EQ(objects[2]["size"], "0B");
  // A page without a download address is no answer either.
  EXPECT_EQ(objects[3]["error"], "the page holds no download address");
  EXPECT_EQ(objects[3]["download_url"], "");
  // One line on standard error for each of the two.
  EXPECT_EQ(line_count(run.err), 2u) << run.err;
  EXPECT_NE(run.err.find("http://127.0.0.1/somewhere/else: cannot tell the service"), std::string::npos);
  EXPECT_NE(run.err.find("/d/EMPTY: the page holds no download address"), std::string::npos);

  // Input that cannot be read to its end (here a line no address is as long as) is
  // no list read whole: what came before it is answered, and the exit status tells.
  const finished cut = run_sharelink({"--json"}, {kuaichuan_url() + "\n" + std::string(1024 * 1024 + 1, 'x')});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(json_lines(cut.out).size(), 1u);
  EXPECT_EQ(cut.err, "sharelink: cannot read standard input: a line is longer than 1048576 bytes\n");
  // UTF-16 text would give a wrong address on every line: refused, saying why.
  const finished utf16 = run_sharelink({"--json"}, {std::string("\xFF\xFEh\0t\0\n\0", 8)});
  EXPECT_EQ(utf16.status, 1);
  EXPECT_EQ(utf16.out, "");
  EXPECT_EQ(utf16.err, "sharelink: cannot read standard input: it is UTF-16 text; save it as UTF-8\n");
}

TEST_F(SharelinkCommand, ServiceOptionOverridesThePath) {
  server_.http().Get("/elsewhere", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(page("pan_minimal.html"), "text/html");
  });
  const finished run = run_sharelink({"--json", "--proxy", "", "--service", "pan", server_.url("/elsewhere")});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["service"], "pan");
  EXPECT_EQ(objects[0]["md5"], "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(SharelinkCommand, Aria2ListsTheFilesOfEachPage) {
  const finished run = run_sharelink({"--aria2", kuaichuan_url(), server_.url("/d/EMPTY"), pan_url()});
  EXPECT_EQ(run.status, 1) << run.err;
  // The page without a download address is left out, and said so.
  EXPECT_NE(run.err.find("/d/EMPTY: the page holds no download address"), std::string::npos) << run.err;
  const page_reading pan = read_built_in("pan", page("pan_minimal.html"));
  if (pan.files.empty()) GTEST_SKIP() << "this build's page reading lists no files";
  // Only the Pan record's own md5 key gives a checksum; a Kuaichuan key is no hash.
  const std::string pan_entry = "http://d.pcs.example.com/file/abc?fid=1&filename=%E6%B5%8B%E8%AF%95.txt\n"
                                "  out=测试.txt\n  referer=" + pan_url() +
                                "\n  user-agent=Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\n"
                                "  checksum=md5=d41d8cd98f00b204e9800998ecf8427e\n";
  ASSERT_TRUE(run.out.ends_with(pan_entry)) << run.out;
  const std::string kuaichuan_part = run.out.substr(0, run.out.size() - pan_entry.size());
  EXPECT_TRUE(kuaichuan_part.starts_with("http://dl.example.com/files/report.zip?t=1\n")) << run.out;
  EXPECT_EQ(kuaichuan_part.find("checksum="), std::string::npos) << run.out;
}

TEST_F(SharelinkCommand, AllGivesABlockPerFile) {
  const std::string several = testing::read_source_file("src/resolve/testdata/pan_several.html");
  testing::loopback_server server;
  server.serve("/share/several", several);
  server.start();
  const finished run = run_sharelink({"--all", server.url("/share/several"), pan_url()});
  EXPECT_EQ(run.status, 0) << run.err;
  const page_reading reading = read_built_in("pan", several);
  if (reading.files.size() < 2) GTEST_SKIP() << "this build's page reading lists no files";
  std::string blocks;
  for (const file_record& f : reading.files)
    blocks += "文件名称：" + f.file_name + "\n文件扩展名：" + f.file_type +
              "\n文件大小：" + f.size + "\n文件MD5值：" + f.md5 +
              "\n下载地址：" + f.download_url + "\n\n";
  EXPECT_TRUE(run.out.starts_with(blocks)) << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 6 * static_cast<long>(reading.files.size() + 1) - 1);
}

TEST(SharelinkPage, ParsesASavedPageInsteadOfFetching) {
  const finished run = run_sharelink({"--page", page_path("pan_minimal.html"), "--service", "pan", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["file_name"], "测试.txt");
  EXPECT_EQ(objects[0]["download_url"], "http://d.pcs.example.com/file/abc?fid=1&filename=%E6%B5%8B%E8%AF%95.txt");
  EXPECT_TRUE(objects[0]["error"].is_null());

  const finished piped = run_sharelink({"--page", "-", "--service", "kuaichuan"}, {page("kuaichuan_minimal.html")});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_NE(piped.out.find("文件名称：测试文件.zip\n"), std::string::npos);

  // A file that cannot be read gives no result, only the reason.
  for (const char* form : {"--json", "--aria2", "--all"}) {
    const finished missing = run_sharelink({"--page", page_path("no_such_page.html"), "--service", "pan", form});
    EXPECT_EQ(missing.status, 1) << form;
    EXPECT_EQ(missing.out, "") << form;
    EXPECT_EQ(line_count(missing.err), 1u) << missing.err;
    EXPECT_NE(missing.err.find("no_such_page.html: No such file"), std::string::npos) << missing.err;
  }

  // A page without a download address is an error in every form.
  for (const char* form : {"--json", "--aria2", "--all"}) {
    const finished empty = run_sharelink({"--page", "-", "--service", "pan", form}, {"<html>nothing</html>"});
    EXPECT_EQ(empty.status, 1) << form;
    EXPECT_EQ(line_count(empty.err), 1u) << empty.err;
    EXPECT_NE(empty.err.find("the page holds no download address"), std::string::npos) << empty.err;
  }

  // A saved page is read as far as a fetched one, 8 MiB, and past that is cut short
  // with its fields still shown; a page of exactly that size is whole.
  const std::string whole = page("kuaichuan_minimal.html") + std::string(8 * 1024 * 1024 - page("kuaichuan_minimal.html").size(), ' ');
  const std::filesystem::path saved = std::filesystem::temp_directory_path() /
                                      ("sharelink-cli-page-" + std::to_string(getpid()) + ".html");
  for (const std::string& text : {whole, whole + "x"}) {
    std::ofstream(saved, std::ios::binary) << text;
    for (const std::string& from : {std::string("-"), saved.string()}) {
      spawn_settings settings;
      if (from == "-") settings.input = text;
      const finished big = run_sharelink({"--page", from, "--service", "kuaichuan", "--json"}, settings);
      const auto objects = json_lines(big.out);
      ASSERT_EQ(objects.size(), 1u) << from;
      EXPECT_EQ(objects[0]["file_name"], "测试文件.zip") << from;
      if (text.size() == whole.size()) {
        EXPECT_EQ(big.status, 0) << from << big.err;
      } else {
        EXPECT_EQ(big.status, 1) << from;
        EXPECT_EQ(objects[0]["error"], "the page is larger than 8388608 bytes; stopped there") << from;
      }
    }
  }
  std::filesystem::remove(saved);

  // A page listing more files than are read says so, and feeds no downloader.
  std::string many;
  for (int i = 0; i <= 10000; ++i) many += "<a file_url=\"http://h/" + std::to_string(i) + "\" file_size=\"1\">";
  for (const char* form : {"--json", "--aria2"}) {
    const finished listed = run_sharelink({"--page", "-", "--service", "kuaichuan", form}, {many});
    EXPECT_EQ(listed.status, 1) << form;
    EXPECT_EQ(listed.err, "sharelink: (no address): the page lists more than 10000 files; the rest are left out\n");
    if (std::string(form) == "--json") {
      EXPECT_EQ(json_lines(listed.out).at(0)["files"].size(), 10000u);
    }
  }
}

TEST(SharelinkFailures, RefusedConnectionIsReportedAndCounted) {
  const std::string address = "http://127.0.0.1:" + std::to_string(closed_port()) + "/d/ABCDEFGHIJKL";
  const finished run = run_sharelink({"--json", address});
  EXPECT_EQ(run.status, 1);
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["service"], "kuaichuan");
  EXPECT_TRUE(objects[0]["error"].is_string());
  EXPECT_NE(objects[0]["error"], "");
  EXPECT_EQ(objects[0]["download_url"], "");
  EXPECT_EQ(objects[0]["file_name"], "");
  EXPECT_EQ(objects[0]["size"], "0B");
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

  // Labelled output keeps one block per address, so blocks and addresses stay paired.
  const finished labelled = run_sharelink({address, "ftp://127.0.0.1/d/X"});
  EXPECT_EQ(labelled.status, 1);
  EXPECT_EQ(labelled.out, std::string("文件名称：\n文件扩展名：\n文件大小：0B\n文件MD5值：\n下载地址：\n") + "\n" +
                              "文件名称：\n文件扩展名：\n文件大小：0B\n文件MD5值：\n下载地址：\n");
  EXPECT_EQ(std::count(labelled.err.begin(), labelled.err.end(), '\n'), 2) << labelled.err;
}

TEST(SharelinkFailures, ShortTimeoutGivesUpOnAStalledServer) {
  std::mutex mutex;
  std::condition_variable released;
  bool done = false;
  testing::loopback_server server;
  server.http().Get("/d/SLOW", [&](const httplib::Request&, httplib::Response& res) {
    std::unique_lock lock(mutex);
    released.wait_for(lock, std::chrono::seconds(30), [&] { return done; });
    res.set_content(page("kuaichuan_minimal.html"), "text/html");
  });
  server.start();
  const finished run = run_sharelink({"--json", "--timeout", "0.3", server.url("/d/SLOW")});
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  released.notify_all();
  EXPECT_EQ(run.status, 1);
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_TRUE(objects[0]["error"].is_string());
}

TEST(SharelinkUsage, BadCommandLinesExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--json", "--aria2", "http://h/d/X"},
      {"--timeout", "0", "http://h/d/X"},
      {"--timeout=-1", "http://h/d/X"},
      {"--timeout", "abc", "http://h/d/X"},
      {"--timeout", "inf", "http://h/d/X"},
      {"--timeout", "nan", "http://h/d/X"},
      {"--timeout", "1s", "http://h/d/X"},
      {"--timeout"},
      {"--service", "other", "http://h/d/X"},
      {"--page", "page.html"},
      {"--page", "page.html", "--service", "pan", "http://h/share/x"},
      {"--no-such-option"},
      {"--jobs", "0", "http://h/d/X"},
      {"--jobs", "-3", "http://h/d/X"},
      {"--jobs", "many", "http://h/d/X"},
      {"--retries", "11", "http://h/d/X"},
      {"--retries", "-1", "http://h/d/X"},
      {"--download", "--aria2", "http://h/d/X"},
      {"--output-dir", "d", "http://h/d/X"},
      {"--all", "--json", "http://h/d/X"},
      {"--proxy"},
      {"--check", "--download", "http://h/d/X"},
      {"--md5sums", "--json", "http://h/d/X"},
      {"--aria2-rpc", "http://127.0.0.1:1/jsonrpc", "--aria2", "http://h/d/X"},
      {"--aria2-rpc", "ftp://127.0.0.1/jsonrpc", "http://h/d/X"},
      {"--aria2-secret", "s", "http://h/d/X"},
      {"--list-archive"},
      {"--archive", "a.sqlite", "--list-archive", "http://h/d/X"},
      {"--password", "", "http://h/d/X"},
      {"--password", "a\nb", "http://h/d/X"},
  };
  for (const auto& args : bad) {
    const finished run = run_sharelink(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_NE(run.err, "") << shown;
  }
}

TEST(SharelinkUsage, ProxyOptionReachesTheFetcher) {
  testing::loopback_server server;
  server.serve("/d/K", page("kuaichuan_minimal.html"));
  server.start();
  const std::string no_proxy_there = "http://127.0.0.1:" + std::to_string(closed_port());
  EXPECT_EQ(run_sharelink({"--proxy", no_proxy_there, server.url("/d/K")}).status, 1);
  // '' goes straight to the server whatever the environment says.
  setenv("http_proxy", no_proxy_there.c_str(), 1);
  const finished direct = run_sharelink({"--proxy", "", server.url("/d/K")});
  unsetenv("http_proxy");
  EXPECT_EQ(direct.status, 0) << direct.err;
}

// The configuration file gives defaults, the command line wins, --no-config reads
// none, and a bad file stops the command before anything is fetched.
TEST(SharelinkUsage, ConfigurationFileGivesDefaults) {
  testing::loopback_server server;
  server.serve("/d/K", page("kuaichuan_minimal.html"));
  server.start();
  const auto home = std::filesystem::temp_directory_path() / ("sharelink-xdg-" + std::to_string(getpid()));
  std::filesystem::create_directories(home / "sharelink");
  const std::string file = (home / "sharelink" / "config.toml").string();
  std::ofstream(file) << "proxy = \"http://127.0.0.1:" << closed_port() << "\"\ntimeout = 5\n";
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string saved_value = saved ? saved : "";
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);

  EXPECT_EQ(run_sharelink({server.url("/d/K")}).status, 1);
  EXPECT_EQ(run_sharelink({"--proxy", "", server.url("/d/K")}).status, 0);
  EXPECT_EQ(run_sharelink({"--no-config", "--proxy", "", server.url("/d/K")}).status, 0);
  std::ofstream(file) << "jobs = 0\n";
  const finished bad = run_sharelink({"--proxy", "", server.url("/d/K")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, file + ":1:8: jobs must be a whole number above 0\n");
  EXPECT_EQ(run_sharelink({"--no-config", "--proxy", "", server.url("/d/K")}).status, 0);
  EXPECT_EQ(run_sharelink({"--version"}).status, 0);

  if (saved) setenv("XDG_CONFIG_HOME", saved_value.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(home);
}

// Run as another user (sudo -u, setpriv) with the first one's HOME, the command finds
// its configuration folder shut: no configuration and no rule files, one line to say
// so. A configuration file it may not read is still an error, and a rules folder it
// may not list is said to be one.
TEST(SharelinkUsage, AHomeThatMayNotBeSearchedIsNoConfiguration) {
  spawn_settings as_other;
  if (geteuid() == 0) {
    // Root is let into every folder: the command runs as nobody.
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv";
    as_other.launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  const auto home = std::filesystem::temp_directory_path() / ("sharelink-shut-" + std::to_string(getpid()));
  const auto folder = home / ".config" / "sharelink";
  std::filesystem::create_directories(folder / "services");
  std::ofstream(folder / "config.toml") << "jobs = 0\n";  // an error, were it read
  std::ofstream(folder / "services" / "mine.toml") << "name = 'mine'\n[fields.download_url]\npattern = '(x)'\n";
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved_xdg_value = saved_xdg ? saved_xdg : "", saved_home = std::getenv("HOME");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", home.c_str(), 1);
  using std::filesystem::perms;
  const auto shut = [](const std::filesystem::path& path, perms mode) {
    std::filesystem::permissions(path, mode, std::filesystem::perm_options::replace);
  };
  const perms open_folder = perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                            perms::others_exec;

  shut(home, perms::owner_read | perms::owner_write);  // not even its owner may search it
  const finished shut_home = run_sharelink({"--list-services"}, as_other);
  EXPECT_EQ(shut_home.status, 0) << shut_home.err;
  EXPECT_EQ(shut_home.err, "sharelink: cannot look inside " + home.string() +
                               " (permission denied); going on without the configuration and rule files below it\n");
  EXPECT_EQ(shut_home.out.find("mine"), std::string::npos) << shut_home.out;
  EXPECT_NE(shut_home.out.find("kuaichuan"), std::string::npos) << shut_home.out;
  EXPECT_EQ(run_sharelink({"--quiet", "--list-services"}, as_other).err, "");

  for (const auto& path : {home, home / ".config", folder}) shut(path, open_folder);
  shut(folder / "config.toml", perms::none);
  const finished unreadable = run_sharelink({"--list-services"}, as_other);
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.err, (folder / "config.toml").string() + ": Permission denied\n");

  std::filesystem::remove(folder / "config.toml");
  shut(folder / "services", perms::owner_write);
  const finished unlisted = run_sharelink({"--list-services"}, as_other);
  EXPECT_EQ(unlisted.status, 0);
  EXPECT_EQ(unlisted.err, "sharelink: " + (folder / "services").string() + ": cannot be read: Permission denied\n");

  shut(folder / "services", open_folder);
  std::filesystem::remove_all(home);
  setenv("HOME", saved_home.c_str(), 1);
  if (saved_xdg) setenv("XDG_CONFIG_HOME", saved_xdg_value.c_str(), 1);
}

TEST(SharelinkUsage, SaysWhereAddressesComeFromOnlyOnATerminal) {
  spawn_settings on_terminal;
  on_terminal.terminal_input = true;
  const finished run = run_sharelink({}, on_terminal);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "sharelink: reading addresses from standard input, one a line, until end of input\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run_sharelink({}).err, "");
}

TEST(SharelinkUsage, HelpAndVersionGoToStandardOutput) {
  const finished run = run_sharelink({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--service", "--timeout", "--jobs", "--quiet", "--proxy", "--download",
                             "--output-dir", "--all", "--version"})
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  const finished version = run_sharelink({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("sharelink ") + SHARELINK_VERSION + "\n");
  EXPECT_EQ(version.err, "");
}

TEST(SharelinkOutput, ClosedStandardOutputEndsWithoutASignal) {
  const finished run = run_sharelink({"--page", page_path("kuaichuan_minimal.html"), "--service", "kuaichuan"},
                                     {"", true});
  EXPECT_FALSE(run.signalled);
  EXPECT_EQ(run.status, 1);
}

// A server that answers each request on `path` with `head` and `body` and hangs up.
testing::raw_server replying(std::string head, std::string body) {
  return testing::raw_server([head = std::move(head), body = std::move(body)](testing::raw_connection& c) {
    c.send(head + body);
  });
}

TEST(SharelinkVerdicts, ErrorPagesCutPagesAndEmptyPagesFailInEveryForm) {
  const std::string k = page("kuaichuan_minimal.html");
  testing::loopback_server server;
  server.http().Get("/d/404", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content(k, "text/html");
  });
  server.serve("/d/EMPTY", "");
  server.serve("/d/GOOD", k);
  server.start();
  // The page arrives whole but for its announced length: the fields are there, the
  // page is not whole.
  testing::raw_server cut = replying(
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(k.size() + 1000) + "\r\nConnection: close\r\n\r\n", k);
  const std::string good = server.url("/d/GOOD"), not_found = server.url("/d/404"),
                    empty = server.url("/d/EMPTY"), short_page = cut.url("/d/SHORT");
  // A fetcher that does not report statuses cannot tell an error page.
  const bool statuses = fetch_page_reporting(not_found).status == 404;
  std::vector<std::string> bad = {empty, short_page};
  if (statuses) bad.push_back(not_found);

  for (const std::string form : {"--all", "--json", "--aria2", "--jobs=1"}) {
    if (form == "--aria2" && read_built_in("kuaichuan", k).files.empty()) continue;  // nothing to list
    std::vector<std::string> args = {form, good};
    args.insert(args.end(), bad.begin(), bad.end());
    const finished run = run_sharelink(args);
    EXPECT_EQ(run.status, 1) << form;
    EXPECT_EQ(line_count(run.err), bad.size()) << form << "\n" << run.err;
    for (const std::string& address : bad) EXPECT_NE(run.err.find(address + ": "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(good), std::string::npos) << run.err;
  }

  const auto objects = json_lines(run_sharelink({"--json", good, empty, short_page, not_found}).out);
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_TRUE(objects[0]["error"].is_null());
  EXPECT_EQ(objects[1]["error"], "the page holds no download address");
  // The fields of a page that did not arrive whole are still printed.
  EXPECT_TRUE(objects[2]["error"].is_string());
  EXPECT_EQ(objects[2]["download_url"], "http://dl.example.com/files/report.zip?t=1");
  if (statuses) {
    EXPECT_EQ(objects[0]["http_status"], 200);
    EXPECT_EQ(objects[1]["http_status"], 200);
    EXPECT_EQ(objects[3]["http_status"], 404);
    EXPECT_EQ(objects[3]["error"], "the share is gone (HTTP 404 Not Found)");
    EXPECT_EQ(objects[3]["error_kind"], "gone");
    EXPECT_EQ(objects[3]["download_url"], "http://dl.example.com/files/report.zip?t=1");
  }
}

TEST(SharelinkAddresses, RefusedBeforeAnythingIsSent) {
  std::atomic<int> requests{0};
  testing::loopback_server server;
  server.http().Get(".*", [&](const httplib::Request&, httplib::Response& res) {
    ++requests;
    res.set_content(page("kuaichuan_minimal.html"), "text/html");
  });
  server.start();
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  const finished run = run_sharelink({"--json", host + "/d/ABC", host + "/elsewhere",
                                      server.url("/d/\xFFx"), "--service=kuaichuan"});
  EXPECT_EQ(run.status, 1);
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0]["error"], "the address has no scheme (http:// or https://)");
  EXPECT_EQ(objects[1]["error"], "the address has no scheme (http:// or https://)");
  EXPECT_NE(objects[2]["error"].get<std::string>().find("not UTF-8"), std::string::npos);
  EXPECT_EQ(requests.load(), 0);
  EXPECT_EQ(line_count(run.err), 3u) << run.err;

  // Without --service the scheme is still the first thing said.
  const finished unplaced = run_sharelink({"example.com/somewhere"});
  EXPECT_EQ(unplaced.err, "sharelink: example.com/somewhere: the address has no scheme (http:// or https://)\n");
}

// A Kuaichuan page listing one file, its three attributes as given.
std::string kuaichuan_file_page(const std::string& url, const std::string& name) {
  return "<html><body><a class=\"file_name\" file_url=\"" + url + "\" file_size=\"1024\" file_name=\"" +
         name + "\">x</a>\n<input type=\"hidden\" id=\"key\" value='0123456789abcdef0123456789abcdef'>"
                "</body></html>";
}

// A Pan page listing one file; `dlink` is written with each slash as \\/ (pan_slashes).
std::string pan_file_page(const std::string& dlink, const std::string& md5) {
  return R"(<script>var d = "{\\"md5\\":\\")" + md5 + R"(\\",\\"size\\":\\"1536\\",\\"dlink\\":\\")" + dlink +
         R"(\\"}";</script>)";
}

// `url` with each slash written as the Pan page writes it.
std::string pan_slashes(const std::string& url) {
  std::string escaped;
  for (char c : url) escaped += c == '/' ? std::string(R"(\\/)") : std::string(1, c);
  return escaped;
}

// A page whose last file has no address: the files that have one are listed, the
// last is left out and said to be.
TEST(SharelinkAria2, AFileWithoutAnAddressIsLeftOutAlone) {
  const std::string page = "<a file_url=\"http://dl.example/1\" file_name=\"a.bin\">"
                           "<a file_url=\"http://dl.example/2\" file_name=\"b.bin\"><a file_url=\"\" file_name=\"c.bin\">";
  const finished listed = run_sharelink({"--aria2", "--service", "kuaichuan", "--page", "-"}, {page});
  if (listed.out.empty() && listed.err.find("no file record") != std::string::npos)
    GTEST_SKIP() << "this build's page reading lists no files";
  EXPECT_EQ(listed.status, 1);
  EXPECT_TRUE(listed.out.starts_with("http://dl.example/1\n")) << listed.out;
  EXPECT_NE(listed.out.find("\nhttp://dl.example/2\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.err.find("c.bin: the file has no download address; left out"), std::string::npos) << listed.err;
}

TEST(SharelinkAria2, HostilePagesLeaveTheGoodEntryAlone) {
  testing::loopback_server server;
  server.serve("/share/good", pan_file_page(pan_slashes("http://dl.example/f?fid=1&filename=good.bin"),
                                            "d41d8cd98f00b204e9800998ecf8427e"));
  const std::vector<std::string> hostile = {
      kuaichuan_file_page("#x", "hash.bin"),
      kuaichuan_file_page("javascript:alert(1)", "a.bin"),
      // Left out, so its name reaches standard error.
      kuaichuan_file_page("ftp://evil.example/a", "%1B%5D0;title%07%0Aforged%0D.bin"),
      kuaichuan_file_page(" http://evil.example/a", "b.bin"),
      kuaichuan_file_page("http://evil.example/a&#10;  out=renamed.bin&#10;  checksum=md5=00000000000000000000000000000000",
                          "c.bin"),
      kuaichuan_file_page("http://evil.example/a", "&#10;  checksum=md5=00000000000000000000000000000000"),
      kuaichuan_file_page("http://evil.example/a", "CON.txt"),
      kuaichuan_file_page("http://evil.example/a", "C:%5Cwindows%5Cx.dll"),
      kuaichuan_file_page("http://evil.example/a", "%0A%23%20out=x"),
      pan_file_page("#x", "d41d8cd98f00b204e9800998ecf8427e"),
      pan_file_page(pan_slashes("http://evil.example/f?filename=%0A%20%20out=renamed.bin"), "zz"),
  };
  const auto path = [&](std::size_t i) {
    return (hostile[i].starts_with("<script>") ? "/share/H" : "/d/H") + std::to_string(i);
  };
  for (std::size_t i = 0; i < hostile.size(); ++i) server.serve(path(i), hostile[i]);
  server.start();
  std::vector<std::string> args = {"--aria2", "--jobs", "3", server.url("/share/good")};
  for (std::size_t i = 0; i < hostile.size(); ++i) args.push_back(server.url(path(i)));

  const finished alone = run_sharelink({"--aria2", server.url("/share/good")});
  if (alone.out.empty()) GTEST_SKIP() << "this build's page reading lists no files";
  EXPECT_EQ(alone.status, 0) << alone.err;
  const finished batch = run_sharelink(args);
  ASSERT_TRUE(batch.out.starts_with(alone.out)) << batch.out;
  EXPECT_EQ(batch.status, 1);
  // One whole line per error, and nothing from a page steers the terminal.
  std::istringstream errors(batch.err);
  for (std::string line; std::getline(errors, line);) {
    EXPECT_TRUE(line.starts_with("sharelink: ")) << line;
    EXPECT_EQ(line.find_first_of("\x1b\x07\r"), std::string::npos) << line;
  }
  // Whatever the hostile pages added is made of whole entries of the same shape.
  std::istringstream rest(batch.out.substr(alone.out.size()));
  for (std::string line; std::getline(rest, line);) {
    EXPECT_TRUE(line.starts_with("http://") || line.starts_with("https://") || line.starts_with("  out=") ||
                line.starts_with("  checksum=md5=") || line.starts_with("  referer=") ||
                line.starts_with("  user-agent="))
        << line;
    EXPECT_EQ(line.find_first_of("\r\t"), std::string::npos) << line;
    if (line.starts_with("  out=")) {
      const std::string name = line.substr(6);
      EXPECT_EQ(name.find_first_of(":/\\"), std::string::npos) << line;
      EXPECT_FALSE(name.starts_with("CON.") || name == "CON") << line;
    }
    EXPECT_NE(line, "  out=renamed.bin");
    EXPECT_FALSE(line.starts_with("  checksum=md5=0000")) << line;
  }
}

TEST(SharelinkBatch, ResultsComeInInputOrderWhateverFinishesFirst) {
  // The first page is held back until several later ones have been asked for, so
  // they finish first; the output must still follow the input.
  std::mutex mutex;
  std::condition_variable changed;
  int later_requests = 0;
  testing::loopback_server server;
  server.http().Get(R"(/d/N(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
    const int n = std::stoi(req.matches[1]);
    std::unique_lock lock(mutex);
    if (n == 0) {
      changed.wait_for(lock, std::chrono::seconds(10), [&] { return later_requests >= 3; });
    } else {
      ++later_requests;
      changed.notify_all();
    }
    res.set_content(n % 7 == 3 ? std::string("<html></html>") : page("kuaichuan_minimal.html"), "text/html");
  });
  server.start();
  std::string input;
  for (int i = 0; i < 40; ++i) input += server.url("/d/N" + std::to_string(i)) + "\n";
  const finished run = run_sharelink({"--json", "--jobs", "4"}, {input});
  EXPECT_EQ(run.status, 1);
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 40u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(objects[i]["address"], server.url("/d/N" + std::to_string(i)));
    EXPECT_EQ(objects[i]["error"].is_null(), i % 7 != 3) << i;
  }
  EXPECT_EQ(line_count(run.err), 6u) << run.err;
  {
    std::lock_guard lock(mutex);
    EXPECT_GE(later_requests, 3);
  }

  // --quiet keeps standard error empty; the exit status still tells.
  const finished quiet = run_sharelink({"--json", "--quiet", "--jobs", "4"}, {input});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, run.out);
}

TEST(SharelinkBatch, InterruptStopsWithWholeLinesOnly) {
  std::mutex mutex;
  std::condition_variable changed;
  bool stalled = false, done = false;
  testing::loopback_server server;
  int fast_served = 0;
  server.http().Get("/d/FAST", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(page("kuaichuan_minimal.html"), "text/html");
    std::lock_guard lock(mutex);
    ++fast_served;
    changed.notify_all();
  });
  server.http().Get("/d/STALL", [&](const httplib::Request&, httplib::Response& res) {
    std::unique_lock lock(mutex);
    stalled = true;
    changed.notify_all();
    changed.wait_for(lock, std::chrono::seconds(30), [&] { return done; });
    res.set_content(page("kuaichuan_minimal.html"), "text/html");
  });
  server.start();
  std::thread interrupter;
  spawn_settings settings;
  settings.started = [&](pid_t pid) {
    interrupter = std::thread([&, pid] {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(10), [&] { return stalled && fast_served == 2; });
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the answer reaches the command
      kill(pid, SIGINT);
    });
  };
  const finished run = run_sharelink({"--json", "--timeout", "2", server.url("/d/FAST"), server.url("/d/STALL"),
                                      server.url("/d/FAST")},
                                     settings);
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  changed.notify_all();
  interrupter.join();
  EXPECT_EQ(run.status, 130);
  // The third address finished behind the stalled one: printed all the same.
  ASSERT_TRUE(run.out.ends_with("\n")) << run.out;
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 3u) << run.out;
  EXPECT_TRUE(objects[1]["error"].get<std::string>().starts_with("interrupted")) << run.out;
  EXPECT_TRUE(objects[2]["error"].is_null()) << run.out;
  EXPECT_NE(run.err.find("sharelink: interrupted\n"), std::string::npos) << run.err;
}

TEST(SharelinkDownload, SavesEachFileOfAPageReadWell) {
  const std::string content(100000, 'z');
  std::atomic<int> file_requests{0};
  testing::loopback_server server;
  server.http().Get("/files/a.bin", [&](const httplib::Request&, httplib::Response& res) {
    ++file_requests;
    res.set_content(content, "application/octet-stream");
  });
  const std::string file_url = server.url("/files/a.bin");
  const std::string escaped = pan_slashes(file_url);
  server.serve("/share/a", pan_file_page(escaped + "?filename=a.bin", "md5"));
  server.http().Get("/share/gone", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content(pan_file_page(escaped + "?filename=a.bin", "md5"), "text/html");
  });
  server.start();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("sharelink-cli-test-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);

  const finished run = run_sharelink({"--download", "--json", "--output-dir", dir.string(), server.url("/share/a")});
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u) << run.out;
  const nlohmann::json& files = objects[0]["files"];
  if (files.empty()) {
    EXPECT_EQ(objects[0]["error"], "the page lists no file record");
  } else {
    ASSERT_TRUE(files[0].contains("download")) << run.out;
    const nlohmann::json& d = files[0]["download"];
    if (d["error"].is_null()) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(d["bytes"], content.size());
      EXPECT_EQ(std::filesystem::file_size(d["path"].get<std::string>()), content.size());
      EXPECT_TRUE(d["md5_checked"].is_null());  // "md5" is no hash to compare
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(objects[0]["error"].get<std::string>().find(d["error"].get<std::string>()), std::string::npos);
    }
  }
  // The labelled form gives one line per file; a file already there counts as done.
  const finished labelled = run_sharelink({"--download", "--output-dir", dir.string(), server.url("/share/a")});
  if (!files.empty() && files[0]["download"]["error"].is_null()) {
    EXPECT_EQ(labelled.status, 0) << labelled.err;
    EXPECT_EQ(labelled.out, "already there: " + files[0]["download"]["path"].get<std::string>() + " (100000 bytes)\n");
  }

  // An error page feeds no download.
  const int before = file_requests.load();
  const finished gone = run_sharelink({"--download", "--output-dir", dir.string(), server.url("/share/gone")});
  if (fetch_page_reporting(server.url("/share/gone")).status == 404) {
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.out, "failed: " + server.url("/share/gone") + ": the share is gone (HTTP 404 Not Found)\n");
    EXPECT_EQ(file_requests.load(), before);
  }
  std::filesystem::remove_all(dir);
}

// A rule's user agent and headers go with the downloads to the host its answer names
// for a file (not past a redirect to another: see the fetch's contract), and the
// --aria2 list gives the same user agent.
TEST(SharelinkDownload, TheRulesRequestSettingsGoToTheHostsItNames) {
  testing::loopback_server server;
  std::mutex mutex;
  std::map<std::string, std::string> seen;  // "path header" -> value
  const auto note = [&](const httplib::Request& req) {
    std::lock_guard lock(mutex);
    for (const char* name : {"User-Agent", "Authorization"})
      seen[req.path + " " + name] = req.has_header(name) ? req.get_header_value(name) : "<none>";
  };
  server.http().Get("/s/1", [&](const httplib::Request& req, httplib::Response& res) {
    note(req);
    // Another host name for the same server.
    const std::string file = "http://localhost:" + std::to_string(server.port()) + "/f/a";
    res.set_content("<a href=\"" + file + "\" name=\"a.bin\">", "text/html");
  });
  server.http().Get("/f/a", [&](const httplib::Request& req, httplib::Response& res) {
    note(req);
    res.set_content("bytes", "application/octet-stream");
  });
  server.start();
  testing::test_folder folder;
  testing::test_folder::write(folder / "rule.toml", R"toml(name = "agent"
addresses = ['^http://127\.0\.0\.1:\d+/s/']
[request]
user_agent = "rule-agent/2"
headers = { Authorization = "Bearer s3cr3t" }
[records]
pattern = 'href="(?<download_url>[^"]+)" name="(?<file_name>[^"]+)"'
)toml");
  const finished run = run_sharelink({"--no-config", "--rules", folder / "rule.toml", "--download", "--output-dir",
                                      folder / "out", server.url("/s/1")});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  {
    std::lock_guard lock(mutex);
    const std::map<std::string, std::string> expected = {
        {"/s/1 User-Agent", "rule-agent/2"}, {"/s/1 Authorization", "Bearer s3cr3t"},
        {"/f/a User-Agent", "rule-agent/2"}, {"/f/a Authorization", "Bearer s3cr3t"}};
    EXPECT_EQ(seen, expected);
  }
  const finished listed = run_sharelink({"--no-config", "--rules", folder / "rule.toml", "--aria2", server.url("/s/1")});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("\n  user-agent=rule-agent/2\n"), std::string::npos) << listed.out;
}

}  // namespace
}  // namespace sharelink::cli
