// The WinINet fetcher against the loopback server of scripts/windows-loopback-server.py,
// whose addresses arrive in SHARELINK_TEST_HTTP and SHARELINK_TEST_HTTPS.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "runtime/fetch.h"

namespace sharelink {
namespace {

class WinInetFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* http = std::getenv("SHARELINK_TEST_HTTP");
    const char* https = std::getenv("SHARELINK_TEST_HTTPS");
    if (!http || !https) GTEST_SKIP() << "no loopback server (run scripts/test-windows)";
    http_ = http;
    https_ = https;
  }
  std::string http_, https_;
};

// The lines of an /echo page that start with `name: `, joined by '|'.
std::string header_values(const std::string& echo, const std::string& name) {
  std::string values;
  std::size_t pos = 0;
  const std::string prefix = name + ": ";
  while ((pos = echo.find(prefix, pos)) != std::string::npos) {
    if (pos == 0 || echo[pos - 1] == '\n') {
      const std::size_t end = echo.find('\n', pos);
      if (!values.empty()) values += '|';
      values += echo.substr(pos + prefix.size(), end == std::string::npos ? end : end - pos - prefix.size());
    }
    pos += prefix.size();
  }
  return values;
}

TEST_F(WinInetFetchTest, AddressesThatCannotBeFetchedGiveNothing) {
  for (const char* address : {"", "127.0.0.1/echo", "no scheme at all", "ftp://127.0.0.1/file",
                              "file:///c:/windows/win.ini", "mailto:someone@example.com"}) {
    const fetch_outcome outcome = fetch_page_reporting(address);
    EXPECT_TRUE(outcome.body.empty()) << address;
    EXPECT_FALSE(outcome.fetched) << address;
    EXPECT_FALSE(outcome.error.empty()) << address;
  }
  // Nothing listens on port 1.
  EXPECT_EQ(fetch_page("http://127.0.0.1:1/"), "");
}

TEST_F(WinInetFetchTest, RequestOnTheWire) {
  const std::string echo = fetch_page(http_ + "/echo/page?a=1#top");
  EXPECT_EQ(header_values(echo, "target"), "/echo/page?a=1");
  EXPECT_EQ(header_values(echo, "version"), "HTTP/1.0");
  EXPECT_EQ(header_values(echo, "user-agent"), fetch_user_agent);
  EXPECT_EQ(header_values(echo, "accept"), "*/*");
  EXPECT_EQ(header_values(echo, "referer"), "");
  EXPECT_EQ(header_values(echo, "authorization"), "");
}

TEST_F(WinInetFetchTest, BodyComesBackWholeWhateverTheStatus) {
  const fetch_outcome missing = fetch_page_reporting(http_ + "/missing");
  EXPECT_TRUE(missing.fetched);
  EXPECT_EQ(missing.body, "no such page");

  EXPECT_EQ(fetch_page(http_ + "/zero"), std::string("a\0b\0c", 5));

  // Above the largest read chunk, below it without a length, and cut short.
  std::string large;
  for (int i = 0; i < 300000; ++i) large += static_cast<char>(i % 251);
  EXPECT_EQ(fetch_page(http_ + "/large"), large);
  EXPECT_EQ(fetch_page(http_ + "/unsized"), std::string(25000, 'x'));
  EXPECT_EQ(fetch_page(http_ + "/cut"), "0123456789");
}

TEST_F(WinInetFetchTest, RedirectsCookiesAndCredentials) {
  EXPECT_EQ(header_values(fetch_page(http_ + "/moved"), "target"), "/echo?moved=1");

  EXPECT_EQ(fetch_page(http_ + "/cookie"), "set");
  EXPECT_EQ(header_values(fetch_page(http_ + "/echo"), "cookie"), "visit=42");

  // user:pw from the address answer the server's challenge.
  std::string with_user = http_;
  with_user.insert(with_user.find("//") + 2, "user:pw@");
  EXPECT_EQ(fetch_page(with_user + "/auth"), "authorization: Basic dXNlcjpwdw==");
}

TEST_F(WinInetFetchTest, LimitsKeepWhatArrived) {
  // A server that stops sending: the bytes so far, well before it would hang up.
  fetch_options quick;
  quick.stall_timeout_ms = 1000;
  const auto started = std::chrono::steady_clock::now();
  const fetch_outcome stalled = fetch_page_reporting(http_ + "/stall", quick);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_EQ(stalled.body, "early");

  // A body that trickles in for ever ends at the time limit, keeping what came.
  fetch_options bounded;
  bounded.total_timeout_ms = 1500;
  const auto trickle_started = std::chrono::steady_clock::now();
  const fetch_outcome trickle = fetch_page_reporting(http_ + "/trickle", bounded);
  EXPECT_LT(std::chrono::steady_clock::now() - trickle_started, std::chrono::seconds(20));
  EXPECT_FALSE(trickle.body.empty());
  EXPECT_EQ(trickle.body.find_first_not_of('t'), std::string::npos);

  const fetch_outcome huge = fetch_page_reporting(http_ + "/huge");
  EXPECT_TRUE(huge.fetched);
  EXPECT_EQ(huge.body.size(), fetch_options{}.body_cap);
}

TEST_F(WinInetFetchTest, UntrustedCertificateGivesNothing) {
  const fetch_outcome outcome = fetch_page_reporting(https_ + "/echo");
  EXPECT_TRUE(outcome.body.empty());
  EXPECT_FALSE(outcome.fetched);
}

}  // namespace
}  // namespace sharelink
