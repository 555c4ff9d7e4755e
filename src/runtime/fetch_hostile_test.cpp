// The fetcher against servers that misbehave: every test bounds the time the
// fetch may take and checks that what did arrive is kept, unchanged.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "codec/gb18030.h"
#include "resolve/named_services.h"
#include "runtime/relative_address.h"
#include "runtime/fetch.h"
#include "testing/built_in_reading.h"
#include "testing/quick_fetch.h"
#include "testing/raw_server.h"

namespace sharelink {
namespace {

using testing::read_built_in;

using namespace std::chrono_literals;
using testing::raw_connection;
using testing::raw_server;

fetch_options quick() { return testing::quick_fetch_options(); }

struct timed_outcome {
  fetch_outcome outcome;
  std::chrono::duration<double> took;
};

timed_outcome timed_fetch(const std::string& address, const fetch_options& options = quick()) {
  auto begin = std::chrono::steady_clock::now();
  fetch_outcome outcome = fetch_page_reporting(address, options);
  return {std::move(outcome), std::chrono::steady_clock::now() - begin};
}

const resolved_file nothing_found{"", "", "", "0B", ""};

TEST(FetchHostile, HeadersThenSilenceEndsAtTheStallLimit) {
  raw_server server([](raw_connection& c) {
    c.send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n");
    c.hold();
  });
  auto [outcome, took] = timed_fetch(server.url());
  EXPECT_LT(took, 6s);
  EXPECT_EQ(outcome.body, "");
  EXPECT_EQ(outcome.cut, fetch_cut::stalled);
  EXPECT_EQ(outcome.error, "timed out: nothing received for 1000 ms after 0 of 100 bytes");
}

TEST(FetchHostile, VeryLongLocationEndsPromptly) {
  raw_server server([](raw_connection& c) {
    if (c.request_head().starts_with("GET / ")) {
      std::string location = "/" + std::string(1 << 20, 'L');
      c.send("HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n");
    } else {
      c.send("HTTP/1.0 200 OK\r\n\r\nlanded");
    }
  });
  auto [outcome, took] = timed_fetch(server.url());
  EXPECT_LT(took, 10s);
  EXPECT_LE(server.connections(), 2);
}

TEST(FetchHostile, TlsHandshakeThatNeverEndsIsBoundedByTheConnectOrTheWholeLimit) {
  raw_server silent([](raw_connection& c) { c.hold(); });  // takes the hello, says nothing
  std::string address = silent.url();
  address.replace(0, 4, "https");
  timed_outcome limited = timed_fetch(address);
  EXPECT_LT(limited.took, 6s);
  EXPECT_FALSE(limited.outcome.fetched);
  EXPECT_EQ(limited.outcome.error, "timed out connecting after 2000 ms");

  fetch_options no_connect_limit = quick();
  no_connect_limit.connect_timeout_ms = 0;
  no_connect_limit.total_timeout_ms = 1500;
  auto [outcome, took] = timed_fetch(address, no_connect_limit);
  EXPECT_LT(took, 6s);
  EXPECT_FALSE(outcome.fetched);
  EXPECT_EQ(outcome.cut, fetch_cut::out_of_time);
  EXPECT_EQ(outcome.error, "timed out: the fetch took longer than 1500 ms");
}

TEST(FetchHostile, GzipBodySentUnaskedComesBackAsBytes) {
  static const unsigned char gzip[] = {
      0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xff, 0xcb, 0x48, 0xcd, 0xc9, 0xc9,
      0xd7, 0x51, 0xc8, 0x40, 0xa2, 0x00, 0x9f, 0xa1, 0xca, 0x09, 0x13, 0x00, 0x00, 0x00};
  const std::string compressed(reinterpret_cast<const char*>(gzip), sizeof gzip);
  std::string request;
  raw_server server([&](raw_connection& c) {
    request = c.request_head();
    c.send("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
           std::to_string(compressed.size()) + "\r\n\r\n" + compressed);
  });
  auto [outcome, took] = timed_fetch(server.url());
  EXPECT_LT(took, 6s);
  EXPECT_EQ(outcome.body, compressed);
  server.stop();
  EXPECT_EQ(request.find("Accept-Encoding"), std::string::npos) << request;
}

TEST(FetchHostile, PageOfNulBytesComesBackWholeAndParsesToNothing) {
  const std::string page(65536, '\0');
  raw_server server([&](raw_connection& c) {
    c.send("HTTP/1.0 200 OK\r\nContent-Length: 65536\r\n\r\n" + page);
  });
  auto [outcome, took] = timed_fetch(server.url());
  EXPECT_LT(took, 6s);
  EXPECT_EQ(outcome.body, page);
  EXPECT_EQ(resolve_kuaichuan(server.url()), nothing_found);
  EXPECT_EQ(resolve_pan(server.url()), nothing_found);
}

TEST(FetchHostile, PageOfHighBytesComesBackWholeAndParsesSafely) {
  // 0x80 and 0xFF begin no character in GB18030 and no UTF-8 sequence.
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += (i % 3 == 0) ? "\xFF" : (i % 3 == 1 ? "\x80" : "\xFE");
  const std::string page = junk + "file_url=\"\xFF\x80\xFE\" file_size=" + junk +
                           "file_name=\"\xFF\x80\"" + junk;
  raw_server server([&](raw_connection& c) {
    c.send("HTTP/1.0 200 OK\r\n\r\n" + page);
  });
  auto [outcome, took] = timed_fetch(server.url());
  EXPECT_LT(took, 6s);
  EXPECT_EQ(outcome.body, page);

  resolved_file found = resolve_kuaichuan(server.url());
  // Taken byte for byte, escaped, and made absolute against the page's address.
  EXPECT_EQ(found.download_url, resolve_reference(server.url(), "%FF%80%FE"));
  EXPECT_TRUE(found.download_url.ends_with("/%FF%80%FE")) << found.download_url;
  EXPECT_EQ(found.file_name, "\uFFFD\uFFFD");     // each bad byte stands for one character
  EXPECT_EQ(found.size, "0B");
  EXPECT_EQ(resolve_pan(server.url()), nothing_found);
  EXPECT_EQ(shown_fields(read_built_in("pan", junk).fields), nothing_found);
  EXPECT_EQ(shown_fields(read_built_in("kuaichuan", junk).fields), nothing_found);
}

TEST(FetchHostile, MebibyteAddressSurvivesFetchAndParse) {
  std::string address = "http://dl.example/f/";
  for (unsigned i = 0; address.size() < (1u << 20); ++i)
    address += (i % 5 == 0) ? std::string("\xD6\xD0") : std::string(1, static_cast<char>('a' + i % 26));
  address.resize(1u << 20);
  address.back() = 'z';
  const std::string page = "<a file_url=\"" + address + "\" file_size=\"1\">";
  raw_server server([&](raw_connection& c) {
    c.send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page);
  });
  resolved_file found = resolve_kuaichuan(server.url("/d/x"));
  // Read as the GBK it is: each 中 three bytes of UTF-8.
  const std::optional<std::string> read = gb18030_to_utf8(address);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(found.download_url.size(), read->size());
  EXPECT_TRUE(found.download_url == *read);
}

TEST(FetchHostile, FailedResolutionAfterAGoodOneKeepsNothingOfIt) {
  auto server = std::make_unique<raw_server>([](raw_connection& c) {
    c.send("HTTP/1.0 200 OK\r\n\r\n<a file_url=\"http://x/y\" file_size=\"1024\" "
           "file_name=\"a.rar\"><i first_file_size\" value='1024'><i key\" value='k'>");
  });
  const std::string address = server->url("/d/x");
  resolved_file good = resolve_kuaichuan(address);
  EXPECT_EQ(good.download_url, "http://x/y");
  EXPECT_EQ(good.file_name, "a.rar");
  EXPECT_FALSE(good.file_type.empty());
  EXPECT_EQ(good.size, "1KB");
  EXPECT_EQ(good.md5, "k");
  server.reset();  // the port now refuses
  EXPECT_EQ(resolve_kuaichuan(address), nothing_found);
}

}  // namespace
}  // namespace sharelink
