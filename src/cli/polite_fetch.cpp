#include "cli/polite_fetch.h"

#include <algorithm>
#include <random>
#include <thread>

#include "codec/ascii_case.h"
#include "runtime/retry_after.h"

namespace sharelink::cli {
namespace {

using steady = std::chrono::steady_clock;

// How often a wait looks at the cancel flag: Ctrl+C ends it within this.
constexpr auto cancel_check = std::chrono::milliseconds(20);

bool cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

fetch_outcome interrupted_outcome(fetch_outcome outcome = {}) {
  outcome.fetched = false;
  outcome.cut = fetch_cut::interrupted;
  outcome.error = "interrupted";
  return outcome;
}

// A failure in passing, worth another try after a pause: the server is busy or a
// gateway failed, or the connection broke before the answer was whole. A refused
// connection and a time-out are not (the user's --timeout already bounds the wait).
bool is_passing_failure(const fetch_outcome& outcome) {
  if (outcome.cut == fetch_cut::broken) return true;
  const long s = outcome.status;
  return s == 408 || s == 429 || (s >= 500 && s <= 599);
}

long long whole_ms(steady::duration d) { return std::chrono::ceil<std::chrono::milliseconds>(d).count(); }

}  // namespace

std::string too_long_a_wait(long long asked_s, long long waited_ms, long long most_s) {
  std::string text = waited_ms == 0 ? "the server asks to wait " : "the server still asks to wait ";
  text += std::to_string(asked_s) + " s (Retry-After)";
  if (waited_ms > 0) text += " after " + std::to_string((waited_ms + 999) / 1000) + " s of waiting";
  return text + ", more than --retry-max-wait allows (" + std::to_string(most_s) + " s)";
}

std::string host_of(std::string_view pasted) {
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

bool wait_unless_cancelled(long long ms, const std::atomic<bool>* cancel) {
  const auto until = steady::now() + std::chrono::milliseconds(std::max(0LL, ms));
  for (auto now = steady::now(); now < until; now = steady::now()) {
    if (cancelled(cancel)) return false;
    std::this_thread::sleep_for(std::min<steady::duration>(cancel_check, until - now));
  }
  return !cancelled(cancel);
}

void host_gate::pass::leave() {
  if (!gate_) return;
  std::lock_guard lock(gate_->mutex_);
  --gate_->hosts_[host_].running;
  gate_->changed_.notify_all();
  gate_ = nullptr;
}

std::optional<host_gate::pass> host_gate::enter(const std::string& host, const std::atomic<bool>* cancel,
                                                 pause_budget* budget, host_limits limits) {
  const int most = most_ > 0 && limits.most > 0 ? std::min(most_, limits.most) : std::max(most_, limits.most);
  std::unique_lock lock(mutex_);
  for (;;) {
    if (cancelled(cancel)) return std::nullopt;
    host_state& state = hosts_[host];
    const auto now = steady::now();
    if (state.paused_until > now) {
      if (budget) {
        // What the pause adds to the waits counted so far (a pause made longer
        // counts once more, for its longer part).
        const auto from = std::max(now, budget->counted_until);
        if (state.paused_until > from) {
          const auto more = state.paused_until - from;
          if (budget->waited + more > budget->most) {
            budget->refused = state.paused_until - now;
            return std::nullopt;
          }
          budget->waited += more;
          budget->counted_until = state.paused_until;
        }
      }
      changed_.wait_for(lock, std::min<steady::duration>(cancel_check, state.paused_until - now));
      continue;
    }
    if (most > 0 && state.running >= most) {
      changed_.wait_for(lock, cancel_check);
      continue;
    }
    if (const auto next_start = state.last_start + limits.interval; next_start > now) {
      changed_.wait_for(lock, std::min<steady::duration>(cancel_check, next_start - now));
      continue;
    }
    ++state.running;
    state.last_start = now;
    return pass(*this, host);
  }
}

std::optional<host_gate::pass> host_gate::try_enter(const std::string& host) {
  std::lock_guard lock(mutex_);
  host_state& state = hosts_[host];
  const auto now = steady::now();
  if (state.paused_until > now || (most_ > 0 && state.running >= most_)) return std::nullopt;
  ++state.running;
  state.last_start = now;
  return pass(*this, host);
}

void host_gate::pause(const std::string& host, steady::time_point until) {
  std::lock_guard lock(mutex_);
  host_state& state = hosts_[host];
  state.paused_until = std::max(state.paused_until, until);
}

std::optional<std::chrono::seconds> asked_wait(long status, std::string_view retry_after) {
  if ((status != 429 && status != 503) || retry_after.empty()) return std::nullopt;
  return retry_after_delay(retry_after, std::chrono::system_clock::now());
}

long long backoff_ms(const retry_policy& policy, int attempt) {
  const long long full = static_cast<long long>(std::max(0L, policy.first_pause_ms))
                         << std::clamp(attempt, 0, 20);
  thread_local std::mt19937_64 random{std::random_device{}()};
  return full / 2 + static_cast<long long>(random() % static_cast<unsigned long long>(full / 2 + 1));
}

fetch_outcome fetch_page_patiently(std::string_view address, const fetch_options& options,
                                   const retry_policy& policy, host_gate& gate) {
  const std::string host = host_of(address);
  const long long most_wait_s = std::clamp(policy.most_wait_s, 0LL, longest_wait_s);
  host_gate::pause_budget budget;  // every pause waited through, all rounds together
  budget.most = std::chrono::seconds(most_wait_s);
  int retried = 0;
  for (;;) {
    std::optional<host_gate::pass> place = gate.enter(host, options.cancel, &budget, host_limits::of(options));
    if (!place) {
      if (budget.refused == steady::duration::zero()) return interrupted_outcome();
      fetch_outcome outcome;
      const long long asked_s = std::chrono::ceil<std::chrono::seconds>(budget.refused).count();
      outcome.error = too_long_a_wait(asked_s, whole_ms(budget.waited), most_wait_s);
      return outcome;
    }
    fetch_outcome outcome = fetch_page_reporting(address, options);
    if (outcome.cut == fetch_cut::interrupted) return outcome;
    const std::optional<std::chrono::seconds> asked = asked_wait(outcome.status, outcome.retry_after);
    // "Retry-After: 0" asks for nothing to wait for: taken as a failure in passing.
    if (asked && asked->count() > 0) {
      if (budget.waited + *asked > budget.most) {
        outcome.fetched = false;
        outcome.error = too_long_a_wait(asked->count(), whole_ms(budget.waited), most_wait_s);
        return outcome;
      }
      // The whole host is left alone meanwhile: every request to it would be
      // answered the same, and each one counts against its limit. Paused before the
      // place is given back, so that no request slips in between.
      gate.pause(host, steady::now() + *asked);
      place.reset();
      continue;
    }
    place.reset();
    if (!is_passing_failure(outcome) || retried >= policy.retries) return outcome;
    if (!wait_unless_cancelled(backoff_ms(policy, retried), options.cancel))
      return interrupted_outcome(std::move(outcome));
    ++retried;
  }
}

}  // namespace sharelink::cli
