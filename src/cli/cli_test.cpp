// The sharelink command end to end: the built program in its own process, against
// pages served on 127.0.0.1.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "codec/codepage.h"
#include "resolve/kuaichuan.h"
#include "resolve/pan.h"
#include "testing/loopback_server.h"

extern char** environ;

namespace sharelink::cli {
namespace {

struct finished {
  int status = -1;  ///< exit status, or -1 when the program did not exit normally
  bool signalled = false;
  std::string out, err;
};

struct spawn_settings {
  std::string input;
  bool close_stdout = false;  ///< the reading end of stdout is closed before the program writes
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
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  std::vector<std::string> argv_text{SHARELINK_BINARY};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  if (settings.close_stdout) close(out_pipe[0]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, SHARELINK_BINARY, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << SHARELINK_BINARY;
    return {};
  }

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
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.signalled = WIFSIGNALED(status);
  return result;
}

std::vector<nlohmann::json> json_lines(const std::string& out) {
  std::vector<nlohmann::json> objects;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

std::string page(const char* name) { return testing::read_source_file(std::string("src/cli/testdata/") + name); }
std::string page_path(const char* name) {
  return std::string(SHARELINK_SOURCE_DIR) + "/src/cli/testdata/" + name;
}

// The five fields of the resolver for `page_text`, as the command prints them.
resolved_file expected_fields(bool kuaichuan, const std::string& page_text) {
  const resolved_file local = kuaichuan ? parse_kuaichuan_page(page_text) : parse_pan_page(page_text);
  return {local_to_utf8(local.download_url), local_to_utf8(local.file_name),
          local_to_utf8(local.file_type), local_to_utf8(local.size), local_to_utf8(local.md5)};
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
    server_.serve("/d/ABCDEFGHIJKL", page("kuaichuan_share.html"));
    server_.serve("/share/link", page("pan_share.html"));
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
  const resolved_file k = expected_fields(true, page("kuaichuan_share.html"));
  const resolved_file p = expected_fields(false, page("pan_share.html"));
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
  const resolved_file p = expected_fields(false, page("pan_share.html"));
  EXPECT_EQ(objects[0], nlohmann::json({{"address", pan_url()},
                                        {"service", "pan"},
                                        {"download_url", p.download_url},
                                        {"file_name", p.file_name},
                                        {"file_type", p.file_type},
                                        {"size", p.size},
                                        {"md5", p.md5},
                                        {"error", nullptr}}));
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
  // A page without the fields is still a page that was read.
  EXPECT_TRUE(objects[3]["error"].is_null());
  EXPECT_EQ(objects[3]["download_url"], "");
  // One line on standard error, for the unplaced address only.
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("http://127.0.0.1/somewhere/else"), std::string::npos);
}

TEST_F(SharelinkCommand, ServiceOptionOverridesThePath) {
  server_.http().Get("/elsewhere", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(page("pan_share.html"), "text/html");
  });
  const finished run = run_sharelink({"--json", "--service", "pan", server_.url("/elsewhere")});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["service"], "pan");
  EXPECT_EQ(objects[0]["md5"], "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(SharelinkCommand, Aria2ListsTheResolvedDownloads) {
  const finished run = run_sharelink({"--aria2", kuaichuan_url(), server_.url("/d/EMPTY"), pan_url()});
  EXPECT_EQ(run.status, 0) << run.err;
  const resolved_file k = expected_fields(true, page("kuaichuan_share.html"));
  const resolved_file p = expected_fields(false, page("pan_share.html"));
  EXPECT_EQ(run.out, k.download_url + "\n  out=" + k.file_name + "\n  checksum=md5=0123456789abcdef0123456789abcdef\n" +
                         p.download_url + "\n  out=" + p.file_name +
                         "\n  checksum=md5=d41d8cd98f00b204e9800998ecf8427e\n");
  // The page without a download address is left out, and said so.
  EXPECT_NE(run.err.find("/d/EMPTY"), std::string::npos) << run.err;
}

TEST(SharelinkPage, ParsesASavedPageInsteadOfFetching) {
  const finished run = run_sharelink({"--page", page_path("pan_share.html"), "--service", "pan", "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto objects = json_lines(run.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["file_name"], "测试.txt");
  EXPECT_EQ(objects[0]["download_url"], "http://d.pcs.example.com/file/abc?fid=1&filename=%E6%B5%8B%E8%AF%95.txt");
  EXPECT_TRUE(objects[0]["error"].is_null());

  const finished piped = run_sharelink({"--page", "-", "--service", "kuaichuan"}, {page("kuaichuan_share.html")});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_NE(piped.out.find("文件名称：测试文件.zip\n"), std::string::npos);

  const finished missing = run_sharelink({"--page", page_path("no_such_page.html"), "--service", "pan", "--json"});
  EXPECT_EQ(missing.status, 1);
  ASSERT_EQ(json_lines(missing.out).size(), 1u);
  EXPECT_TRUE(json_lines(missing.out)[0]["error"].is_string());
  EXPECT_NE(missing.err.find("no_such_page.html"), std::string::npos);
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
    res.set_content(page("kuaichuan_share.html"), "text/html");
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

TEST(SharelinkUsage, HelpGoesToStandardOutput) {
  const finished run = run_sharelink({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("--service"), std::string::npos);
  EXPECT_NE(run.out.find("--timeout"), std::string::npos);
}

TEST(SharelinkOutput, ClosedStandardOutputEndsWithoutASignal) {
  const finished run = run_sharelink({"--page", page_path("kuaichuan_share.html"), "--service", "kuaichuan"},
                                     {"", true});
  EXPECT_FALSE(run.signalled);
  EXPECT_EQ(run.status, 1);
}

}  // namespace
}  // namespace sharelink::cli
