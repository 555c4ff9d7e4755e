#include "runtime/registrable_domain.h"

#include <algorithm>
#include <vector>

#include "runtime/fetch.h"
#include "runtime/fetch_hop.h"
#include "runtime/public_suffix_table.h"

namespace sharelink {
namespace {

bool is_rule(std::string_view rule) {
  const std::string_view* end = public_suffix_rules + public_suffix_rule_count;
  return std::binary_search(public_suffix_rules, end, rule);
}

bool is_ip_address(std::string_view host) {
  if (host.find(':') != std::string_view::npos || host.starts_with('[')) return true;  // IPv6
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

}  // namespace

std::string registrable_domain(std::string_view host) {
  if (host.ends_with('.')) host.remove_suffix(1);
  if (is_ip_address(host) || host.empty() || host.starts_with('.') || host.find("..") != std::string_view::npos)
    return std::string(host);
  // The labels from the right: `starts[i]` is where the last i + 1 labels begin.
  std::vector<std::size_t> starts;
  for (std::size_t end = host.size();;) {
    const std::size_t dot = host.rfind('.', end - 1);
    starts.push_back(dot == std::string_view::npos ? 0 : dot + 1);
    if (dot == std::string_view::npos) break;
    end = dot;
  }
  // The list's algorithm: an exception rule wins, else the rule of most labels;
  // without one the last label is the public suffix ("*").
  std::size_t suffix_labels = 1;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::string_view suffix = host.substr(starts[i]);
    if (is_rule("!" + std::string(suffix))) {
      suffix_labels = i;
      break;
    }
    if (is_rule(suffix) || (i > 0 && is_rule("*." + std::string(host.substr(starts[i - 1])))))
      suffix_labels = i + 1;
  }
  if (suffix_labels >= starts.size()) return std::string(host);
  return std::string(host.substr(starts[suffix_labels]));
}

std::string site_of_address(std::string_view address) {
  const fetch_address prepared = prepare_fetch_address(address);
  return prepared.error.empty() ? registrable_domain(fetch_hop::host_of(prepared.url)) : std::string();
}

}  // namespace sharelink
