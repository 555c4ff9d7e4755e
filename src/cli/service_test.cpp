#include "cli/service.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "rules/services.h"

namespace sharelink::cli {
namespace {

// The name of the installed service whose addresses find `address`.
std::optional<std::string> service_of_address(std::string_view address) {
  const service_entry* found = process_services().for_address(address);
  return found ? std::optional<std::string>(found->rule.name) : std::nullopt;
}

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
