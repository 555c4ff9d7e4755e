#pragma once
// What the command shows on standard error while it works: on a terminal, a line
// for the batch and one per running download, redrawn in place and removed at the
// end; elsewhere, one line per finished download.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "cli/report.h"

namespace sharelink::cli {

/// Bytes in the largest binary unit that leaves at least 1: "512 B", "1.5 KiB",
/// "12.0 MiB". Independent of the process locale.
std::string human_bytes(std::uint64_t bytes);

/// Whole seconds as "0:07", "12:30" or "1:02:03".
std::string clock_time(std::uint64_t seconds);

/// `text` (UTF-8) cut to at most `columns` terminal columns, a wide (CJK) character
/// counting two, never inside a character.
std::string fit_columns(std::string_view text, int columns);

class progress_display {
 public:
  enum class mode {
    silent,  ///< nothing at all
    lines,   ///< one line per finished download, nothing redrawn
    live,    ///< lines redrawn in place on a terminal `width` columns wide
  };
  progress_display(std::ostream& err, mode how, int width = 80);

  /// The batch so far: addresses done (of `total` when known) and failed.
  void batch(std::size_t done, std::size_t failed, std::optional<std::size_t> total);

  /// Runs `write` (which prints results) with the live lines out of its way.
  void around_output(const std::function<void()>& write);

  /// A download begins; the number names it in the calls below.
  int download_begun();
  void download_moved(int id, const std::string& name, std::uint64_t bytes,
                      std::optional<std::uint64_t> total);
  void download_ended(int id, const std::string& name, const download_report& outcome);

  /// Removes the live lines; after downloads, on a terminal, writes a summary line.
  void finish();

 private:
  struct download_line {
    std::string name;
    std::uint64_t bytes = 0;
    std::optional<std::uint64_t> total;
    std::chrono::steady_clock::time_point begun;
  };
  void redraw(bool now);  // mutex held
  void erase();           // mutex held

  std::mutex mutex_;
  std::ostream& err_;
  mode how_;
  int width_;
  std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point drawn_at_{};
  int drawn_lines_ = 0;
  std::size_t done_ = 0, failed_ = 0;
  std::optional<std::size_t> total_;
  bool batch_shown_ = false;
  int next_id_ = 0;
  std::map<int, download_line> downloads_;
  std::size_t files_done_ = 0, files_failed_ = 0;
  std::uint64_t bytes_done_ = 0;
};

}  // namespace sharelink::cli
