#include "cli/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

namespace sharelink::cli {
namespace {

struct numbered_list {
  std::atomic<int> read{0};
  int size = 0;
  std::function<std::optional<std::string>()> next() {
    return [this]() -> std::optional<std::string> {
      if (read.load() == size) return std::nullopt;
      return std::to_string(read++);
    };
  }
};

// Work that takes a random number of scheduler turns, so results finish out of order.
resolution shuffled_work(const std::string& address) {
  thread_local std::minstd_rand random(std::hash<std::thread::id>()(std::this_thread::get_id()));
  for (unsigned turns = random() % 200; turns > 0; --turns) std::this_thread::yield();
  resolution r;
  r.address = address;
  return r;
}

TEST(Batch, EmitsInInputOrderHoldingAFewAddressesAtATime) {
  for (const int jobs : {1, 3, 16}) {
    numbered_list list;
    list.size = 500;
    std::vector<std::string> emitted;
    int most_held = 0;
    std::atomic<bool> stop{false};
    batch_hooks hooks;
    hooks.next = list.next();
    hooks.work = shuffled_work;
    hooks.emit = [&](resolution&& r) {
      most_held = std::max(most_held, list.read.load() - static_cast<int>(emitted.size()));
      emitted.push_back(r.address);
      return true;
    };
    EXPECT_EQ(run_batch(jobs, stop, hooks), batch_end::finished);
    ASSERT_EQ(emitted.size(), 500u) << jobs;
    for (int i = 0; i < 500; ++i) ASSERT_EQ(emitted[i], std::to_string(i)) << jobs;
    // Queued, plus the one the reader holds while it waits for room.
    EXPECT_LE(most_held, 2 * jobs + 2) << jobs;
  }
}

TEST(Batch, EndsEarlyWhenStoppedOrWhenOutputFails) {
  for (const bool by_flag : {true, false}) {
    numbered_list list;
    list.size = 1000;
    std::atomic<bool> stop{false};
    std::atomic<int> worked{0};
    int emitted = 0;
    batch_hooks hooks;
    hooks.next = list.next();
    hooks.work = [&](const std::string& a) {
      ++worked;
      return shuffled_work(a);
    };
    hooks.emit = [&](resolution&&) {
      ++emitted;
      if (emitted == 5 && by_flag) stop = true;
      return by_flag || emitted < 5;
    };
    EXPECT_EQ(run_batch(4, stop, hooks), by_flag ? batch_end::interrupted : batch_end::stopped);
    // Stopped by the flag, the results already worked on are still emitted.
    if (by_flag) {
      EXPECT_GE(emitted, 5);
      EXPECT_LE(emitted, worked.load());
    } else {
      EXPECT_EQ(emitted, 5);
    }
    EXPECT_LE(worked.load(), 5 + 2 * 4 + 1);
  }
}

TEST(Batch, AnInterruptStillEmitsWhatWaitedBehindASlowAddress) {
  numbered_list list;
  list.size = 100;
  std::atomic<bool> stop{false};
  std::atomic<int> done{0};
  std::vector<std::string> emitted;
  batch_hooks hooks;
  hooks.next = list.next();
  hooks.work = [&](const std::string& a) {
    resolution r;
    r.address = a;
    if (a == "0") {  // slow until interrupted
      while (!stop.load()) std::this_thread::yield();
      r.error = "interrupted";
    } else if (++done == 3) {
      stop = true;
    } else {
      while (!stop.load() && done.load() < 3) std::this_thread::yield();
    }
    return r;
  };
  hooks.emit = [&](resolution&& r) {
    emitted.push_back(r.address);
    return true;
  };
  EXPECT_EQ(run_batch(4, stop, hooks), batch_end::interrupted);
  // 1 to 3 finished behind 0; a worker may have started one more before the stop.
  ASSERT_GE(emitted.size(), 4u);
  for (std::size_t i = 0; i < emitted.size(); ++i) EXPECT_EQ(emitted[i], std::to_string(i));
}

TEST(Batch, AnEmptyListEndsAtOnce) {
  std::atomic<bool> stop{false};
  batch_hooks hooks;
  hooks.next = [] { return std::optional<std::string>(); };
  hooks.work = shuffled_work;
  hooks.emit = [](resolution&&) {
    ADD_FAILURE() << "nothing to emit";
    return true;
  };
  EXPECT_EQ(run_batch(4, stop, hooks), batch_end::finished);
}

}  // namespace
}  // namespace sharelink::cli
