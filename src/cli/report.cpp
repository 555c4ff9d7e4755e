#include "cli/report.h"

#include <nlohmann/json.hpp>

namespace sharelink::cli {
namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The download address with the bytes an input-file line cannot carry escaped: a
// tab would split it into mirrors, a leading blank would make it an option line.
std::string aria2_address(std::string_view url) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(url.size());
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7F) {
      line += '%';
      line += digits[c >> 4];
      line += digits[c & 0x0F];
    } else {
      line += static_cast<char>(c);
    }
  }
  return line;
}

// A file name aria2 may write into its download folder and nowhere else.
std::string aria2_file_name(std::string_view name) {
  std::string bare;
  bare.reserve(name.size());
  for (unsigned char c : name) bare += (c == '/' || c == '\\' || is_control(c)) ? '_' : static_cast<char>(c);
  const auto first = bare.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const std::string_view kept = std::string_view(bare).substr(first, bare.find_last_not_of(' ') + 1 - first);
  if (kept == "." || kept == "..") return {};
  return std::string(kept);
}

}  // namespace

std::string one_line(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (is_control(static_cast<unsigned char>(c))) c = ' ';
  return line;
}

std::string labelled_report(const resolution& r) {
  std::string report;
  report += "文件名称：" + one_line(r.fields.file_name) + "\n";
  report += "文件扩展名：" + one_line(r.fields.file_type) + "\n";
  report += "文件大小：" + one_line(r.fields.size) + "\n";
  report += "文件MD5值：" + one_line(r.fields.md5) + "\n";
  report += "下载地址：" + one_line(r.fields.download_url) + "\n";
  return report;
}

std::string json_report(const resolution& r) {
  nlohmann::ordered_json object;
  object["address"] = r.address;
  object["service"] = r.service;
  object["download_url"] = r.fields.download_url;
  object["file_name"] = r.fields.file_name;
  object["file_type"] = r.fields.file_type;
  object["size"] = r.fields.size;
  object["md5"] = r.fields.md5;
  object["error"] = r.error ? nlohmann::ordered_json(*r.error) : nlohmann::ordered_json(nullptr);
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool is_md5_hex(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!is_hex_digit(c)) return false;
  return true;
}

std::string aria2_entry(const resolution& r) {
  if (r.fields.download_url.empty()) return {};
  std::string entry = aria2_address(r.fields.download_url) + "\n";
  const std::string name = aria2_file_name(r.fields.file_name);
  if (!name.empty()) entry += "  out=" + name + "\n";
  if (is_md5_hex(r.fields.md5)) {
    std::string md5 = r.fields.md5;
    for (char& c : md5)
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    entry += "  checksum=md5=" + md5 + "\n";
  }
  return entry;
}

}  // namespace sharelink::cli
