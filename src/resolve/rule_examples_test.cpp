// The example rule files against a loopback server that plays each made-up service.

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "resolve/rule.h"
#include "resolve/service_resolve.h"
#include "testing/loopback_server.h"

namespace sharelink {
namespace {

/// The example's rule, with `host` (as written in the file) served by `server`.
service_rule example(const std::string& name, const std::string& host, const testing::loopback_server& server) {
  std::string text = testing::read_source_file("src/resolve/services/examples/" + name + ".toml");
  const std::string base = server.url("");
  for (std::size_t at = text.find(host); at != std::string::npos; at = text.find(host, at + 1))
    text.replace(at, host.size(), base.substr(0, base.size()));
  auto read = read_rule(text);
  if (auto* problem = std::get_if<rule_problem>(&read)) ADD_FAILURE() << describe(*problem, name);
  return std::holds_alternative<service_rule>(read) ? std::get<service_rule>(read) : service_rule{};
}

TEST(RuleExamples, FieldsInTheAttributesOfOneElement) {
  testing::loopback_server server;
  server.serve("/s/7Qx2", "<html><a class=\"btn\" id=\"download\" href=\"https://dl.dropspot.example/f/7Qx2?sig=9c1e&amp;t=1\""
                          " data-filename=\"annual%20report%E2%80%942026.pdf\" data-bytes=\"1048576\""
                          " data-md5=\"9e107d9d372bb6826bd81d3542a419d6\">Download</a></html>");
  server.start();
  const service_rule rule = example("dropspot", "https://unused.example", server);
  const service_resolution found = resolve_service(rule, server.url("/s/7Qx2"), fetch_options{});
  const resolved_file& f = found.read.reading.fields;
  EXPECT_EQ(f.download_url, "https://dl.dropspot.example/f/7Qx2?sig=9c1e&t=1");
  EXPECT_FALSE(f.file_name.empty());
  EXPECT_EQ(f.size, "1MB");
  EXPECT_EQ(f.md5, "9e107d9d372bb6826bd81d3542a419d6");
  EXPECT_TRUE(rule.md5_is_content_hash);
  // The one file the page gives, to download or list for aria2.
  ASSERT_EQ(found.read.reading.files.size(), 1u);
  const file_record& only = found.read.reading.files[0];
  EXPECT_EQ(std::tie(only.download_url, only.file_name, only.size, only.md5),
            std::tie(f.download_url, f.file_name, f.size, f.md5));
  EXPECT_EQ(only.size_bytes, 1048576u);
}

TEST(RuleExamples, ATableListingFiles) {
  testing::loopback_server server;
  server.serve("/folder/9", "<table><tr class=\"file\"><td class=\"name\"> a &amp; b.zip </td><td class=\"bytes\">2048</td>\n"
                            "  <td><a href=\"https://get.sharetable.example/f/1\">get</a></td></tr>"
                            "<tr class=\"file\"><td class=\"name\">c.iso</td><td class=\"bytes\">734003200</td>"
                            "<td><a href=\"https://get.sharetable.example/f/2\">get</a></td></tr></table>");
  server.start();
  const service_rule rule = example("sharetable", "https://unused.example", server);
  const page_reading reading = resolve_service(rule, server.url("/folder/9"), fetch_options{}).read.reading;
  ASSERT_EQ(reading.files.size(), 2u);
  EXPECT_EQ(reading.files[0].file_name, "a & b.zip");
  EXPECT_EQ(reading.files[0].size_bytes, 2048u);
  EXPECT_EQ(reading.files[1].download_url, "https://get.sharetable.example/f/2");
  EXPECT_EQ(reading.fields.file_name, "c.iso");  // the last file, whole
  EXPECT_EQ(reading.fields.size, "700MB");
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

}  // namespace
}  // namespace sharelink
