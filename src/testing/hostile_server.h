#pragma once
// Servers for tests that need to misbehave on the wire: the raw TCP server
// (raw_server.h), and throw-away TLS certificates that no client trusts.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testing/raw_server.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace sharelink::testing {

/// A self-signed certificate and its key (EC P-256), owned.
struct test_certificate {
  std::unique_ptr<X509, void (*)(X509*)> cert{nullptr, X509_free};
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key{nullptr, EVP_PKEY_free};
};

/// A self-signed certificate for `host` (common name and DNS name), valid from
/// now + `not_before` to now + `not_after`. Throws std::runtime_error when OpenSSL fails.
test_certificate make_test_certificate(const std::string& host, std::chrono::seconds not_before,
                                       std::chrono::seconds not_after);

}  // namespace sharelink::testing
