#pragma once
// MD5 (RFC 1321), fed in pieces, for checking downloaded files against the MD5
// their share page states.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/hex_escape.h"  // is_md5_hex

namespace sharelink {

/// A running MD5. Feed the bytes with `update`, in any split, then call `finish` once.
class md5 {
 public:
  using digest = std::array<std::uint8_t, 16>;

  md5();
  /// Adds `bytes` to the message.
  void update(std::string_view bytes);
  /// Pads the message, returns its digest and starts a new, empty message.
  digest finish();

  /// The digest as 32 lower-case hexadecimal digits.
  static std::string to_hex(const digest& value);

 private:
  void blocks(const unsigned char* data, std::size_t count);
  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  ///< bytes fed so far
  unsigned char pending_[64];
  std::size_t pending_size_ = 0;
};

/// The MD5 of `bytes` as 32 lower-case hexadecimal digits.
std::string md5_hex(std::string_view bytes);

}  // namespace sharelink
