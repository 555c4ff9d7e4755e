#include "app/background.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace sharelink::app {
namespace {

std::atomic<int> running{0};

}  // namespace

bool run_detached(std::function<void()> work) {
  ++running;
  try {
    std::thread([work = std::move(work)] {
      work();
      --running;
    }).detach();
    return true;
  } catch (const std::system_error&) {
    --running;
    return false;
  }
}

bool detached_work_running() { return running.load() > 0; }

std::shared_ptr<resolve_job> resolve_job::start(std::vector<resolve_request> requests,
                                                action_services services,
                                                std::function<void()> deliver) {
  auto job = std::make_shared<resolve_job>();
  job->deliver_ = std::move(deliver);
  const bool started = run_detached(
      [job, requests = std::move(requests), services = std::move(services)]() mutable {
        std::vector<resolved_page> results = run_resolve_requests(requests, services);
        // The services' functions are released here, on this thread, before the
        // window is told: nothing of the job outlives the last word to the window
        // but the job itself.
        services = {};
        std::lock_guard lock(job->mutex_);
        job->results_ = std::move(results);
        job->done_ = true;
        if (job->deliver_) job->deliver_();
      });
  return started ? job : nullptr;
}

std::vector<resolved_page> resolve_job::take_results() {
  std::lock_guard lock(mutex_);
  return done_ ? std::move(results_) : std::vector<resolved_page>{};
}

void resolve_job::abandon() {
  std::lock_guard lock(mutex_);
  deliver_ = nullptr;
}

}  // namespace sharelink::app
