// A made-up cloud drive played by a loopback server: an extraction code checked by
// a POST that sets a cookie, a paged JSON listing with nested folders, and a batch
// step for the download addresses; each the way a rule file describes it.

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "rules/rule.h"
#include "resolve/service_resolve.h"
#include "testing/loopback_server.h"

namespace sharelink {
namespace {

using nlohmann::json;

constexpr const char* drive_rule = R"rule(
name = "drive"
addresses = ['/s/']

[values]
sign = { pattern = 'var sign="([^"]+)"' }
share_id = { pattern = 'share_id="([^"]+)"' }

[[fail]]
pattern = 'share-deleted'
kind = "gone"
message = "the owner deleted the share"

[[steps]]
name = "verify"
address = "HOST/api/verify?id={share_id}&pwd={password}"
method = "POST"
form = { pwd = "{password}", "the id" = "{share_id}" }
[[steps.fail]]
json = "/errno"
equals = "-9"
kind = "password"

[[steps]]
name = "list"
address = "HOST/api/list?dir={dir}&page={page}"
headers = { X-Token = "{sign}" }
pages = { param = "page", more = { json = "/has_more", equals = "1" } }
[[steps.fail]]
json = "/errno"
equals = "-1"
kind = "login"

[records]
json_array = "/list"
[records.fields]
file_name = "/name"
size = { json = "/size", decode = ["size_units"] }
id = "/fs_id"
[records.folders]
when = { json = "/isdir", equals = "true" }
path = "/path"

[[steps]]
name = "links"
address = "HOST/api/links"
method = "POST"
json_body = '{"fsids": "{file.id}", "sign": {sign}, "folder": "{file.folder}"}'
for_each = "file"
batch = 2
[steps.gives]
json_array = "/list"
match = { json = "/fs_id", equals = "{file.id}" }
download_url = { json = "/dlink" }
)rule";

service_rule drive_rule_for(const testing::loopback_server& server) {
  std::string text = drive_rule;
  for (std::size_t at = text.find("HOST"); at != std::string::npos; at = text.find("HOST", at))
    text.replace(at, 4, server.url(""));
  auto read = read_rule(text);
  if (auto* problem = std::get_if<rule_problem>(&read)) ADD_FAILURE() << describe(*problem, "drive");
  return std::holds_alternative<service_rule>(read) ? std::get<service_rule>(read) : service_rule{};
}

json entry(int id, const std::string& name, const std::string& size) {
  return {{"fs_id", id}, {"name", name}, {"size", size}, {"isdir", false}};
}
json folder(const std::string& name, const std::string& path) {
  return {{"name", name}, {"path", path}, {"isdir", true}};
}

/// The drive: share "abc" with code "x7k2"; "/" lists a.txt and docs on its first
/// page, b.txt on its second; docs holds c.txt and sub, sub holds d.txt and docs
/// again (listed once). The links of 1-3 are relative; 4 has none.
class drive_server {
 public:
  drive_server() {
    server.serve("/s/abc", "<script>var sign=\"S1\"; share_id=\"abc\";</script>");
    server.serve("/s/deleted", "<p class=share-deleted>");
    server.serve("/s/evil", "<script>var sign=\"S1\r\nX-Injected: 1\"; share_id=\"abc\";</script>");
    server.http().Get("/api/link", [](const httplib::Request& request, httplib::Response& response) {
      const std::string id = request.get_param_value("id");
      if (id == "3") response.status = 500;
      else response.set_content("{\"dlink\":\"https://dl.example/" + id + "\"}", "application/json");
    });
    server.http().Post("/api/verify", [](const httplib::Request& request, httplib::Response& response) {
      const bool right = request.get_param_value("pwd") == "x7k2" && request.get_param_value("the id") == "abc";
      if (right) response.set_header("Set-Cookie", "sess=ok; Path=/");
      response.set_content(right ? R"({"errno":0})" : R"({"errno":-9})", "application/json");
    });
    server.http().Get("/api/list", [this](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard lock(mutex);
        listed.insert(request.get_param_value("dir") + "#" + request.get_param_value("page"));
      }
      const bool allowed = request.get_header_value("Cookie").find("sess=ok") != std::string::npos &&
                           request.get_header_value("X-Token") == "S1";
      const std::string dir = request.get_param_value("dir"), page = request.get_param_value("page");
      json answer = {{"errno", allowed ? 0 : -1}, {"has_more", 0}, {"list", json::array()}};
      if (dir.empty() && page == "1") answer["list"] = {entry(1, "a.txt", "1.5 KB"), folder("docs", "/docs")};
      if (dir.empty() && page == "1") answer["has_more"] = 1;
      if (dir.empty() && page == "2") answer["list"] = {entry(2, "b.txt", "2G")};
      if (dir == "/docs") answer["list"] = {entry(3, "c.txt", "512 B"), folder("sub", "/docs/sub")};
      if (dir == "/docs/sub") answer["list"] = {entry(4, "d.txt", "1,024"), folder("docs", "/docs")};
      response.set_content(answer.dump(), "application/json");
    });
    server.http().Post("/api/links", [](const httplib::Request& request, httplib::Response& response) {
      const json asked = json::parse(request.body);
      json list = json::array();
      std::string ids = asked["fsids"];
      for (std::size_t at = 0; at < ids.size(); at = ids.find(',', at) + 1) {
        const int id = std::stoi(ids.substr(at));
        if (id != 4 && asked["sign"] == "S1") list.push_back({{"fs_id", id}, {"dlink", "../d/" + std::to_string(id)}});
        if (ids.find(',', at) == std::string::npos) break;
      }
      response.set_content(json{{"list", list}}.dump(), "application/json");
    });
    server.start();
  }
  testing::loopback_server server;
  std::mutex mutex;
  std::set<std::string> listed;
};

