#include "download/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace sharelink {
namespace {

TEST(Md5, RfcTestSuite) {
  const struct {
    const char* message;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(md5_hex(c.message), c.digest) << c.message;
    // The same message fed a byte at a time.
    md5 hash;
    for (const char* p = c.message; *p; ++p) hash.update(std::string_view(p, 1));
    EXPECT_EQ(md5::to_hex(hash.finish()), c.digest) << c.message;
  }
}

TEST(Md5, FinishStartsANewMessage) {
  md5 hash;
  hash.update("abc");
  hash.finish();
  hash.update("a");
  EXPECT_EQ(md5::to_hex(hash.finish()), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5, RecognisesHexDigests) {
  EXPECT_TRUE(is_md5_hex("d41d8cd98f00b204e9800998ecf8427e"));
  EXPECT_TRUE(is_md5_hex("D41D8CD98F00B204E9800998ECF8427E"));
  EXPECT_FALSE(is_md5_hex("d41d8cd98f00b204e9800998ecf8427"));
  EXPECT_FALSE(is_md5_hex("d41d8cd98f00b204e9800998ecf8427e0"));
  EXPECT_FALSE(is_md5_hex("g41d8cd98f00b204e9800998ecf8427e"));
  EXPECT_FALSE(is_md5_hex(""));
}

}  // namespace
}  // namespace sharelink
