#include "download/md5.h"

#include <algorithm>
#include <cstring>

namespace sharelink {
namespace {

constexpr std::uint32_t initial_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t load_le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// The four rounds of RFC 1321, section 3.4. F and G are written in forms with one
// operation fewer that give the same bits: F = (x & y) | (~x & z) = z ^ (x & (y ^ z)),
// and G's two terms never share a set bit, so their OR is their sum.
#define SHARELINK_MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);                     \
  a = rotl(a, s) + b;
#define SHARELINK_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHARELINK_MD5_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define SHARELINK_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define SHARELINK_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

}  // namespace

md5::md5() { std::memcpy(state_, initial_state, sizeof state_); }

void md5::blocks(const unsigned char* data, std::size_t count) {
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (; count > 0; --count, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load_le32(data + 4 * i);
    const std::uint32_t aa = a, bb = b, cc = c, dd = d;
#define F SHARELINK_MD5_F
#define G SHARELINK_MD5_G
#define H SHARELINK_MD5_H
#define I SHARELINK_MD5_I
#define STEP SHARELINK_MD5_STEP
    STEP(F, a, b, c, d, x[0], 0xd76aa478u, 7)
    STEP(F, d, a, b, c, x[1], 0xe8c7b756u, 12)
    STEP(F, c, d, a, b, x[2], 0x242070dbu, 17)
    STEP(F, b, c, d, a, x[3], 0xc1bdceeeu, 22)
    STEP(F, a, b, c, d, x[4], 0xf57c0fafu, 7)
    STEP(F, d, a, b, c, x[5], 0x4787c62au, 12)
    STEP(F, c, d, a, b, x[6], 0xa8304613u, 17)
    STEP(F, b, c, d, a, x[7], 0xfd469501u, 22)
    STEP(F, a, b, c, d, x[8], 0x698098d8u, 7)
    STEP(F, d, a, b, c, x[9], 0x8b44f7afu, 12)
    STEP(F, c, d, a, b, x[10], 0xffff5bb1u, 17)
    STEP(F, b, c, d, a, x[11], 0x895cd7beu, 22)
    STEP(F, a, b, c, d, x[12], 0x6b901122u, 7)
    STEP(F, d, a, b, c, x[13], 0xfd987193u, 12)
    STEP(F, c, d, a, b, x[14], 0xa679438eu, 17)
    STEP(F, b, c, d, a, x[15], 0x49b40821u, 22)

    STEP(G, a, b, c, d, x[1], 0xf61e2562u, 5)
    STEP(G, d, a, b, c, x[6], 0xc040b340u, 9)
    STEP(G, c, d, a, b, x[11], 0x265e5a51u, 14)
    STEP(G, b, c, d, a, x[0], 0xe9b6c7aau, 20)
    STEP(G, a, b, c, d, x[5], 0xd62f105du, 5)
    STEP(G, d, a, b, c, x[10], 0x02441453u, 9)
    STEP(G, c, d, a, b, x[15], 0xd8a1e681u, 14)
    STEP(G, b, c, d, a, x[4], 0xe7d3fbc8u, 20)
    STEP(G, a, b, c, d, x[9], 0x21e1cde6u, 5)
    STEP(G, d, a, b, c, x[14], 0xc33707d6u, 9)
    STEP(G, c, d, a, b, x[3], 0xf4d50d87u, 14)
    STEP(G, b, c, d, a, x[8], 0x455a14edu, 20)
    STEP(G, a, b, c, d, x[13], 0xa9e3e905u, 5)
    STEP(G, d, a, b, c, x[2], 0xfcefa3f8u, 9)
    STEP(G, c, d, a, b, x[7], 0x676f02d9u, 14)
    STEP(G, b, c, d, a, x[12], 0x8d2a4c8au, 20)

    STEP(H, a, b, c, d, x[5], 0xfffa3942u, 4)
    STEP(H, d, a, b, c, x[8], 0x8771f681u, 11)
    STEP(H, c, d, a, b, x[11], 0x6d9d6122u, 16)
    STEP(H, b, c, d, a, x[14], 0xfde5380cu, 23)
    STEP(H, a, b, c, d, x[1], 0xa4beea44u, 4)
    STEP(H, d, a, b, c, x[4], 0x4bdecfa9u, 11)
    STEP(H, c, d, a, b, x[7], 0xf6bb4b60u, 16)
    STEP(H, b, c, d, a, x[10], 0xbebfbc70u, 23)
    STEP(H, a, b, c, d, x[13], 0x289b7ec6u, 4)
    STEP(H, d, a, b, c, x[0], 0xeaa127fau, 11)
    STEP(H, c, d, a, b, x[3], 0xd4ef3085u, 16)
    STEP(H, b, c, d, a, x[6], 0x04881d05u, 23)
    STEP(H, a, b, c, d, x[9], 0xd9d4d039u, 4)
    STEP(H, d, a, b, c, x[12], 0xe6db99e5u, 11)
    STEP(H, c, d, a, b, x[15], 0x1fa27cf8u, 16)
    STEP(H, b, c, d, a, x[2], 0xc4ac5665u, 23)

    STEP(I, a, b, c, d, x[0], 0xf4292244u, 6)
    STEP(I, d, a, b, c, x[7], 0x432aff97u, 10)
    STEP(I, c, d, a, b, x[14], 0xab9423a7u, 15)
    STEP(I, b, c, d, a, x[5], 0xfc93a039u, 21)
    STEP(I, a, b, c, d, x[12], 0x655b59c3u, 6)
    STEP(I, d, a, b, c, x[3], 0x8f0ccc92u, 10)
    STEP(I, c, d, a, b, x[10], 0xffeff47du, 15)
    STEP(I, b, c, d, a, x[1], 0x85845dd1u, 21)
    STEP(I, a, b, c, d, x[8], 0x6fa87e4fu, 6)
    STEP(I, d, a, b, c, x[15], 0xfe2ce6e0u, 10)
    STEP(I, c, d, a, b, x[6], 0xa3014314u, 15)
    STEP(I, b, c, d, a, x[13], 0x4e0811a1u, 21)
    STEP(I, a, b, c, d, x[4], 0xf7537e82u, 6)
    STEP(I, d, a, b, c, x[11], 0xbd3af235u, 10)
    STEP(I, c, d, a, b, x[2], 0x2ad7d2bbu, 15)
    STEP(I, b, c, d, a, x[9], 0xeb86d391u, 21)
#undef F
#undef G
#undef H
#undef I
#undef STEP
    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state_[0] = a;
  state_[1] = b;
  state_[2] = c;
  state_[3] = d;
}

void md5::update(std::string_view bytes) {
  auto data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t size = bytes.size();
  length_ += size;
  if (pending_size_ > 0) {
    const std::size_t take = std::min(size, sizeof pending_ - pending_size_);
    std::memcpy(pending_ + pending_size_, data, take);
    pending_size_ += take;
    data += take;
    size -= take;
    if (pending_size_ < sizeof pending_) return;
    blocks(pending_, 1);
    pending_size_ = 0;
  }
  blocks(data, size / 64);
  data += size / 64 * 64;
  size %= 64;
  std::memcpy(pending_, data, size);
  pending_size_ = size;
}

md5::digest md5::finish() {
  const std::uint64_t bits = length_ * 8;
  unsigned char padding[72] = {0x80};
  const std::size_t pad = (pending_size_ < 56 ? 56 : 120) - pending_size_;
  for (int i = 0; i < 8; ++i) padding[pad + i] = static_cast<unsigned char>(bits >> (8 * i));
  update(std::string_view(reinterpret_cast<const char*>(padding), pad + 8));
  digest out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (8 * j));
  *this = md5();
  return out;
}

std::string md5::to_hex(const digest& value) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(32);
  for (std::uint8_t byte : value) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

std::string md5_hex(std::string_view bytes) {
  md5 hash;
  hash.update(bytes);
  return md5::to_hex(hash.finish());
}

}  // namespace sharelink
