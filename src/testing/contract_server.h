#pragma once
// The fetch contract's loopback servers (contract_server.py): where the tests find
// them, and, where the platform allows, starting them from the test process.
#include <optional>
#include <string>

namespace sharelink::testing {

/// Base addresses and the certificate of a running contract server.
struct contract_servers {
  std::string http;     ///< "http://127.0.0.1:P"
  std::string https;    ///< "https://127.0.0.1:Q", its certificate trusted by nobody
  std::string proxy;    ///< "http://127.0.0.1:R", a forward proxy
  std::string ca_file;  ///< PEM file of the https server's certificate
  std::string socks;    ///< "socks5://127.0.0.1:S", a SOCKS5 proxy to the plain server
  /// TLS servers whose certificates ca_file vouches for, but which are made out to
  /// another host, or have expired.
  std::string https_wrong_host, https_expired;
};

/// Starts contract_server.py for the rest of the process and returns its addresses;
/// nullopt where this platform cannot start it (the test runner then passes the
/// addresses of one it started in SHARELINK_TEST_HTTP, SHARELINK_TEST_HTTPS,
/// SHARELINK_TEST_PROXY, SHARELINK_TEST_CA, SHARELINK_TEST_HTTPS_WRONG_HOST and
/// SHARELINK_TEST_HTTPS_EXPIRED) or when it did not come up.
std::optional<contract_servers> start_contract_server();

}  // namespace sharelink::testing
