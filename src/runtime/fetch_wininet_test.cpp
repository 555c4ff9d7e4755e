// What the WinINet fetcher does beyond the shared contract: many reads per body,
// fetches from several threads at once, and fetches given up while WinINet still has
// an operation under way. Against the contract server, whose addresses the test
// script passes in SHARELINK_TEST_HTTP and SHARELINK_TEST_PROXY.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "runtime/fetch.h"
#include "testing/quick_fetch.h"

namespace sharelink {
namespace {

using namespace std::chrono_literals;

class WinInetFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* http = std::getenv("SHARELINK_TEST_HTTP");
    const char* proxy = std::getenv("SHARELINK_TEST_PROXY");
    if (!http || !proxy) GTEST_SKIP() << "no contract server (run scripts/test-windows)";
    http_ = http;
    proxy_ = proxy;
  }
  static fetch_options quick() { return testing::quick_fetch_options(2000); }
  std::string http_, proxy_;
};

TEST_F(WinInetFetch, BodyOfManyReadsIsKeptWholeUpToTheCap) {
  // No length announced: reads of the smallest chunk, many of them, then the cap.
  fetch_options options = quick();
  options.body_cap = 300001;
  const fetch_outcome outcome = fetch_page_reporting(http_ + "/endless", options);
  EXPECT_EQ(outcome.cut, fetch_cut::capped);
  EXPECT_EQ(outcome.body.size(), options.body_cap);
  EXPECT_EQ(outcome.body.find_first_not_of('x'), std::string::npos);
}

TEST_F(WinInetFetch, GivenUpFetchesAndParallelFetchesDoNotDisturbEachOther) {
  // Each round: one fetch given up while WinINet still waits for the answer (the
  // server hangs up later, and WinINet ends that wait on its own), beside fetches
  // on each internet handle, from their own threads.
  for (int round = 0; round < 5; ++round) {
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    threads.emplace_back([&] {
      fetch_options options = quick();
      options.stall_timeout_ms = 100;
      const fetch_outcome outcome = fetch_page_reporting(http_ + "/mute", options);
      if (!outcome.fetched && outcome.cut == fetch_cut::stalled) ++good;
    });
    threads.emplace_back([&] {
      std::atomic<bool> cancel{false};
      fetch_options options = quick();
      options.cancel = &cancel;
      std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        cancel = true;
      });
      const fetch_outcome outcome = fetch_page_reporting(http_ + "/stall", options);
      stopper.join();
      if (outcome.cut == fetch_cut::interrupted) ++good;
    });
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&, i] {
        fetch_options options = quick();
        if (i == 1) options.proxy.reset();  // the system's setting: none under test
        const std::string path = "/status/" + std::to_string(200 + i);
        const fetch_outcome outcome = fetch_page_reporting(http_ + path, options);
        if (outcome.fetched && outcome.status == 200 + i) ++good;
      });
    }
    threads.emplace_back([&] {
      fetch_options options = quick();
      options.proxy = proxy_;
      const fetch_outcome outcome = fetch_page_reporting("http://only-through-the-proxy.test/", options);
      if (outcome.fetched && outcome.body.starts_with("proxied GET ")) ++good;
    });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(good.load(), 7) << "round " << round;
  }
}

TEST_F(WinInetFetch, ASocksProxyIsRefusedNotSpokenToAsHttp) {
  // WinINet would send HTTP to it; the system's proxy settings are where SOCKS goes.
  for (const char* proxy : {"socks5h://127.0.0.1:1", "SOCKS5://127.0.0.1:1"}) {
    fetch_options options = quick();
    options.proxy = proxy;
    const fetch_outcome outcome = fetch_page_reporting(http_ + "/", options);
    EXPECT_FALSE(outcome.fetched) << proxy;
    EXPECT_NE(outcome.error.find("only an http:// proxy"), std::string::npos) << outcome.error;
  }
}

}  // namespace
}  // namespace sharelink
