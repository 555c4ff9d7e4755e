// The command's downloads as whole processes: ended by signals, held to a file-size
// limit, killed at any moment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/hex_escape.h"
#include "download/md5.h"
#include "testing/raw_server.h"
#include "testing/test_folder.h"

extern char** environ;

namespace sharelink::cli {
namespace {

using namespace std::chrono_literals;
using sharelink::testing::raw_connection;
using sharelink::testing::raw_server;
using sharelink::testing::test_folder;

std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

struct pan_record {
  std::string name, url;
  std::optional<std::size_t> size;  ///< none: the record has no size key
  std::string md5;
};

// A Pan share page listing `records`, written as the service writes it.
std::string pan_page(const std::vector<pan_record>& records) {
  std::string list;
  for (const pan_record& r : records) {
    std::string dlink;
    for (char c : r.url) dlink += c == '/' ? std::string(R"(\\/)") : std::string(1, c);
    list += (list.empty() ? "" : ",") + std::string(R"({\"server_filename\":\")") + r.name +
            (r.size ? R"(\",\"size\":\")" + std::to_string(*r.size) : std::string()) + R"(\",\"md5\":\")" +
            r.md5 + R"(\",\"dlink\":\")" + dlink + R"(\"})";
  }
  return R"(<script>yunData.setData(JSON.parse("{\"file_list\":{\"errno\":0,\"list\":[)" + list +
         R"(]}}"));</script>)";
}

/// The path a request asks for.
std::string request_path(const raw_connection& c) {
  const std::string& head = c.request_head();
  const auto start = head.find(' ') + 1;
  return head.substr(start, head.find(' ', start) - start);
}

/// The first byte a request asks for with "Range: bytes=N-", or 0.
std::size_t range_start(const raw_connection& c) {
  const std::string& head = c.request_head();
  const auto at = head.find("\r\nRange: bytes=");
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + 15));
}

/// Sends the head of `body`'s answer (206 from a range, ETag "e1") and returns what
/// is left to send.
std::string_view send_head(raw_connection& c, const std::string& body) {
  const std::size_t from = std::min(range_start(c), body.size());
  std::string head = from > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                    std::to_string(from) + "-" + std::to_string(body.size() - 1) +
                                    "/" + std::to_string(body.size()) + "\r\n"
                              : "HTTP/1.1 200 OK\r\n";
  head += "ETag: \"e1\"\r\nContent-Length: " + std::to_string(body.size() - from) +
          "\r\nConnection: close\r\n\r\n";
  c.send(head);
  return std::string_view(body).substr(from);
}

/// Starts the command with `args` (through `sh -c` when `shell` is given, the
/// command's path and `args` then its $0 and "$@"), standard output and error to
/// files.
pid_t start(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            const char* shell = nullptr) {
  std::vector<std::string> argv_text;
  if (shell) argv_text = {"/bin/sh", "-c", shell};
  argv_text.push_back(SHARELINK_BINARY);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
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

/// The exit status as a shell gives it: 128 + the signal's number when one ended it.
int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(SharelinkSignals, CtrlCTermAndHangUpEndTheRunKeepingWhatArrived) {
  const std::string body = random_bytes(300000, 1);
  std::atomic<int> arrived{0};
  std::string page;
  raw_server server([&](raw_connection& c) {
    if (request_path(c).starts_with("/share")) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
      return;
    }
    const std::string_view rest = send_head(c, body);
    if (c.send(rest.substr(0, 100000))) ++arrived;
    c.hold();
  });
  page = pan_page({{"big.bin", server.url("/file/big.bin?filename=big.bin"), body.size(), md5_hex(body)}});
  const struct {
    int signal_number;
    bool saved_page;  ///< --page FILE, else the share address
  } cases[] = {{SIGINT, true}, {SIGINT, false}, {SIGTERM, false}, {SIGHUP, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.signal_number) + std::string(c.saved_page ? ", --page" : ", address"));
    test_folder folder;
    test_folder::write(folder / "page.html", page);
    std::vector<std::string> args = {"--download", "--output-dir", folder / "out"};
    if (c.saved_page) args.insert(args.end(), {"--service", "pan", "--page", folder / "page.html"});
    else args.push_back(server.url("/share/link?shareid=1&uk=2"));
    const int before = arrived.load();
    const pid_t pid = start(args, folder / "stdout", folder / "stderr");
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && arrived.load() == before; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);  // the bytes are in the command's hands
    kill(pid, c.signal_number);
    EXPECT_EQ(wait_for(pid), 128 + c.signal_number);
    EXPECT_EQ(test_folder::read(folder / "out/big.bin.part"), body.substr(0, 100000));
    EXPECT_EQ(test_folder::read(folder / "stdout"), "failed: big.bin: interrupted\n");
    EXPECT_NE(test_folder::read(folder / "stderr").find("sharelink: interrupted\n"), std::string::npos);
  }
}

