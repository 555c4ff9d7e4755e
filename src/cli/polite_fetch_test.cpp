// The command waiting, retrying and holding back, against pages and files served on
// 127.0.0.1, and the kinds its failures are of.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "download/download.h"
#include "runtime/error_kind.h"
#include "testing/command_run.h"
#include "testing/loopback_server.h"
#include "testing/test_folder.h"

namespace sharelink::cli {
namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

long long ms_since(steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start).count();
}

using testing::command_run;
using testing::json_lines;
using testing::run_command;

// A Kuaichuan share page listing files of `size` bytes at `urls`.
std::string kuaichuan_page(const std::vector<std::string>& urls, std::size_t size, const std::string& key = "k") {
  std::string page = "<html><body>\n";
  for (std::size_t i = 0; i < urls.size(); ++i)
    page += "<a class=\"file_name\" file_url=\"" + urls[i] + "\" file_size=\"" + std::to_string(size) +
            "\" file_name=\"f" + std::to_string(i) + ".bin\">f</a>\n";
  return page + "<input type=\"hidden\" id=\"first_file_size\" value='" + std::to_string(size) +
         "'>\n<input type=\"hidden\" id=\"key\" value='" + key + "'>\n</body></html>";
}

TEST(ErrorKind, EachFailureOfAnAddressIsNamedInJson) {
  testing::loopback_server server;
  server.serve("/d/OK", kuaichuan_page({"http://127.0.0.1:1/f"}, 1));
  server.serve("/d/NONE", "<html></html>");
  server.http().Get("/d/GONE", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
  server.http().Get("/d/DENIED", [](const httplib::Request&, httplib::Response& res) { res.status = 403; });
  server.http().Get("/d/SLOW", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(1500ms);
    res.set_content("<html></html>", "text/html");
  });
  server.start();
  const std::vector<std::pair<std::string, nlohmann::json>> cases = {
      {"kuai.example/d/X", "address"},
      {"http://127.0.0.1:1/d/X", "network"},
      {server.url("/d/GONE"), "gone"},
      {server.url("/d/DENIED"), "http"},
      {server.url("/d/NONE"), "page"},
      {server.url("/d/SLOW"), "timeout"},
      {server.url("/d/OK"), nullptr},
  };
  std::vector<std::string> args = {"--json", "--no-config", "--retries", "0", "--timeout", "0.5"};
  for (const auto& c : cases) args.push_back(c.first);
  const command_run ran = run_command(args);
  EXPECT_EQ(ran.status, 1);
  const std::vector<nlohmann::json> objects = json_lines(ran.out);
  ASSERT_EQ(objects.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(objects[i]["error_kind"], cases[i].second) << cases[i].first << ": " << objects[i]["error"];
    EXPECT_EQ(objects[i]["error"].is_null(), cases[i].second.is_null()) << cases[i].first;
  }
}

// A page and a download that fail the same way are of one kind.
TEST(ErrorKind, APageAndADownloadThatFailAlikeAreOfOneKind) {
  testing::loopback_server server;
  server.http().Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
  server.http().Get("/silent", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(600ms);
    res.set_content("late", "text/plain");
  });
  server.start();
  fetch_options quick;
  quick.connect_timeout_ms = quick.stall_timeout_ms = quick.total_timeout_ms = 300;
  fetch_options missing_ca = quick;
  missing_ca.ca_file = "/nonexistent/ca.pem";
  fetch_options refused_proxy = quick;
  refused_proxy.proxy = "http://127.0.0.1:1";
  std::string https_at_plain = server.url("/");
  https_at_plain.insert(4, "s");
  const struct {
    std::string address;
    fetch_options options;
    error_kind kind;
  } fetched[] = {
      {server.url("/loop"), quick, error_kind::http},
      {"http://a b.example/d/X", quick, error_kind::address},
      {"http://127.0.0.1:1/", quick, error_kind::network},
      {"http://127.0.0.1:2/", refused_proxy, error_kind::network},
      {https_at_plain, fetcher_takes_ca_file ? missing_ca : quick, error_kind::tls},
      {server.url("/silent"), quick, error_kind::timeout},
  };
  testing::test_folder folder;
  for (const auto& c : fetched) {
    const fetch_outcome outcome = fetch_page_reporting(c.address, c.options);
    SCOPED_TRACE(c.address + ": " + outcome.error);
    EXPECT_EQ(failure_kind_of(outcome), c.kind);
    download_job job;
    job.url = c.address;
    job.output_dir = folder.path();
    job.fetch = c.options;
    job.retry.retries = 0;
    const download_result got = download_file(job, {});
    EXPECT_TRUE(got.error) << c.address;
    EXPECT_EQ(got.kind, c.kind) << got.error.value_or("");
  }
}

