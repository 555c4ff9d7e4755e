#include "cli/progress.h"

#include <charconv>
#include <vector>

namespace sharelink::cli {
namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

std::string fixed(double value, int decimals) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

// Columns a code point takes on a terminal: two for the wide East Asian ranges.
int columns_of(char32_t c) {
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                    (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

}  // namespace

std::string human_bytes(std::uint64_t bytes) {
  static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 5) {
    value /= 1024.0;
    ++unit;
  }
  return fixed(value, 1) + " " + units[unit];
}

std::string clock_time(std::uint64_t seconds) {
  const auto two = [](std::uint64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  const std::uint64_t hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  if (hours > 0) return std::to_string(hours) + ":" + two(minutes) + ":" + two(rest);
  return std::to_string(minutes) + ":" + two(rest);
}

std::string fit_columns(std::string_view text, int columns) {
  int used = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (i + length > text.size()) length = text.size() - i;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const int width = columns_of(c);
    if (used + width > columns) break;
    used += width;
    i += length;
  }
  return std::string(text.substr(0, i));
}

progress_display::progress_display(std::ostream& err, mode how, int width)
    : err_(err), how_(how), width_(width < 20 ? 20 : width) {}

void progress_display::batch(std::size_t done, std::size_t failed, std::optional<std::size_t> total) {
  std::lock_guard lock(mutex_);
  done_ = done;
  failed_ = failed;
  total_ = total;
  // One address needs no count.
  batch_shown_ = !total || *total > 1;
  redraw(false);
}

void progress_display::around_output(const std::function<void()>& write) {
  std::lock_guard lock(mutex_);
  erase();
  write();
  redraw(true);
}

int progress_display::download_begun() {
  std::lock_guard lock(mutex_);
  const int id = next_id_++;
  downloads_[id].begun = clock_type::now();
  return id;
}

void progress_display::download_moved(int id, const std::string& name, std::uint64_t bytes,
                                      std::optional<std::uint64_t> total) {
  std::lock_guard lock(mutex_);
  download_line& line = downloads_[id];
  line.name = one_line(name);
  line.bytes = bytes;
  line.total = total;
  redraw(false);
}

void progress_display::download_ended(int id, const std::string& name, const download_report& outcome) {
  std::lock_guard lock(mutex_);
  const auto found = downloads_.find(id);
  const double seconds = found == downloads_.end() ? 0.0 : seconds_since(found->second.begun);
  if (found != downloads_.end()) downloads_.erase(found);
  if (outcome.error) {
    ++files_failed_;
  } else {
    ++files_done_;
    bytes_done_ += outcome.bytes;
  }
  if (how_ == mode::lines && !outcome.error) {
    std::string line = "sharelink: " + (outcome.path.empty() ? name : outcome.path) + ": " +
                       (outcome.already_present ? "already there, " : "") + human_bytes(outcome.bytes);
    if (!outcome.already_present && seconds > 0) line += " in " + fixed(seconds, 1) + " s";
    write_line(err_, line);
    err_.flush();
  }
  redraw(true);
}

void progress_display::finish() {
  std::lock_guard lock(mutex_);
  erase();
  if (how_ == mode::live && files_done_ + files_failed_ > 0) {
    const double seconds = seconds_since(begun_);
    std::string line = "sharelink: " + std::to_string(files_done_) +
                       (files_done_ == 1 ? " file, " : " files, ") + human_bytes(bytes_done_) +
                       " in " + clock_time(static_cast<std::uint64_t>(seconds));
    if (seconds > 0.05) line += " (" + human_bytes(static_cast<std::uint64_t>(bytes_done_ / seconds)) + "/s)";
    if (files_failed_ > 0) line += ", " + std::to_string(files_failed_) + " failed";
    write_line(err_, line);
  }
  err_.flush();
  how_ = mode::silent;
}

void progress_display::erase() {
  if (drawn_lines_ == 0) return;
  err_ << "\r\x1b[K";
  for (int i = 1; i < drawn_lines_; ++i) err_ << "\x1b[A\x1b[K";
  drawn_lines_ = 0;
  err_.flush();
}

void progress_display::redraw(bool now) {
  if (how_ != mode::live) return;
  const auto at = clock_type::now();
  if (!now && at - drawn_at_ < std::chrono::milliseconds(100)) return;
  drawn_at_ = at;

  std::vector<std::string> lines;
  if (batch_shown_) {
    std::string line = "sharelink: " + std::to_string(done_);
    if (total_) line += "/" + std::to_string(*total_);
    line += " done";
    if (failed_ > 0) line += ", " + std::to_string(failed_) + " failed";
    const double seconds = seconds_since(begun_);
    if (seconds > 0.5) line += ", " + fixed(static_cast<double>(done_) / seconds, 1) + " addresses/s";
    lines.push_back(std::move(line));
  }
  for (const auto& [id, d] : downloads_) {
    if (d.name.empty()) continue;
    std::string line = d.name + "  " + human_bytes(d.bytes);
    if (d.total) line += " / " + human_bytes(*d.total);
    if (d.total && *d.total > 0)
      line += "  " + std::to_string(std::min<std::uint64_t>(100, d.bytes * 100 / *d.total)) + "%";
    const double seconds = seconds_since(d.begun);
    if (seconds > 0.5 && d.bytes > 0) {
      const double rate = static_cast<double>(d.bytes) / seconds;
      line += "  " + human_bytes(static_cast<std::uint64_t>(rate)) + "/s";
      if (d.total && *d.total > d.bytes)
        line += "  " + clock_time(static_cast<std::uint64_t>((*d.total - d.bytes) / rate)) + " left";
    }
    lines.push_back(std::move(line));
  }
  erase();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) err_ << '\n';
    // One column short of the width: a full line would wrap on some terminals.
    err_ << fit_columns(lines[i], width_ - 1);
  }
  drawn_lines_ = static_cast<int>(lines.size());
  err_.flush();
}

}  // namespace sharelink::cli