TEST(SharelinkSignals, AFileSizeLimitFailsThatFileAndTheBatchGoesOn) {
  const std::string big = random_bytes(3 << 20, 2), small = random_bytes(10000, 3);
  raw_server server([&](raw_connection& c) {
    const std::string_view rest = send_head(c, request_path(c).starts_with("/f/big.bin") ? big : small);
    c.send(rest);
  });
  test_folder folder;
  test_folder::write(folder / "page.html",
                     pan_page({{"big.bin", server.url("/f/big.bin?filename=big.bin"), big.size(), md5_hex(big)},
                               {"small.bin", server.url("/f/small.bin?filename=small.bin"), small.size(), md5_hex(small)}}));
  // 2048 blocks: 1 MiB in 512-byte blocks, 2 MiB in 1024-byte ones.
  const pid_t pid = start({"--service", "pan", "--page", folder / "page.html", "--download", "--output-dir",
                           folder / "out"},
                          folder / "stdout", folder / "stderr", "ulimit -f 2048 && exec \"$0\" \"$@\"");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(wait_for(pid), 1);
  const std::string out = test_folder::read(folder / "stdout");
  EXPECT_TRUE(out.starts_with("failed: big.bin: cannot write " + folder / "out/big.bin.part: File too large\n"))
      << out;
  EXPECT_NE(out.find("saved: " + folder / "out/small.bin (10000 bytes, MD5 matched)\n"), std::string::npos) << out;
  EXPECT_TRUE(test_folder::read(folder / "out/small.bin") == small);
}

// kill -9 at random moments of a download, again and again: the final name only
// ever holds the whole file, and a last run finishes it from what is left.
TEST(SharelinkDownload, KilledAtAnyMomentTheNextRunEndsWithTheWholeFile) {
  const std::string body = random_bytes(2 << 20, 4);
  raw_server server([&](raw_connection& c) {
    std::string_view rest = send_head(c, body);
    // 64 KiB at a time, a few milliseconds apart: a whole download takes about 100 ms.
    while (!rest.empty() && c.send(rest.substr(0, 65536)) && c.pause(3ms)) rest.remove_prefix(std::min<std::size_t>(65536, rest.size()));
  });
  test_folder folder;
  test_folder::write(folder / "page.html",
                     pan_page({{"big.bin", server.url("/f/big.bin?filename=big.bin"), body.size(), md5_hex(body)}}));
  const std::vector<std::string> args = {"--service", "pan", "--page", folder / "page.html", "--download",
                                         "--quiet", "--output-dir", folder / "out"};
  std::filesystem::create_directories(folder / "out");
  std::mt19937 random(5);
  int kills = 0, mid_download = 0, finished = 0;
  for (int round = 0; round < 40; ++round) {
    const pid_t pid = start(args, folder / "stdout", folder / "stderr");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
    kill(pid, SIGKILL);
    const int status = wait_for(pid);
    kills += status == 128 + SIGKILL;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "out")) {
      const std::string name = entry.path().filename().string();
      ASSERT_TRUE(name == "big.bin" || name == "big.bin.part" || name == "big.bin.part.meta") << name;
    }
    mid_download += test_folder::exists(folder / "out/big.bin.part");
    if (test_folder::exists(folder / "out/big.bin")) {
      ASSERT_TRUE(test_folder::read(folder / "out/big.bin") == body) << "round " << round;
      ++finished;
      std::filesystem::remove(folder / "out/big.bin");  // again, for more moments to land on
    }
  }
  const pid_t pid = start(args, folder / "stdout", folder / "stderr");
  ASSERT_EQ(wait_for(pid), 0) << test_folder::read(folder / "stdout");
  EXPECT_TRUE(test_folder::read(folder / "out/big.bin") == body);
  EXPECT_FALSE(test_folder::exists(folder / "out/big.bin.part"));
  EXPECT_GT(kills, 10);
  RecordProperty("kills", kills);
  RecordProperty("left_a_part", mid_download);
  RecordProperty("finished_before_the_kill", finished);
  std::printf("killed %d times: %d left a .part, %d had finished\n", kills, mid_download, finished);
}