// Four files of one page on one host, each answered only once as many requests are
// in flight as the test waits for (or after a second): how many ran at once.
int most_downloads_at_once(const std::vector<std::string>& extra_args, int awaited) {
  testing::loopback_server server;
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0, most = 0;
  const std::string body(1000, 'x');
  server.http().Get(R"(/f/\d)", [&](const httplib::Request&, httplib::Response& res) {
    std::unique_lock lock(mutex);
    most = std::max(most, ++running);
    changed.notify_all();
    changed.wait_for(lock, 1s, [&] { return running >= awaited; });
    lock.unlock();
    res.set_content(body, "application/octet-stream");
    lock.lock();
    --running;
  });
  server.http().Get("/d/FOUR", [&](const httplib::Request&, httplib::Response& res) {
    std::vector<std::string> urls;
    for (int i = 0; i < 4; ++i) urls.push_back(server.url("/f/" + std::to_string(i)));
    res.set_content(kuaichuan_page(urls, body.size()), "text/html");
  });
  server.start();
  testing::test_folder folder;
  std::vector<std::string> args = {"--download", "--no-config", "--output-dir", folder.path()};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  args.push_back(server.url("/d/FOUR"));
  const command_run ran = run_command(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(std::count(ran.out.begin(), ran.out.end(), '\n'), 4) << ran.out;
  return most;
}

TEST(ParallelDownloads, FilesOfAPageGoTogetherUpToJobsAndThePerHostMost) {
  EXPECT_EQ(most_downloads_at_once({"--jobs", "4"}, 4), 4);
  EXPECT_EQ(most_downloads_at_once({"--jobs", "4", "--max-per-host", "2"}, 2), 2);
  EXPECT_EQ(most_downloads_at_once({"--jobs", "1"}, 1), 1);
}

// A rule's [limits] hold every request for its shares, the share page, its steps and
// the downloads of its files alike: one at a time to the host, the starts at least
// the interval apart.
TEST(ServiceLimits, HoldThePageItsStepsAndItsDownloads) {
  testing::loopback_server server;
  std::mutex mutex;
  std::vector<std::pair<steady::time_point, steady::time_point>> requests;  // start, end
  server.http().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    const auto start = steady::now();
    std::this_thread::sleep_for(40ms);
    if (req.path == "/s/1") res.set_content("list", "text/plain");
    else if (req.path == "/list")
      res.set_content("f=" + server.url("/f/1") + "\nf=" + server.url("/f/2") + "\nf=" + server.url("/f/3"), "text/plain");
    else res.set_content("bytes", "application/octet-stream");
    std::lock_guard lock(mutex);
    requests.emplace_back(start, steady::now());
  });
  server.start();
  testing::test_folder folder;
  testing::test_folder::write(folder / "rule.toml", "name = 'gentle'\naddresses = ['^http://127\\.0\\.0\\.1:\\d+/s/']\n"
                                           "[limits]\nmax_per_host = 1\ninterval = 0.25\n"
                                           "[[steps]]\nname = 'list'\naddress = '" + server.url("/list") + "'\n"
                                           "[records]\npattern = 'f=(?<download_url>\\S+)'\nstep = 'list'\n");
  const command_run ran = run_command({"--download", "--no-config", "--jobs", "4", "--max-per-host", "4",
                                       "--rules", folder / "rule.toml", "--output-dir", folder / "out",
                                       server.url("/s/1")});
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  std::lock_guard lock(mutex);
  ASSERT_EQ(requests.size(), 5u);
  std::sort(requests.begin(), requests.end());
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_GE(requests[i].first - requests[i - 1].first, 245ms) << i;
    EXPECT_GE(requests[i].first, requests[i - 1].second) << i;
  }
}

