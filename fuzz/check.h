#pragma once
// Small helpers shared by the fuzz targets: an invariant check that aborts with a
// message (so libFuzzer records the input), and a reader that carves typed values
// and byte runs out of the fuzzer's input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace sharelink::fuzz {

/// Aborts with `what` when `holds` is false.
inline void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

/// Reads the fuzzer's bytes front to back; past the end it yields zeros and empty runs.
class input_reader {
 public:
  input_reader(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  template <class T>
  T take() {
    T value{};
    std::size_t n = rest_.size() < sizeof value ? rest_.size() : sizeof value;
    std::memcpy(&value, rest_.data(), n);
    rest_.remove_prefix(n);
    return value;
  }

  /// Bytes up to the next occurrence of `separator` (which is consumed), or all the rest.
  std::string_view take_until(char separator) {
    std::size_t at = rest_.find(separator);
    std::string_view run = rest_.substr(0, at);
    rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
    return run;
  }

  /// The next `n` bytes (fewer when the input runs out).
  std::string_view take_bytes(std::size_t n) {
    std::string_view run = rest_.substr(0, n);
    rest_.remove_prefix(run.size());
    return run;
  }

  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

/// True when `bytes` is well-formed UTF-8 (no surrogates, no overlong forms, <= U+10FFFF).
inline bool valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > bytes.size()) return false;
    std::uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

inline bool has_zero_byte(std::string_view bytes) {
  return bytes.find('\0') != std::string_view::npos;
}

}  // namespace sharelink::fuzz