// With --download, each file has its line (a record left out too) and a page whose
// files were never tried has one of its own.
TEST(SharelinkDownload, EveryPageAndEveryFileGetsALine) {
  const std::string body = random_bytes(5000, 6);
  std::string page;
  raw_server server([&](raw_connection& c) {
    const std::string path = request_path(c);
    if (path.starts_with("/share/gone")) {
      c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    } else if (path.starts_with("/share")) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
    } else {
      c.send(send_head(c, body));
    }
  });
  page = pan_page({{"a.bin", server.url("/f/a.bin?filename=a.bin"), body.size(), md5_hex(body)},
                   {"b.bin", "ftp://127.0.0.1/b?filename=b.bin", 10, ""}});
  test_folder folder;
  const pid_t pid = start({"--download", "--output-dir", folder.path(), "--jobs", "1", server.url("/share/ok"),
                           server.url("/share/gone")},
                          folder / "stdout", folder / "stderr");
  EXPECT_EQ(wait_for(pid), 1);
  EXPECT_EQ(test_folder::read(folder / "stdout"),
            "saved: " + folder / "a.bin" + " (5000 bytes, MD5 matched)\n"
            "failed: b.bin: the download address is not http or https; left out\n"
            "failed: " + server.url("/share/gone") + ": the share is gone (HTTP 404 Not Found)\n");
}

/// The value of the header `name` in a request head, or "<none>".
std::string header_value(const std::string& head, const std::string& name) {
  const auto at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "<none>";
  const auto start = at + name.size() + 4;
  return head.substr(start, head.find("\r\n", start) - start);
}

/// The names and bytes of the files in `dir`.
std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::is_directory(dir)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    files[entry.path().filename().string()] = test_folder::read(entry.path().string());
  return files;
}

// Two files of one name and size, with no MD5 to tell them apart: each gets a name
// of its own, in page order however the downloads run, in the run that saves them
// and in the next, which finds both there.
TEST(SharelinkDownload, TwoFilesOfOneNameAndSizeAreBothKept) {
  const std::string one = random_bytes(3000, 7), two = random_bytes(3000, 8);
  std::string page;
  raw_server server([&](raw_connection& c) {
    const std::string path = request_path(c);
    if (path.starts_with("/share"))
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
    else
      c.send(send_head(c, path.starts_with("/f/1") ? one : two));
  });
  page = pan_page({{"x.bin", server.url("/f/1?filename=x.bin"), one.size(), ""},
                   {"x.bin", server.url("/f/2?filename=x.bin"), two.size(), ""}});
  for (int round = 0; round < 4; ++round) {  // the order the downloads start in varies
    test_folder folder;
    const std::string out = folder / "out";
    for (const std::string said : {"saved: ", "already there: "}) {
      const pid_t pid = start({"--download", "--output-dir", out, "--jobs", "2", server.url("/share/ok")},
                              folder / "stdout", folder / "stderr");
      EXPECT_EQ(wait_for(pid), 0);
      // Pan's MD5 is the content's, but these records give none.
      const std::string unchecked = " (3000 bytes, not checked: the page gives no MD5)\n";
      EXPECT_EQ(test_folder::read(folder / "stdout"), said + out + "/x.bin" + unchecked + said + out + "/x (1).bin" + unchecked);
    }
    EXPECT_EQ(files_in(out), (std::map<std::string, std::string>{{"x.bin", one}, {"x (1).bin", two}}));
  }
}

