#pragma once
// What the command prints for one address, in its three output forms.
#include <optional>
#include <string>
#include <string_view>

#include "resolve/resolved_file.h"

namespace sharelink::cli {

/// The outcome for one address, every text in UTF-8.
struct resolution {
  std::string address;  ///< as the user gave it
  std::string service;  ///< "kuaichuan", "pan", or empty when it could not be told
  resolved_file fields{{}, {}, {}, "0B", {}};
  /// Nothing when the page was read; otherwise a one-line reason.
  std::optional<std::string> error;
};

/// `text` with every control character (below 0x20, and 0x7F) replaced by a space,
/// so that it stays on one line and cannot steer a terminal.
std::string one_line(std::string_view text);

/// The five fields under the window's labels, one per line, each line ending in "\n".
std::string labelled_report(const resolution& r);

/// One JSON object on one line (no line break), with the keys address, service,
/// download_url, file_name, file_type, size, md5 and error. Bytes that are not UTF-8
/// become U+FFFD, so the result is always valid JSON.
std::string json_report(const resolution& r);

/// True when `text` is exactly 32 hexadecimal digits.
bool is_md5_hex(std::string_view text);

/// An aria2 input-file entry: the download address on its own line, then an indented
/// "out=" line with the file name and, for a 32-digit MD5 text, an indented
/// "checksum=md5=" line. Empty when there is no download address.
/// Bytes in the address that would break the entry (white space, control
/// characters) are percent-escaped; the file name is reduced to a bare name (no
/// directory parts, no control characters) and left out when nothing usable remains.
std::string aria2_entry(const resolution& r);

}  // namespace sharelink::cli
