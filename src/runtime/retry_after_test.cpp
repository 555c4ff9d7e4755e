#include <gtest/gtest.h>

#include "runtime/retry_after.h"

namespace sharelink {
namespace {

using std::chrono::seconds;

TEST(RetryAfter, SecondsAndTheThreeDateFormsAreRead) {
  // Sun, 06 Nov 1994 08:49:37 GMT is 784111777 s after the epoch.
  const auto now = std::chrono::system_clock::time_point(seconds(784111777 - 90));
  const struct {
    const char* value;
    std::optional<seconds> wait;
  } cases[] = {
      {"120", seconds(120)},
      {" 0 ", seconds(0)},
      {"99999999999999999999", seconds(0x7fffffff)},
      {"Sun, 06 Nov 1994 08:49:37 GMT", seconds(90)},
      {"Sunday, 06-Nov-94 08:49:37 GMT", seconds(90)},
      {"Sun Nov  6 08:49:37 1994", seconds(90)},
      {"sun, 06 nov 1994 08:49:37 GMT", seconds(90)},
      {"Sat, 05 Nov 1994 08:49:37 GMT", seconds(0)},  // past: no wait
      {"", std::nullopt},
      {"-5", std::nullopt},
      {"1.5", std::nullopt},
      {"soon", std::nullopt},
      {"Sun, 31 Feb 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 PST", std::nullopt},
      {"Sun, 06 Nov 1994 GMT", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(retry_after_delay(c.value, now), c.wait) << c.value;
}

}  // namespace
}  // namespace sharelink
