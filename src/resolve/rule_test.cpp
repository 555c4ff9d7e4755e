#include "resolve/rule.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resolve/page_reading.h"
#include "resolve/rule_reading.h"
#include "resolve/service_resolve.h"
#include "resolve/services.h"

namespace sharelink {
namespace {

service_rule rule_of(const std::string& text) {
  auto read = read_rule(text);
  if (auto* problem = std::get_if<rule_problem>(&read)) ADD_FAILURE() << describe(*problem, "rule") << "\n" << text;
  return std::holds_alternative<service_rule>(read) ? std::get<service_rule>(read) : service_rule{};
}

page_reading read_page(const service_rule& rule, const std::string& page) {
  return read_with_rule(rule, {{"page", page}}).reading;
}

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The built-in rules read every page as the hand-written readers do.
TEST(Rule, BuiltInServicesReadEveryPageAsTheReadersDo) {
  const service_registry registry = service_registry::built_in();
  ASSERT_EQ(registry.entries().size(), 2u);
  const service_rule& kuaichuan = registry.find("kuaichuan")->rule;
  const service_rule& pan = registry.find("pan")->rule;
  std::vector<std::string> pages;
  for (const char* folder : {"/src/resolve/testdata", "/src/cli/testdata", "/fuzz/corpus/kuaichuan_page",
                             "/fuzz/corpus/pan_page", "/fuzz/corpus/page_reading"})
    for (const auto& file : std::filesystem::directory_iterator(std::string(SHARELINK_SOURCE_DIR) + folder))
      pages.push_back(slurp(file.path()));
  const std::string q = "\\\"";
  pages.push_back("<a file_url=u1 file_size=1><a file_url=u2><span file_name=\"n.zip\"></span>");
  pages.push_back("<a file_url=\"http://h/f\"><span file_name=\"n&#49;.zip\"></span><i first_file_size\" value='2048'>");
  pages.push_back("{" + q + "size" + q + ": 4096, " + q + "dlink" + q + ":" + q + "u" + q + "}");
  pages.push_back("{" + q + "md5" + q + ":" + q + "a" + q + "," + q + "block_md5" + q + ":" + q + "b" + q + "}");
  std::string many;
  for (std::size_t i = 0; i <= most_files; ++i) many += "<a file_url=u" + std::to_string(i) + ">";
  pages.push_back(many);
  for (const std::string& page : pages) {
    EXPECT_EQ(read_page(kuaichuan, page), read_kuaichuan_page(page)) << page;
    EXPECT_EQ(read_page(pan, page), read_pan_page(page)) << page;
  }
  EXPECT_TRUE(pan.md5_is_content_hash);
  EXPECT_FALSE(kuaichuan.md5_is_content_hash);
}

TEST(Rule, AddressesTellTheService) {
  service_registry registry = service_registry::built_in();
  const std::pair<const char*, const char*> rows[] = {
      {"https://kuai.example.com/d/ABC", "kuaichuan"}, {" http:\\\\pan.example.com\\share\\link?x", "pan"},
      {"http:/h/d/x", "kuaichuan"},  {"http://h/x/d/", nullptr}, {"http://h?/d/", nullptr}, {"h/d/x", nullptr}};
  for (const auto& [address, name] : rows) {
    const service_entry* found = registry.for_address(address);
    EXPECT_EQ(found ? found->rule.name : std::string(), name ? std::string(name) : std::string()) << address;
  }
  // A user's rule of the same name takes the built-in one's place; a new one is asked first.
  registry.add(rule_of("name = 'pan'\naddresses = ['/s/']\n[fields.download_url]\npattern = 'u=(.*)'"), "mine.toml");
  EXPECT_EQ(registry.entries().size(), 2u);
  EXPECT_EQ(registry.find("pan")->source, "mine.toml");
  EXPECT_EQ(registry.for_address("https://h/share/x"), nullptr);
  EXPECT_EQ(registry.for_address("https://h/s/x")->rule.name, "pan");
}

}  // namespace
}  // namespace sharelink
