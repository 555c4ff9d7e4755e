#include "runtime/fetch_cookies.h"

#include <algorithm>
#include <cstdint>

namespace sharelink {
namespace {

constexpr auto npos = std::string_view::npos;

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

/// The fields of one jar line, or fewer than seven when it is not a cookie.
std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t begin = 0;;) {
    const std::size_t tab = line.find('\t', begin);
    fields.push_back(line.substr(begin, tab == npos ? npos : tab - begin));
    if (tab == npos) return fields;
    begin = tab + 1;
  }
}

/// The host (lower case, without port or user info) and the path (without query)
/// of a prepared address.
std::pair<std::string, std::string_view> host_and_path(std::string_view url) {
  const std::size_t authority_begin = url.find("://");
  if (authority_begin == npos) return {};
  url.remove_prefix(authority_begin + 3);
  const std::size_t slash = url.find('/');
  std::string_view authority = url.substr(0, slash);
  std::string_view path = slash == npos ? "/" : url.substr(slash);
  path = path.substr(0, path.find('?'));
  if (const std::size_t at = authority.rfind('@'); at != npos) authority.remove_prefix(at + 1);
  // A port follows the last ':' unless that ':' is inside an IPv6 "[...]".
  if (const std::size_t colon = authority.rfind(':');
      colon != npos && authority.find(']', colon) == npos)
    authority = authority.substr(0, colon);
  return {ascii_lower(authority), path};
}

bool domain_matches(std::string_view domain, bool tailmatch, const std::string& host) {
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  const std::string wanted = ascii_lower(domain);
  if (wanted.empty()) return false;
  if (host == wanted) return true;
  return tailmatch && host.size() > wanted.size() && host.ends_with(wanted) &&
         host[host.size() - wanted.size() - 1] == '.';
}

bool path_matches(std::string_view cookie_path, std::string_view path) {
  if (cookie_path.empty() || cookie_path == "/") return true;
  if (!path.starts_with(cookie_path)) return false;
  return path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         path[cookie_path.size()] == '/';
}

/// A decimal count of seconds, or -1 when it is not one.
std::int64_t seconds(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string cookie_header_from_jar(const std::vector<std::string>& jar, std::string_view url,
                                   std::time_t now) {
  const auto [host, path] = host_and_path(url);
  if (host.empty()) return {};
  const bool secure_request = url.starts_with("https:");
  struct sent {
    std::size_t path_length;
    std::string pair;
  };
  std::vector<sent> cookies;
  for (const std::string& line : jar) {
    std::vector<std::string_view> f = split_tabs(line);
    if (f.size() < 7) continue;
    std::string_view domain = f[0];
    if (domain.starts_with("#HttpOnly_")) domain.remove_prefix(10);
    else if (domain.starts_with('#')) continue;
    const std::int64_t expires = seconds(f[4]);
    if (!domain_matches(domain, f[1] == "TRUE", host) || !path_matches(f[2], path) ||
        (f[3] == "TRUE" && !secure_request) || expires < 0 || (expires != 0 && expires <= now))
      continue;
    cookies.push_back({f[2].size(), std::string(f[5]) + "=" + std::string(f[6])});
  }
  std::stable_sort(cookies.begin(), cookies.end(),
                   [](const sent& a, const sent& b) { return a.path_length > b.path_length; });
  std::string header;
  for (const sent& cookie : cookies) {
    if (!header.empty()) header += "; ";
    header += cookie.pair;
  }
  return header;
}

}  // namespace sharelink
