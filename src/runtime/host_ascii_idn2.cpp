#include "runtime/host_ascii.h"

#include <idn2.h>

#include "codec/ascii_case.h"

namespace sharelink {

std::optional<std::string> host_to_ascii(std::string_view utf8_host) {
  const std::string input(utf8_host);
  char* output = nullptr;
  // As curl asks: the mapping of today's IDNA, and the older one for the few names
  // it no longer allows.
  int status = idn2_to_ascii_8z(input.c_str(), &output, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
  if (status == IDN2_DISALLOWED) status = idn2_to_ascii_8z(input.c_str(), &output, IDN2_TRANSITIONAL | IDN2_NFC_INPUT);
  if (status != IDN2_OK || output == nullptr) return std::nullopt;
  std::string ascii = ascii_lower(output);
  idn2_free(output);
  return ascii;
}

}  // namespace sharelink
