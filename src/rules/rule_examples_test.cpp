// The example rule files against a loopback server that plays each made-up service:
// what their own [[tests]] cannot hold, the requests they make.

#include <string>

#include <gtest/gtest.h>

#include "rules/rule.h"
#include "resolve/service_resolve.h"
#include "testing/loopback_server.h"

namespace sharelink {
namespace {

/// The example's rule, with `host` (as written in the file) served by `server`.
service_rule example(const std::string& name, const std::string& host, const testing::loopback_server& server) {
  std::string text = testing::read_source_file("src/rules/services/examples/" + name + ".toml");
  const std::string base = server.url("");
  for (std::size_t at = text.find(host); at != std::string::npos; at = text.find(host, at + 1))
    text.replace(at, host.size(), base.substr(0, base.size()));
  auto read = read_rule(text);
  if (auto* problem = std::get_if<rule_problem>(&read)) ADD_FAILURE() << describe(*problem, name);
  return std::holds_alternative<service_rule>(read) ? std::get<service_rule>(read) : service_rule{};
}

TEST(RuleExamples, AJsonApiAskedWithATokenFromThePage) {
  testing::loopback_server server;
  server.serve("/s/XYZ", "<div id=\"share\" data-share=\"X Y/Z\"></div><script>var token = \"ab\\u0063+1\";</script>");
  std::string asked;
  server.http().Get("/v1/list", [&](const httplib::Request& request, httplib::Response& response) {
    asked = request.target + " " + request.get_header_value("Accept");
    response.set_content(R"({"files":[{"name":"a.zip","url":"https://cdn.example/a","bytes":2048,"md5":"0cc175b9c0f1b6a831c399e269772661"},)"
                         R"({"name":"\u6587.txt","url":"https://cdn.example/b","bytes":1}]})",
                         "application/json");
  });
  server.start();
  const service_rule rule = example("cloudbox", "https://api.cloudbox.example", server);
  const service_resolution found = resolve_service(rule, server.url("/s/XYZ"), fetch_options{});
  // The values are escaped where they stand in the address; the rule's header is sent.
  EXPECT_EQ(asked, "/v1/list?share=X%20Y%2FZ&token=abc%2B1 application/json");
  const page_reading& reading = found.read.reading;
  ASSERT_EQ(reading.files.size(), 2u) << found.read.error.value_or(failure{}).message;
  EXPECT_EQ(reading.files[0].md5, "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(reading.files[0].size, "2KB");
  EXPECT_EQ(reading.fields.download_url, "https://cdn.example/b");
  EXPECT_FALSE(found.read.error);

  // A page without the token: the step is not asked, and the reason says why.
  testing::loopback_server bare;
  bare.serve("/s/XYZ", "<div data-share=\"X\"></div>");
  bare.start();
  const service_resolution missing = resolve_service(example("cloudbox", "https://api.cloudbox.example", bare),
                                                     bare.url("/s/XYZ"), fetch_options{});
  EXPECT_EQ(missing.failed_step, "list");
  const failure not_found = missing.read.error.value_or(failure{});
  EXPECT_NE(not_found.message.find("token"), std::string::npos);
  EXPECT_EQ(not_found.kind, error_kind::page);

  // A step's server that sends the request to another host is not followed there.
  testing::loopback_server moved;
  moved.serve("/s/XYZ", "<div data-share=\"X\"></div><script>var token = \"t\";</script>");
  moved.http().Get("/v1/list", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("http://localhost:1/v1/list");
  });
  moved.start();
  const service_resolution away = resolve_service(example("cloudbox", "https://api.cloudbox.example", moved),
                                                  moved.url("/s/XYZ"), fetch_options{});
  EXPECT_EQ(away.failed_step, "list");
  EXPECT_EQ(away.outcome.error, "redirect refused: it leaves 127.0.0.1 for another host");
}

TEST(RuleExamples, AnApiThatWantsThePagesTokenInAHeader) {
  testing::loopback_server server;
  server.serve("/s/9f3k", testing::read_source_file("src/rules/services/examples/testdata/tokenbox/share.html"));
  server.http().Get("/v2/files/9f3k", [](const httplib::Request& request, httplib::Response& response) {
    const bool taken = request.get_header_value("Authorization") == "Bearer eyJ0.abc";
    response.set_content(taken ? testing::read_source_file("src/rules/services/examples/testdata/tokenbox/file.json")
                               : std::string(R"({"error":"invalid token"})"),
                         "application/json");
  });
  server.start();
  const service_resolution found =
      resolve_service(example("tokenbox", "https://api.tokenbox.example", server), server.url("/s/9f3k"), fetch_options{});
  EXPECT_FALSE(found.read.error) << found.read.error.value_or(failure{}).message;
  // The relative address the API answers with, against the API's own.
  EXPECT_EQ(found.read.reading.fields.download_url, server.url("/d/9f3k/a.zip?exp=1767225600"));
}

}  // namespace
}  // namespace sharelink
