#include "rules/rule.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "reading/file_records.h"
#include "reading/rule_reading.h"
#include "resolve/service_resolve.h"
#include "rules/services.h"

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

TEST(Rule, ABadFileIsOneLineWithItsPlace) {
  const std::string url = "[fields.download_url]\npattern = 'u=(.*)'\n";
  const std::tuple<std::string, int, const char*> rows[] = {
      {"name = 'x'\n" + url + "colour = 1\n", 4, "unknown key 'colour'"},
      {"name = 'a b'\n" + url, 1, "letters, digits"},
      {url, 0, "needs a 'name'"},
      {"name = 'x'\n[fields.download_url]\npattern = '(unclosed'\n", 3, "does not compile"},
      {"name = 'x'\n[fields.download_url]\njson = '/a'\ndecode = ['rot13']\n", 4, "unknown decode step 'rot13'"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'ftp://h/{id}'\n[steps.values]\nid = { pattern = '(x)' }\n", 5, "http:// or https://"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://{host}/x'\n[steps.values]\nhost = { pattern = '(x)' }\n", 5, "host"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/{id}'\n", 5, "{id}"},
      {"name = 'x'\nsteps = [{address='http://h/'},{address='http://h/'},{address='http://h/'},"
       "{address='http://h/'},{address='http://h/'},{address='http://h/'}]\n" + url, 2, "at most 5 steps"},
      {"name = 'x'\n[records]\nstart_tags = 'a'\npattern = 'x'\n", 2, "exactly one of"},
      {"name = 'x'\n", 0, "reads no download_url"},
      {"name = 'x'\n" + url + "[request]\nheaders = { X = \"a\\nb\" }\n", 5, "control character"},
      {"name = 'x'\n" + url + "[request]\nuser_agent = \"a\\r\\nX-Injected: 1\"\n", 5, "control character"},
      {"name = 'x'\n" + url + "[fields.md5]\npattern = '(x)'\nstep = 'nosuch'\n", 6, "names no step"},
      {"name = 'x'\n" + url + "[records]\nstart_tags = 'a'\nstep = 'q'\n", 6, "names no step"},
      {"name = 'x\n", 1, ""},  // TOML's own message
  };
  for (const auto& [text, line, what] : rows) {
    auto read = read_rule(text);
    ASSERT_TRUE(std::holds_alternative<rule_problem>(read)) << text;
    const rule_problem& problem = std::get<rule_problem>(read);
    if (line > 0) {
      EXPECT_EQ(problem.line, line) << text << describe(problem, "f");
    }
    EXPECT_NE(problem.what.find(what), std::string::npos) << describe(problem, "f");
    EXPECT_EQ(describe(problem, "f").find('\n'), std::string::npos);
  }
  EXPECT_EQ(describe({3, 7, "wrong"}, "my.toml"), "my.toml:3:7: wrong");
}

TEST(Rule, RecordsGiveFilesAndFieldsFillWhatARecordLacks) {
  // A pattern's named groups; the MD5 for every file from [fields]; JSON answers.
  const service_rule rule = rule_of(R"toml(
name = "t"
[fields.md5]
pattern = 'md5=(\w+)'
[records]
pattern = '<f u="(?<download_url>[^"]*)"(?: n="(?<file_name>[^"]*)")?>'
)toml");
  const page_reading reading = read_page(rule, R"(md5=abc <f u="1" n="a%20b.txt"><f u="2">)");
  ASSERT_EQ(reading.files.size(), 2u);
  EXPECT_EQ(reading.files[0].file_name, "a%20b.txt");
  EXPECT_EQ(reading.files[1].file_name, "");
  EXPECT_EQ(reading.files[1].md5, "abc");
  EXPECT_EQ(reading.fields.download_url, "2");

  const service_rule json = rule_of(R"(
name = "j"
[fields.file_name]
json = "/title"
decode = ["trim"]
[records]
json_array = "/items"
[records.fields]
download_url = "/link"
size = "/size"
file_name = "/n"
)");
  const page_reading one = read_page(json, R"({"title":" t.zip ","items":[{"link":"http://h/\u00e9","size":1536}]})");
  ASSERT_EQ(one.files.size(), 1u);
  EXPECT_EQ(one.fields.file_name, "t.zip");  // the lone file has no name of its own
  EXPECT_EQ(one.fields.size, "1.5KB");
  EXPECT_EQ(read_page(json, "not json").files.size(), 0u);

  EXPECT_EQ(decode_value(R"(a\"b\/\u0041\n\x\u12)", {decode_step::json_string}), "a\"b/A\n\\x\\u12");
  EXPECT_EQ(decode_value("  %41&amp;  ", {decode_step::char_refs, decode_step::percent, decode_step::trim}), "A&");
}

TEST(Rule, APatternTheEngineGivesUpOnIsAnErrorForThatPage) {
  const service_rule rule = rule_of("name = 'slow'\n[fields.download_url]\npattern = '(x+x+)+y'\n");
  const rule_reading read = read_with_rule(rule, {{"page", std::string(5000, 'x')}});
  ASSERT_TRUE(read.error.has_value());
  EXPECT_NE(read.error->find("too complex"), std::string::npos);
}

TEST(Rule, StepAddressesEscapeEveryValue) {
  EXPECT_EQ(fill_step_address("https://h/l?id={id}&t={t}", {{"id", "a/b?c#d"}, {"t", "\xE4\xB8\xAD ~"}}),
            "https://h/l?id=a%2Fb%3Fc%23d&t=%E4%B8%AD%20~");
}

// Local text is UTF-8: each encoding a rule names turns the answer into it.
TEST(Rule, AnswersAreReadInTheirEncoding) {
  const std::string base = "name = 'x'\naddresses = ['/s/']\n[fields.download_url]\npattern = 'u=(.*)'\n[request]\n";
  const std::string gbk_page = "<b>\xD6\xD0\xCE\xC4\xFF</b>";
  EXPECT_EQ(answer_text(rule_of(base + "encoding = 'gbk'"), gbk_page), "<b>中文\uFFFD</b>");
  EXPECT_EQ(answer_text(rule_of(base + "encoding = 'utf-8'"), "<b>中文\xFF</b>"), "<b>中文\uFFFD</b>");
  EXPECT_EQ(answer_text(rule_of(base + "encoding = 'auto'"), gbk_page), gbk_page);  // as it came
}

}  // namespace
}  // namespace sharelink