// The threads of the process, as the system counts them.
std::size_t threads_now() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// Pages downloading at once start no more threads than --jobs of their own between
// them, beyond the workers that read the pages.
TEST(ParallelDownloads, PagesAtOnceShareTheRunsThreads) {
  if (!std::filesystem::is_directory("/proc/self/task")) GTEST_SKIP() << "no /proc/self/task";
  testing::loopback_server server;
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
  std::size_t most_threads = 0;
  server.http().Get(R"(/f/\w+)", [&](const httplib::Request&, httplib::Response& res) {
    std::unique_lock lock(mutex);
    ++running;
    changed.notify_all();
    changed.wait_for(lock, 500ms, [&] { return running >= 4; });
    std::this_thread::sleep_for(50ms);  // every thread that is to start has started
    most_threads = std::max(most_threads, threads_now());
    --running;
    res.set_content("x", "application/octet-stream");
  });
  server.http().Get(R"(/d/(\w))", [&](const httplib::Request& req, httplib::Response& res) {
    std::vector<std::string> urls;
    for (int i = 0; i < 4; ++i) urls.push_back(server.url("/f/" + std::string(req.matches[1]) + std::to_string(i)));
    res.set_content(kuaichuan_page(urls, 1), "text/html");
  });
  server.start();
  testing::test_folder folder;
  fetch_page_reporting(server.url("/d/a"));  // the server's threads are all there
  const std::size_t before = threads_now();
  const command_run ran = run_command({"--download", "--no-config", "--jobs", "4", "--output-dir", folder.path(),
                                       server.url("/d/a"), server.url("/d/b"), server.url("/d/c"),
                                       server.url("/d/d")});
  EXPECT_EQ(ran.status, 0) << ran.err;
  // The reader, 4 workers and at most 4 helpers (a few more for the libraries).
  EXPECT_LE(most_threads, before + 1 + 4 + 4 + 2) << "before: " << before;
}

}  // namespace
}  // namespace sharelink::cli

namespace sharelink::cli {
namespace {

// A host whose download addresses work for one request each: the page hands out a
// fresh token every time it is read, and the very first request is cut halfway.
struct expiring_host {
  testing::loopback_server server;
  std::mutex mutex;
  int tokens = 0;
  std::map<std::string, int> uses;  ///< requests per token
  std::vector<std::string> ranges;  ///< the Range header of each file request
  const std::string body = std::string(50000, 'a') + std::string(50000, 'b');

  /// `last_without_address`: the page lists a last file that has no address.
  explicit expiring_host(bool last_without_address = false) {
    server.http().Get("/d/EXPIRING", [this, last_without_address](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(mutex);
      std::vector<std::string> urls = {server.url("/f/" + std::to_string(++tokens))};
      if (last_without_address) urls.push_back("");
      // The page's key changes with each visit: it does not tell one file from another.
      res.set_content(kuaichuan_page(urls, body.size(), "k" + std::to_string(tokens)), "text/html");
    });
    server.http().Get(R"(/f/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mutex);
        ranges.push_back(req.get_header_value("Range"));
        if (uses[req.matches[1]]++ > 0) {
          res.status = 410;
          return;
        }
      }
      // The server answers ranges itself; the first token's connection drops halfway.
      const std::size_t end = req.matches[1] == "1" ? body.size() / 2 : body.size();
      res.set_content_provider(body.size(), "application/octet-stream",
                               [this, end](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 if (offset >= end) return false;
                                 sink.write(body.data() + offset, std::min(length, end - offset));
                                 return true;
                               });
    });
    server.start();
  }
};

