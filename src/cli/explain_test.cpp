// --explain: the lines a resolution's requests and readings make, and that they
// go to standard error only.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli/explain.h"
#include "testing/loopback_server.h"
#include "testing/test_folder.h"

namespace sharelink::cli {
namespace {

TEST(Explain, EachRequestAndReadingIsOneSafeLine) {
  std::ostringstream err;
  explain_sink sink(err, "x7 k");
  sink.request({"page", "GET", "https://s.example/s/1?pwd=x7%20k", 0, "", 200, 612, 3, ""});
  sink.request({"list", "POST", "https://api.s.example/list", 2, "a/\x1b[2Jb", 0, 0, 15000, "timed out"});
  sink.request({"sign", "GET", "https://api.s.example/sign?c=x7 k", 0, "", 0, 1, 0, ""});
  traced_reading token{"step list: value token", "pattern 'token=\"([^\"]*)\"'", "page", 3, "a\\u0062", {}, "ab"};
  token.decoded = {{"json_string", "a\\u0062", "ab"}, {"trim", "ab", "ab"}};
  sink.reading(token);
  sink.reading({"field md5", "json /md5", "list", 0, std::nullopt, {}, std::nullopt});
  sink.reading({"records", "json_array /list", "list", 1, std::nullopt, {}, std::nullopt});
  sink.reading({"field file_name", "template '{name}'", "", 1, std::string(400, 'n'), {}, std::string(400, 'n')});
  sink.reading({"value dir", "json /dir, its default", "page", 0, std::nullopt, {}, "/"});
  sink.reading({"step verify: fail 1", "json /errno, equals '-9'", "verify", 1, "0", {}, "does not hold"});
  EXPECT_EQ(err.str(),
            "explain: page: GET https://s.example/s/1?pwd=*** -> 200, 612 bytes, 3 ms\n"
            "explain: step list, page 2, folder \"a/ [2Jb\": POST https://api.s.example/list -> 0 bytes, 15000 ms; "
            "timed out\n"
            "explain: step sign: GET https://api.s.example/sign?c=*** -> saved answer, 1 byte\n"
            "explain: step list: value token: pattern 'token=\"([^\"]*)\"' on page, 3 matches: \"a\\u0062\"\n"
            "explain:   json_string: \"a\\u0062\" -> \"ab\"\n"
            "explain:   trim: \"ab\" -> \"ab\"\n"
            "explain: field md5: json /md5 on list, nothing there\n"
            "explain: records: json_array /list on list, 1 record\n"
            "explain: field file_name: template '{name}': \"" +
                std::string(300, 'n') + "\"…\n"
                "explain: value dir: json /dir, its default on page, nothing there: \"/\"\n"
                "explain: step verify: fail 1: json /errno, equals '-9' on verify: \"0\" -> \"does not hold\"\n");
}

TEST(Explain, NothingGoesToStandardOutput) {
  testing::loopback_server server;
  server.serve("/s/1", "<a id=\"d\" href=\"https://dl.example/f/1\">");
  server.start();
  testing::test_folder folder;
  testing::test_folder::write(folder / "d.toml",
                              "name = 'd'\n[fields.download_url]\npattern = 'id=\"d\" href=\"([^\"]*)\"'\n");
  const auto run_with = [&](bool explain) {
    std::vector<std::string> args = {"--no-config", "--rules", folder / "d.toml", "--service", "d", "--json",
                                     server.url("/s/1")};
    if (explain) args.insert(args.begin(), "--explain");
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(run(args, in, out, err), 0);
    return std::pair{out.str(), err.str()};
  };
  const auto [plain_out, plain_err] = run_with(false);
  const auto [out, err] = run_with(true);
  EXPECT_EQ(out, plain_out);
  EXPECT_EQ(plain_err, "");
  EXPECT_NE(err.find("explain: page: GET " + server.url("/s/1") + " -> 200, "), std::string::npos) << err;
  EXPECT_NE(err.find("explain: field download_url: pattern 'id=\"d\" href=\"([^\"]*)\"' on page, 1 match: "
                     "\"https://dl.example/f/1\"\n"),
            std::string::npos)
      << err;
}

}  // namespace
}  // namespace sharelink::cli
