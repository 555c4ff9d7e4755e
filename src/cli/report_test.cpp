#include "cli/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>

#include "cli/downloads.h"

namespace sharelink::cli {
namespace {

resolution sample() {
  resolution r;
  r.address = "http://host/d/ABC";
  r.service = "kuaichuan";
  r.fields = {"http://dl.example/f.zip", "测试.zip", "ZIP   (zip)", "zip", "1.5KB", std::nullopt,
              "0123456789ABCDEF0123456789abcdef", {}, {}, {}};
  return r;
}

file_entry sample_file() {
  file_entry f;
  f.download_url = "http://dl.example/f.zip";
  f.file_name = "测试.zip";
  f.file_type = "ZIP   (zip)";
  f.extension = "zip";
  f.size = "1.5KB";
  f.size_bytes = 1536;
  f.md5 = "0123456789ABCDEF0123456789abcdef";
  return f;
}

TEST(LabelledReport, KeepsEveryFieldOnItsOwnLine) {
  resolution r = sample();
  r.fields.file_name = "a\nb\r\x1b[31mc";
  EXPECT_EQ(labelled_report(r),
            "文件名称：a b  [31mc\n"
            "文件扩展名：ZIP   (zip)\n"
            "文件大小：1.5KB\n"
            "文件MD5值：0123456789ABCDEF0123456789abcdef\n"
            "下载地址：http://dl.example/f.zip\n");
  file_entry f = sample_file();
  f.download_url = "http://x/\x1b]0;title\x07";
  EXPECT_EQ(labelled_report(f),
            "文件名称：测试.zip\n"
            "文件扩展名：ZIP   (zip)\n"
            "文件大小：1.5KB\n"
            "文件MD5值：0123456789ABCDEF0123456789abcdef\n"
            "下载地址：http://x/ ]0;title \n");
}

TEST(AddressForMessage, LongAddressesKeepTheirStartAndWholeCharacters) {
  EXPECT_EQ(address_for_message(""), "(no address)");
  EXPECT_EQ(address_for_message("http://a/\x1b[2J"), "http://a/ [2J");
  EXPECT_EQ(address_for_message("http://a/\xC2\x9B" "2J\xC2\xA0\xC2"), "http://a/ 2J\xC2\xA0\uFFFD");  // C1 CSI
  const std::string long_ascii = "http://h/" + std::string(300, 'a');
  EXPECT_EQ(address_for_message(long_ascii), long_ascii.substr(0, 200) + "…");
  EXPECT_EQ(address_for_message(long_ascii.substr(0, 200)), long_ascii.substr(0, 200));
  // 中 is three bytes: the cut counts characters and never splits one.
  std::string wide = "http://h/";
  for (int i = 0; i < 300; ++i) wide += "中";
  const std::string shown = address_for_message(wide);
  EXPECT_EQ(shown.size(), 9 + 191 * 3 + std::string("…").size());
  EXPECT_TRUE(shown.ends_with("中…"));
}

TEST(JsonReport, IsOneValidObjectWhateverTheBytes) {
  resolution r = sample();
  r.fields.file_name = "bad\xff\xfe name\n\"q\"";
  r.error = "refused";
  const std::string line = json_report(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["file_name"].get<std::string>(), "bad\xEF\xBF\xBD\xEF\xBF\xBD name\n\"q\"");
  EXPECT_EQ(parsed["error"], "refused");
  EXPECT_EQ(parsed["size"], "1.5KB");
  EXPECT_TRUE(parsed["http_status"].is_null());
  EXPECT_TRUE(parsed["size_bytes"].is_null());
  EXPECT_EQ(parsed["files"], nlohmann::json::array());

  r.error.reset();
  EXPECT_TRUE(nlohmann::json::parse(json_report(r))["error"].is_null());
  // The keys come in a fixed order, so the lines can be compared as text.
  EXPECT_EQ(json_report(r).rfind("{\"address\":\"http://host/d/ABC\",\"service\":\"kuaichuan\",", 0), 0u);
}

TEST(JsonReport, ListsEachFileAndItsDownload) {
  resolution r = sample();
  r.http_status = 200;
  r.fields.size_bytes = std::uint64_t{1} << 53 | 1;  // beyond a double's exact integers
  r.files = {sample_file(), sample_file()};
  r.files[1].size_bytes.reset();
  download_report saved;
  saved.path = "/tmp/测试.zip";
  saved.bytes = 1536;
  saved.md5_checked = true;
  r.files[1].download = saved;
  const auto parsed = nlohmann::json::parse(json_report(r));
  EXPECT_EQ(parsed["http_status"], 200);
  EXPECT_EQ(parsed["size_bytes"].get<std::uint64_t>(), (std::uint64_t{1} << 53) + 1);
  ASSERT_EQ(parsed["files"].size(), 2u);
  EXPECT_EQ(parsed["files"][0], nlohmann::json({{"download_url", "http://dl.example/f.zip"},
                                                 {"file_name", "测试.zip"},
                                                 {"file_type", "ZIP   (zip)"},
                                                 {"extension", "zip"},
                                                 {"size", "1.5KB"},
                                                 {"folder", ""},
                                                 {"size_bytes", 1536},
                                                 {"md5", "0123456789ABCDEF0123456789abcdef"}}));
  EXPECT_TRUE(parsed["files"][1]["size_bytes"].is_null());
  EXPECT_EQ(parsed["files"][1]["download"], nlohmann::json({{"result", "saved"},
                                                            {"path", "/tmp/测试.zip"},
                                                            {"bytes", 1536},
                                                            {"md5_checked", true},
                                                            {"error", nullptr},
                                                            {"error_kind", nullptr},
                                                            {"re_resolved", 0},
                                                            {"result", "saved"}}));
}

// The report as nlohmann::json writes it from a tree of values: the bytes
// json_report must give, which it writes without building the tree.
std::string reference_report(const resolution& r) {
  using json = nlohmann::ordered_json;
  const auto text_or_null = [](const auto& v) { return v ? json(*v) : json(nullptr); };
  const auto kind = [](const std::optional<error_kind>& k) {
    return k ? json(std::string(error_kind_name(*k))) : json(nullptr);
  };
  const auto add_fields = [&](json& o, const file_record& f) {
    o["download_url"] = f.download_url;
    o["file_name"] = f.file_name;
    o["file_type"] = f.file_type;
    o["extension"] = f.extension;
    o["size"] = f.size;
    o["size_bytes"] = text_or_null(f.size_bytes);
    o["md5"] = f.md5;
  };
  json object;
  object["address"] = r.address;
  object["service"] = r.service;
  object["http_status"] = text_or_null(r.http_status);
  add_fields(object, r.fields);
  json files = json::array();
  for (const file_entry& f : r.files) {
    json o;
    add_fields(o, f);
    o["folder"] = f.folder;
    if (f.error) {
      o["error"] = one_line(f.error->message);
      o["error_kind"] = std::string(error_kind_name(f.error->kind));
    }
    if (const auto& d = f.download) {
      o["download"] = {{"path", d->path}, {"bytes", d->bytes}, {"md5_checked", text_or_null(d->md5_checked)},
                       {"error", text_or_null(d->error)},
                       {"error_kind", d->error ? kind(d->kind) : json(nullptr)}, {"re_resolved", d->refreshed},
                       {"result", d->error ? "failed" : d->in_archive ? "in archive" : d->already_present ? "already there" : "saved"}};
    }
    if (const auto& c = f.check)
      o["check"] = {{"path", c->path}, {"result", c->result}, {"bytes", text_or_null(c->bytes)},
                    {"md5", c->md5.empty() ? json(nullptr) : json(c->md5)}};
    if (!f.aria2_gid.empty()) o["aria2_gid"] = f.aria2_gid;
    files.push_back(std::move(o));
  }
  object["files"] = std::move(files);
  object["error"] = text_or_null(r.error);
  object["error_kind"] = kind(r.failure_kind);
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

TEST(JsonReport, IsWhatTheLibraryWritesForTheSameValues) {
  std::mt19937 random(20261208);
  // Text of every kind a page can hand over: control bytes, quotes, characters of
  // two to four bytes, and bytes that are no UTF-8 at all.
  const std::string pieces[] = {"a", "Z", " ", "\"", "\\", "/", "\x01", "\x1f", "\x7f", "\b", "\t", "\n",
                                "\f", "\r", std::string(1, '\0'), "中", "é", "😀", "\xff", "\xc3", "\xe4\xb8",
                                "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80", "\x80"};
  const auto text = [&] {
    std::string t;
    for (int n = static_cast<int>(random() % 6); n > 0; --n) t += pieces[random() % std::size(pieces)];
    return t;
  };
  const auto maybe = [&] { return random() % 2 == 0; };
  const auto fill = [&](file_record& f) {
    f.download_url = text(), f.file_name = text(), f.file_type = text(), f.extension = text(), f.size = text();
    f.md5 = text(), f.folder = text();
    if (maybe()) f.size_bytes = random() % 3 == 0 ? UINT64_MAX : random();
  };
  for (int round = 0; round < 3000; ++round) {
    resolution r;
    r.address = text(), r.service = text();
    if (maybe()) r.http_status = static_cast<long>(random() % 600) - 1;
    fill(r.fields);
    for (int n = static_cast<int>(random() % 4); n > 0; --n) {
      file_entry f;
      fill(f);
      if (maybe()) f.error = failure{error_kind::login, text()};
      if (maybe()) {
        download_report d({text(), random(), std::nullopt, std::nullopt, error_kind::gone, maybe()});
        if (maybe()) d.md5_checked = maybe();
        if (maybe()) d.error = text();
        d.in_archive = maybe();
        d.refreshed = static_cast<int>(random() % 3);
        f.download = d;
      }
      if (maybe()) f.check = check_report{text(), text(), maybe() ? std::optional<std::uint64_t>(random()) : std::nullopt, text()};
      if (maybe()) f.aria2_gid = text();
      r.files.push_back(f);
    }
    if (maybe()) r.error = text();
    if (maybe()) r.failure_kind = error_kind::page;
    ASSERT_EQ(json_report(r), reference_report(r)) << "round " << round;
  }
}

// How a download ended, in its line and in its JSON object.
TEST(DownloadReport, SaysWhatBecameOfTheFileAndWhetherItWasChecked) {
  const auto report = [](std::optional<bool> md5_checked, bool already_present, bool md5_missing,
                         std::optional<std::string> error = std::nullopt) {
    download_report d({"out/f.zip", 1536, md5_checked, std::move(error), error_kind::download, already_present});
    d.md5_missing = md5_missing;
    return d;
  };
  const struct {
    download_report d;
    std::string line, result;
  } cases[] = {
      {report(true, false, false), "saved: out/f.zip (1536 bytes, MD5 matched)\n", "saved"},
      {report(std::nullopt, true, false), "already there: out/f.zip (1536 bytes)\n", "already there"},
      {report(std::nullopt, false, true), "saved: out/f.zip (1536 bytes, not checked: the page gives no MD5)\n",
       "saved"},
      {report(std::nullopt, true, true),
       "already there: out/f.zip (1536 bytes, not checked: the page gives no MD5)\n", "already there"},
      {report(false, false, false, "MD5 mismatch"), "failed: 测试.zip: MD5 mismatch\n", "failed"},
  };
  for (const auto& c : cases) {
    resolution r = sample();
    r.files = {sample_file()};
    r.files[0].download = c.d;
    EXPECT_EQ(download_line(r.files[0], 0), c.line);
    EXPECT_EQ(nlohmann::json::parse(json_report(r))["files"][0]["download"]["result"], c.result) << c.line;
  }
}

TEST(Aria2Entry, AsksAsADownloadDoes) {
  const std::string agent = "  user-agent=Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\n";
  file_entry f = sample_file();
  f.cookie = "BDUSS=abc; lang=zh";
  EXPECT_EQ(aria2_entry(f, true, "https://pan.example.com/share/link?shareid=1&uk=2"),
            "http://dl.example/f.zip\n"
            "  out=测试.zip\n"
            "  referer=https://pan.example.com/share/link?shareid=1&uk=2\n" +
                agent +
                "  header=Cookie: BDUSS=abc; lang=zh\n"
                "  checksum=md5=0123456789abcdef0123456789abcdef\n");
  // A Kuaichuan key is not known to be a hash of the file; no cookie, no header.
  f.cookie.clear();
  EXPECT_EQ(aria2_entry(f, false, ""), "http://dl.example/f.zip\n  out=测试.zip\n" + agent);
  // Without a name, the address's last segment, as a download names it.
  f.md5 = "0123456789abcdef0123456789abcde";  // one digit short
  f.file_name.clear();
  EXPECT_EQ(aria2_entry(f, true, ""), "http://dl.example/f.zip\n  out=f.zip\n" + agent);

  // The address is escaped byte for byte: a UTF-8 "中", and bytes that are not UTF-8.
  const std::pair<const char*, const char*> pages[] = {
      {"http://dl.example/\xE4\xB8\xAD x", "http://dl.example/%E4%B8%AD%20x\n"},
      {"http://dl.example/\xD6\xD0 x", "http://dl.example/%D6%D0%20x\n"},
      // A host name beyond ASCII goes as the fetcher sends it.
      {"http://u@Bücher.example:81/ü", "http://u@xn--bcher-kva.example:81/%C3%BC\n"},
      {"http://例子.测试", "http://xn--fsqu00a.xn--0zwm56d/\n"},
      // What the fetcher drops or reads otherwise: blanks at the end, line breaks,
      // backslashes, the fragment.
      {"http://dl.example\\a\\b.bin?t=x \t", "http://dl.example/a/b.bin?t=x\n"},
  };
  for (const auto& [page_bytes, line] : pages) {
    f.download_url = page_bytes;
    EXPECT_TRUE(aria2_entry(f, true, "").starts_with(line)) << page_bytes;
  }
}

TEST(Aria2Entry, OnlyHttpAddressesBecomeEntries) {
  for (const char* url : {"http://a/b", "HTTPS://a/b", "Http://a"}) {
    file_entry f = sample_file();
    f.download_url = url;
    EXPECT_FALSE(download_address_refusal(f)) << url;
    EXPECT_NE(aria2_entry(f, false, ""), "") << url;
  }
  for (const char* url : {"", "#x", " http://a/b", "ftp://a/b", "javascript:alert(1)", "http:/a",
                          "file:///etc/passwd", "//a/b", "\nhttp://a/b"}) {
    file_entry f = sample_file();
    f.download_url = url;
    EXPECT_TRUE(download_address_refusal(f)) << url;
    EXPECT_EQ(aria2_entry(f, true, ""), "") << url;
  }
}

TEST(Aria2Entry, PageTextCannotAddOptionsOrLeaveTheFolder) {
  file_entry f = sample_file();
  f.md5.clear();
  f.download_url = "http://dl.example/a b\tc\n  dir=/etc\r#x";
  f.file_name = "../../.bashrc\n  dir=/etc";
  f.cookie = "a=b\r\n  dir=/etc";
  const std::string entry = aria2_entry(f, false, "https://pan.example.com/share/x\n  dir=/etc");
  EXPECT_TRUE(entry.starts_with("http://dl.example/a%20bc%20%20dir=/etc\n"
                                "  out=etc\n"))
      << entry;
  std::istringstream lines(entry);
  std::getline(lines, *std::make_unique<std::string>());
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.starts_with("  out=") || line.starts_with("  referer=") ||
                line.starts_with("  user-agent="))
        << line;

  // The name is the one --download saves under.
  f.download_url = "http://dl.example/dl/fallback.bin";
  const std::pair<const char*, const char*> names[] = {
      {"..", "fallback.bin"},
      {" .. ", "fallback.bin"},
      {".bashrc", "bashrc"},
      {"../../../x/escaped.txt", "escaped.txt"},
      {"dir\\name", "name"},
      {"C:evil.txt", "C_evil.txt"},
      {"a<b>c\"d|e?f*g", "a_b_c_d_e_f_g"},
      {"name. . ", "name"},
      {"con.txt", "_con.txt"},
      {"nul .txt", "_nul .txt"},
      {"CONSOLE.txt", "CONSOLE.txt"},
      {"#hash", "#hash"},
  };
  for (const auto& [name, out] : names) {
    f.file_name = name;
    const std::string listed = aria2_entry(f, false, "");
    EXPECT_EQ(listed.substr(listed.find('\n') + 1, listed.find('\n', listed.find('\n') + 1) - listed.find('\n')),
              std::string("  out=") + out + "\n")
        << name;
  }
}

}  // namespace
}  // namespace sharelink::cli
