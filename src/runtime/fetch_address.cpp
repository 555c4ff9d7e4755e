// Addresses as they go on the wire: what a user pasted, and where a redirect leads.
#include <algorithm>
#include <optional>
#include <string>

#include "codec/ascii_case.h"
#include "codec/hex_escape.h"
#include "runtime/fetch.h"
#include "runtime/fetch_hop.h"
#include "runtime/host_ascii.h"

namespace sharelink {
namespace {

constexpr auto npos = std::string_view::npos;

enum class url_part { userinfo, path, query };

bool needs_escape(unsigned char c, url_part part) {
  if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>') return true;
  switch (part) {
    case url_part::userinfo:
      return c == '@';
    case url_part::path:
      return c == '`' || c == '{' || c == '}';
    case url_part::query:
      return false;
  }
  return false;
}

void append_encoded(std::string& out, std::string_view s, url_part part) {
  for (const char byte : s) {
    const auto c = static_cast<unsigned char>(byte);
    if (part == url_part::path && c == '\\')
      out += '/';
    else if (needs_escape(c, part))
      append_percent_escape(out, c);
    else
      out += byte;
  }
}

fetch_address refused(std::string reason) { return {{}, false, std::move(reason)}; }

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::string pasted_address(std::string_view address) {
  std::string text;
  for (char c : as_local(address))
    if (c != '\t' && c != '\n' && c != '\r') text += c;
  auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  std::size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::size_t scheme_length(std::string_view text) {
  if (text.empty() || !is_ascii_letter(text[0])) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == ':') return i;
    if (!is_ascii_letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
      return 0;
  }
  return 0;
}

fetch_address prepare_fetch_address(std::string_view address) {
  const std::string text = pasted_address(address);
  if (text.empty()) return refused("empty address");
  const std::size_t scheme_size = scheme_length(text);
  if (scheme_size == 0) return refused("address has no scheme");
  const std::string scheme = ascii_lower(std::string_view(text).substr(0, scheme_size));
  if (scheme != "http" && scheme != "https")
    return refused("unsupported scheme \"" + scheme + "\"");

  std::string_view rest = std::string_view(text).substr(scheme_size + 1);
  while (!rest.empty() && (rest.front() == '/' || rest.front() == '\\')) rest.remove_prefix(1);
  rest = rest.substr(0, rest.find('#'));

  const std::size_t authority_end = rest.find_first_of("/\\?");
  const std::string_view authority = rest.substr(0, authority_end);
  const std::string_view tail = authority_end == npos ? "" : rest.substr(authority_end);

  std::string_view userinfo, host = authority;
  if (std::size_t at = authority.rfind('@'); at != npos) {
    userinfo = authority.substr(0, at);
    host = authority.substr(at + 1);
  }
  if (host.empty()) return refused("address has no host");
  // A name beyond ASCII goes in its ASCII form, as browsers send it.
  std::string ascii_host;
  if (std::any_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    const std::size_t colon = host.front() == '[' ? npos : host.rfind(':');
    const std::optional<std::string> name = host_to_ascii(host.substr(0, colon));
    if (!name) return refused("invalid host name");
    ascii_host = *name + std::string(colon == npos ? "" : host.substr(colon));
    host = ascii_host;
  }
  for (char c : host) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return refused("invalid host name");
  }

  fetch_address out;
  out.secure = scheme == "https";
  out.url = scheme + "://";
  if (!userinfo.empty()) {
    append_encoded(out.url, userinfo, url_part::userinfo);
    out.url += '@';
  }
  out.url += host;
  const std::size_t query_begin = tail.find('?');
  const std::string_view path = tail.substr(0, query_begin);
  if (path.empty()) out.url += '/';
  append_encoded(out.url, path, url_part::path);
  if (query_begin != npos) append_encoded(out.url, tail.substr(query_begin), url_part::query);
  return out;
}

fetch_address follow_redirect(const fetch_address& from, std::string_view location) {
  if (from.url.empty()) return refused("redirect from an address that was never fetched");
  const std::string target = pasted_address(location);

  // A prepared address is "scheme://authority/path?query" with no '/' in the authority.
  const std::string_view url = from.url;
  const std::size_t path_begin = url.find('/', url.find("://") + 3);
  const std::string_view origin = url.substr(0, path_begin);
  const std::string_view path_and_query = url.substr(path_begin);
  const std::string_view path = path_and_query.substr(0, path_and_query.find('?'));

  auto is_slash = [](char c) { return c == '/' || c == '\\'; };
  std::string absolute;
  if (scheme_length(target) != 0) {
    absolute = target;
  } else if (target.size() >= 2 && is_slash(target[0]) && is_slash(target[1])) {
    absolute = (from.secure ? "https:" : "http:") + target;
  } else if (!target.empty() && is_slash(target[0])) {
    absolute = std::string(origin) + target;
  } else if (target.empty() || target[0] == '#') {
    absolute = from.url;
  } else if (target[0] == '?') {
    absolute = std::string(origin) + std::string(path) + target;
  } else {
    absolute = std::string(origin) + std::string(path.substr(0, path.rfind('/') + 1)) + target;
  }

  fetch_address next = prepare_fetch_address(absolute);
  if (!next.error.empty()) return refused("redirect refused: " + next.error);
  if (from.secure && !next.secure) return refused("redirect from https to http refused");
  return next;
}

namespace fetch_hop {

std::string host_of(std::string_view url) {
  const std::size_t scheme_end = url.find("://");
  if (scheme_end == npos) return {};
  std::string_view authority = url.substr(scheme_end + 3);
  authority = authority.substr(0, authority.find('/'));
  if (const std::size_t at = authority.rfind('@'); at != npos) authority.remove_prefix(at + 1);
  // A port follows the last ':' unless that ':' is inside an IPv6 "[...]".
  if (const std::size_t colon = authority.rfind(':');
      colon != npos && authority.find(']', colon) == npos)
    authority = authority.substr(0, colon);
  return ascii_lower(authority);
}

bool host_in_domain(std::string_view host, std::string_view domain) {
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  const std::string wanted = ascii_lower(domain);
  if (wanted.empty()) return false;
  if (host == wanted) return true;
  return host.size() > wanted.size() && host.ends_with(wanted) &&
         host[host.size() - wanted.size() - 1] == '.';
}

}  // namespace fetch_hop
}  // namespace sharelink
