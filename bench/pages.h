#pragma once
// Pieces the parse benchmarks build their pages from.
#include <cstddef>
#include <string>

namespace sharelink::bench {

inline constexpr std::size_t one_mb = 1u << 20;
inline constexpr std::size_t cap = 8u << 20;  // the fetcher's body cap

/// `head`, then `piece` repeated while the page stays within `size` bytes, then `tail`.
inline std::string repeated(const std::string& head, const std::string& piece, std::size_t size,
                            const std::string& tail = "") {
  std::string page = head;
  page.reserve(size + tail.size());
  while (page.size() + piece.size() <= size) page += piece;
  return page + tail;
}

}  // namespace sharelink::bench
