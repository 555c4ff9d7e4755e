#include "runtime/relative_address.h"

#include <optional>

#include "codec/ascii_case.h"
#include "runtime/fetch.h"

namespace sharelink {
namespace {

/// An address cut into its five parts (RFC 3986 section 3); a part that is absent
/// is nothing, one that is present but empty is "".
struct address_parts {
  std::optional<std::string> scheme, authority;
  std::string path;
  std::optional<std::string> query, fragment;
};

std::string_view trimmed(std::string_view text) {
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > 0x20; };
  while (!text.empty() && !kept(text.front())) text.remove_prefix(1);
  while (!text.empty() && !kept(text.back())) text.remove_suffix(1);
  return text;
}

address_parts parts_of(std::string_view text) {
  address_parts parts;
  if (const std::size_t hash = text.find('#'); hash != std::string_view::npos) {
    parts.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  if (const std::size_t question = text.find('?'); question != std::string_view::npos) {
    parts.query = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  if (const std::size_t scheme = scheme_length(text); scheme > 0) {
    parts.scheme = std::string(text.substr(0, scheme));
    text.remove_prefix(scheme + 1);
  }
  if (text.starts_with("//")) {
    text.remove_prefix(2);
    const std::size_t slash = std::min(text.find('/'), text.size());
    parts.authority = std::string(text.substr(0, slash));
    text.remove_prefix(slash);
  }
  parts.path = std::string(text);
  return parts;
}

/// RFC 3986 section 5.2.4.
std::string remove_dot_segments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) input.remove_prefix(3);
    else if (input.starts_with("./")) input.remove_prefix(2);
    else if (input.starts_with("/./")) input.remove_prefix(2);
    else if (input == "/.") input = "/";
    else if (input.starts_with("/../") || input == "/..") {
      input = input.size() == 3 ? std::string_view("/") : input.substr(3);
      const std::size_t last = output.rfind('/');
      output.resize(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const std::size_t next = input.find('/', 1);
      const std::size_t length = next == std::string_view::npos ? input.size() : next;
      output.append(input.substr(0, length));
      input.remove_prefix(length);
    }
  }
  return output;
}

/// RFC 3986 section 5.2.3.
std::string merge(const address_parts& base, std::string_view path) {
  if (base.authority && base.path.empty()) return "/" + std::string(path);
  const std::size_t slash = base.path.rfind('/');
  return (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + std::string(path);
}

std::string recompose(const address_parts& parts) {
  std::string text;
  if (parts.scheme) text += *parts.scheme + ":";
  if (parts.authority) text += "//" + *parts.authority;
  text += parts.path;
  if (parts.query) text += "?" + *parts.query;
  if (parts.fragment) text += "#" + *parts.fragment;
  return text;
}

}  // namespace

std::string resolve_reference(std::string_view base_text, std::string_view reference_text) {
  const std::string_view reference = trimmed(reference_text);
  const std::string_view base_trimmed = trimmed(base_text);
  if (reference.empty() || scheme_length(reference) > 0 || scheme_length(base_trimmed) == 0)
    return std::string(reference_text);
  const address_parts base = parts_of(base_trimmed);
  const address_parts ref = parts_of(reference);
  // RFC 3986 section 5.2.2, the reference having no scheme.
  address_parts target;
  target.scheme = base.scheme;
  target.fragment = ref.fragment;
  if (ref.authority) {
    target.authority = ref.authority;
    target.path = remove_dot_segments(ref.path);
    target.query = ref.query;
  } else {
    target.authority = base.authority;
    if (ref.path.empty()) {
      target.path = base.path;
      target.query = ref.query ? ref.query : base.query;
    } else {
      target.path = remove_dot_segments(ref.path.front() == '/' ? ref.path : merge(base, ref.path));
      target.query = ref.query;
    }
  }
  return recompose(target);
}

bool is_web_address(std::string_view address) {
  const std::string_view text = trimmed(address);
  return starts_with_ignoring_case(text, "http:") || starts_with_ignoring_case(text, "https:");
}

}  // namespace sharelink
