#pragma once
// The command with addresses: those on the command line, or else standard input
// read one a line as it arrives, resolved as a batch.
#include <iosfwd>

#include "cli/session.h"

namespace sharelink::cli {

/// Resolves (and completes and emits) every address, up to --jobs at once, the
/// results in input order. Returns the exit status: 130 when interrupted, 1 when
/// any address failed or standard input could not be read to its end.
int resolve_address_list(session& run, std::istream& in);

}  // namespace sharelink::cli
