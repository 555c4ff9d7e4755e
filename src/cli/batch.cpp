#include "cli/batch.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace sharelink::cli {
namespace {

struct slot {
  std::string address;
  std::optional<resolution> result;
};

// Shared with the reader thread, which may outlive the batch when it is
// interrupted while waiting for input.
struct batch_state {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<slot> slots;    ///< read and not yet emitted, in input order
  std::size_t first = 0;     ///< input number of slots.front()
  std::size_t started = 0;   ///< input number of the next slot a worker takes
  std::size_t read = 0;
  bool all_read = false;
  bool ending = false;
  bool reading = false;     ///< the reader is inside `next`
};

// Reads addresses with `next` into the state's slots, holding at most
// `held_at_most` at once, until the list or the batch ends.
void read_addresses(const std::shared_ptr<batch_state>& state,
                    const std::function<std::optional<std::string>()>& next, std::size_t held_at_most) {
  for (;;) {
    {
      std::lock_guard lock(state->mutex);
      if (state->ending) break;
      state->reading = true;
    }
    std::optional<std::string> address = next();
    std::unique_lock lock(state->mutex);
    state->reading = false;
    state->changed.notify_all();
    if (!address || state->ending) {
      state->all_read = true;
      state->changed.notify_all();
      return;
    }
    state->changed.wait(lock, [&] { return state->ending || state->slots.size() < held_at_most; });
    if (state->ending) return;
    state->slots.push_back({std::move(*address), std::nullopt});
    ++state->read;
    state->changed.notify_all();
  }
}

// hooks.work on `address`; when it fails in itself (out of memory), a result that
// says so: the other addresses and the batch go on.
resolution work_on(const std::string& address, const batch_hooks& hooks) {
  std::string reason;  // short enough to need no memory of its own
  try {
    return hooks.work(address);
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (...) {
    reason = "failed";
  }
  resolution failed;
  failed.address = address;
  failed.error = std::move(reason);
  failed.failure_kind = error_kind::page;
  return failed;
}

// Works on the next address not yet started, `lock` (of state.mutex) let go
// meanwhile, and puts the result in its slot. Slots are emitted only once they hold
// a result, so this one is still held.
void work_on_next(batch_state& state, const batch_hooks& hooks, std::unique_lock<std::mutex>& lock) {
  const std::size_t number = state.started++;
  const std::string address = state.slots[number - state.first].address;
  lock.unlock();
  resolution result = work_on(address, hooks);
  lock.lock();
  state.slots[number - state.first].result = std::move(result);
}

// One worker: takes the next address not yet started, works on it and puts the
// result in its slot, until none is left or the batch ends.
void work_on_addresses(batch_state& state, const batch_hooks& hooks) {
  std::unique_lock lock(state.mutex);
  for (;;) {
    state.changed.wait(lock, [&] {
      return state.ending || state.started < state.first + state.slots.size() ||
             (state.all_read && state.started >= state.first + state.slots.size());
    });
    if (state.ending || state.started >= state.first + state.slots.size()) return;
    work_on_next(state, hooks, lock);
    state.changed.notify_all();
  }
}

// On the calling thread: hands each result to `emit` in input order as soon as it
// is there, and ticks meanwhile, until every address is emitted, `emit` says stop or
// `stop` turns true. Then tells the reader and the workers that the batch is ending.
// `work_here`: no worker could be started, so this thread works on the addresses too.
batch_end emit_in_order(batch_state& state, const batch_hooks& hooks, const std::atomic<bool>& stop,
                        bool work_here) {
  std::unique_lock lock(state.mutex);
  // Tells the caller how far the reading is, without holding the lock meanwhile.
  const auto tick = [&] {
    if (!hooks.tick) return;
    const std::size_t read = state.read;
    const bool all_read = state.all_read;
    lock.unlock();
    hooks.tick(read, all_read);
    lock.lock();
  };
  batch_end end = batch_end::finished;
  for (;;) {
    if (stop.load()) {
      end = batch_end::interrupted;
      break;
    }
    if (!state.slots.empty() && state.slots.front().result) {
      resolution result = std::move(*state.slots.front().result);
      state.slots.pop_front();
      ++state.first;
      state.changed.notify_all();
      lock.unlock();
      const bool go_on = hooks.emit(std::move(result));
      lock.lock();
      tick();
      if (!go_on) {
        end = batch_end::stopped;
        break;
      }
      continue;
    }
    if (state.slots.empty() && state.all_read) break;
    if (work_here && state.started < state.first + state.slots.size()) {
      work_on_next(state, hooks, lock);
      continue;
    }
    state.changed.wait_for(lock, std::chrono::milliseconds(100));
    tick();
  }
  state.ending = true;
  state.changed.notify_all();
  return end;
}

// Once interrupted and the workers have ended: what is done (an address whose work
// the interrupt cut short included) is still emitted, in input order, up to the
// first address that was never started.
void emit_what_is_done(batch_state& state, const batch_hooks& hooks) {
  for (;;) {
    std::optional<resolution> result;
    {
      std::lock_guard lock(state.mutex);
      if (state.slots.empty() || !state.slots.front().result) return;
      result = std::move(state.slots.front().result);
      state.slots.pop_front();
      ++state.first;
    }
    if (!hooks.emit(std::move(*result))) return;
  }
}

}  // namespace

batch_end run_batch(int jobs, const std::atomic<bool>& stop, batch_hooks hooks) {
  if (jobs < 1) jobs = 1;
  const std::size_t held_at_most = static_cast<std::size_t>(jobs) * 2;
  auto state = std::make_shared<batch_state>();

  std::thread reader(read_addresses, state, std::move(hooks.next), held_at_most);
  // As many workers as can be started, up to `jobs`; with none, this thread works.
  std::vector<std::thread> workers;
  try {
    workers.reserve(static_cast<std::size_t>(jobs));
    for (int i = 0; i < jobs; ++i)
      workers.emplace_back([&state, &hooks] { work_on_addresses(*state, hooks); });
  } catch (const std::exception&) {
  }
  const batch_end end = emit_in_order(*state, hooks, stop, workers.empty());
  for (std::thread& worker : workers) worker.join();
  if (end == batch_end::interrupted) emit_what_is_done(*state, hooks);
  // A reader still waiting in `next` for a line that may never come (a terminal,
  // a silent pipe) is left to the end of the process; once out of `next` it touches
  // only what it owns or shares through `state`.
  bool reader_stuck = false;
  {
    std::unique_lock lock(state->mutex);
    reader_stuck = !state->changed.wait_for(lock, std::chrono::milliseconds(200),
                                            [&] { return !state->reading; });
  }
  if (reader_stuck)
    reader.detach();
  else
    reader.join();
  return end;
}

}  // namespace sharelink::cli
