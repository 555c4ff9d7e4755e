#include "download/part_writer.h"

#include <algorithm>
#include <atomic>

namespace sharelink {

part_writer::part_writer(file_handle file, bool hash_existing, const std::atomic<bool>* cancel,
                         std::size_t buffer_size, std::size_t buffers)
    : file_(std::move(file)), buffer_size_(buffer_size) {
  for (std::size_t i = 0; i < buffers; ++i) {
    free_.emplace_back();
    free_.back().reserve(buffer_size);
  }
  current_.reserve(buffer_size);
  if (hash_existing) {
    // The bytes of an earlier run are read once, here, so the MD5 covers the whole file.
    std::string& chunk = free_.back();
    chunk.resize(buffer_size);
    for (;;) {
      if (cancel && cancel->load()) {
        error_ = "interrupted";
        break;
      }
      const std::ptrdiff_t n = file_.read(chunk.data(), chunk.size());
      if (n < 0) {
        error_ = file_.error();
        break;
      }
      if (n == 0) break;
      hash_.update(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
      size_ += static_cast<std::uint64_t>(n);
    }
    chunk.clear();
    if (error_.empty() && file_.seek_end() != static_cast<std::int64_t>(size_))
      error_ = file_.error().empty() ? "the file changed while it was read" : file_.error();
  } else if (!file_.truncate()) {
    error_ = file_.error();
  }
  if (error_.empty()) thread_ = std::thread([this] { run(); });
}

part_writer::~part_writer() { finish(); }

void part_writer::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_writer_.wait(lock, [&] { return stopping_ || !full_.empty(); });
    if (full_.empty()) return;
    std::string chunk = std::move(full_.front());
    full_.pop_front();
    busy_ = true;
    const bool failed = !error_.empty();
    lock.unlock();
    std::string problem;
    if (!failed) {
      hash_.update(chunk);
      if (!file_.write(chunk)) problem = file_.error();
    }
    chunk.clear();
    lock.lock();
    if (!problem.empty() && error_.empty()) error_ = problem;
    free_.push_back(std::move(chunk));
    busy_ = false;
    wake_filler_.notify_all();
  }
}

void part_writer::submit_current() {
  std::unique_lock lock(mutex_);
  full_.push_back(std::move(current_));
  wake_writer_.notify_one();
  wake_filler_.wait(lock, [&] { return !free_.empty(); });
  current_ = std::move(free_.back());
  free_.pop_back();
}

bool part_writer::append(std::string_view bytes) {
  if (!thread_.joinable()) return false;
  {
    std::lock_guard lock(mutex_);
    if (!error_.empty()) return false;
  }
  size_ += bytes.size();
  while (!bytes.empty()) {
    const std::size_t take = std::min(bytes.size(), buffer_size_ - current_.size());
    current_.append(bytes.data(), take);
    bytes.remove_prefix(take);
    if (current_.size() == buffer_size_) submit_current();
  }
  return true;
}

bool part_writer::flush() {
  if (!thread_.joinable()) return false;
  if (!current_.empty()) submit_current();
  std::unique_lock lock(mutex_);
  wake_filler_.wait(lock, [&] { return full_.empty() && !busy_; });
  return error_.empty();
}

bool part_writer::restart() {
  if (!flush()) return false;
  std::lock_guard lock(mutex_);
  if (!file_.truncate()) {
    error_ = file_.error();
    return false;
  }
  hash_ = md5();
  size_ = 0;
  return true;
}

std::string part_writer::finish() {
  if (thread_.joinable()) {
    flush();
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_writer_.notify_one();
    thread_.join();
  }
  if (file_.is_open() && !file_.close() && error_.empty()) error_ = file_.error();
  if (!error_.empty()) return {};
  return md5::to_hex(hash_.finish());
}

std::string part_writer::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace sharelink