std::string error_text(const service_resolution& found) {
  return found.read.error ? found.read.error->message : std::string();
}

/// What a resolution told its listener.
struct recorded_trace final : rule_trace {
  std::vector<traced_request> requests;
  std::vector<traced_reading> readings;
  void request(const traced_request& r) override { requests.push_back(r); }
  void reading(const traced_reading& r) override { readings.push_back(r); }
};

service_resolution resolve_drive(drive_server& drive, const std::string& path, std::optional<std::string> password,
                                 rule_trace* trace = nullptr) {
  resolve_settings settings;
  settings.password = std::move(password);
  settings.trace = trace;
  return resolve_service(drive_rule_for(drive.server), drive.server.url(path), settings);
}

TEST(ShareEngine, ListsPagesAndFoldersAndAsksForTheLinksInBatches) {
  drive_server drive;
  recorded_trace trace;
  const service_resolution found = resolve_drive(drive, "/s/abc", "x7k2", &trace);
  EXPECT_FALSE(found.read.error) << error_text(found);
  const std::vector<file_record>& files = found.read.reading.files;
  ASSERT_EQ(files.size(), 4u);
  // In listing order, each folder's files where the folder stood.
  const std::tuple<const char*, const char*, std::uint64_t, const char*> expected[] = {
      {"a.txt", "", 1536, "/d/1"}, {"c.txt", "docs", 512, "/d/3"}, {"d.txt", "docs/sub", 1024, ""},
      {"b.txt", "", 2147483648, "/d/2"}};
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& [name, folder, bytes, link] = expected[i];
    EXPECT_EQ(files[i].file_name, name);
    EXPECT_EQ(files[i].folder, folder);
    EXPECT_EQ(files[i].size_bytes, bytes) << name;
    if (*link != '\0') {
      EXPECT_EQ(files[i].download_url, drive.server.url(link)) << name;
    }
    EXPECT_EQ(files[i].error.has_value(), *link == '\0') << name;
  }
  // The file the batch's answer leaves out fails alone.
  EXPECT_EQ(files[2].error.value_or(failure{}).message, "step links: the answer holds nothing for the file");
  EXPECT_EQ(found.read.reading.fields.file_name, "b.txt");
  // Each folder listed once, page after page.
  EXPECT_EQ(drive.listed, (std::set<std::string>{"#1", "#2", "/docs#1", "/docs/sub#1"}));
  // The extraction code never shows in what the listener is told.
  ASSERT_FALSE(trace.requests.empty());
  EXPECT_EQ(trace.requests[1].step, "verify");
  EXPECT_EQ(trace.requests[1].method, "POST");
  EXPECT_EQ(trace.requests[1].address, drive.server.url("/api/verify?id=abc&pwd=***"));
  for (const traced_request& request : trace.requests) EXPECT_EQ(request.address.find("x7k2"), std::string::npos);
  EXPECT_EQ(trace.requests.size(), 1u + 1u + 2u + 2u + 2u);  // page, verify, 2 pages, 2 folders, 2 batches
}

