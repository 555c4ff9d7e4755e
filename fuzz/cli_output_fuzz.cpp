// The command's service detection and its three output forms, with arbitrary
// addresses and arbitrary page fields.
#include <algorithm>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "check.h"
#include "codec/utf8.h"
#include "cli/report.h"
#include "rules/services.h"

using namespace sharelink;
using fuzz::check;

namespace {

bool has_control(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

void check_service(std::string_view address) {
  const service_entry* found = process_services().for_address(address);
  if (!found) return;
  check(address.find(':') != std::string_view::npos, "a service told without a scheme");
  check(process_services().for_address(std::string(address)) == found, "service detection is not repeatable");
}

void check_aria2(const cli::file_entry& f, bool with_checksum) {
  // The referer is the share address, text from outside too: a hostile one must not break a line either.
  std::string entry = cli::aria2_entry(f, with_checksum, f.file_name);
  check(entry.empty() == cli::download_address_refusal(f).has_value(),
        "aria2 entry present for a refused address, or missing for a good one");
  if (entry.empty()) return;
  check(entry.back() == '\n', "aria2 entry does not end its last line");
  std::size_t lines = 0;
  for (std::size_t at = 0; at < entry.size();) {
    std::size_t end = entry.find('\n', at);
    std::string_view line(entry.data() + at, end - at);
    check(!has_control(line), "an aria2 line holds a control character");
    if (lines == 0) {
      check(!line.empty() && line.find_first_of(" \t") == std::string_view::npos,
            "the aria2 address line is empty or holds white space");
      check(line.starts_with("http") && line[0] != '#', "the aria2 address line is not an http address");
    } else {
      check(line.starts_with(" "), "an aria2 option line is not indented");
      line.remove_prefix(line.find_first_not_of(' ') == std::string_view::npos
                             ? line.size()
                             : line.find_first_not_of(' '));
      check(line.starts_with("out=") || line.starts_with("referer=") ||
                line.starts_with("user-agent=") || line.starts_with("header=Cookie: ") ||
                (with_checksum && line.starts_with("checksum=md5=")),
            "an aria2 option line of an unknown kind");
      if (line.starts_with("out=")) {
        std::string_view name = line.substr(4);
        check(!name.empty() && name.find_first_of("/\\:") == std::string_view::npos && name != "." &&
                  name != ".." && !name.ends_with(".") && !name.ends_with(" "),
              "aria2 out= is not a bare file name");
      }
    }
    ++lines;
    at = end + 1;
  }
  check(lines <= 3, "aria2 entry has more than three lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  auto next = [&] { return std::string(in.take_bytes(in.take<std::uint16_t>() % 1024)); };
  cli::resolution r;
  r.address = next();
  r.service = next();
  r.fields.download_url = next();
  r.fields.file_name = next();
  r.fields.file_type = next();
  r.fields.size = next();
  r.fields.md5 = next();
  const std::uint8_t flags = in.take<std::uint8_t>();
  if (flags & 1) r.error = next();
  cli::file_entry f;
  f.download_url = (flags & 2 ? "http://" : "") + next();
  f.file_name = next();
  f.file_type = r.fields.file_type;
  f.extension = next();
  f.size = r.fields.size;
  if (flags & 4) f.size_bytes = in.take<std::uint64_t>();
  f.md5 = r.fields.md5;
  r.files.push_back(f);

  check_service(r.address);
  check_service(r.fields.download_url);

  // One space for each control byte, and for each C1 control's two bytes; U+FFFD
  // (three bytes) for a byte that is not UTF-8.
  const std::string line = one_line(r.fields.file_name);
  bool c1 = false;
  for (std::size_t i = 0; i + 1 < line.size(); ++i)
    c1 = c1 || (line[i] == '\xC2' && static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
                static_cast<unsigned char>(line[i + 1]) <= 0x9F);
  check(line.size() <= 3 * r.fields.file_name.size() && is_utf8(line) && !has_control(line) && !c1,
        "one_line kept a control character or grew the text");

  std::string labelled = cli::labelled_report(r);
  std::size_t breaks = 0;
  for (char c : labelled) breaks += c == '\n';
  check(breaks == 5 && labelled.back() == '\n', "labelled report is not five lines");
  check(labelled.find_first_of("\r\x1b") == std::string::npos,
        "labelled report holds a terminal control byte");

  std::string json = cli::json_report(r);
  check(json.find('\n') == std::string::npos, "JSON report spans lines");
  check(fuzz::valid_utf8(json), "JSON report is not UTF-8");
  nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  check(!parsed.is_discarded() && parsed.is_object(), "JSON report does not parse");
  for (const char* key : {"address", "service", "http_status", "download_url", "file_name",
                          "file_type", "extension", "size", "size_bytes", "md5", "files", "error"})
    check(parsed.contains(key), "JSON report lacks a key");
  check(parsed["files"].size() == 1 && parsed["files"][0].contains("size_bytes"),
        "JSON report lacks the file record");
  if (fuzz::valid_utf8(r.fields.download_url))
    check(parsed["download_url"] == r.fields.download_url, "JSON changed a valid address");

  check_aria2(f, flags & 8);
  std::string file_block = cli::labelled_report(f);
  check(std::count(file_block.begin(), file_block.end(), '\n') == 5 &&
            file_block.find_first_of("\r\x1b") == std::string::npos,
        "labelled file report is not five clean lines");
  return 0;
}
