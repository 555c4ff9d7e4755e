#include "rules/rule.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "reading/decode_steps.h"
#include "testing/reference/file_records.h"
#include "reading/pruned_json.h"
#include "reading/rule_reading.h"
#include "runtime/relative_address.h"
#include "rules/rule_template.h"
#include "resolve/service_resolve.h"
#include "rules/services.h"
#include "testing/rule_text.h"

namespace sharelink {
namespace {

using testing::rule_of;

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
  std::string eleven_steps;
  for (int i = 0; i < 10; ++i) eleven_steps += ",{address='http://h/'}";
  const std::tuple<std::string, int, const char*> rows[] = {
      {"name = 'x'\n" + url + "colour = 1\n", 4, "unknown key 'colour'"},
      {"name = 'a b'\n" + url, 1, "letters, digits"},
      {url, 0, "needs a 'name'"},
      {"name = 'x'\n[fields.download_url]\npattern = '(unclosed'\n", 3,
       "does not compile: Unmatched marking parenthesis ( or \\(, at the end of '(unclosed'"},
      {"name = 'x'\n[fields.download_url]\npattern = 'a{2,1}'\n", 3, "Invalid content of repeat range, at byte 5 of"},
      {"name = 'x'\n[fields.download_url]\njson = 'data/url'\n", 3, "a JSON pointer must start with '/'"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/?t={token'\n[steps.values]\ntoken = { pattern = '(x)' }\n", 5,
       "the brace after {token is not closed"},
      {"name = 'x'\n[fields.download_url]\njson = '/a'\ndecode = ['rot13']\n", 4, "unknown decode step 'rot13'"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'ftp://h/{id}'\n[steps.values]\nid = { pattern = '(x)' }\n", 5, "http:// or https://"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://{host}/x'\n[steps.values]\nhost = { pattern = '(x)' }\n", 5, "host"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/{id}'\n", 5, "{id}"},
      {"name = 'x'\nsteps = [{address='http://h/'}" + eleven_steps + "]\n" + url, 2, "at most 10 steps"},
      {"name = 'x'\n[records]\nstart_tags = 'a'\npattern = 'x'\n", 2, "exactly one of"},
      {"name = 'x'\n", 0, "reads no download_url"},
      {"name = 'x'\n" + url + "[request]\nheaders = { X = \"a\\nb\" }\n", 5, "control character"},
      {"name = 'x'\n" + url + "[request]\nuser_agent = \"a\\r\\nX-Injected: 1\"\n", 5, "control character"},
      {"name = 'x'\n" + url + "[fields.md5]\npattern = '(x)'\nstep = 'nosuch'\n", 6, "names no step"},
      {"name = 'x'\n" + url + "[records]\nstart_tags = 'a'\nstep = 'q'\n", 6, "names no step"},
      {"name = 'x'\nneeds_login = 'yes'\n" + url, 2, "true or false"},
      {"name = 'x'\n" + url + "[limits]\nmax_per_host = 0\n", 5, "from 1 to 64"},
      {"name = 'x'\n" + url + "[limits]\ninterval = -0.5\n", 5, "seconds from 0"},
      {"name = 'x'\n" + url + "[limits]\nwait = 1\n", 5, "unknown key 'wait' in [limits]"},
      {"name = 'x'\n" + url + "[password]\nquery = 'pwd='\n", 5, "name of a parameter"},
      {"name = 'x'\n" + url + "[password]\ntext = '(x'\n", 5, "does not compile"},
      {"name = 'x\n", 1, ""},  // TOML's own message
      // What the language grew for shares of today's drives, each checked where it stands.
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/?a={nope}'\n", 5, "uses {nope}"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/?a={file.id}'\n", 5, "outside a step for each file"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\nform = { a = 'b' }\n", 4, "method = \"POST\""},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\nmethod = 'PUT'\n", 6, "GET or POST"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\nbatch = 2\n", 6, "goes with for_each"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\ngives = { md5 = { json = '/m' } }\n", 6,
       "for a step for each file"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\nfor_each = 'file'\n[[steps]]\naddress = 'https://h/'\n",
       7, "come first"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\npages = { param = 'p', cursor = { template = 'x' } }\n",
       6, "no 'step'"},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/'\npages = { param = 'p', step = 0 }\n", 6, "for ever"},
      {"name = 'x'\n" + url + "[[fail]]\njson = '/e'\nkind = 'oops'\n", 6, "page, password, gone or login"},
      {"name = 'x'\n" + url + "[values]\na = { template = '{b}' }\nb = { template = '<{a}>' }\n", 5, "made of itself"},
      {"name = 'x'\n[records]\nstart_tags = 'a'\n[records.folders]\nwhen = { json = '/d' }\npath = 'p'\n", 4,
       "json_array or pattern"},
      {"name = 'x'\n[records]\njson_array = '/l'\nfields = { file_name = '/n' }\n", 2, "no step for each file gives it"},
      {"name = 'x'\n[records]\njson_array = '/l'\nfields = { download_url = '/u' }\n"
       "folders = { when = { json = '/d' }, path = '/p' }\n", 5, "give [records.folders] a 'step'"},
      {"name = 'x'\n" + url + "[fields.size]\njson = '/s'\ndecode = ['size_units', 'sizes']\n", 6, "size_units"},
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

// What reads but can read nothing is said where it stands, and the rule still reads.
TEST(Rule, WhatReadsNothingIsWarnedAboutAtItsPlace) {
  const std::string url = "[fields.download_url]\npattern = 'u=(.*)'\n";
  const std::tuple<std::string, std::vector<std::string>> rows[] = {
      {"name = 'x'\n[fields.download_url]\npattern = 'u=\\S+'\n",
       {"3:11: warning: the pattern has no group: the value is what group 1 takes"}},
      {"name = 'x'\n" + url + "[[steps]]\naddress = 'https://h/{id}'\n[steps.values]\nid = { pattern = 'id=\\w+' }\n",
       {"7:18: warning: the pattern has no group"}},
      {"name = 'x'\n[records]\npattern = '(?<download_url>\\S+) (?<filename>\\S+) (?<size>\\d+)'\n",
       {"3:11: warning: the group (?<filename>...) is no field"}},
      {"name = 'x'\n[records]\npattern = '(?<download_url>\\S+) (?<n>\\S+)'\n[records.fields]\nfile_name = 'n'\n"
       "size = { key = 'bytes' }\n",
       {"6:16: warning: the pattern has no group (?<bytes>...) for size"}},
      // Groups a field reads, names in a class or escaped, and look-behind are none of these.
      {"name = 'x'\n" + url + "[records]\npattern = '(?<=a)(?<download_url>[(?<x>])\\(?<y>\\)(?<md5>m)'\n", {}},
  };
  for (const auto& [text, said] : rows) {
    std::vector<rule_problem> warnings;
    const auto read = read_rule(text, &warnings);
    ASSERT_TRUE(std::holds_alternative<service_rule>(read)) << describe(std::get<rule_problem>(read), "f");
    ASSERT_EQ(warnings.size(), said.size()) << text << (warnings.empty() ? "" : describe(warnings[0], "f"));
    for (std::size_t i = 0; i < said.size(); ++i)
      EXPECT_TRUE(describe(warnings[i], "f").starts_with("f:" + said[i])) << describe(warnings[i], "f");
  }
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

  // Folders among the records are left out of a page's files, the files kept in order.
  const service_rule folders = rule_of(R"(
name = "d"
[[steps]]
name = "list"
address = "http://h/{dir}"
[records]
json_array = "/list"
step = "list"
[records.fields]
download_url = "/u"
[records.folders]
when = { json = "/d", equals = "1" }
path = "/p"
)");
  const page_reading mixed =
      read_with_rule(folders, {{"page", ""},
                               {"list", R"({"list":[{"d":1,"p":"/x"},{"u":"1"},{"d":1,"p":"/y"},{"d":1,"p":"/z"},)"
                                        R"({"u":"2"},{"u":"3"}]})"}})
          .reading;
  ASSERT_EQ(mixed.files.size(), 3u);
  EXPECT_EQ(mixed.files[0].download_url, "1");
  EXPECT_EQ(mixed.files[1].download_url, "2");
  EXPECT_EQ(mixed.files[2], mixed.fields);
  EXPECT_EQ(mixed.fields.download_url, "3");

  EXPECT_EQ(decode_value(R"(a\"b\/\u0041\n\x\u12)", {decode_step::json_string}), "a\"b/A\n\\x\\u12");
  EXPECT_EQ(decode_value("  %41&amp;  ", {decode_step::char_refs, decode_step::percent, decode_step::trim}), "A&");
}

// A JSON answer is read for what the pointers reach; they give what they give in
// the whole answer: the last of a repeated key, an element by its index, an
// object as its text.
TEST(Rule, JsonPointersGiveWhatTheWholeAnswerGives) {
  const service_rule rule = rule_of(R"(
name = "j"
[fields.file_name]
json = "/a/2/n"
[fields.md5]
json = "/s"
[records]
json_array = "/list"
[records.fields]
download_url = "/u"
)");
  const std::tuple<std::string, std::vector<std::string>, std::string, std::string> rows[] = {
      {R"({"a":[0,{"n":"x"},{"n":"y"}],"s":{"b":[1,2.5],"a":true},"list":[{"u":"1"},{"v":"2"},{"u":3}]})",
       {"1", "", "3"}, "y", R"({"a":true,"b":[1,2.5]})"},
      {R"({"list":[{"u":"1"}],"a":[],"list":[{"u":"2"}],"a":{"2":{"n":"k"}},"s":null})", {"2"}, "k", ""},
      {R"({"list":[{"u":"1"}],"list":{"u":"2"},"s":"t"})", {}, "", "t"},
      {R"({"list":[{"u":"1"}],"s":"t")", {}, "", ""},  // not JSON: nothing
  };
  for (const auto& [page, urls, name, md5] : rows) {
    const page_reading reading = read_page(rule, page);
    std::vector<std::string> got;
    for (const file_record& f : reading.files) got.push_back(f.download_url);
    EXPECT_EQ(got, urls) << page;
    EXPECT_EQ(reading.fields.file_name, name) << page;
    EXPECT_EQ(reading.fields.md5, md5) << page;
  }
}

// One reading is bounded: in the nesting it reads, the values it keeps, the text of
// its files and the engine's work in all; past a bound is that page's error, never a
// crash, gigabytes or hours.
TEST(Rule, AReadingIsBoundedInDepthValuesTextAndWork) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  std::string many = "[0";
  for (std::size_t i = 0; i < most_json_values; ++i) many += ",0";
  many += "]";
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"[fields.download_url]\njson = ''\n", deep, "the page's JSON is nested deeper than 512 levels; not read"},
      {"[records]\njson_array = '/files'\n[records.fields]\ndownload_url = '/url'\nfile_name = '/name'\n",
       R"({"files":[{"url":"http://h/1","name":)" + deep + "}]}", "nested deeper than 512"},
      {"[fields.download_url]\njson = ''\n", many, "the page's JSON has more than 131072 values where the rule reads"},
      {"[fields.download_url]\npattern = '(x+x+)+y'\n", std::string(5000, 'x'), "too complex"},
      // Each search reads the rest of the page: quadratic in all, though each is cheap.
      {"[records]\npattern = '(?<download_url>a)(?=[^z]*$)'\n", std::string(1 << 20, 'a'), "too complex"},
      // Records that overlap, each holding the rest of the page.
      {"[records]\npattern = '(?=(?<download_url>[^z]*))a'\n", std::string(20000, 'a'),
       "the files of the page hold more than 8388608 bytes of text; the rest are left out"},
  };
  for (const auto& [fields, page, error] : rows) {
    const rule_reading read = read_with_rule(rule_of("name = 'x'\n" + fields), {{"page", page}});
    const failure got = read.error.value_or(failure{});
    EXPECT_NE(got.message.find(error), std::string::npos) << fields << got.message;
    EXPECT_EQ(got.kind, error_kind::page) << fields;
    std::size_t text = 0;
    for (const file_record& f : read.reading.files) text += f.download_url.size();
    EXPECT_LE(text, most_record_text);
  }
}

// Ctrl+C ends a reading at once, wherever it is.
TEST(Rule, AReadingEndsSoonAfterItIsCancelled) {
  const service_rule rule = rule_of("name = 'x'\n[records]\npattern = '(?<download_url>a)(?=[^z]*$)'\n");
  const rule_answers page = {{"page", std::string(1 << 23, 'a')}};
  std::atomic<bool> cancel{false};
  std::chrono::steady_clock::time_point cancelled;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancelled = std::chrono::steady_clock::now();
    cancel = true;
  });
  const rule_reading read = read_with_rule(rule, page, &cancel);
  const auto ended = std::chrono::steady_clock::now();
  canceller.join();
  EXPECT_EQ(read.error, (failure{error_kind::interrupted, "interrupted"}));
  EXPECT_LT(ended - cancelled, std::chrono::milliseconds(500));
}

