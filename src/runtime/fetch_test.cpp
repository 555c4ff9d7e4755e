#include "runtime/fetch.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "testing/contract_server.h"
#include "testing/loopback_server.h"
#include "testing/quick_fetch.h"
#include "testing/raw_server.h"

namespace sharelink {
namespace {

using namespace std::chrono_literals;
using testing::loopback_server;
using testing::raw_connection;
using testing::raw_server;

fetch_options quick() { return testing::quick_fetch_options(); }

// ---- addresses as pasted ---------------------------------------------------------

TEST(FetchAddress, PastedAddressesAreMadeSendable) {
  struct example {
    std::string pasted, sent;
  };
  const example examples[] = {
      {"http://h/p", "http://h/p"},
      {"  http://h/p \r\n", "http://h/p"},
      {"ht\ttp://h/\np", "http://h/p"},
      {"HTTPS://h", "https://h/"},
      {"http:h?q", "http://h/?q"},
      {"http:\\\\h\\a\\b?x=\\y", "http://h/a/b?x=\\y"},
      {"http://h/p?a=1#top", "http://h/p?a=1"},
      {"http://h/a b?q=c d", "http://h/a%20b?q=c%20d"},
      {"http://h/a\x01z\x7F", "http://h/a%01z%7F"},
      {"http://h/<\"`{}>?<\"`{}>", "http://h/%3C%22%60%7B%7D%3E?%3C%22`{}%3E"},
      {std::string("http://h/a\0/b", 13), "http://h/a"},
      {"http://h/%41%zz", "http://h/%41%zz"},
      // Characters beyond ASCII go as their UTF-8 bytes, each escaped; any other byte
      // of 0x80 or above alike.
      {"http://h/中文?n=é😀.rar", "http://h/%E4%B8%AD%E6%96%87?n=%C3%A9%F0%9F%98%80.rar"},
      {"http://h/\xFF", "http://h/%FF"},
      {"http://u:p@h:8080/x", "http://u:p@h:8080/x"},
      {"http://a@b:c d@h/", "http://a%40b:c%20d@h/"},
      {"http://é@x:pw@h/", "http://%C3%A9%40x:pw@h/"},
      {"http://@h/", "http://h/"},
  };
  for (const example& e : examples) {
    SCOPED_TRACE(e.pasted);
    fetch_address prepared = prepare_fetch_address(e.pasted);
    EXPECT_EQ(prepared.error, "");
    EXPECT_EQ(prepared.url, e.sent);
    EXPECT_EQ(prepared.secure, e.sent.starts_with("https:"));
  }
}

TEST(FetchAddress, UnfetchableAddressesAreRefused) {
  struct example {
    std::string pasted, error;
  };
  const example examples[] = {
      {"", "empty address"},
      {" \t\r\n ", "empty address"},
      {std::string("\0http://h/", 10), "empty address"},
      {"pan.example.com/s/1abc", "address has no scheme"},
      {"127.0.0.1:80/", "address has no scheme"},
      {"ftp://h/file", "unsupported scheme \"ftp\""},
      {"FILE:///etc/passwd", "unsupported scheme \"file\""},
      {"javascript:alert(1)", "unsupported scheme \"javascript\""},
      {"http://", "address has no host"},
      {"http://u:p@/x", "address has no host"},
      {"http://h st/", "invalid host name"},
  };
  for (const example& e : examples) {
    SCOPED_TRACE(e.pasted);
    fetch_address prepared = prepare_fetch_address(e.pasted);
    EXPECT_EQ(prepared.error, e.error);
    EXPECT_EQ(prepared.url, "");
  }
}

TEST(FetchAddress, RedirectTargetsResolveAgainstTheCurrentAddress) {
  const fetch_address from = prepare_fetch_address("http://u:p@h:81/a/b?q");
  const std::pair<std::string, std::string> examples[] = {
      {"http://x/y", "http://x/y"},
      {"HTTPS://x/y", "https://x/y"},
      {"//x/y", "http://x/y"},
      {"/c", "http://u:p@h:81/c"},
      {"\\c", "http://u:p@h:81/c"},
      {"c?d", "http://u:p@h:81/a/c?d"},
      {"../c", "http://u:p@h:81/a/../c"},  // dot segments are resolved by the client
      {"?z", "http://u:p@h:81/a/b?z"},
      {"", "http://u:p@h:81/a/b?q"},
      {"#f", "http://u:p@h:81/a/b?q"},
      {" /\xD6\xD0 x#f ", "http://u:p@h:81/%D6%D0%20x"},
  };
  for (const auto& [location, next] : examples) {
    SCOPED_TRACE(location);
    fetch_address followed = follow_redirect(from, location);
    EXPECT_EQ(followed.error, "");
    EXPECT_EQ(followed.url, next);
  }
  EXPECT_EQ(follow_redirect(prepare_fetch_address("https://h/a"), "//x/y").url, "https://x/y");
}

TEST(FetchAddress, RedirectsAwayFromTheWebOrDownToHttpAreRefused) {
  const fetch_address plain = prepare_fetch_address("http://h/");
  const fetch_address secure = prepare_fetch_address("https://h/");
  EXPECT_EQ(follow_redirect(secure, "http://h/").error, "redirect from https to http refused");
  EXPECT_EQ(follow_redirect(secure, "HTTP://other/").error, "redirect from https to http refused");
  for (const char* location : {"ftp://h/", "file:///etc/passwd", "gopher://h/", "dict://h/"}) {
    SCOPED_TRACE(location);
    EXPECT_TRUE(follow_redirect(plain, location).error.starts_with("redirect refused: "));
    EXPECT_EQ(follow_redirect(plain, location).url, "");
  }
  EXPECT_TRUE(follow_redirect(fetch_address{}, "/x").url.empty());
}

// ---- what goes on the wire ---------------------------------------------------------

TEST(Fetch, AddressesThatCannotBeFetchedMakeNoConnection) {
  raw_server server([](raw_connection& c) { c.send("HTTP/1.0 200 OK\r\n\r\nreached"); });
  const std::string host_port = "127.0.0.1:" + std::to_string(server.port());
  for (const std::string& address :
       {std::string(), std::string("   "), host_port + "/", "ftp://" + host_port + "/",
        std::string("file:///etc/passwd"), "gopher://" + host_port + "/",
        "Http//" + host_port + "/"}) {
    SCOPED_TRACE(address);
    fetch_outcome outcome = fetch_page_reporting(address, quick());
    EXPECT_FALSE(outcome.fetched);
    EXPECT_EQ(outcome.body, "");
    EXPECT_NE(outcome.error, "");
    EXPECT_EQ(fetch_page(address), "");
  }
  EXPECT_EQ(server.connections(), 0);
}

// ---- what comes back ---------------------------------------------------------------

TEST(Fetch, BodyWithoutLengthIsReadToTheCloseZeroBytesIncluded) {
  const std::string body = std::string("a\0b\0\0c", 6) + std::string(100000, '\0') + "end";
  raw_server server([&](raw_connection& c) { c.send("HTTP/1.0 200 OK\r\n\r\n" + body); });
  fetch_outcome outcome = fetch_page_reporting(server.url(), quick());
  EXPECT_TRUE(outcome.fetched) << outcome.error;
  EXPECT_EQ(outcome.body, body);
}

// ---- proxies and sharing -------------------------------------------------------------

/// Sets an environment variable for the life of the object, then restores it.
class scoped_env {
 public:
  scoped_env(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~scoped_env() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Fetch, ProxyComesFromTheEnvironmentUnlessTheOptionsNameOne) {
  const std::optional<testing::contract_servers> servers = testing::start_contract_server();
  if (!servers) GTEST_SKIP() << "no contract server (python3 missing)";
  const std::string address = "http://only-through-the-proxy.test/p?q=1";
  fetch_options options = quick();
  options.proxy.reset();
  fetch_outcome via_environment, bypassed, none;
  {
    scoped_env http_proxy("http_proxy", servers->proxy);
    via_environment = fetch_page_reporting(address, options);
    {
      scoped_env no_proxy("no_proxy", ".test");
      bypassed = fetch_page_reporting(address, options);
    }
    options.proxy = "";
    none = fetch_page_reporting(address, options);
  }
  EXPECT_TRUE(via_environment.fetched) << via_environment.error;
  EXPECT_EQ(via_environment.body, "proxied GET " + address);
  EXPECT_FALSE(bypassed.fetched);
  EXPECT_FALSE(none.fetched);
}

TEST(Fetch, SocksProxiesCarryTheRequestAndARefusedProxySaysSo) {
  const std::optional<testing::contract_servers> servers = testing::start_contract_server();
  if (!servers) GTEST_SKIP() << "no contract server (python3 missing)";
  fetch_options options = quick();
  // socks5h: the proxy looks the name up; socks5: the client does, and port 1 of
  // 127.0.0.1 refuses anyone who tries it directly.
  std::string socks5h = servers->socks;
  socks5h.replace(0, 6, "socks5h");
  options.proxy = socks5h;
  fetch_outcome outcome = fetch_page_reporting("http://only-through-socks.test/echo/h", options);
  EXPECT_TRUE(outcome.fetched) << outcome.error;
  EXPECT_TRUE(outcome.body.starts_with("GET /echo/h HTTP/1.0\r\nHost: only-through-socks.test\r\n"))
      << outcome.body;
  options.proxy = servers->socks;
  outcome = fetch_page_reporting("http://127.0.0.1:1/echo/s", options);
  EXPECT_TRUE(outcome.fetched) << outcome.error;
  EXPECT_TRUE(outcome.body.starts_with("GET /echo/s HTTP/1.0\r\n")) << outcome.body;

  for (const char* refused : {"socks5h://127.0.0.1:1", "socks5://127.0.0.1:1"}) {
    options.proxy = refused;
    outcome = fetch_page_reporting("http://only-through-socks.test/", options);
    EXPECT_TRUE(outcome.error.starts_with("cannot connect through the proxy: ")) << outcome.error;
  }
  options.proxy.reset();
  scoped_env http_proxy("http_proxy", "http://127.0.0.1:1");
  outcome = fetch_page_reporting("http://only-through-the-proxy.test/", options);
  EXPECT_TRUE(outcome.error.starts_with("cannot connect through the proxy: ")) << outcome.error;
  scoped_env no_proxy("no_proxy", "example.test, 127.0.0.1");
  outcome = fetch_page_reporting("http://127.0.0.1:1/", options);
  EXPECT_EQ(outcome.error, "connection refused");
}

TEST(Fetch, CertificateAuthoritiesComeFromTheEnvironmentAsCurlReadsThem) {
  const std::optional<testing::contract_servers> servers = testing::start_contract_server();
  if (!servers) GTEST_SKIP() << "no contract server (python3 missing)";
  const std::string address = servers->https + "/status/200";
  const auto from_environment = [] {
    fetch_options options = quick();
    options.ca_file = fetch_options{}.ca_file;
    return options;
  };
  scoped_env bundle("CURL_CA_BUNDLE", "");
  {
    scoped_env file("SSL_CERT_FILE", servers->ca_file);
    EXPECT_EQ(fetch_options{}.ca_file, servers->ca_file);
    const fetch_outcome outcome = fetch_page_reporting(address, from_environment());
    EXPECT_TRUE(outcome.fetched) << outcome.error;
    // CURL_CA_BUNDLE comes first.
    scoped_env first("CURL_CA_BUNDLE", "/nonexistent/ca.pem");
    EXPECT_EQ(fetch_options{}.ca_file, "/nonexistent/ca.pem");
  }
  scoped_env file("SSL_CERT_FILE", "");
  EXPECT_EQ(fetch_options{}.ca_file, "");
  EXPECT_FALSE(fetch_page_reporting(address, from_environment()).fetched);
}

TEST(Fetch, ConcurrentFetchesShareOneCookieJarSafely) {
  loopback_server server;
  std::atomic<int> counter{0};
  server.http().Get("/n", [&](const httplib::Request& req, httplib::Response& res) {
    const int n = ++counter;
    res.set_header("Set-Cookie", "fetch_test_n" + std::to_string(n % 4) + "=1; Path=/");
    res.set_content(req.path, "text/plain");
  });
  server.start();
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i)
        if (fetch_page(server.url("/n")) == "/n") ++good;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 40);
}

}  // namespace
}  // namespace sharelink
