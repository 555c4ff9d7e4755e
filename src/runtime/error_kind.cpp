#include "runtime/error_kind.h"

namespace sharelink {

std::string_view error_kind_name(error_kind kind) {
  switch (kind) {
    case error_kind::usage: return "usage";
    case error_kind::address: return "address";
    case error_kind::network: return "network";
    case error_kind::timeout: return "timeout";
    case error_kind::tls: return "tls";
    case error_kind::http: return "http";
    case error_kind::page: return "page";
    case error_kind::download: return "download";
    case error_kind::checksum: return "checksum";
    case error_kind::interrupted: return "interrupted";
    case error_kind::password: return "password";
    case error_kind::gone: return "gone";
    case error_kind::login: return "login";
  }
  return "page";
}

}  // namespace sharelink
