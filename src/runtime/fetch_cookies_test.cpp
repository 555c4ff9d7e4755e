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

// A jar kept by hand from Set-Cookie values sends what a browser would send back.
TEST(CookieJar, KeepsWhatSetCookieSets) {
  const char* page = "http://share.example/s/page?x=1";
  const std::pair<const char*, const char*> received[] = {
      {"sid=1; Path=/", page},
      {"sid=2; path=/", page},                          // replaces the first
      {" folder = a b ; HttpOnly", page},               // path /s, the request's folder
      {"wide=3; Domain=.SHARE.Example; Path=/; Secure", page},  // its names too, over https only
      {"suffix=11; Domain=example", page},              // a public suffix: refused
      {"gone=4", page},
      {"gone=; Max-Age=0", page},                       // removes it
      {"old=5; Expires=Sun, 06 Nov 1994 08:49:37 GMT", page},
      {"later=6; Path=/; Expires=Sun, 01 Jan 2040 00:00:00 GMT", page},
      {"stolen=7; Domain=other.example", page},         // not the host's: refused
      {"=8", page},                                     // no name: refused
      {"tab=9\tx", page},                               // would break the jar: refused
      {"fromdl=10", "http://dl.example/f"},             // another host's
  };
  std::vector<std::string> jar;
  for (const auto& [set_cookie, url] : received)
    if (const auto line = jar_line_from_set_cookie(set_cookie, url, 2000000000)) store_in_jar(jar, *line);
  EXPECT_EQ(cookie_header_from_jar(jar, "http://share.example/s/next", 2000000000), "folder=a b; sid=2; later=6");
  EXPECT_EQ(cookie_header_from_jar(jar, "https://share.example/", 2000000000), "sid=2; wide=3; later=6");
  EXPECT_EQ(cookie_header_from_jar(jar, "https://cdn.share.example/", 2000000000), "wide=3");
  EXPECT_EQ(cookie_header_from_jar(jar, "https://cdn.example/", 2000000000), "");
  EXPECT_EQ(cookie_header_from_jar(jar, "http://dl.example/g", 2000000000), "fromdl=10");
}

TEST(CookieFile, ReadsWhatBrowsersAndCurlWrite) {
  const std::string file =
      "\xEF\xBB\xBF# Netscape HTTP Cookie File\r\n"
      "\r\n"
      ".Pan.example\tTRUE\t/\tFALSE\t0\tsid\ts e c r e t\r\n"
      "#HttpOnly_pan.example\tfalse\t/s\ttrue\t1999999999.5\ttoken\tt=1\n"
      "pan.example\tFALSE\t/\tFALSE\t0\tempty\n"  // six fields: no value
      "   \n";
  const auto read = read_cookie_file(file);
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(read));
  const std::vector<std::string> expected = {
      ".pan.example\tTRUE\t/\tFALSE\t0\tsid\ts e c r e t",
      "#HttpOnly_pan.example\tFALSE\t/s\tTRUE\t1999999999\ttoken\tt=1",
      "pan.example\tFALSE\t/\tFALSE\t0\tempty\t"};
  EXPECT_EQ(std::get<std::vector<std::string>>(read), expected);
  EXPECT_EQ(cookie_header_from_jar(expected, "https://a.pan.example/s/1", 1000), "sid=s e c r e t");
  EXPECT_EQ(cookie_header_from_jar(expected, "https://pan.example/s/1", 1000), "token=t=1; sid=s e c r e t; empty=");

  const std::pair<std::string, std::string> refused[] = {
      {"pan.example TRUE / FALSE 0 sid 1", "7 fields"},  // blanks instead of tabs
      {"pan.example\tYES\t/\tFALSE\t0\tsid\t1", "TRUE or FALSE"},
      {"pan.example\tTRUE\ts\tFALSE\t0\tsid\t1", "path 's'"},
      {"pan.example\tTRUE\t/\tFALSE\tsoon\tsid\t1", "expiry 'soon'"},
      {"pan.example\tTRUE\t/\tFALSE\t1.\tsid\t1", "expiry '1.'"},
      {"pan.example\tTRUE\t/\tFALSE\t0\t\t1", "no name"},
      {"\tTRUE\t/\tFALSE\t0\tsid\t1", "not a domain"},
      {"pan.example\tTRUE\t/\tFALSE\t0\tsid\t1\x1b[2J", "control character"},
  };
  for (const auto& [line, what] : refused) {
    SCOPED_TRACE(line);
    const auto problem = read_cookie_file("# first\n" + line + "\n");
    ASSERT_TRUE(std::holds_alternative<cookie_file_problem>(problem));
    EXPECT_EQ(std::get<cookie_file_problem>(problem).line, 2);
    EXPECT_NE(std::get<cookie_file_problem>(problem).what.find(what), std::string::npos)
        << std::get<cookie_file_problem>(problem).what;
  }
}

TEST(CookieJar, TracesShowCookieNamesNotValues) {
  EXPECT_EQ(mask_cookie_values("GET /s/1 HTTP/1.0\r\nCookie: sid=s3cret; lang=zh\r\nX-Token: t\r\n"
                               "set-cookie: sid=new; Path=/; Max-Age=60\nCOOKIE:flag\n"),
            "GET /s/1 HTTP/1.0\r\nCookie: sid=***; lang=***\r\nX-Token: t\r\n"
            "set-cookie: sid=***; Path=/; Max-Age=60\nCOOKIE:***\n");
}

}  // namespace
}  // namespace sharelink
