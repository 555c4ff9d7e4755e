#include "download/part_writer.h"

namespace sharelink {

part_writer::part_writer(file_handle file, bool resume, bool hash, const std::atomic<bool>* cancel,
                         std::size_t buffer_size)
    : file_(std::move(file)), hashing_(hash), buffer_size_(buffer_size) {
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

part_writer::~part_writer() { finish(); }

bool part_writer::append(std::string_view bytes) {
  if (!error_.empty() || !file_.is_open()) return false;
  if (hashing_) hash_.update(bytes);
  size_ += bytes.size();
  if (buffer_.size() + bytes.size() <= buffer_size_) {
    buffer_.append(bytes);
    return true;
  }
  if (!flush()) return false;
  if (bytes.size() >= buffer_size_) {
    if (file_.write(bytes)) return true;
    error_ = file_.error();
    return false;
  }
  buffer_.append(bytes);
  return true;
}

bool part_writer::flush() {
  if (!error_.empty()) return false;
  if (buffer_.empty()) return true;
  if (!file_.write(buffer_)) {
    error_ = file_.error();
    return false;
  }
  buffer_.clear();
  return true;
}

bool part_writer::restart() {
  if (!flush()) return false;
  if (!file_.truncate()) {
    error_ = file_.error();
    return false;
  }
  hash_ = md5();
  size_ = 0;
  return true;
}

bool part_writer::finish() {
  if (!file_.is_open()) return error_.empty();
  const bool flushed = flush();
  if (!file_.close() && flushed) error_ = file_.error();
  if (!error_.empty()) return false;
  if (hashing_) digest_ = md5::to_hex(hash_.finish());
  return true;
}

}  // namespace sharelink
