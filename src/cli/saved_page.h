#pragma once
// The command with --page: one share page read from a file or standard input.
#include <iosfwd>

#include "cli/session.h"

namespace sharelink::cli {

/// Reads the page --page names (standard input for "-"), at most as many bytes as a
/// fetched page may have, resolves it with the --service given and emits it.
/// Returns the exit status.
int resolve_page_file(session& run, std::istream& in);

}  // namespace sharelink::cli
