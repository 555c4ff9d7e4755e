#include "testing/hostile_server.h"

#include <stdexcept>

#include <openssl/ec.h>
#include <openssl/x509v3.h>

namespace sharelink::testing {

test_certificate make_test_certificate(const std::string& host, std::chrono::seconds not_before,
                                       std::chrono::seconds not_after) {
  test_certificate made;
  made.key.reset(EVP_EC_gen("P-256"));
  made.cert.reset(X509_new());
  X509* cert = made.cert.get();
  bool ok = made.key && cert && X509_set_version(cert, 2) &&
            ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) &&
            X509_gmtime_adj(X509_getm_notBefore(cert), static_cast<long>(not_before.count())) &&
            X509_gmtime_adj(X509_getm_notAfter(cert), static_cast<long>(not_after.count())) &&
            X509_set_pubkey(cert, made.key.get());
  if (ok) {
    X509_NAME* name = X509_get_subject_name(cert);
    ok = X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(host.c_str()), -1,
                                    -1, 0) &&
         X509_set_issuer_name(cert, name);
  }
  if (ok) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    std::string alt = "DNS:" + host;
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alt.c_str());
    ok = extension && X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  }
  if (!ok || !X509_sign(cert, made.key.get(), EVP_sha256()))
    throw std::runtime_error("make_test_certificate: OpenSSL failed");
  return made;
}

}  // namespace sharelink::testing