TEST(ShareEngine, FailuresTheServiceReportsHaveTheirKinds) {
  drive_server drive;
  const std::tuple<const char*, std::optional<std::string>, error_kind, const char*> rows[] = {
      {"/s/abc", std::nullopt, error_kind::password, "step verify: this share needs an extraction code"},
      {"/s/abc", "wrong", error_kind::password, "step verify: the extraction code was not accepted"},
      {"/s/nothing", "x7k2", error_kind::gone, "the share is gone (HTTP 404 Not Found)"},
      {"/s/deleted", "x7k2", error_kind::gone, "the owner deleted the share"},
  };
  for (const auto& [path, password, kind, message] : rows) {
    const service_resolution found = resolve_drive(drive, path, password);
    EXPECT_EQ(found.failure, kind) << path;
    EXPECT_EQ(error_text(found).rfind(message, 0), 0u) << error_text(found);
  }
}

// A step for one file at a time fails that file alone; folders deeper than the rule
// allows are left out and said so; a value from a page never becomes a header line.
TEST(ShareEngine, StepsForEachFileAndDeepFoldersFailAlone) {
  drive_server drive;
  std::string text = drive_rule;
  text.replace(text.find("path = \"/path\""), 15, "path = \"/path\"\nmax_depth = 1");
  text = text.substr(0, text.find("[[steps]]\nname = \"links\"")) +
         "[[steps]]\nname = \"link\"\naddress = \"HOST/api/link?id={file.id}\"\nfor_each = \"file\"\n"
         "gives = { download_url = { json = \"/dlink\" } }\n";
  for (std::size_t at = text.find("HOST"); at != std::string::npos; at = text.find("HOST", at))
    text.replace(at, 4, drive.server.url(""));
  const auto read = read_rule(text);
  ASSERT_TRUE(std::holds_alternative<service_rule>(read)) << describe(std::get<rule_problem>(read), "rule");
  resolve_settings settings;
  settings.password = "x7k2";
  const service_resolution found = resolve_service(std::get<service_rule>(read), drive.server.url("/s/abc"), settings);
  const std::vector<file_record>& files = found.read.reading.files;
  ASSERT_EQ(files.size(), 3u);  // a.txt, docs/c.txt, b.txt: docs/sub lies too deep
  EXPECT_NE(error_text(found).find("deeper than max_depth (1)"), std::string::npos) << error_text(found);
  EXPECT_EQ(files[0].download_url, "https://dl.example/1");
  ASSERT_TRUE(files[1].error);
  EXPECT_EQ(files[1].error->message, "step link: HTTP 500");
  EXPECT_EQ(files[1].error->kind, error_kind::http);
  EXPECT_EQ(files[2].download_url, "https://dl.example/2");

  drive.listed.clear();
  const service_resolution evil = resolve_drive(drive, "/s/evil", "x7k2");
  EXPECT_EQ(error_text(evil), "step list: the header X-Token would hold a control character");
  EXPECT_TRUE(drive.listed.empty());
}