// A file named as another's .part or side file, listed by the page or left by an
// earlier run, is a file like any other: never taken as a .part, never removed, and
// the name it holds is numbered. A second run finds every file where the first put it.
TEST(SharelinkDownload, FilesNamedAsADownloadsPartAreKept) {
  const std::string a = random_bytes(3000, 11), b = random_bytes(5000, 12);
  std::string page;
  raw_server server([&](raw_connection& c) {
    const std::string path = request_path(c);
    if (path.starts_with("/share"))
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
    else
      c.send(send_head(c, path.starts_with("/f/a") ? a : b));
  });
  using files = std::map<std::string, std::string>;
  const struct {
    const char* what;
    std::vector<std::pair<std::string, char>> listed;  ///< name, and which body
    files before, after;
  } cases[] = {
      {"NAME.part, then NAME", {{"x.bin.part", 'a'}, {"x.bin", 'b'}}, {}, {{"x.bin.part", a}, {"x (1).bin", b}}},
      {"NAME, then NAME.part", {{"x.bin", 'b'}, {"x.bin.part", 'a'}}, {}, {{"x.bin", b}, {"x.bin (1).part", a}}},
      {"NAME.part.meta, then NAME", {{"x.bin.part.meta", 'a'}, {"x.bin", 'b'}}, {},
       {{"x.bin.part.meta", a}, {"x (1).bin", b}}},
      {"NAME.part saved before", {{"x.bin", 'b'}}, {{"x.bin.part", a}}, {{"x.bin.part", a}, {"x (1).bin", b}}},
      {"NAME.part.meta saved before", {{"x.bin", 'b'}}, {{"x.bin.part.meta", a}},
       {{"x.bin.part.meta", a}, {"x (1).bin", b}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<pan_record> records;
    for (const auto& [name, which] : c.listed)
      records.push_back({name, server.url(std::string("/f/") + which + "?filename=" + name),
                         which == 'a' ? a.size() : b.size(), ""});
    page = pan_page(records);
    test_folder folder;
    const std::string out = folder / "out";
    std::filesystem::create_directories(out);
    for (const auto& [name, bytes] : c.before) test_folder::write(out + "/" + name, bytes);
    for (const char* said : {"saved: ", "already there: "}) {
      const pid_t pid = start({"--download", "--output-dir", out, "--jobs", "1", server.url("/share/ok")},
                              folder / "stdout", folder / "stderr");
      EXPECT_EQ(wait_for(pid), 0) << test_folder::read(folder / "stderr");
      EXPECT_EQ(files_in(out), c.after);
      const std::string lines = test_folder::read(folder / "stdout");
      EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), static_cast<long>(c.listed.size())) << lines;
      EXPECT_EQ(lines.find(said), 0u) << lines;
    }
  }
}

// An address given twice: its files are downloaded once, and listed once for aria2.
TEST(SharelinkDownload, AnAddressGivenTwiceGetsItsFilesOnce) {
  const std::string one = random_bytes(300000, 7), two = random_bytes(3000, 8);
  std::string page;
  std::atomic<int> file_requests{0};
  raw_server server([&](raw_connection& c) {
    const std::string path = request_path(c);
    if (path.starts_with("/share")) {
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
      return;
    }
    ++file_requests;
    if (path.starts_with("/f/1")) c.send(send_head(c, one));
    else c.send("HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n" + two);  // no size anywhere
  });
  page = pan_page({{"x.bin", server.url("/f/1?filename=x.bin"), one.size(), ""},
                   {"y.bin", server.url("/f/2?filename=y.bin"), std::nullopt, ""}});
  const std::string share = server.url("/share/ok");
  test_folder folder;
  const std::string out = folder / "out";
  pid_t pid = start({"--download", "--output-dir", out, "--jobs", "4", share, share}, folder / "stdout",
                    folder / "stderr");
  EXPECT_EQ(wait_for(pid), 0) << test_folder::read(folder / "stderr");
  EXPECT_EQ(files_in(out), (std::map<std::string, std::string>{{"x.bin", one}, {"y.bin", two}}));
  EXPECT_EQ(file_requests.load(), 2);
  const std::string said = test_folder::read(folder / "stdout");
  for (const char* name : {"/x.bin (", "/y.bin ("}) {
    EXPECT_NE(said.find("saved: " + out + name), std::string::npos) << said;
    EXPECT_NE(said.find("already there: " + out + name), std::string::npos) << said;
  }
  pid = start({"--aria2", share, share}, folder / "list", folder / "stderr");
  EXPECT_EQ(wait_for(pid), 0);
  const std::string list = test_folder::read(folder / "list");
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2 * 4) << list;  // two entries of four lines
}

