#include "runtime/registrable_domain.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(RegistrableDomain, FollowsThePublicSuffixList) {
  const std::pair<const char*, const char*> cases[] = {
      {"api.pan.example", "pan.example"},  // an unlisted top-level domain is a suffix ("*")
      {"pan.example", "pan.example"},
      {"www.example.com", "example.com"},
      {"a.b.x.co.uk", "x.co.uk"},
      {"co.uk", "co.uk"},  // a suffix itself: a site of its own
      {"user.github.io", "user.github.io"},  // the list's private domains count
      {"a.b.c.kawasaki.jp", "b.c.kawasaki.jp"},  // *.kawasaki.jp
      {"city.kawasaki.jp", "city.kawasaki.jp"},  // !city.kawasaki.jp
      {"www.city.kawasaki.jp", "city.kawasaki.jp"},
      {"pan.xn--fiqs8s", "pan.xn--fiqs8s"},  // 中国, in the form a request names it
      {"a.pan.xn--55qx5d.cn", "pan.xn--55qx5d.cn"},  // 公司.cn
      {"www.example.com.", "example.com"},
      {"localhost", "localhost"},
      {"127.0.0.1", "127.0.0.1"},
      {"[::1]", "[::1]"},
      {"a..example", "a..example"},
      {"", ""},
  };
  for (const auto& [host, site] : cases) EXPECT_EQ(registrable_domain(host), site) << host;
}

}  // namespace
}  // namespace sharelink
