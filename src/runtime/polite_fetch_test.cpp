// Waiting, retrying and holding back, against pages served on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/polite_fetch.h"
#include "testing/loopback_server.h"

namespace sharelink {
namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

long long ms_since(steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start).count();
}

TEST(HostAndPort, NamesHostAndPortInLowerCase) {
  EXPECT_EQ(host_and_port("http://A.Example/x"), "a.example:80");
  EXPECT_EQ(host_and_port("HTTPS://a.example/x"), "a.example:443");
  EXPECT_EQ(host_and_port("http://user:pw@a.example:8080?q#f"), "a.example:8080");
  EXPECT_EQ(host_and_port("http://[::1]/x"), "[::1]:80");
  EXPECT_EQ(host_and_port("http://[::1]:81/x"), "[::1]:81");
  EXPECT_EQ(host_and_port("no scheme"), "");
  EXPECT_EQ(host_and_port("http://Bücher.example/x"), host_and_port("http://xn--bcher-kva.example/y"));
  EXPECT_EQ(host_and_port("http:\\\\a.example\\x"), "a.example:80");
}

// A server whose paths answer from a script: the n-th request to a path gets the
// n-th status (the last one again after the end), with Retry-After when given.
class scripted_server {
 public:
  struct answer {
    int status;
    std::string retry_after;
  };
  void script(const std::string& path, std::vector<answer> answers) {
    server_.http().Get(path, [this, path, answers](const httplib::Request&, httplib::Response& res) {
      std::size_t n = 0;
      {
        std::lock_guard lock(mutex_);
        n = requests_[path]++;
      }
      const answer& a = answers[std::min(n, answers.size() - 1)];
      res.status = a.status;
      if (!a.retry_after.empty()) res.set_header("Retry-After", a.retry_after);
      res.set_content("<html></html>", "text/html");
    });
  }
  void start() { server_.start(); }
  std::string url(const std::string& path) const { return server_.url(path); }
  int requests(const std::string& path) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(requests_[path]);
  }

 private:
  testing::loopback_server server_;
  std::mutex mutex_;
  std::map<std::string, std::size_t> requests_;
};

TEST(PatientFetch, WaitsOutRetryAfterRetriesPassingFailuresAndNothingElse) {
  scripted_server server;
  server.script("/busy", {{429, "1"}, {200, ""}});
  server.script("/down", {{503, ""}});
  server.script("/gone", {{404, ""}});
  server.script("/later", {{503, "300"}});
  server.start();
  retry_policy policy;
  policy.first_pause_ms = 20;
  const struct {
    std::string address;
    long status;
    int requests;
    long long least_ms, most_ms;
    std::string error;
  } cases[] = {
      {server.url("/busy"), 200, 2, 900, 5000, ""},
      {server.url("/down"), 503, 3, 30, 2000, ""},  // tried again twice, the last answer kept
      {server.url("/gone"), 404, 1, 0, 1000, ""},
      {server.url("/later"), 503, 1, 0, 1000,
       "the server asks to wait 300 s (Retry-After), more than --retry-max-wait allows (120 s)"},
      {"http://127.0.0.1:1/refused", 0, 0, 0, 900, "connection refused"},
  };
  for (const auto& c : cases) {
    host_gate gate;
    const auto start = steady::now();
    const fetch_outcome outcome = fetch_page_patiently(c.address, {}, policy, gate);
    const long long took = ms_since(start);
    EXPECT_EQ(outcome.status, c.status) << c.address;
    EXPECT_EQ(outcome.error, c.error) << c.address;
    EXPECT_GE(took, c.least_ms) << c.address;
    EXPECT_LE(took, c.most_ms) << c.address;
    const std::string path = c.address.substr(c.address.rfind('/'));
    if (c.requests > 0) {
      EXPECT_EQ(server.requests(path), c.requests) << c.address;
    }
  }
}

// The wait budget counts every pause a request waits through: the one another request
// to the host was told of too. And a budget too large to count in is as long as any.
TEST(PatientFetch, EveryPauseOfTheHostCountsAgainstTheMostWait) {
  scripted_server server;
  server.script("/first", {{429, "2"}, {200, ""}});
  server.script("/second", {{429, "2"}, {200, ""}});
  server.script("/huge", {{429, "1"}, {200, ""}});
  server.start();
  host_gate gate;
  retry_policy policy;
  policy.most_wait_s = 3;
  fetch_outcome first;
  std::thread ahead([&] { first = fetch_page_patiently(server.url("/first"), {}, policy, gate); });
  for (int i = 0; i < 200 && server.requests("/first") == 0; ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);  // the host is paused now, for about 2 s
  const fetch_outcome second = fetch_page_patiently(server.url("/second"), {}, policy, gate);
  ahead.join();
  EXPECT_EQ(first.status, 200) << first.error;
  EXPECT_FALSE(second.fetched);
  EXPECT_EQ(second.error,
            "the server still asks to wait 2 s (Retry-After) after 2 s of waiting, more than --retry-max-wait "
            "allows (3 s)");
  EXPECT_EQ(server.requests("/second"), 1);

  policy.most_wait_s = std::numeric_limits<long long>::max();
  const fetch_outcome huge = fetch_page_patiently(server.url("/huge"), {}, policy, gate);
  EXPECT_EQ(huge.status, 200) << huge.error;
}

TEST(PatientFetch, CtrlCEndsTheWaitAtOnce) {
  scripted_server server;
  server.script("/busy", {{429, "60"}});
  server.start();
  std::atomic<bool> cancel{false};
  fetch_options options;
  options.cancel = &cancel;
  host_gate gate;
  std::thread press([&] {
    std::this_thread::sleep_for(200ms);
    cancel = true;
  });
  const auto start = steady::now();
  const fetch_outcome outcome = fetch_page_patiently(server.url("/busy"), options, {}, gate);
  press.join();
  EXPECT_LT(ms_since(start), 1000);
  EXPECT_EQ(outcome.cut, fetch_cut::interrupted);
}

TEST(HostGate, HoldsEachHostToItsMost) {
  host_gate gate(2);
  std::atomic<int> running{0}, most{0}, other{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      const bool mine = i % 4 != 3;  // six requests to one host, two to another
      auto pass = gate.enter(mine ? "a:80" : "b:80", nullptr);
      if (!mine) {
        ++other;
        std::this_thread::sleep_for(30ms);
        return;
      }
      const int now = ++running;
      for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(30ms);
      --running;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(most.load(), 2);
  EXPECT_EQ(other.load(), 2);
}

// A host's own limits (a service's) hold together with the gate's: the smaller most,
// the longer interval between starts; other hosts go on as they would.
TEST(HostGate, AHostsOwnLimitsHoldItAndSpaceItsRequests) {
  host_gate gate(4);
  gate.limit("a:80", {3, 100ms});
  gate.limit("a:80", {1, 50ms});
  std::mutex mutex;
  std::vector<steady::time_point> starts;
  std::atomic<int> running{0}, most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&] {
      auto pass = gate.enter("a:80", nullptr);
      {
        std::lock_guard lock(mutex);
        starts.push_back(steady::now());
      }
      const int now = ++running;
      for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(10ms);
      --running;
    });
  const auto other = steady::now();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(gate.enter("b:80", nullptr));
  EXPECT_LT(ms_since(other), 50);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(most.load(), 1);
  std::sort(starts.begin(), starts.end());
  for (std::size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 1], 90ms) << i;
  EXPECT_FALSE(gate.try_enter("a:80"));  // the last start was just now
}

}  // namespace
}  // namespace sharelink
