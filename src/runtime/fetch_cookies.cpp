#include "runtime/fetch_cookies.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "codec/ascii_case.h"
#include "runtime/fetch.h"
#include "runtime/fetch_hop.h"
#include "runtime/registrable_domain.h"
#include "runtime/retry_after.h"

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

/// The path of the prepared address `url`, without its query ("/" when it has none).
std::string_view path_of(std::string_view url) {
  std::string_view path = url.substr(url.find("://") + 3);
  path = path.find('/') == npos ? "/" : path.substr(path.find('/'));
  return path.substr(0, path.find('?'));
}

std::string_view trimmed(std::string_view text) { return trim(text, " \t"); }

/// The domain, path and name that tell one jar line's cookie from another's.
std::string cookie_identity(std::string_view line) {
  if (line.starts_with("#HttpOnly_")) line.remove_prefix(10);
  const std::vector<std::string_view> f = split_tabs(line);
  return f.size() < 7 ? std::string() : std::string(f[0]) + '\t' + std::string(f[2]) + '\t' + std::string(f[5]);
}

}  // namespace

std::optional<std::string> jar_line_from_set_cookie(std::string_view set_cookie, std::string_view url,
                                                    std::time_t now) {
  const std::string host = fetch_hop::host_of(url);
  if (host.empty()) return std::nullopt;
  if (has_control_character(set_cookie)) return std::nullopt;
  std::string_view rest = set_cookie;
  const auto next_part = [&rest] {
    const std::size_t end = rest.find(';');
    const std::string_view part = rest.substr(0, end);
    rest = end == npos ? std::string_view() : rest.substr(end + 1);
    return trimmed(part);
  };
  const std::string_view pair = next_part();
  const std::size_t equals = pair.find('=');
  if (equals == npos) return std::nullopt;
  const std::string_view name = trimmed(pair.substr(0, equals)), value = trimmed(pair.substr(equals + 1));
  if (name.empty()) return std::nullopt;

  std::string domain;
  std::string path;
  bool secure = false, http_only = false, expired = false, has_max_age = false;
  while (!rest.empty()) {
    const std::string_view attribute = next_part();
    const std::size_t is = attribute.find('=');
    const std::string key = ascii_lower(trimmed(attribute.substr(0, is)));
    const std::string_view text = is == npos ? std::string_view() : trimmed(attribute.substr(is + 1));
    if (key == "domain" && !text.empty()) {
      domain = ascii_lower(text.starts_with('.') ? text.substr(1) : text);
      // The host's own site or a domain within it, never a public suffix above it
      // (a cookie for all of "co.uk"), nor part of an IP address.
      if (!fetch_hop::host_in_domain(host, domain) || !fetch_hop::host_in_domain(domain, registrable_domain(host)))
        return std::nullopt;
    } else if (key == "path" && text.starts_with('/')) {
      path = text;
    } else if (key == "secure") {
      secure = true;
    } else if (key == "httponly") {
      http_only = true;
    } else if (key == "max-age" && !text.empty()) {
      has_max_age = true;
      expired = text.starts_with('-') || fetch_hop::parse_count(text) == 0;
    } else if (key == "expires" && !has_max_age) {
      const auto wait = retry_after_delay(text, std::chrono::system_clock::from_time_t(now));
      expired = wait && wait->count() == 0;
    }
  }
  if (path.empty()) {  // the folder of the request's path
    const std::string_view request_path = path_of(url);
    const std::size_t last = request_path.rfind('/');
    path = last == 0 || last == npos ? "/" : std::string(request_path.substr(0, last));
  }
  const bool tail_match = !domain.empty();
  std::string line = http_only ? "#HttpOnly_" : "";
  line += tail_match ? "." + domain : host;
  line += std::string("\t") + (tail_match ? "TRUE" : "FALSE") + "\t" + path + "\t" + (secure ? "TRUE" : "FALSE") +
          "\t" + (expired ? "1" : "0") + "\t" + std::string(name) + "\t" + std::string(value);
  return line;
}

void store_in_jar(std::vector<std::string>& jar, const std::string& line) {
  const std::string identity = cookie_identity(line);
  std::erase_if(jar, [&](const std::string& kept) { return cookie_identity(kept) == identity; });
  const std::vector<std::string_view> f = split_tabs(line);
  if (f.size() >= 7 && f[4] == "0") jar.push_back(line);
}