// The list --aria2 writes, run by the real aria2c, downloads the same files under
// the same names with the same Referer, User-Agent and Cookie as --download.
TEST(SharelinkAria2, TheRealDownloaderGetsWhatDownloadGets) {
  if (access("/usr/bin/aria2c", X_OK) != 0) GTEST_SKIP() << "aria2c is not installed";
  const std::vector<std::pair<std::string, std::string>> records = {
      {"../../../x/escaped.txt", "/f/1"}, {".bashrc", "/f/2"}, {"..", "/f/fallback.bin"},
      {"CON.txt", "/f/4"}, {"report 报告.pdf", "/f/5"}, {"report 报告.pdf", "/f/6"}};  // two of one name
  std::map<std::string, std::string> bodies;
  std::mutex mutex;
  std::map<std::string, std::string> seen;  // "path header" -> value, per run
  std::string page, run = "download";
  raw_server server([&](raw_connection& c) {
    const std::string path = request_path(c);
    if (path.starts_with("/share")) {
      c.send("HTTP/1.1 200 OK\r\nSet-Cookie: sid=s3cr3t; Path=/\r\nContent-Length: " +
             std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
      return;
    }
    const std::string file = path.substr(0, path.find('?'));
    {
      std::lock_guard lock(mutex);
      for (const char* name : {"Referer", "User-Agent", "Cookie"})
        seen[run + " " + file + " " + name] = header_value(c.request_head(), name);
    }
    c.send(send_head(c, bodies[file]));
  });
  std::vector<pan_record> listed;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& [name, path] = records[i];
    bodies[path] = random_bytes(1000 + i * 777, static_cast<unsigned>(10 + i));
    // The name is the link's filename=, as the Pan page gives it.
    const std::string escaped = percent_escape(name, [](unsigned char c) { return !std::isalnum(c); });
    listed.push_back({name, server.url(path + "?fid=" + std::to_string(i) + "&filename=" + escaped),
                      bodies[path].size(), md5_hex(bodies[path])});
  }
  page = pan_page(listed);
  const std::string share = server.url("/share/link?shareid=1&uk=2");
  test_folder folder;
  pid_t pid = start({"--download", "--output-dir", folder / "download", share}, folder / "out1", folder / "err1");
  ASSERT_EQ(wait_for(pid), 0) << test_folder::read(folder / "out1") << test_folder::read(folder / "err1");
  pid = start({"--aria2", share}, folder / "list.txt", folder / "err2");
  ASSERT_EQ(wait_for(pid), 0) << test_folder::read(folder / "err2");
  {
    std::lock_guard lock(mutex);
    run = "aria2";
  }
  const std::string list = folder / "list.txt";
  std::vector<std::string> argv_text = {"/usr/bin/aria2c", "--no-conf", "--quiet", "--file-allocation=none",
                                        "--split=1", "--max-connection-per-server=1", "--auto-file-renaming=false",
                                        "--dir=" + folder / "aria2", "--input-file=" + list};
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  ASSERT_EQ(wait_for(pid), 0) << test_folder::read(list);

  const auto downloaded = files_in(folder / "download"), fetched = files_in(folder / "aria2");
  EXPECT_EQ(downloaded.size(), records.size());
  for (const auto& [name, bytes] : downloaded) {
    EXPECT_TRUE(fetched.count(name) && fetched.at(name) == bytes) << name << "\n" << test_folder::read(list);
    EXPECT_FALSE(name.starts_with('.')) << name;
  }
  EXPECT_EQ(fetched.size(), downloaded.size());
  std::lock_guard lock(mutex);
  for (const auto& [name, path] : records) {
    for (const char* header : {"Referer", "User-Agent", "Cookie"})
      EXPECT_EQ(seen["aria2 " + path + " " + header], seen["download " + path + " " + header]) << path << " " << header;
    EXPECT_EQ(seen["download " + path + " Referer"], share);
    EXPECT_EQ(seen["download " + path + " Cookie"], "sid=s3cr3t");
  }
}

}  // namespace
}  // namespace sharelink::cli
