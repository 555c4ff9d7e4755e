#include "resolve/share_text.h"

#include <gtest/gtest.h>

#include <variant>

namespace sharelink {
namespace {

TEST(ShareText, FindsTheAddressesAsUsersPasteThem) {
  const std::pair<std::string, std::vector<std::string_view>> cases[] = {
      {"https://pan.example/s/1AbC", {"https://pan.example/s/1AbC"}},
      {"链接: https://pan.example/s/1AbC 提取码: x7k2 复制这段内容后打开", {"https://pan.example/s/1AbC"}},
      {"链接：https://pan.example/s/1AbC?pwd=x7k2，提取码：x7k2。", {"https://pan.example/s/1AbC?pwd=x7k2"}},
      {"https://pan.example/s/1AbC提取码:x7k2", {"https://pan.example/s/1AbC"}},
      {"\"https://pan.example/s/1\" <HTTPS://pan.example/s/2> 'http://a.example/x'",
       {"https://pan.example/s/1", "HTTPS://pan.example/s/2", "http://a.example/x"}},
      {"(see https://a.example/wiki/X_(y)) and [http://b.example/c]",
       {"https://a.example/wiki/X_(y)", "http://b.example/c"}},
      {"「文件」https://pan.example/s/1）请查收…", {"https://pan.example/s/1"}},
      {"look: https://a.example/d/x. Or http:\\\\b.example\\d\\y!", {"https://a.example/d/x", "http:\\\\b.example\\d\\y"}},
      {"https://a.example/d/\xFFx", {"https://a.example/d/\xFFx"}},  // not UTF-8: its reader refuses it
      {"https://a.example/d/caf\xC3\xA9", {"https://a.example/d/caf\xC3\xA9"}},
      {"no address here, ftp://a.example/x, http:nothing", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(addresses_in_text(text), expected) << text;
}

TEST(ShareText, TheServicesAddressIsTheShareAndItsCodeIsFound) {
  service_registry services = service_registry::built_in();
  const auto add = [&](const char* text) {
    auto read = read_rule(text);
    ASSERT_TRUE(std::holds_alternative<service_rule>(read)) << std::get<rule_problem>(read).what;
    services.add(std::get<service_rule>(std::move(read)), "test");
  };
  add(R"(name = "drive"
addresses = ['^https?://pan\.example/s/']
[password]
query = "pwd"
text = '提取码(?::|：)?\s*([A-Za-z0-9]{4})'
[fields.download_url]
pattern = 'u=(.*)'
)");
  struct example {
    std::string text, address, service, password;
  };
  const example examples[] = {
      {"see http://other.example/x then 链接: https://pan.example/s/1AbC 提取码: x7k2", "https://pan.example/s/1AbC",
       "drive", "x7k2"},
      {"https://pan.example/s/1AbC?pwd=q1%20w 提取码：x7k2", "https://pan.example/s/1AbC?pwd=q1%20w", "drive", "q1 w"},
      {"https://pan.example/s/1AbC", "https://pan.example/s/1AbC", "drive", ""},
      {"https://kuai.example/d/ABC 提取码 x7k2", "https://kuai.example/d/ABC", "kuaichuan", ""},
      {"http://other.example/x and http://other.example/y", "http://other.example/x", "", ""},
      {"no address", "no address", "", ""},
  };
  for (const example& e : examples) {
    const share_input share = read_share_text(e.text, services);
    EXPECT_EQ(share.address, e.address) << e.text;
    EXPECT_EQ(share.service ? share.service->rule.name : "", e.service) << e.text;
    EXPECT_EQ(share.password, e.password) << e.text;
  }
  // A service named for every address takes the first address its own patterns find,
  // else the first of all.
  const service_entry* kuaichuan = services.find("kuaichuan");
  EXPECT_EQ(read_share_text("https://pan.example/s/1 https://k.example/d/2", services, kuaichuan).address,
            "https://k.example/d/2");
  EXPECT_EQ(read_share_text("http://x.example/1 http://x.example/2", services, kuaichuan).address, "http://x.example/1");
}

}  // namespace
}  // namespace sharelink
