#include "runtime/polite_fetch.h"

#include <algorithm>

#include "codec/ascii_case.h"

namespace sharelink {
namespace {

// How often a waiting request looks at the cancel flag: Ctrl+C ends it within this.
constexpr auto cancel_check = std::chrono::milliseconds(20);

bool cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

fetch_outcome interrupted_outcome(fetch_outcome outcome = {}) {
  outcome.fetched = false;
  outcome.cut = fetch_cut::interrupted;
  outcome.error = "interrupted";
  outcome.kind = error_kind::interrupted;
  return outcome;
}

}  // namespace

std::string host_and_port(std::string_view pasted) {
  // The host as the request names it: a name beyond ASCII in its xn-- form, and
  // written however the fetcher accepts it ("http:\\h", "http:h").
  const fetch_address prepared = prepare_fetch_address(pasted);
  const std::string_view address = prepared.error.empty() ? std::string_view(prepared.url) : pasted;
  const auto scheme_end = address.find("://");
  if (scheme_end == std::string_view::npos) return {};
  const std::string scheme = ascii_lower(address.substr(0, scheme_end));
  std::string_view rest = address.substr(scheme_end + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (rest.empty()) return {};
  std::string host = ascii_lower(rest);
  // Without a port (or after an IPv6 literal's bracket), the scheme's own.
  const auto colon = host.rfind(':');
  if (colon == std::string::npos || host.find(']', colon) != std::string::npos)
    host += scheme == "https" ? ":443" : ":80";
  return host;
}

void host_gate::pass::leave() {
  if (!gate_) return;
  std::lock_guard lock(gate_->mutex_);
  --gate_->hosts_[host_].running;
  gate_->changed_.notify_all();
  gate_ = nullptr;
}

void host_gate::limit(const std::string& host, host_limits limits) {
  std::lock_guard lock(mutex_);
  host_limits& held = hosts_[host].limits;
  if (limits.most > 0) held.most = held.most > 0 ? std::min(held.most, limits.most) : limits.most;
  held.interval = std::max(held.interval, limits.interval);
}

std::optional<host_gate::clock::time_point> host_gate::next_start(const host_state& state, clock::time_point now) const {
  int most = most_;
  if (state.limits.most > 0) most = most > 0 ? std::min(most, state.limits.most) : state.limits.most;
  if (most > 0 && state.running >= most) return std::nullopt;
  clock::time_point at = std::max(now, state.paused_until);
  if (state.limits.interval > clock::duration::zero() && state.last_start != clock::time_point{})
    at = std::max(at, state.last_start + state.limits.interval);
  return at;
}

host_gate::pass host_gate::admit(const std::string& host, host_state& state, clock::time_point now) {
  ++state.running;
  state.last_start = now;
  return pass(*this, host);
}

std::optional<host_gate::pass> host_gate::enter(const std::string& host, const std::atomic<bool>* cancel,
                                                 wait_budget* budget) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (cancelled(cancel)) return std::nullopt;
    host_state& state = hosts_[host];
    const auto now = clock::now();
    if (budget && state.paused_until > now && !budget->take_until(state.paused_until, now)) return std::nullopt;
    const std::optional<clock::time_point> at = next_start(state, now);
    if (at && *at <= now) return admit(host, state, now);
    // A place given back wakes the waiters; a pause or an interval runs out alone.
    changed_.wait_for(lock, at ? std::min<clock::duration>(cancel_check, *at - now) : cancel_check);
  }
}

std::optional<host_gate::pass> host_gate::try_enter(const std::string& host) {
  std::lock_guard lock(mutex_);
  host_state& state = hosts_[host];
  const auto now = clock::now();
  const std::optional<clock::time_point> at = next_start(state, now);
  if (!at || *at > now) return std::nullopt;
  return admit(host, state, now);
}

void host_gate::pause(const std::string& host, clock::time_point until) {
  std::lock_guard lock(mutex_);
  host_state& state = hosts_[host];
  state.paused_until = std::max(state.paused_until, until);
}

fetch_outcome fetch_page_patiently(std::string_view address, const fetch_options& options,
                                   const retry_policy& policy, host_gate& gate) {
  const std::string host = host_and_port(address);
  wait_budget budget(policy.most_wait_s);  // every pause waited through, all rounds together
  const auto refused = [&budget](fetch_outcome outcome) {
    outcome.fetched = false;
    outcome.error = budget.refusal();
    outcome.kind = error_kind::http;
    return outcome;
  };
  // A service's own limits ([limits] of its rule) hold its host from now on.
  if (options.service_max_per_host > 0 || options.service_interval_ms > 0)
    gate.limit(host, {options.service_max_per_host, std::chrono::milliseconds(options.service_interval_ms)});
  for (int retried = 0;;) {
    std::optional<host_gate::pass> place = gate.enter(host, options.cancel, &budget);
    if (!place) return budget.refusal().empty() ? interrupted_outcome() : refused({});
    fetch_outcome outcome = fetch_page_reporting(address, options);
    if (outcome.cut == fetch_cut::interrupted) return outcome;
    const std::optional<std::chrono::seconds> asked = asked_wait(outcome.status, outcome.retry_after);
    // "Retry-After: 0" asks for nothing to wait for: taken as a failure in passing.
    if (asked && asked->count() > 0) {
      const auto now = host_gate::clock::now();
      if (!budget.take_until(now + *asked, now)) return refused(std::move(outcome));
      // The whole host is left alone meanwhile: every request to it would be
      // answered the same, and each one counts against its limit. Paused before the
      // place is given back, so that no request slips in between.
      gate.pause(host, now + *asked);
      place.reset();
      continue;
    }
    place.reset();
    if (!failed_in_passing(outcome) || retried >= policy.retries) return outcome;
    if (!wait_unless_cancelled(policy.pause_ms(retried), options.cancel))
      return interrupted_outcome(std::move(outcome));
    ++retried;
  }
}

}  // namespace sharelink
