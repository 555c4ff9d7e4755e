#pragma once
// Writes a download's bytes to its file through a buffer and hashes them on a
// thread of its own, so that the network is read while earlier bytes are hashed.
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

/// Appends to an open file, computing the MD5 of everything the file holds. Memory
/// stays at a few buffers whatever the size: one being filled, the rest waiting
/// to be hashed. Buffers of 256 KiB stay in a core's own cache between the write
/// and the hash; 1 MiB ones measured slower.
class part_writer {
 public:
  /// Takes `file`, positioned at its start. `resume`: its bytes so far are kept (and,
  /// with `hash`, read and hashed first); otherwise the file is emptied. Without `hash`
  /// no MD5 is computed. Check error() afterwards.
  part_writer(file_handle file, bool resume, bool hash, const std::atomic<bool>* cancel,
              std::size_t buffer_size = 256u << 10, std::size_t hash_buffers = 8);
  ~part_writer();
  part_writer(const part_writer&) = delete;
  part_writer& operator=(const part_writer&) = delete;

  /// Bytes the file holds once everything handed over is written.
  std::uint64_t size() const { return size_; }
  /// Hands bytes over; false once writing has failed (see error()).
  bool append(std::string_view bytes);
  /// Writes out what the buffer holds; false when writing failed.
  bool flush();
  /// Flushes, then empties the file and starts the MD5 over.
  bool restart();
  /// Flushes, writes the file through to the disk and, with `hash`, computes its MD5;
  /// the file stays open (and held). False when writing failed. After restart() it
  /// can be called again.
  bool finish();
  /// Flushes and closes the file; false when writing or closing failed.
  bool close();
  /// The open file, to rename or remove while it is still held.
  file_handle& file() { return file_; }
  /// The MD5 of the file's bytes as hexadecimal digits, once finished (with `hash`).
  const std::string& digest() const { return digest_; }
  /// Why writing failed; empty while it has not.
  const std::string& error() const { return error_; }
  /// True when reading the bytes of an earlier run stopped for the cancel flag.
  bool interrupted() const { return interrupted_; }

 private:
  void hash_later(std::string& chunk);
  void wait_for_hashing();
  void hash_loop();

  file_handle file_;
  std::uint64_t size_ = 0;
  std::size_t buffer_size_;
  std::size_t hash_buffers_;
  std::string buffer_;
  std::string error_;
  bool interrupted_ = false;
  bool hashing_;
  md5 hash_;  ///< fed by the hashing thread once it runs
  std::string digest_;

  // Handing written buffers to the hashing thread.
  std::mutex mutex_;
  std::condition_variable wake_hasher_, wake_writer_;
  std::vector<std::string> free_;  ///< buffers to fill next
  std::deque<std::string> full_;   ///< written, waiting to be hashed, in order
  bool hasher_busy_ = false;
  bool stopping_ = false;
  std::thread hasher_;
};

}  // namespace sharelink
