#include "runtime/retry_policy.h"

#include <algorithm>
#include <random>
#include <thread>

#include "runtime/retry_after.h"

namespace sharelink {

long long retry_policy::pause_ms(int attempt) const {
  const long long full = static_cast<long long>(std::max(0L, first_pause_ms)) << std::clamp(attempt, 0, 20);
  thread_local std::mt19937_64 random{std::random_device{}()};
  return full / 2 + static_cast<long long>(random() % static_cast<unsigned long long>(full / 2 + 1));
}

bool is_transient_status(long status) { return status == 408 || status == 429 || (status >= 500 && status <= 599); }

bool is_transient_cut(fetch_cut cut, bool resumes) {
  if (cut == fetch_cut::broken) return true;
  return resumes && (cut == fetch_cut::stalled || cut == fetch_cut::out_of_time);
}

bool failed_in_passing(const fetch_outcome& outcome) {
  return is_transient_cut(outcome.cut, false) || is_transient_status(outcome.status);
}

std::optional<std::chrono::seconds> asked_wait(long status, std::string_view retry_after) {
  if ((status != 429 && status != 503) || retry_after.empty()) return std::nullopt;
  return retry_after_delay(retry_after, std::chrono::system_clock::now());
}

bool wait_unless_cancelled(long long ms, const std::atomic<bool>* cancel) {
  // Ctrl+C ends a wait within this.
  constexpr auto cancel_check = std::chrono::milliseconds(20);
  const auto cancelled = [cancel] { return cancel && cancel->load(); };
  using steady = std::chrono::steady_clock;
  const auto until = steady::now() + std::chrono::milliseconds(std::max(0LL, ms));
  for (auto now = steady::now(); now < until; now = steady::now()) {
    if (cancelled()) return false;
    std::this_thread::sleep_for(std::min<steady::duration>(cancel_check, until - now));
  }
  return !cancelled();
}

wait_budget::wait_budget(long long most_s) : most_s_(std::clamp(most_s, 0LL, longest_wait_s)) {}

bool wait_budget::take_until(clock::time_point until, clock::time_point now) {
  // What the pause adds to the waits counted so far: a pause made longer counts
  // once more, for its longer part only.
  const clock::time_point from = std::max(now, counted_until_);
  if (until <= from) return true;
  const clock::duration more = until - from;
  if (waited_ + more > std::chrono::seconds(most_s_)) {
    refused_ = until - now;
    return false;
  }
  waited_ += more;
  counted_until_ = until;
  return true;
}

std::string wait_budget::refusal() const {
  if (!refused_) return {};
  const auto seconds = [](clock::duration d) { return std::to_string(std::chrono::ceil<std::chrono::seconds>(d).count()); };
  const bool waited = waited_ > clock::duration::zero();
  std::string text = waited ? "the server still asks to wait " : "the server asks to wait ";
  text += seconds(*refused_) + " s (Retry-After)";
  if (waited) text += " after " + seconds(waited_) + " s of waiting";
  return text + ", more than --retry-max-wait allows (" + std::to_string(most_s_) + " s)";
}

}  // namespace sharelink
