#pragma once
// Writes a download's bytes to its file through a buffer, hashing them as they arrive.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/files.h"
#include "download/md5.h"

namespace sharelink {

/// Appends to an open file, computing the MD5 of everything the file holds. Memory
/// stays at one buffer whatever the size. The default of 256 KiB fits a core's own
/// cache: measured against both 16 KiB and 1 MiB buffers, it spends the least time
/// per byte between the network's pieces and the system's file cache.
class part_writer {
 public:
  /// Takes `file`, positioned at its start. `resume`: its bytes so far are kept (and,
  /// with `hash`, read and hashed first); otherwise the file is emptied. Without `hash`
  /// no MD5 is computed (finish() then gives an empty text on success too).
  /// Check error() afterwards.
  part_writer(file_handle file, bool resume, bool hash, const std::atomic<bool>* cancel,
              std::size_t buffer_size = 256u << 10);
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
  /// Flushes and closes the file; false when writing or closing failed.
  bool finish();
  /// The MD5 of the file's bytes as hexadecimal digits, once finished (with `hash`).
  const std::string& digest() const { return digest_; }
  /// Why writing failed; empty while it has not.
  const std::string& error() const { return error_; }

 private:
  file_handle file_;
  bool hashing_;
  md5 hash_;
  std::string digest_;
  std::uint64_t size_ = 0;
  std::size_t buffer_size_;
  std::string buffer_;
  std::string error_;
};

}  // namespace sharelink
