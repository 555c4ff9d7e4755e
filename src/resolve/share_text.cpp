#include "resolve/share_text.h"

#include <algorithm>

#include "codec/ascii_case.h"
#include "codec/percent.h"
#include "codec/utf8.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

constexpr auto npos = std::string_view::npos;

/// Where an address pasted in text ends, whatever it follows.
bool ends_an_address(char32_t c) {
  if (c <= 0x20 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '`') return true;
  return c == 0xA0 || (c >= 0x2000 && c <= 0x200B) || (c >= 0x2018 && c <= 0x201F) || c == 0x2026 ||
         (c >= 0x3000 && c <= 0x303F) ||                  // CJK punctuation and the ideographic space
         (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||  // Chinese characters
         (c >= 0xFF01 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||  // full-width punctuation
         (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) || c == 0xFEFF;
}

/// The length of the scheme and its separator when an http or https address begins
/// at `at` ("http://", "https:\\\\"...), else 0.
std::size_t scheme_at(std::string_view text, std::size_t at) {
  for (std::string_view scheme : {"https:", "http:"}) {
    const std::string_view here = text.substr(at, scheme.size() + 1);
    if (here.size() == scheme.size() + 1 && equals_ignoring_case(here.substr(0, scheme.size()), scheme) &&
        (here.back() == '/' || here.back() == '\\'))
      return scheme.size();
  }
  return 0;
}

/// The closing mark of a quote or bracket opened by `c`, or 0.
char closing_of(char c) {
  switch (c) {
    case '\'': return '\'';
    case '(': return ')';
    case '[': return ']';
    case '{': return '}';
    default: return 0;
  }
}

/// The value of the query parameter `name` of `address`, percent-decoded; empty
/// when it has none.
std::string query_value(std::string_view address, std::string_view name) {
  address = address.substr(0, address.find('#'));
  const std::size_t question = address.find('?');
  if (question == npos || name.empty()) return {};
  std::string_view query = address.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == npos ? std::string_view() : query.substr(amp + 1);
    const std::size_t equals = pair.find('=');
    if (equals != npos && pair.substr(0, equals) == name) return percent_decode(pair.substr(equals + 1));
  }
  return {};
}

/// Group 1 of the first match of `pattern` in `text`; empty when there is none.
std::string first_group(const std::string& pattern, std::string_view text) {
  pattern_object object = regex_create();
  std::string found;
  if (regex_compile(object, pattern))
    regex_for_each_match(object, text, [&](const search_result& match) {
      found = match_group_text(match, text, 1);
      return false;
    });
  regex_release(object);
  return found;
}

}  // namespace

std::vector<std::string_view> addresses_in_text(std::string_view text) {
  std::vector<std::string_view> found;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t scheme = scheme_at(text, at);
    if (scheme == 0) {
      ++at;
      continue;
    }
    const char closing = at > 0 ? closing_of(text[at - 1]) : 0;
    std::size_t end = at + scheme;
    while (end < text.size() && text[end] != closing) {
      const utf8_char c = read_utf8(text, end);
      if (c.length == 0) {  // not UTF-8: the address's own, for its reader to refuse
        ++end;
        continue;
      }
      if (ends_an_address(c.code_point)) break;
      end += c.length;
    }
    std::string_view address = text.substr(at, end - at);
    // Prose around it: a full stop after it, or the bracket of "(see https://…)",
    // which a bracket opened in the address itself keeps ("…/X_(y)").
    const auto unbalanced = [&](char close, char open) {
      return address.back() == close && std::count(address.begin(), address.end(), close) >
                                            std::count(address.begin(), address.end(), open);
    };
    while (address.size() > scheme + 1 &&
           (std::string_view(".,;:!?").find(address.back()) != npos || unbalanced(')', '(') ||
            unbalanced(']', '[') || unbalanced('}', '{')))
      address.remove_suffix(1);
    found.push_back(address);
    at = end;
  }
  return found;
}

share_input read_share_text(std::string_view text, const service_registry& services, const service_entry* forced) {
  share_input share;
  const std::vector<std::string_view> addresses = addresses_in_text(text);
  for (std::string_view address : addresses) {
    const service_entry* service = forced ? (rule_finds_address(forced->rule, address) ? forced : nullptr)
                                          : services.for_address(address);
    if (service != nullptr) {
      share.address = address;
      share.service = service;
      break;
    }
  }
  if (share.service == nullptr) {
    share.address = addresses.empty() ? std::string(text) : std::string(addresses.front());
    share.service = forced ? forced : services.for_address(share.address);
  }
  if (share.service != nullptr) {
    const password_rule& password = share.service->rule.password;
    share.password = query_value(share.address, password.query);
    if (share.password.empty() && !password.text.empty()) share.password = first_group(password.text, text);
  }
  return share;
}

}  // namespace sharelink
