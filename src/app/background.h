#pragma once
// Resolutions that run off the window's thread, so the window keeps painting and
// can be closed while a page loads.
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/actions.h"

namespace sharelink::app {

/// Runs `work` on a thread of its own that nobody joins. Returns false, running
/// nothing, when no thread can be started.
bool run_detached(std::function<void()> work);

/// Whether work started by run_detached has not finished yet. A program that ends
/// while this is true must end without running the destructors of static objects,
/// which that work may still be using (see end_process_now in the program files).
bool detached_work_running();

/// One press of the resolve button, resolved on a detached thread. The window
/// keeps the job while it waits and lets go of it when it closes first; the thread
/// never touches the window, only calls `deliver`, which must post a message to
/// the window's thread and nothing more.
class resolve_job {
 public:
  /// Starts resolving `requests` with `services`; `deliver` runs on the worker
  /// once the results are in, unless abandon() came first. Returns nullptr when no
  /// thread could be started.
  static std::shared_ptr<resolve_job> start(std::vector<resolve_request> requests,
                                            action_services services,
                                            std::function<void()> deliver);

  /// The results, once `deliver` has been called; empty before.
  std::vector<resolved_page> take_results();

  /// The window is going away: `deliver` is never called after this returns.
  void abandon();

 private:
  std::mutex mutex_;
  std::function<void()> deliver_;
  std::vector<resolved_page> results_;
  bool done_ = false;
};

}  // namespace sharelink::app
