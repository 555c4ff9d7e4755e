#pragma once
// Writes a download's bytes to its file and hashes them on a thread of its own,
// so that the network is read while the previous megabytes are hashed and written.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "download/files.h"
#include "download/md5.h"

namespace sharelink {

/// Appends to an open file through a few buffers of a megabyte, computing the MD5 of
/// everything the file holds. Memory stays at `buffers` x `buffer_size` whatever the size.
class part_writer {
 public:
  /// Takes `file`, positioned at its start. `hash_existing`: its bytes so far are read
  /// and hashed first (a resumed download); otherwise the file is emptied.
  /// Check error() afterwards.
  part_writer(file_handle file, bool hash_existing, const std::atomic<bool>* cancel,
              std::size_t buffer_size = 1u << 20, std::size_t buffers = 4);
  ~part_writer();
  part_writer(const part_writer&) = delete;
  part_writer& operator=(const part_writer&) = delete;

  /// Bytes the file holds once everything handed over is written.
  std::uint64_t size() const { return size_; }
  /// Hands bytes over; false once writing has failed (see error()).
  bool append(std::string_view bytes);
  /// Waits until everything handed over is written; false when writing failed.
  bool flush();
  /// Flushes, then empties the file and starts the MD5 over.
  bool restart();
  /// Flushes and closes the file; the MD5 of its bytes, as hexadecimal digits.
  /// Empty when writing or closing failed.
  std::string finish();
  /// Why writing failed; empty while it has not.
  std::string error() const;

 private:
  void submit_current();
  void run();

  file_handle file_;
  md5 hash_;
  std::uint64_t size_ = 0;
  std::size_t buffer_size_;
  std::vector<std::string> free_;     ///< buffers ready to fill (the writer's side returns them)
  std::string current_;               ///< being filled by append
  std::deque<std::string> full_;      ///< waiting for the thread
  bool busy_ = false;                 ///< the thread is writing one
  bool stopping_ = false;
  std::string error_;
  mutable std::mutex mutex_;
  std::condition_variable wake_writer_, wake_filler_;
  std::thread thread_;
};

}  // namespace sharelink
