#pragma once
// Fetch limits for tests against loopback servers.
#include "runtime/fetch.h"

namespace sharelink::testing {

/// Limits under which a fault shows within seconds, not minutes; no proxy and the
/// system's certificate authorities, whatever the environment says.
inline fetch_options quick_fetch_options(long stall_timeout_ms = 1000) {
  fetch_options options;
  options.connect_timeout_ms = 2000;
  options.stall_timeout_ms = stall_timeout_ms;
  options.total_timeout_ms = 10000;
  options.proxy = "";
  options.ca_file.clear();
  return options;
}

}  // namespace sharelink::testing