TEST(ShareEngine, PagesEndWhereTheRuleSays) {
  testing::loopback_server server;
  std::atomic<int> asked = 0;
  server.http().Get("/api", [&](const httplib::Request& request, httplib::Response& response) {
    ++asked;
    const std::string at = request.get_param_value("at");
    // A cursor that comes back to "b" after "c"; a counter that ends after 5.
    const std::string next = at.empty() || at == "c" || at == "5" ? "b" : at == "b" ? "c" : "end";
    response.set_content(json{{"next", next}, {"files", {{{"u", "/f/" + at}}}}}.dump(), "application/json");
  });
  server.serve("/s/x", "x");
  server.start();
  const std::string head = "name = 'p'\n[records]\njson_array = '/files'\nfields = { download_url = '/u' }\n"
                           "[[steps]]\nname = 'list'\naddress = '" + server.url("/api") + "?at={at}'\n";
  const std::tuple<std::string, int, const char*> rows[] = {
      {"pages = { param = 'at', cursor = { json = '/next' } }", 3, "came before"},
      {"pages = { param = 'at', cursor = { json = '/next' }, max = 2 }", 2, "more than 2 pages"},
      {"pages = { param = 'at', start = 5, step = -2, more = { json = '/next', equals = 'b' } }", 2, nullptr},
      // A `more` that reads within the records, or the records whole, as well as beside them.
      {"pages = { param = 'at', start = 5, more = { json = '/files/0/u', equals = '/f/5' } }", 2, nullptr},
      {"pages = { param = 'at', more = { json = '/files', present = true }, max = 3 }", 3, "more than 3 pages"},
  };
  for (const auto& [pages, requests, error] : rows) {
    asked = 0;
    const auto read = read_rule(head + pages);
    ASSERT_TRUE(std::holds_alternative<service_rule>(read)) << describe(std::get<rule_problem>(read), pages);
    const service_resolution found = resolve_service(std::get<service_rule>(read), server.url("/s/x"), fetch_options{});
    EXPECT_EQ(asked, requests) << pages;
    if (error) EXPECT_NE(error_text(found).find(error), std::string::npos) << error_text(found);
    else EXPECT_EQ(found.read.reading.files.size(), 2u) << error_text(found);
  }
}

TEST(ShareEngine, SavedAnswersReadAsTheServiceWouldGiveThem) {
  std::string text = drive_rule;
  for (std::size_t at = text.find("HOST"); at != std::string::npos; at = text.find("HOST", at))
    text.replace(at, 4, "https://drive.example");
  const service_rule rule = std::get<service_rule>(read_rule(text));
  const std::map<std::string, std::vector<std::string>> saved = {
      {"page", {"var sign=\"S1\"; share_id=\"abc\";"}},
      {"verify", {R"({"errno":0})"}},
      {"list", {R"({"has_more":1,"list":[{"fs_id":1,"name":"a","size":"1 KiB"},{"isdir":true,"path":"/f"}]})",
                R"({"has_more":1,"list":[{"fs_id":2,"name":"b","size":"3"}]})"}},
      {"links", {R"({"list":[{"fs_id":1,"dlink":"https://dl.example/1"},{"fs_id":2,"dlink":"/2?x"}]})"}}};
  resolve_settings settings;
  settings.saved = &saved;
  settings.password = "x7k2";
  const service_resolution found = resolve_service(rule, "", settings);
  EXPECT_FALSE(found.read.error) << error_text(found);
  const std::vector<file_record>& files = found.read.reading.files;
  ASSERT_EQ(files.size(), 2u);  // the folder is not listed: there is no answer of its
  EXPECT_EQ(files[0].download_url, "https://dl.example/1");
  EXPECT_EQ(files[0].size_bytes, 1024u);
  // Relative to the address the step would have asked.
  EXPECT_EQ(files[1].download_url, "https://drive.example/2?x");
}

}  // namespace
}  // namespace sharelink
