#pragma once
// sharelink --check-rules: rule files read strictly, and their own tests run.
#include <iosfwd>
#include <string>
#include <vector>

namespace sharelink::cli {

/// Reads each rule file of `files` (UTF-8 paths) strictly: a file that cannot be
/// read or used is one line "FILE:LINE:COLUMN: what is wrong" on `err`. Warns on
/// `err` (FILE:LINE:COLUMN: warning: ...) about what reads but reads nothing (see
/// read_rule), about `addresses` that also find an example address of another
/// service (the `address` of a test of another file given, or of a built-in
/// service), about two files naming one service, and about a file without tests.
/// Then runs the tests of each file that read well, one line each on `out`:
/// "ok SERVICE: NAME" or "FAIL SERVICE: NAME: what differs". Returns 2 when a file
/// could not be used, else 1 when a test failed, else 0.
int check_rule_files(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

}  // namespace sharelink::cli
