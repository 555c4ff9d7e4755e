#pragma once
// Resolving a list of addresses several at a time, the results in input order.
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "cli/report.h"

namespace sharelink::cli {

struct batch_hooks {
  /// The next address, or nothing at the end of the list. Called on a thread of its
  /// own. A call still waiting a fifth of a second after the batch has ended (input from a
  /// terminal that never comes) is left running: a `next` that can block must not
  /// refer to anything that ends before the process does.
  std::function<std::optional<std::string>()> next;
  /// Resolves one address; called on worker threads, several at once.
  std::function<resolution(const std::string&)> work;
  /// Takes each result, in input order, on the calling thread; false ends the batch.
  std::function<bool(resolution&&)> emit;
  /// Called on the calling thread every tenth of a second or so while it waits, and
  /// after each result, with the number of addresses read so far and whether that
  /// is all of them. May be empty.
  std::function<void(std::size_t read, bool all_read)> tick;
};

enum class batch_end {
  finished,     ///< every address was resolved and emitted
  stopped,      ///< emit returned false
  interrupted,  ///< `stop` turned true
};

/// Runs `hooks.work` on every address that `hooks.next` gives, on up to `jobs`
/// threads, and hands each result to `hooks.emit` as soon as it and every result
/// before it are done. At most a few times `jobs` addresses are held at once,
/// however long the list. When `stop` turns true no more addresses are started; once
/// the running ones have ended (so `work` should end promptly then too), every
/// result up to the first address never started is emitted, in input order, and
/// the batch returns.
batch_end run_batch(int jobs, const std::atomic<bool>& stop, batch_hooks hooks);

}  // namespace sharelink::cli
