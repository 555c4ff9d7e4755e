// The Mistdrive example end to end: its rule file, the command, and a loopback
// server that plays the drive (codes, pages, folders, link batches, addresses that
// expire, a host that asks to wait).
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "testing/mistdrive_server.h"
#include "testing/test_folder.h"

namespace sharelink::cli {
namespace {

struct outcome {
  int status;
  std::string out, err;
};

/// The example's rule with its hosts at `server`, in `folder`.
std::string rule_for(const testing::mistdrive_server& server, const testing::test_folder& folder) {
  std::string text = testing::read_source_file("src/rules/services/examples/mistdrive.toml");
  for (const std::string host : {"https://api.mistdrive.example", "https://mistdrive.example"})
    for (std::size_t at = text.find(host); at != std::string::npos; at = text.find(host, at))
      text.replace(at, host.size(), server.base());
  const std::string path = folder / "mistdrive.toml";
  testing::test_folder::write(path, text);
  return path;
}

outcome run_with(const std::string& rule, std::vector<std::string> args) {
  args.insert(args.begin(), {"--no-config", "--rules", rule, "--service", "mistdrive", "--json"});
  std::istringstream in;
  std::ostringstream out, err;
  const int status = run(args, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(Mistdrive, AShareOfFoldersDownloadsWholeThroughAnExpiredAddressAndAWait) {
  testing::mistdrive_server drive;
  const std::vector<testing::mistdrive_server::file> files = {
      {"/readme.txt", "read me"},
      {"/docs/a.txt", "a"},
      {"/docs/2026/report.pdf", std::string(200000, 'r')},
      {"/docs/2026/notes.txt", "notes"},
      {"/c.txt", "c"},
      {"/d.txt", "d"},
      {"/e.txt", "e"},
  };
  drive.add_share("AbC1", "x7k2", files);
  drive.cut_and_expire_first_download("/docs/2026/report.pdf");
  drive.ask_to_wait_once_at_page(2);
  drive.start();
  testing::test_folder folder;
  const std::string saved = folder / "saved";
  const outcome got = run_with(rule_for(drive, folder), {"--download", "--output-dir", saved, "--explain",
                                                         drive.share_address("AbC1") + "?pwd=x7k2"});
  ASSERT_EQ(got.status, 0) << got.err << got.out;
  // --explain tells each request and reading, the code never.
  EXPECT_NE(got.err.find("explain: page: GET " + drive.share_address("AbC1") + "?pwd=*** -> 200"), std::string::npos)
      << got.err;
  EXPECT_NE(got.err.find("explain: step links: gives download_url of file report.pdf: json /list/N/dlink on links"),
            std::string::npos)
      << got.err;
  EXPECT_EQ(got.err.find("x7k2"), std::string::npos) << got.err;
  const nlohmann::json json = nlohmann::json::parse(got.out);
  ASSERT_EQ(json["files"].size(), files.size()) << got.out;
  int re_resolved = 0;
  for (const nlohmann::json& file : json["files"]) {
    EXPECT_EQ(file["download"]["result"], "saved") << file.dump();
    EXPECT_EQ(file["download"]["md5_checked"], true) << file.dump();
    re_resolved += file["download"]["re_resolved"].get<int>();
  }
  EXPECT_EQ(re_resolved, 1);
  // Each file where the share keeps it, whole.
  for (const auto& f : files) EXPECT_EQ(testing::test_folder::read(saved + f.path), f.body) << f.path;
  // The wait asked for once, and the share read once more for the expired address.
  const std::map<std::string, int> counts = drive.counts();
  EXPECT_EQ(counts.at("429"), 1);
  EXPECT_EQ(counts.at("/s"), 2);
}

TEST(Mistdrive, TheDriveSaysWhyAShareCannotBeRead) {
  testing::mistdrive_server drive;
  drive.add_share("AbC1", "x7k2", {{"/a.txt", "a"}});
  drive.add_share("Gone1", "x7k2", {{"/a.txt", "a"}}, true);
  drive.start();
  testing::test_folder folder;
  const std::string rule = rule_for(drive, folder);
  struct case_ {
    std::string address;
    std::vector<std::string> more;
    std::string kind, error;
  };
  const case_ cases[] = {
      {drive.share_address("AbC1"), {"--password", "nope"}, "password", "the extraction code was not accepted"},
      {drive.share_address("AbC1"), {}, "password", "needs an extraction code"},
      {drive.share_address("Gone1"), {}, "gone", "the share was deleted by its owner"},
      {drive.share_address("Nothere"), {}, "gone", "404"},
  };
  for (const case_& c : cases) {
    SCOPED_TRACE(c.address);
    std::vector<std::string> args = c.more;
    args.push_back(c.address);
    const outcome got = run_with(rule, args);
    EXPECT_EQ(got.status, 1);
    const nlohmann::json json = nlohmann::json::parse(got.out);
    EXPECT_EQ(json["error_kind"], c.kind) << got.out;
    EXPECT_NE(json["error"].get<std::string>().find(c.error), std::string::npos) << got.out;
  }
}

}  // namespace
}  // namespace sharelink::cli