TEST(ExpiredAddress, IsResolvedAgainAndTheFileContinuesFromItsPart) {
  // The page read again is taken as the first reading took it: a last file without an
  // address is left out, the others stand.
  for (const bool last_without_address : {false, true}) {
    SCOPED_TRACE(last_without_address ? "a last file without an address" : "one file");
    expiring_host host(last_without_address);
    testing::test_folder folder;
    const command_run ran = run_command(
        {"--download", "--json", "--no-config", "--output-dir", folder.path(), host.server.url("/d/EXPIRING")});
    ASSERT_EQ(ran.status, last_without_address ? 1 : 0) << ran.err << ran.out;
    const nlohmann::json download = nlohmann::json::parse(ran.out)["files"][0]["download"];
    EXPECT_TRUE(download["error"].is_null()) << download;
    EXPECT_EQ(download["bytes"], host.body.size());
    EXPECT_EQ(download["re_resolved"], 1);
    EXPECT_TRUE(testing::test_folder::read(folder.path() + "/f0.bin") == host.body);
    // Each fresh address continued from the .part: never the whole file asked for again.
    std::lock_guard lock(host.mutex);
    for (std::size_t i = 1; i < host.ranges.size(); ++i) EXPECT_FALSE(host.ranges[i].empty()) << i;
  }
}

TEST(RetryAfter, DownloadsWaitItOutUpToTheMost) {
  testing::loopback_server server;
  std::atomic<int> asked{0};
  server.http().Get("/f/busy", [&](const httplib::Request&, httplib::Response& res) {
    if (asked++ == 0) {
      res.status = 503;
      res.set_header("Retry-After", "1");
      return;
    }
    res.set_content("0123456789", "application/octet-stream");
  });
  server.http().Get("/f/later", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 429;
    res.set_header("Retry-After", "600");
  });
  server.http().Get(R"(/d/(\w+))", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(kuaichuan_page({server.url("/f/" + std::string(req.matches[1]))}, 10), "text/html");
  });
  server.start();
  testing::test_folder folder;
  const auto start = steady::now();
  const command_run ran = run_command({"--download", "--json", "--no-config", "--output-dir", folder.path(),
                                       server.url("/d/busy"), server.url("/d/later")});
  EXPECT_GE(ms_since(start), 900);
  EXPECT_LT(ms_since(start), 5000);
  const std::vector<nlohmann::json> objects = json_lines(ran.out);
  ASSERT_EQ(objects.size(), 2u) << ran.out;
  EXPECT_TRUE(objects[0]["files"][0]["download"]["error"].is_null()) << ran.out;
  const nlohmann::json later = objects[1]["files"][0]["download"];
  EXPECT_EQ(later["error_kind"], "http");
  EXPECT_NE(later["error"].get<std::string>().find("more than --retry-max-wait allows (120 s)"), std::string::npos)
      << later["error"];
}

