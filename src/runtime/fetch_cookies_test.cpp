#include "runtime/fetch_cookies.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(CookieJar, SendsWhatMatchesTheHostPathSchemeAndClock) {
  const std::vector<std::string> jar = {
      "share.example\tFALSE\t/\tFALSE\t0\thost_only\t1",
      ".example\tTRUE\t/\tFALSE\t0\tparent\t2",
      "#HttpOnly_share.example\tFALSE\t/d\tFALSE\t0\thidden\t3",
      "share.example\tFALSE\t/\tTRUE\t0\tsecure\t4",
      "share.example\tFALSE\t/\tFALSE\t1000\texpired\t5",
      "share.example\tFALSE\t/\tFALSE\t3000\tlater\t6",
      "share.example\tFALSE\t/dx\tFALSE\t0\tother_path\t7",
      "# a comment line",
      "not a cookie",
  };
  struct example {
    std::string url, header;
  };
  const example examples[] = {
      {"http://share.example/", "host_only=1; parent=2; later=6"},
      {"http://u:p@SHARE.example:8080/d/x?y=/dx", "hidden=3; host_only=1; parent=2; later=6"},
      {"http://share.example/d", "hidden=3; host_only=1; parent=2; later=6"},
      {"https://share.example/dx/", "other_path=7; host_only=1; parent=2; secure=4; later=6"},
      {"http://sub.share.example/", "parent=2"},
      {"http://a.example/", "parent=2"},
      {"http://notexample/", ""},
      {"http://share.example.evil/", ""},
      {"not an address", ""},
  };
  for (const example& e : examples) {
    SCOPED_TRACE(e.url);
    EXPECT_EQ(cookie_header_from_jar(jar, e.url, 2000), e.header);
  }
}

}  // namespace
}  // namespace sharelink
