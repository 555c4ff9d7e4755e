#include "cli/lookup.h"

#include <gtest/gtest.h>

#include <atomic>

namespace sharelink::cli {
namespace {

fetch_outcome outcome(long status, std::string text, bool fetched, std::string error = {},
                      fetch_cut cut = fetch_cut::none, std::size_t bytes = 0) {
  fetch_outcome o;
  o.status = status;
  o.status_text = std::move(text);
  o.fetched = fetched;
  o.error = std::move(error);
  o.cut = cut;
  o.body.assign(bytes, 'x');
  return o;
}

TEST(FetchVerdict, AnErrorStatusACutOrNoAddressIsAnError) {
  struct row {
    fetch_outcome got;
    bool has_address;
    std::optional<std::string> verdict;
  };
  const row rows[] = {
      {outcome(200, "OK", true), true, std::nullopt},
      {outcome(204, "", true), true, std::nullopt},
      {outcome(299, "", true), true, std::nullopt},
      {outcome(200, "OK", true), false, "the page holds no download address"},
      // The body of an error page is still read, but the page does not count as read.
      {outcome(404, "Not Found", true), true, "HTTP 404 Not Found"},
      {outcome(500, "", true), false, "HTTP 500"},
      {outcome(199, " Odd\r\nX-Injected: 1 ", true), true, "HTTP 199 Odd  X-Injected: 1"},
      {outcome(302, "Found", true), true, "HTTP 302 Found"},
      // A cut says how much arrived, unless the fetcher's reason says so already.
      {outcome(200, "OK", false, "timed out: nothing received for 20000 ms", fetch_cut::stalled, 1234),
       true, "timed out: nothing received for 20000 ms (1234 bytes read)"},
      {outcome(200, "OK", false, "body cut at 8388608 bytes", fetch_cut::capped, 8388608), true,
       "body cut at 8388608 bytes"},
      {outcome(200, "OK", false, "connection broken", fetch_cut::broken, 1), false,
       "connection broken (1 byte read)"},
      {outcome(503, "Service Unavailable", false, "connection broken", fetch_cut::broken, 0), false,
       "HTTP 503 Service Unavailable; connection broken (0 bytes read)"},
      {outcome(0, "", false, "connection refused"), false, "connection refused"},
      {outcome(0, "", false, "  "), false, "the page could not be fetched"},
      {outcome(0, "", false, "bad\nreason"), false, "bad reason"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(fetch_verdict(r.got, r.has_address), r.verdict)
        << r.got.status << " " << r.got.error << " " << r.has_address;
  }
}

// The reading empties the fetched body once its answer is kept; the verdict still
// counts the bytes that came.
TEST(FetchVerdict, ACutPageCountsTheBytesThatCameThroughTheReading) {
  lookup_settings settings;
  settings.forced_service = "kuaichuan";
  settings.fetch_page = [](std::string_view, const fetch_options&) {
    return outcome(200, "OK", false, "interrupted", fetch_cut::interrupted, 5);
  };
  EXPECT_EQ(resolve_address("http://h/d/ABC", settings).error, "interrupted (5 bytes read)");
}

// Each failure of an address carries the kind where it happened, through the
// fetch, the reading or the refusal, to the resolution.
TEST(ResolveAddress, EachFailureHasTheKindOfWhereItHappened) {
  std::atomic<bool> cancel{false};
  const std::string page = "<html><input id=\"key\" value='k'></html>";
  const struct {
    const char* name;
    std::string address;
    fetch_outcome fetched;
    bool cancel_after_fetch;
    std::optional<error_kind> kind;
  } rows[] = {
      {"no scheme", "h/d/ABC", {}, false, error_kind::address},
      {"a status outside 200-299", "http://h/d/ABC", outcome(403, "Forbidden", true), false, error_kind::http},
      {"a share page that is no more", "http://h/d/ABC", outcome(404, "Not Found", true), false, error_kind::gone},
      {"the fetcher's kind", "http://h/d/ABC", [] {
         fetch_outcome timed_out = outcome(0, "", false, "timed out connecting");
         timed_out.kind = error_kind::timeout;
         return timed_out;
       }(), false, error_kind::timeout},
      {"no download address", "http://h/d/ABC", outcome(200, "OK", true), false, error_kind::page},
      // The page arrived whole, and Ctrl+C came while it was read.
      {"an interrupted reading", "http://h/d/ABC", outcome(200, "OK", true), true, error_kind::interrupted},
  };
  for (const auto& row : rows) {
    lookup_settings settings;
    settings.forced_service = "kuaichuan";
    settings.fetch.cancel = &cancel;
    cancel = false;
    settings.fetch_page = [&](std::string_view, const fetch_options&) {
      fetch_outcome answer = row.fetched;
      answer.body = page;
      if (row.cancel_after_fetch) cancel = true;
      return answer;
    };
    const resolution r = resolve_address(row.address, settings);
    EXPECT_EQ(r.failure_kind, row.kind) << row.name << ": " << r.error.value_or("");
  }
}

TEST(AddressRefusal, NoSchemeOrBytesThatAreNotUtf8) {
  const std::string no_scheme = "the address has no scheme (http:// or https://)";
  for (const char* address :
       {"kuai.example.com/d/ABC", "localhost:8080/d/ABC", "127.0.0.1:80", "host:8080", "/d/ABC", "",
        "  ", "1http://h/d/x", ":/h/d/x"})
    EXPECT_EQ(address_refusal(address), no_scheme) << address;
  for (const char* address : {"http://h/d/ABC", " https://h/share/x", "ftp://h/d/x", "HTTP:h/d/x",
                              "http://h/中文?q=测试", "mailto:x"})
    EXPECT_EQ(address_refusal(address), std::nullopt) << address;
  for (const char* address : {"http://h/d/\xF0\x9F\x98\x80x", "http://h/d/\xE0\xB8\x81"})
    EXPECT_EQ(address_refusal(address), std::nullopt) << address;
  // Sent as U+FFFD, bytes that are not UTF-8 would ask for another page.
  for (const char* address : {"http://h/d/\xFF", "http://h/d/\xD6\xD0", "http://h/d/\xE4\xB8"}) {
    const auto refused = address_refusal(address);
    ASSERT_TRUE(refused) << address;
    EXPECT_NE(refused->find("not UTF-8"), std::string::npos);
  }
}

}  // namespace
}  // namespace sharelink::cli