// A file whose fresh address is on another host: that host's Retry-After pauses that
// host, not the one the file was first asked from.
TEST(RetryAfter, AfterAFreshAddressThePauseIsTheNewHosts) {
  testing::loopback_server server;
  std::mutex mutex;
  std::map<std::string, steady::time_point> first_asked;
  const auto note = [&](const std::string& what) {
    std::lock_guard lock(mutex);
    first_asked.emplace(what, steady::now());
  };
  std::atomic<int> page_reads{0}, busy_asked{0};
  server.http().Get("/d/MOVED", [&](const httplib::Request&, httplib::Response& res) {
    // First the file is on 127.0.0.1, where it has expired; then on "localhost".
    const std::string url = page_reads++ == 0 ? server.url("/f/gone")
                                              : "http://localhost:" + std::to_string(server.port()) + "/f/busy";
    res.set_content(kuaichuan_page({url}, 10), "text/html");
  });
  server.http().Get("/f/gone", [](const httplib::Request&, httplib::Response& res) { res.status = 410; });
  server.http().Get("/f/busy", [&](const httplib::Request&, httplib::Response& res) {
    if (busy_asked++ == 0) {
      note("503");
      res.status = 503;
      res.set_header("Retry-After", "1");
      return;
    }
    res.set_content("0123456789", "application/octet-stream");
  });
  server.http().Get("/d/LATER", [&](const httplib::Request&, httplib::Response& res) {
    // Read once the moved file was told to wait: its own file then goes to 127.0.0.1.
    for (int i = 0; i < 300 && busy_asked.load() == 0; ++i) std::this_thread::sleep_for(10ms);
    res.set_content(kuaichuan_page({server.url("/f/later")}, 10), "text/html");
  });
  server.http().Get("/f/later", [&](const httplib::Request&, httplib::Response& res) {
    note("later");
    res.set_content("0123456789", "application/octet-stream");
  });
  server.start();
  testing::test_folder folder;
  const command_run ran = run_command({"--download", "--no-config", "--jobs", "2", "--output-dir", folder.path(),
                                       server.url("/d/MOVED"), server.url("/d/LATER")});
  EXPECT_EQ(ran.status, 0) << ran.err << ran.out;
  std::lock_guard lock(mutex);
  ASSERT_TRUE(first_asked.count("503") && first_asked.count("later")) << ran.out;
  EXPECT_LT(first_asked["later"] - first_asked["503"], 700ms);
}

// A download told to come back later leaves its host alone meanwhile: the next file
// of the page is not asked for while the first waits.
TEST(RetryAfter, ADownloadsWaitLeavesTheHostAlone) {
  testing::loopback_server server;
  std::mutex mutex;
  std::map<std::string, steady::time_point> first_asked;
  const auto note = [&](const std::string& what) {
    std::lock_guard lock(mutex);
    first_asked.emplace(what, steady::now());
  };
  std::atomic<int> busy_asked{0};
  server.http().Get("/f/busy", [&](const httplib::Request&, httplib::Response& res) {
    if (busy_asked++ == 0) {
      note("503");
      res.status = 503;
      res.set_header("Retry-After", "1");
      return;
    }
    res.set_content("0123456789", "application/octet-stream");
  });
  server.http().Get(R"(/f/(slow|last))", [&](const httplib::Request& req, httplib::Response& res) {
    if (req.matches[1] == "slow") {  // done 300 ms after the first file was told to wait
      for (int i = 0; i < 500 && busy_asked.load() == 0; ++i) std::this_thread::sleep_for(10ms);
      std::this_thread::sleep_for(300ms);
    }
    note(req.matches[1]);
    res.set_content("0123456789", "application/octet-stream");
  });
  server.http().Get("/d/page", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(kuaichuan_page({server.url("/f/busy"), server.url("/f/slow"), server.url("/f/last")}, 10),
                    "text/html");
  });
  server.start();
  testing::test_folder folder;
  const command_run ran = run_command(
      {"--download", "--no-config", "--jobs", "2", "--output-dir", folder.path(), server.url("/d/page")});
  EXPECT_EQ(ran.status, 0) << ran.err;
  std::lock_guard lock(mutex);
  ASSERT_TRUE(first_asked.count("503") && first_asked.count("last"));
  // Without the pause the last file is asked for once the slow one is done, 300 ms in.
  EXPECT_GE(first_asked["last"] - first_asked["503"], 800ms);
}

}  // namespace
}  // namespace sharelink::cli