// Each place writes a value as it must stand there, and only {NAME} is a placeholder.
TEST(Rule, TemplatesWriteEachValueAsItsPlaceWantsIt) {
  const template_values values = [](std::string_view name) -> std::optional<std::string> {
    if (name == "id") return "a/b?c#d \"q\"";
    if (name == "t") return "\xE4\xB8\xAD ~";
    if (name == "file.n") return "1";
    return std::nullopt;
  };
  const std::tuple<const char*, template_place, const char*> rows[] = {
      {"https://h/l?id={id}&t={t}", template_place::address, "https://h/l?id=a%2Fb%3Fc%23d%20%22q%22&t=%E4%B8%AD%20~"},
      {"{id}", template_place::form, "a%2Fb%3Fc%23d+%22q%22"},
      {"{\"id\": {id}, \"x\": \"<{t}>\", \"n\": [{file.n}]}", template_place::json,
       "{\"id\": \"a/b?c#d \\\"q\\\"\", \"x\": \"<\xE4\xB8\xAD ~>\", \"n\": [\"1\"]}"},
      {"Bearer {t}{} {", template_place::plain, "Bearer \xE4\xB8\xAD ~{} {"},
  };
  for (const auto& [text, place, filled] : rows) {
    const filled_template got = fill_template(text, place, values);
    EXPECT_EQ(got.text, filled) << text;
    EXPECT_FALSE(got.missing) << text;
  }
  EXPECT_EQ(fill_template("x{nope}y{id}", template_place::plain, values).missing, "nope");
  for (const char* open : {"{id", "a{id b}", "{file.n:"})
    EXPECT_NE(parse_template(open).problem.value_or("").find("is not closed"), std::string::npos) << open;
}

// RFC 3986 section 5.4's examples, and what stays as it is.
TEST(Rule, RelativeAddressesResolveAsTheStandardSays) {
  const std::pair<const char*, const char*> rows[] = {
      {"g:h", "g:h"},           {"g", "http://a/b/c/g"},        {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"}, {"/g", "http://a/g"},           {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"}, {"#s", "http://a/b/c/d;p?q#s"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"}, {".", "http://a/b/c/"}, {"..", "http://a/b/"},
      {"../g", "http://a/b/g"}, {"../../../g", "http://a/g"},   {"/./g", "http://a/g"},
      {"g/../h", "http://a/b/c/h"}, {"  /d/1 ", "http://a/d/1"}, {"", ""},
      {"HTTPS://x/y", "HTTPS://x/y"}, {"javascript:void(0)", "javascript:void(0)"},
  };
  for (const auto& [reference, absolute] : rows)
    EXPECT_EQ(resolve_reference("http://a/b/c/d;p?q", reference), absolute) << reference;
  EXPECT_EQ(resolve_reference("", "/d/1"), "/d/1");  // no base: left as it is
  EXPECT_TRUE(is_web_address(" HTTP://x"));
  EXPECT_FALSE(is_web_address("ftp://x/y"));
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
