#pragma once
// For the download tests: random files, and a scripted server that sends a file (or
// the range asked for) the way a test says.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "download/download.h"
#include "download/files.h"
#include "download/md5.h"
#include "testing/raw_server.h"
#include "testing/test_folder.h"

namespace sharelink::download_testing {

using testing::raw_connection;
using testing::test_folder;

inline std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

/// The first byte a request asks for with "Range: bytes=N-", or 0.
inline std::size_t range_start(const std::string& head) {
  const auto at = head.find("\r\nRange: bytes=");
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + 15));
}

/// How a scripted server answers one connection.
struct serving {
  bool ranges = true;               ///< answer a range request with 206
  std::size_t cut_after = SIZE_MAX; ///< body bytes sent before breaking off (or stalling)
  bool stall = false;               ///< at the cut, fall silent instead of hanging up
  bool announce = true;             ///< send Content-Length / Content-Range
};

/// Sends `body` (or its requested range) the way `how` says.
inline void serve(raw_connection& connection, const std::string& body, const serving& how) {
  const std::size_t from = how.ranges ? range_start(connection.request_head()) : 0;
  if (from >= body.size() && from > 0) {
    connection.send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                    std::to_string(body.size()) + "\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  std::string head = from > 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
  if (how.announce) {
    head += "Content-Length: " + std::to_string(body.size() - from) + "\r\n";
    if (from > 0)
      head += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) +
              "/" + std::to_string(body.size()) + "\r\n";
  }
  head += "Connection: close\r\n\r\n";
  if (!connection.send(head)) return;
  const std::string_view rest = std::string_view(body).substr(from);
  if (!connection.send(rest.substr(0, std::min(rest.size(), how.cut_after)))) return;
  if (how.stall && how.cut_after < rest.size()) connection.hold();
}

inline download_job job_for(const std::string& url, const test_folder& folder, const std::string& body) {
  download_job job;
  job.url = url;
  job.referer = "http://127.0.0.1/share/abc";
  job.file_name = "file.bin";
  job.fallback_name = "http://127.0.0.1/share/abc";
  job.expected_size = body.size();
  job.expected_md5 = md5_hex(body);
  job.output_dir = folder.path();
  job.retry.first_pause_ms = 10;
  job.fetch.stall_timeout_ms = 500;
  return job;
}

/// `name` in the folder as the downloader writes its path (the system's separator).
inline std::string native(const test_folder& folder, const std::string& name) {
  return join_path(folder.path(), name);
}

}  // namespace sharelink::download_testing
