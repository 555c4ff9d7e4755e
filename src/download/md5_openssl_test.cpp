// Our MD5 against OpenSSL's over random messages fed in random pieces.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "download/md5.h"

namespace sharelink {
namespace {

std::string openssl_md5(const std::string& message) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(message.data(), message.size(), out, &size, EVP_md5(), nullptr);
  md5::digest digest{};
  std::copy(out, out + 16, digest.begin());
  return md5::to_hex(digest);
}

TEST(Md5, AgreesWithOpenSslOnRandomSplits) {
  std::mt19937_64 random(20261207);
  for (int round = 0; round < 300; ++round) {
    // Mostly short messages around the 56/64-byte padding edges, some long ones.
    const std::size_t size = round % 10 == 0 ? random() % 200000 : random() % 300;
    std::string message(size, '\0');
    for (char& c : message) c = static_cast<char>(random());
    md5 hash;
    std::size_t at = 0;
    while (at < size) {
      const std::size_t piece = std::min<std::size_t>(size - at, random() % 150);
      hash.update(std::string_view(message).substr(at, piece));
      at += piece;
    }
    ASSERT_EQ(md5::to_hex(hash.finish()), openssl_md5(message)) << "size " << size;
  }
}

}  // namespace
}  // namespace sharelink
