#include "cli/report.h"

#include <algorithm>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "codec/ascii_case.h"
#include "codec/hex_escape.h"
#include "codec/utf8.h"
#include "download/files.h"
#include "download/safe_name.h"
#include "runtime/fetch.h"
#include "runtime/host_ascii.h"

namespace sharelink::cli {
namespace {

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

// The JSON report is written as it is made: a share of ten thousand files is not
// built as a tree of values first. Its bytes are those nlohmann::json writes for the
// same values (the report's tests hold the two side by side).

/// `text` as a JSON string: the quote, the backslash and the control characters
/// escaped as nlohmann::json escapes them (\b \t \n \f \r by name, the others as
/// \u00xx), nothing beyond ASCII escaped. Text that is not UTF-8 is left to the
/// library, so that its U+FFFD fall where they always did.
void put_text(std::string& out, std::string_view text) {
  if (!is_utf8(text)) {
    out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return;
  }
  out += '"';
  std::size_t plain = 0;  // where the bytes not yet written begin
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(plain, i - plain));
    plain = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default: {
        static constexpr char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 0xF];
      }
    }
  }
  out.append(text.substr(plain));
  out += '"';
}

void put_null(std::string& out) { out += "null"; }
template <typename Number>
void put_number(std::string& out, Number n) { out += std::to_string(n); }
void put_bool(std::string& out, bool b) { out += b ? "true" : "false"; }

template <typename T>
void put_nullable(std::string& out, const std::optional<T>& value) {
  if (!value) return put_null(out);
  if constexpr (std::is_same_v<T, std::string>)
    put_text(out, *value);
  else if constexpr (std::is_same_v<T, bool>)
    put_bool(out, *value);
  else
    put_number(out, *value);
}

void put_kind(std::string& out, const std::optional<error_kind>& kind) {
  if (kind) return put_text(out, error_kind_name(*kind));
  put_null(out);
}

/// A JSON object written member by member.
class object_out {
 public:
  explicit object_out(std::string& out) : out_(out) { out_ += '{'; }
  /// Writes the key of the next member; its value is to be written to the result.
  std::string& operator[](std::string_view key) {
    out_ += first_ ? "\"" : ",\"";
    first_ = false;
    out_ += key;
    out_ += "\":";
    return out_;
  }
  void end() { out_ += '}'; }

 private:
  std::string& out_;
  bool first_ = true;
};

// The fields of a file, in the order the JSON report gives them.
void add_fields(object_out& object, const file_record& f) {
  put_text(object["download_url"], f.download_url);
  put_text(object["file_name"], f.file_name);
  put_text(object["file_type"], f.file_type);
  put_text(object["extension"], f.extension);
  put_text(object["size"], f.size);
  put_nullable(object["size_bytes"], f.size_bytes);
  put_text(object["md5"], f.md5);
}

void put_file(std::string& out, const file_entry& f) {
  object_out object(out);
  add_fields(object, f);
  put_text(object["folder"], f.folder);
  if (f.error) {
    put_text(object["error"], one_line(f.error->message));
    put_text(object["error_kind"], error_kind_name(f.error->kind));
  }
  if (const std::optional<download_report>& d = f.download) {
    object_out download(object["download"]);
    put_text(download["path"], d->path);
    put_number(download["bytes"], d->bytes);
    put_nullable(download["md5_checked"], d->md5_checked);
    put_nullable(download["error"], d->error);
    put_kind(download["error_kind"], d->error ? std::optional(d->kind) : std::nullopt);
    put_number(download["re_resolved"], d->refreshed);
    put_text(download["result"], d->error            ? "failed"
                                 : d->in_archive      ? "in archive"
                                 : d->already_present ? "already there"
                                                      : "saved");
    download.end();
  }
  if (const std::optional<check_report>& c = f.check) {
    object_out check(object["check"]);
    put_text(check["path"], c->path);
    put_text(check["result"], c->result);
    put_nullable(check["bytes"], c->bytes);
    if (c->md5.empty())
      put_null(check["md5"]);
    else
      put_text(check["md5"], c->md5);
    check.end();
  }
  if (!f.aria2_gid.empty()) put_text(object["aria2_gid"], f.aria2_gid);
  object.end();
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
  std::string out;
  // Room for the whole line at once: a share of thousands of files writes megabytes.
  std::size_t room = 512;
  for (const file_entry& f : r.files)
    room += 192 + f.download_url.size() + 2 * f.file_name.size() + f.folder.size() + f.md5.size();
  out.reserve(room);
  object_out object(out);
  put_text(object["address"], r.address);
  put_text(object["service"], r.service);
  put_nullable(object["http_status"], r.http_status);
  add_fields(object, r.fields);
  std::string& files = object["files"];
  files += '[';
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    if (i > 0) files += ',';
    put_file(files, r.files[i]);
  }
  files += ']';
  put_nullable(object["error"], r.error);
  put_kind(object["error_kind"], r.failure_kind);
  object.end();
  return out;
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