std::string cookie_header_from_jar(const std::vector<std::string>& jar, std::string_view url,
                                   std::time_t now) {
  const std::string host = fetch_hop::host_of(url);
  if (host.empty()) return {};
  const std::string_view path = path_of(url);
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

std::string cookie_jar::header_for(std::string_view url, const std::vector<std::string>* user,
                                  std::string_view user_site, std::time_t now) const {
  std::vector<std::string> lines;
  {
    std::lock_guard lock(mutex_);
    lines = lines_;
  }
  if (user != nullptr && !user_site.empty() && fetch_hop::host_in_domain(fetch_hop::host_of(url), user_site)) {
    const std::size_t set_by_servers = lines.size();
    for (const std::string& line : *user) {
      const std::string identity = cookie_identity(line);
      const auto same = [&](const std::string& kept) { return cookie_identity(kept) == identity; };
      if (std::none_of(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(set_by_servers), same))
        lines.push_back(line);
    }
  }
  return cookie_header_from_jar(lines, url, now);
}

void cookie_jar::receive(std::string_view set_cookie, std::string_view url, std::time_t now) {
  const std::optional<std::string> line = jar_line_from_set_cookie(set_cookie, url, now);
  if (!line) return;
  std::lock_guard lock(mutex_);
  store_in_jar(lines_, *line);
}

cookie_jar& process_cookie_jar() {
  static cookie_jar* jar = new cookie_jar;  // never destroyed: detached fetches may outlive main
  return *jar;
}

std::string mask_cookie_values(std::string_view headers) {
  std::string shown;
  while (!headers.empty()) {
    const std::size_t end = headers.find('\n');
    std::string_view line = headers.substr(0, end == npos ? npos : end + 1);
    headers.remove_prefix(line.size());
    const std::size_t colon = line.find(':');
    const std::string name = colon == npos ? std::string() : ascii_lower(trimmed(line.substr(0, colon)));
    if (name != "cookie" && name != "set-cookie") {
      shown += line;
      continue;
    }
    const std::size_t line_end = std::min(line.find_first_of("\r\n"), line.size());
    shown += line.substr(0, colon + 1);
    // Each "NAME=VALUE" of a Cookie line; the first alone of a Set-Cookie line,
    // whose other parts are attributes.
    std::string_view value = line.substr(colon + 1, line_end - colon - 1);
    for (bool first = true;; first = false) {
      const std::size_t semicolon = value.find(';');
      const std::string_view part = value.substr(0, semicolon);
      const std::size_t equals = part.find('=');
      // A part without "=" is a value without a name.
      const std::size_t value_at = equals != npos ? equals + 1 : std::min(part.find_first_not_of(' '), part.size());
      shown += name == "cookie" || first ? std::string(part.substr(0, value_at)) + "***" : std::string(part);
      if (semicolon == npos) break;
      shown += ';';
      value.remove_prefix(semicolon + 1);
    }
    shown += line.substr(line_end);
  }
  return shown;
}

std::variant<std::vector<std::string>, cookie_file_problem> read_cookie_file(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string> cookies;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const bool http_only = line.starts_with("#HttpOnly_");
    if (trimmed(line).empty() || (line.starts_with('#') && !http_only)) continue;
    if (http_only) line.remove_prefix(10);
    const auto problem = [&](std::string what) { return cookie_file_problem{number, std::move(what)}; };
    std::vector<std::string_view> f = split_tabs(line);
    if (f.size() == 6) f.emplace_back();  // a cookie without a value
    if (f.size() != 7)
      return problem("a cookie is 7 fields separated by tabs (domain, tail match, path, secure, expires, name, "
                     "value); this line has " + std::to_string(f.size()));
    if (std::any_of(f.begin(), f.end(), [](std::string_view field) { return has_control_character(field); }))
      return problem("the line holds a control character");
    const std::string domain = ascii_lower(f[0]);
    if (domain.empty() || domain == "." || domain.find_first_of(" /:") != std::string::npos)
      return problem("'" + std::string(f[0]) + "' is not a domain");
    const std::string tail_match = ascii_lower(f[1]), secure = ascii_lower(f[3]);
    if ((tail_match != "true" && tail_match != "false") || (secure != "true" && secure != "false"))
      return problem("the second and fourth fields are TRUE or FALSE");
    if (!f[2].starts_with('/')) return problem("the path '" + std::string(f[2]) + "' does not start with '/'");
    // Whole seconds; some exporters write a fraction, which is dropped.
    const std::size_t dot = f[4].find('.');
    const std::int64_t expires = fetch_hop::parse_count(f[4].substr(0, dot));
    const bool fraction_ok =
        dot == npos || (dot + 1 < f[4].size() && f[4].find_first_not_of("0123456789", dot + 1) == npos);
    if (expires < 0 || !fraction_ok)
      return problem("the expiry '" + std::string(f[4]) + "' is not a number of seconds");
    if (f[5].empty()) return problem("the cookie has no name");
    const auto flag = [](const std::string& word) { return word == "true" ? "TRUE" : "FALSE"; };
    cookies.push_back((http_only ? "#HttpOnly_" : "") + domain + "\t" + flag(tail_match) + "\t" + std::string(f[2]) +
                      "\t" + flag(secure) + "\t" + std::to_string(expires) + "\t" + std::string(f[5]) + "\t" +
                      std::string(f[6]));
  }
  return cookies;
}

}  // namespace sharelink
