#pragma once
// Fetching in bulk without hammering a host: the requests in flight per host held to
// a most and spaced apart, a host's "come back later" (429 or 503 with Retry-After)
// waited out by every request to it, and failures in passing tried again as the
// retry policy says.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/fetch.h"
#include "runtime/retry_policy.h"

namespace sharelink {

/// The host and port of an http or https address as the request names them, in
/// lower case ("a.example:443", a name beyond ASCII in its xn-- form): what the gate
/// counts requests by. Empty when there is none.
std::string host_and_port(std::string_view address);

/// The gate every request passes: at most so many at once per host, the starts of
/// two spaced apart when a host asks for it, and none to a host that asked to wait
/// until then.
class host_gate {
 public:
  using clock = std::chrono::steady_clock;
  /// At most `most_per_host` requests at once to any host (0: no limit).
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

  /// What one host asks beyond the gate's own most.
  struct host_limits {
    int most = 0;                         ///< requests at once; 0: no most of its own
    clock::duration interval{};           ///< between the starts of two requests
  };
  /// Holds `host` to `limits` as well: the smaller most and the longer interval of
  /// all that were set for it, and the gate's own, apply.
  void limit(const std::string& host, host_limits limits);

  /// Waits until a request to `host` may go; nothing once `cancel` turned true or, with
  /// `budget`, at once when the host's pause is more than the budget leaves (the
  /// budget's refusal() then says so). The pauses waited through are counted in it.
  std::optional<pass> enter(const std::string& host, const std::atomic<bool>* cancel,
                            wait_budget* budget = nullptr);

  /// A place for `host` when one is free and the host may be asked now; nothing
  /// otherwise.
  std::optional<pass> try_enter(const std::string& host);

  /// No request goes to `host` before `until` (a later pause already set stays).
  void pause(const std::string& host, clock::time_point until);

 private:
  struct host_state {
    int running = 0;
    clock::time_point paused_until{};
    host_limits limits;
    clock::time_point last_start{};
  };
  /// When `state` takes its next request: now, or the time it waits for (its pause,
  /// or the interval after the last start); nothing while it has no free place.
  std::optional<clock::time_point> next_start(const host_state& state, clock::time_point now) const;
  pass admit(const std::string& host, host_state& state, clock::time_point now);

  int most_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, host_state> hosts_;
};

/// fetch_page_reporting through `gate`, patiently: a 429 or 503 with Retry-After is
/// waited out (the host paused meanwhile, from before the request's place is given
/// back) as long as policy.most_wait_s allows for all the pauses the request waits
/// through, its own and those other requests to the host were told, beyond which the
/// outcome says so (kind http); a failure in passing is tried again up to
/// policy.retries times after policy.pause_ms. The outcome is the last attempt's.
/// Ctrl+C (options.cancel) ends every wait at once. The limits of a service that
/// `options` carry (service_max_per_host, service_interval_ms) are set on the host.
fetch_outcome fetch_page_patiently(std::string_view address, const fetch_options& options,
                                   const retry_policy& policy, host_gate& gate);

}  // namespace sharelink
