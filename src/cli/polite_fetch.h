#pragma once
// Fetching in bulk without hammering a host: a host's answer "come back later"
// (429 or 503 with Retry-After) is waited out, failures in passing are tried again
// after a growing pause, and the requests in flight per host can be held to a most.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/fetch.h"

namespace sharelink::cli {

/// How patient the command is with a host.
struct retry_policy {
  /// --retries: how often a page fetch that failed in passing (a 5xx, 408, a 429
  /// without Retry-After, a connection reset or closed early) is tried again.
  int retries = 2;
  /// --retry-max-wait: the longest a Retry-After is waited out, in seconds, all
  /// waits for one request together.
  long long most_wait_s = 120;
  /// The pause before the first retry, about doubled for each further one (the
  /// half of it that is random keeps many clients from coming back at once).
  long first_pause_ms = 1000;
};

/// The host and port of an http or https address as the request names them, in
/// lower case ("a.example:443", a name beyond ASCII in its xn-- form); empty when
/// there is none.
std::string host_of(std::string_view address);

/// Waits `ms`, or less once `cancel` (when set) turns true: false then.
bool wait_unless_cancelled(long long ms, const std::atomic<bool>* cancel);

/// A service's own limits on one host, on top of the gate's.
struct host_limits {
  int most = 0;  ///< requests at once; 0: none of its own
  std::chrono::milliseconds interval{0};  ///< between the starts of two requests

  /// The limits `options` carry (fetch_options::service_max_per_host and _interval_ms).
  static host_limits of(const fetch_options& options) {
    return {options.service_max_per_host, std::chrono::milliseconds(options.service_interval_ms)};
  }
};

/// The gate every request of the command passes: at most `most_per_host` at once
/// per host (0: no limit), and none to a host that asked to wait until then. A
/// request may bring limits of its own (its service's): the stricter most applies
/// to it, and it starts no sooner than its interval after the host's last start.
class host_gate {
 public:
  explicit host_gate(int most_per_host = 0) : most_(most_per_host) {}

  /// A place taken for one request; given back when it goes.
  class pass {
   public:
    pass(host_gate& gate, std::string host) : gate_(&gate), host_(std::move(host)) {}
    pass(pass&& other) noexcept : gate_(other.gate_), host_(std::move(other.host_)) { other.gate_ = nullptr; }
    pass& operator=(pass&&) = delete;
    ~pass() { leave(); }
    /// Gives the place back before the pass goes.
    void leave();

   private:
    host_gate* gate_;
    std::string host_;
  };

  /// What one request may wait for its host's pauses (Retry-After), all waits
  /// together, and what it has waited so far.
  struct pause_budget {
    std::chrono::steady_clock::duration most{};
    std::chrono::steady_clock::duration waited{};  ///< pauses waited through, each counted once
    std::chrono::steady_clock::time_point counted_until{};
    /// Set when the host's pause lasted this much longer than the budget left: not
    /// waited out.
    std::chrono::steady_clock::duration refused{};
  };

  /// Waits until a request to `host` may go; nothing once `cancel` turned true, or
  /// (with `budget`) at once when the host's pause lasts longer than the budget
  /// leaves, `budget->refused` then set.
  std::optional<pass> enter(const std::string& host, const std::atomic<bool>* cancel,
                            pause_budget* budget = nullptr, host_limits limits = {});

  /// A place for `host` when one is free and the host is not paused, at once;
  /// nothing otherwise.
  std::optional<pass> try_enter(const std::string& host);

  /// No request goes to `host` before `until` (a later pause already set stays).
  void pause(const std::string& host, std::chrono::steady_clock::time_point until);

 private:
  struct host_state {
    int running = 0;
    std::chrono::steady_clock::time_point paused_until{};
    std::chrono::steady_clock::time_point last_start{};
  };
  int most_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, host_state> hosts_;
};

/// How long a 429 or 503 answer asks to wait by its Retry-After; nothing for another
/// status, or without a Retry-After that can be read.
std::optional<std::chrono::seconds> asked_wait(long status, std::string_view retry_after);

/// The wait before retry number `attempt` (0 for the first): between half and all of
/// first_pause_ms × 2^attempt.
long long backoff_ms(const retry_policy& policy, int attempt);

/// The most --retries takes.
inline constexpr int most_retries = 10;
/// The longest --retry-max-wait taken, in seconds (about 68 years, as a Retry-After
/// is read): longer is as good as for ever, and keeps the sums of waits in range.
inline constexpr long long longest_wait_s = 2147483647;

/// The text of a request's error when a Retry-After asks to wait `asked_s` more
/// after `waited_ms` of waiting, more than `most_s` allows.
std::string too_long_a_wait(long long asked_s, long long waited_ms, long long most_s);

/// fetch_page_reporting through `gate`, patiently: a 429 or 503 with Retry-After is
/// waited out (the host paused meanwhile, from before the request's place is given
/// back) up to policy.most_wait_s for all the pauses the request waits through,
/// its own and those other requests to the host were told, beyond which the outcome
/// says so; a failure in passing is tried again up to
/// policy.retries times after backoff_ms. A refused connection and a time-out are
/// not tried again. The outcome is the last attempt's. Ctrl+C (options.cancel) ends
/// every wait at once.
fetch_outcome fetch_page_patiently(std::string_view address, const fetch_options& options,
                                   const retry_policy& policy, host_gate& gate);

}  // namespace sharelink::cli
