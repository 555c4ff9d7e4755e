#include "cli/report.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "codec/ascii_case.h"
#include "codec/hex_escape.h"
#include "download/files.h"
#include "download/safe_name.h"
#include "runtime/fetch.h"
#include "runtime/host_ascii.h"

namespace sharelink::cli {
namespace {

using json = nlohmann::ordered_json;

// The download address as --download asks for it (see prepare_fetch_address):
// blanks at the ends and line breaks dropped, backslashes read as slashes, the
// fragment left out, a host name beyond ASCII in its xn-- form, and every byte an
// input-file line cannot carry escaped (a tab would split it into mirrors, a
// leading blank would make it an option line). An address the fetcher refuses is
// written with those bytes escaped, for the downloader to refuse in its turn.
std::string aria2_address(std::string_view url) {
  const fetch_address prepared = prepare_fetch_address(url);
  if (prepared.error.empty()) return prepared.url;
  return percent_escape(url, [](unsigned char c) { return c <= 0x20 || c >= 0x7F; });
}

// An option line's value: the text as it is when nothing in it could end the line
// or steer the downloader, else nothing.
std::optional<std::string> option_value(std::string_view text) {
  if (has_control_character(text)) return std::nullopt;
  return std::string(text);
}

json nullable(const std::optional<std::uint64_t>& value) {
  return value ? json(*value) : json(nullptr);
}

json nullable(const std::optional<std::string>& value) {
  return value ? json(*value) : json(nullptr);
}

json kind_name(const std::optional<error_kind>& kind) {
  return kind ? json(std::string(error_kind_name(*kind))) : json(nullptr);
}

// The fields of a file, in the order the JSON report gives them.
void add_fields(json& object, const file_record& f) {
  object["download_url"] = f.download_url;
  object["file_name"] = f.file_name;
  object["file_type"] = f.file_type;
  object["extension"] = f.extension;
  object["size"] = f.size;
  object["size_bytes"] = nullable(f.size_bytes);
  object["md5"] = f.md5;
}

json file_object(const file_entry& f) {
  json object;
  add_fields(object, f);
  object["folder"] = f.folder;
  if (f.error) {
    object["error"] = one_line(f.error->message);
    object["error_kind"] = std::string(error_kind_name(f.error->kind));
  }
  if (f.download) {
    json download;
    download["path"] = f.download->path;
    download["bytes"] = f.download->bytes;
    download["md5_checked"] = f.download->md5_checked ? json(*f.download->md5_checked) : json(nullptr);
    download["error"] = nullable(f.download->error);
    download["error_kind"] = f.download->error ? kind_name(f.download->kind) : json(nullptr);
    download["re_resolved"] = f.download->refreshed;
    download["result"] = f.download->error         ? "failed"
                         : f.download->in_archive  ? "in archive"
                         : f.download->already_present ? "already there"
                                                   : "saved";
    object["download"] = std::move(download);
  }
  if (f.check) {
    json check;
    check["path"] = f.check->path;
    check["result"] = f.check->result;
    check["bytes"] = nullable(f.check->bytes);
    check["md5"] = f.check->md5.empty() ? json(nullptr) : json(f.check->md5);
    object["check"] = std::move(check);
  }
  if (!f.aria2_gid.empty()) object["aria2_gid"] = f.aria2_gid;
  return object;
}

std::string five_labels(const std::string& name, const std::string& type, const std::string& size,
                         const std::string& md5, const std::string& url) {
  std::string report;
  report += "文件名称：" + one_line(name) + "\n";
  report += "文件扩展名：" + one_line(type) + "\n";
  report += "文件大小：" + one_line(size) + "\n";
  report += "文件MD5值：" + one_line(md5) + "\n";
  report += "下载地址：" + one_line(url) + "\n";
  return report;
}

}  // namespace

std::string address_for_message(std::string_view address, std::size_t most) {
  if (address.empty()) return "(no address)";
  std::string line = one_line(address);
  std::size_t characters = 0;
  for (std::size_t at = 0; at < line.size(); ++at) {
    // A UTF-8 continuation byte belongs to the character before it.
    if ((static_cast<unsigned char>(line[at]) & 0xC0) == 0x80) continue;
    if (characters++ == most) {
      line.resize(at);
      return line + "…";
    }
  }
  return line;
}

std::string labelled_report(const resolution& r) {
  return five_labels(r.fields.file_name, r.fields.file_type, r.fields.size, r.fields.md5,
                     r.fields.download_url);
}

std::string labelled_report(const file_entry& f) {
  return five_labels(f.file_name, f.file_type, f.size, f.md5, f.download_url);
}

std::string json_report(const resolution& r) {
  json object;
  object["address"] = r.address;
  object["service"] = r.service;
  object["http_status"] = r.http_status ? json(*r.http_status) : json(nullptr);
  add_fields(object, r.fields);
  json files = json::array();
  for (const file_entry& f : r.files) files.push_back(file_object(f));
  object["files"] = std::move(files);
  object["error"] = nullable(r.error);
  object["error_kind"] = kind_name(r.failure_kind);
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string aria2_download_address(std::string_view url) { return aria2_address(url); }

std::optional<std::string> download_address_refusal(const file_entry& f) {
  if (f.error) return one_line(f.error->message);
  if (f.download_url.empty()) return "the file has no download address";
  if (!starts_with_ignoring_case(f.download_url, "http://") &&
      !starts_with_ignoring_case(f.download_url, "https://"))
    return "the download address is not http or https";
  return std::nullopt;
}

std::string aria2_entry(const file_entry& f, bool with_checksum, std::string_view referer,
                        std::string_view out_name) {
  if (download_address_refusal(f)) return {};
  std::string entry =
      aria2_address(f.download_url) + "\n";
  // The name --download would save it under.
  entry += "  out=" + (out_name.empty() ? safe_file_name(f.file_name, f.download_url, native_name_units)
                                        : std::string(out_name)) + "\n";
  if (!referer.empty()) {
    // As the fetcher sends it: printable ASCII, escaped where it must be.
    const fetch_address prepared = prepare_fetch_address(referer);
    if (prepared.error.empty()) entry += "  referer=" + prepared.url + "\n";
  }
  if (const auto agent = option_value(f.user_agent); agent && !agent->empty())
    entry += "  user-agent=" + *agent + "\n";
  else
    entry += "  user-agent=" + std::string(fetch_user_agent) + "\n";
  if (const auto cookie = option_value(f.cookie); cookie && !cookie->empty())
    entry += "  header=Cookie: " + *cookie + "\n";
  if (with_checksum && is_md5_hex(f.md5)) {
    entry += "  checksum=md5=" + ascii_lower(f.md5) + "\n";
  }
  return entry;
}

}  // namespace sharelink::cli
