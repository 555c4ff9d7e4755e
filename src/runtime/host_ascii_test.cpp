// Run natively and under Wine: both platforms send the same host for the same name.
#include "runtime/host_ascii.h"

#include <string>

#include <gtest/gtest.h>

#include "runtime/fetch.h"

namespace sharelink {
namespace {

// Windows' IdnToAscii follows IDNA2003, libidn2 IDNA2008 with the UTS #46 mapping:
// they differ for a few characters (ß, final sigma, the joiners), so the table keeps
// to names both map alike.
TEST(HostAscii, NamesBeyondAsciiGoInTheirAsciiForm) {
  std::string too_long;
  for (int i = 0; i < 64; ++i) too_long += "ü";
  const struct {
    std::string pasted, sent;  // sent empty: refused
  } cases[] = {
      {"http://例子.测试/a?q=中", "http://xn--fsqu00a.xn--0zwm56d/a?q=%E4%B8%AD"},
      {"https://Bücher.Example:8443/x", "https://xn--bcher-kva.example:8443/x"},
      {"http://u:p@ÄÖÜ.example/", "http://u:p@xn--4ca0bs.example/"},
      {"http://中文.cn", "http://xn--fiq228c.cn/"},
      {"http://" + too_long + ".example/", ""},
  };
  for (const auto& c : cases) {
    const fetch_address prepared = prepare_fetch_address(c.pasted);
    EXPECT_EQ(prepared.url, c.sent) << c.pasted;
    EXPECT_EQ(prepared.error, c.sent.empty() ? "invalid host name" : "") << c.pasted;
  }
  EXPECT_EQ(host_to_ascii("例子.测试"), "xn--fsqu00a.xn--0zwm56d");
  // A redirect to such a name is followed in the same form.
  EXPECT_EQ(follow_redirect(prepare_fetch_address("http://h/"), "http://bücher.example/").url,
            "http://xn--bcher-kva.example/");
}

}  // namespace
}  // namespace sharelink
