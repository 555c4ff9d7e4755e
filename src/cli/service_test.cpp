#include "cli/service.h"

#include <gtest/gtest.h>

namespace sharelink::cli {
namespace {

TEST(ServiceOfAddress, PlacesByTheFirstPathSegment) {
  EXPECT_EQ(service_of_address("https://kuai.example.com/d/ABCDEFGHIJKL"), "kuaichuan");
  EXPECT_EQ(service_of_address("http://user:pw@host:8080/d/X?a=1#f"), "kuaichuan");
  EXPECT_EQ(service_of_address("http://pan.example.com/share/link?shareid=1&uk=2"), "pan");
  EXPECT_EQ(service_of_address("HTTP://host/share/"), "pan");
  // Pasted forms a browser would still open.
  EXPECT_EQ(service_of_address("  https:/host/d/ABC"), "kuaichuan");
  EXPECT_EQ(service_of_address("http:\\\\host\\share\\link"), "pan");
  EXPECT_EQ(service_of_address("http:///host/d/ABC"), "kuaichuan");
}

TEST(ServiceOfAddress, LeavesOtherAddressesUnplaced) {
  for (const char* address :
       {"", "http://host", "http://host/", "http://host/d", "http://host/D/ABC", "http://host/x/d/ABC",
        "http://host/shared/link", "http://host?/d/ABC", "http://host#/share/x", "host/d/ABC",
        "/d/ABC", "://host/d/ABC", "a b://host/d/ABC", "http://host\\x\\d\\A"}) {
    EXPECT_EQ(service_of_address(address), std::nullopt) << address;
  }
}

}  // namespace
}  // namespace sharelink::cli
