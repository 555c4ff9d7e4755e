#pragma once
// What the command needs from the platform around its process.
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace sharelink::cli {

/// Readies the standard streams: a write to a closed pipe fails as an error the
/// command can see instead of ending the process with a signal, standard input
/// passes bytes unchanged (no line-end or end-of-file translation), and a console
/// takes UTF-8 in and out and understands the escape sequences that redraw a line.
void prepare_standard_streams();

/// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> utf8_arguments(int argc, char** argv);

/// The file at `path` (UTF-8, any characters) opened for reading bytes, or null
/// with errno set.
std::FILE* open_for_reading(const std::string& path);

/// The contents of the file at `path` (UTF-8, any characters) up to `most` bytes,
/// `cut` telling whether it holds more, or nothing, with the system's reason in
/// `error`.
std::optional<std::string> read_whole_file(const std::string& path, std::size_t most, bool& cut,
                                           std::string& error);

/// True when standard input, or standard error, is an interactive terminal (for
/// standard error: one that can redraw a line in place).
bool standard_input_is_terminal();
bool standard_error_is_terminal();

/// Columns of the terminal on standard error (80 when it cannot be told).
int standard_error_width();

/// From now on, an interrupt (Ctrl+C; on Linux also SIGTERM and SIGHUP) sets `flag`
/// instead of ending the process; a second one ends it at once. A file-size limit
/// (SIGXFSZ) no longer ends the process either: the write that passes it fails with
/// the system's reason. `flag` must live until the process ends.
void catch_interrupts(std::atomic<bool>& flag);

/// The exit status of a run that an interrupt ended: 128 plus the number of the
/// signal that came first (130 for Ctrl+C, 143 for SIGTERM, 129 for SIGHUP).
int interrupted_status();

}  // namespace sharelink::cli
