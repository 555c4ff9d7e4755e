#include "runtime/fetch_cookies.h"

#include <algorithm>
#include <cstdint>

#include "runtime/fetch_hop.h"

namespace sharelink {
namespace {

constexpr auto npos = std::string_view::npos;

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

bool path_matches(std::string_view cookie_path, std::string_view path) {
  if (cookie_path.empty() || cookie_path == "/") return true;
  if (!path.starts_with(cookie_path)) return false;
  return path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         path[cookie_path.size()] == '/';
}

}  // namespace

std::string cookie_header_from_jar(const std::vector<std::string>& jar, std::string_view url,
                                   std::time_t now) {
  const std::string host = fetch_hop::host_of(url);
  if (host.empty()) return {};
  std::string_view path = url.substr(url.find("://") + 3);
  path = path.find('/') == npos ? "/" : path.substr(path.find('/'));
  path = path.substr(0, path.find('?'));
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
    const std::int64_t expires = fetch_hop::parse_count(f[4]);
    if (domain.starts_with('.')) domain.remove_prefix(1);
    // Without TAILMATCH the cookie is the host's alone.
    const bool domain_matches = fetch_hop::host_in_domain(host, domain) &&
                                (f[1] == "TRUE" || host.size() == domain.size());
    if (!domain_matches || !path_matches(f[2], path) ||
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
