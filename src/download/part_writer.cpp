#include "download/part_writer.h"

#include <algorithm>

namespace sharelink {

part_writer::part_writer(file_handle file, bool resume, bool hash, const std::atomic<bool>* cancel,
                         std::size_t buffer_size, std::size_t hash_buffers)
    : file_(std::move(file)),
      buffer_size_(buffer_size),
      hash_buffers_(std::max<std::size_t>(hash_buffers, 1)),
      hashing_(hash) {
  buffer_.reserve(buffer_size_);
  if (!resume) {
    if (!file_.truncate()) error_ = file_.error();
    return;
  }
  if (!hash) {
    const std::int64_t end = file_.seek_end();
    if (end < 0) error_ = file_.error();
    else size_ = static_cast<std::uint64_t>(end);
    return;
  }
  // The bytes of an earlier run are read once, here, so the MD5 covers the whole file.
  buffer_.resize(buffer_size_);
  for (;;) {
    if (cancel && cancel->load()) {
      error_ = "interrupted";
      interrupted_ = true;
      break;
    }
    const std::ptrdiff_t n = file_.read(buffer_.data(), buffer_.size());
    if (n < 0) {
      error_ = file_.error();
      break;
    }
    if (n == 0) break;
    hash_.update(std::string_view(buffer_.data(), static_cast<std::size_t>(n)));
    size_ += static_cast<std::uint64_t>(n);
  }
  buffer_.clear();
  if (error_.empty() && file_.seek_end() != static_cast<std::int64_t>(size_))
    error_ = file_.error().empty() ? "the file changed while it was read" : file_.error();
}

part_writer::~part_writer() {
  close();
  if (hasher_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_hasher_.notify_one();
    hasher_.join();
  }
}

void part_writer::hash_loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_hasher_.wait(lock, [&] { return stopping_ || !full_.empty(); });
    if (full_.empty()) return;
    std::string chunk = std::move(full_.front());
    full_.pop_front();
    hasher_busy_ = true;
    lock.unlock();
    hash_.update(chunk);
    chunk.clear();
    lock.lock();
    free_.push_back(std::move(chunk));
    hasher_busy_ = false;
    wake_writer_.notify_all();
  }
}

// Hands the written `chunk` to the hashing thread and puts a free buffer in its
// place, waiting for one when the hashing is behind.
void part_writer::hash_later(std::string& chunk) {
  if (!hasher_.joinable()) {
    for (std::size_t i = 0; i < hash_buffers_; ++i) {
      free_.emplace_back();
      free_.back().reserve(buffer_size_);
    }
    hasher_ = std::thread([this] { hash_loop(); });
  }
  std::unique_lock lock(mutex_);
  full_.push_back(std::move(chunk));
  wake_hasher_.notify_one();
  wake_writer_.wait(lock, [&] { return !free_.empty(); });
  chunk = std::move(free_.back());
  free_.pop_back();
}

void part_writer::wait_for_hashing() {
  if (!hasher_.joinable()) return;
  std::unique_lock lock(mutex_);
  wake_writer_.wait(lock, [&] { return full_.empty() && !hasher_busy_; });
}

bool part_writer::append(std::string_view bytes) {
  if (!error_.empty() || !file_.is_open()) return false;
  size_ += bytes.size();
  while (!bytes.empty()) {
    const std::size_t take = std::min(bytes.size(), buffer_size_ - buffer_.size());
    buffer_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (buffer_.size() == buffer_size_ && !flush()) return false;
  }
  return true;
}

bool part_writer::flush() {
  if (!error_.empty()) return false;
  if (buffer_.empty()) return true;
  if (!file_.write(buffer_)) {
    error_ = file_.error();
    return false;
  }
  // Written while still in this core's cache, then hashed on the other thread.
  if (hashing_) hash_later(buffer_);
  else buffer_.clear();
  return true;
}

bool part_writer::restart() {
  if (!flush()) return false;
  if (!file_.truncate()) {
    error_ = file_.error();
    return false;
  }
  wait_for_hashing();
  hash_ = md5();
  size_ = 0;
  return true;
}

bool part_writer::finish() {
  if (!file_.is_open() || !flush()) return false;
  if (!file_.sync()) {
    error_ = file_.error();
    return false;
  }
  wait_for_hashing();
  if (hashing_) digest_ = md5::to_hex(hash_.finish());
  return true;
}

bool part_writer::close() {
  if (!file_.is_open()) return error_.empty();
  const bool flushed = flush();
  if (!file_.close() && flushed) error_ = file_.error();
  return error_.empty();
}

}  // namespace sharelink
