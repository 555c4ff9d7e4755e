#pragma once
// How patient a request is with its host, for pages and downloads alike: which
// failures pass and are worth another try, the pause before it, and how long a
// host's "come back later" (Retry-After) is waited out, with the words that say so
// when it is not.
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/fetch.h"

namespace sharelink {

/// The most --retries takes.
inline constexpr int most_retries = 10;
/// The longest --retry-max-wait taken, in seconds (about 68 years, as a Retry-After
/// is read): longer is as good as for ever, and keeps the sums of waits in range.
inline constexpr long long longest_wait_s = 2147483647;

struct retry_policy {
  /// How often a request that failed in passing is tried again.
  int retries = 2;
  /// The longest a Retry-After is waited out, in seconds, all waits of one request
  /// together (--retry-max-wait).
  long long most_wait_s = 120;
  /// The pause before the first retry, about doubled for each further one.
  long first_pause_ms = 1000;

  /// The pause before retry number `attempt` (0 for the first): between half and all
  /// of first_pause_ms × 2^attempt. The random half keeps many clients that failed
  /// together from coming back together.
  long long pause_ms(int attempt) const;
};

/// An answer worth asking for again after a pause: the server is busy (429, 503),
/// a gateway failed (502, 504), the request timed out on its way (408), or the
/// server failed in itself otherwise (500-599).
bool is_transient_status(long status);

/// A transfer that ended early in passing: the connection broke before the answer
/// was whole. For a transfer that `resumes` where it stopped (a download), one that
/// stalled or ran out of time too; a page would start over, and its time limits
/// already bound how long its caller waits.
bool is_transient_cut(fetch_cut cut, bool resumes);

/// A page fetch that failed in passing: a transient status or cut (not resuming).
/// A refused connection and a time-out are not.
bool failed_in_passing(const fetch_outcome& outcome);

/// How long a 429 or 503 answer asks to wait by its Retry-After; nothing for another
/// status, or without a Retry-After that can be read.
std::optional<std::chrono::seconds> asked_wait(long status, std::string_view retry_after);

/// Waits `ms`, or less once `cancel` (when set) turns true: false then.
bool wait_unless_cancelled(long long ms, const std::atomic<bool>* cancel);

/// What one request may wait for its host's pauses (Retry-After), all of them
/// together: its own and those other requests to the host were told of. Each
/// stretch of time counts once, however many pauses cover it. Used by one thread.
class wait_budget {
 public:
  using clock = std::chrono::steady_clock;
  /// At most `most_s` seconds in all (0 to longest_wait_s).
  explicit wait_budget(long long most_s);

  /// Counts a pause of the host that lasts until `until`: true when the budget
  /// holds it. Otherwise nothing is counted, and refusal() says why.
  bool take_until(clock::time_point until, clock::time_point now = clock::now());
  clock::duration waited() const { return waited_; }
  /// The error of the last pause not taken: "the server asks to wait N s
  /// (Retry-After)[ after M s of waiting], more than --retry-max-wait allows (X s)";
  /// empty while every pause was taken.
  std::string refusal() const;

 private:
  long long most_s_;
  clock::duration waited_{};
  clock::time_point counted_until_{};
  std::optional<clock::duration> refused_;
};

}  // namespace sharelink
