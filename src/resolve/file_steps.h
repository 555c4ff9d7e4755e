#pragma once
// Inside one resolution: the steps for each file (file_steps.cpp).
#include <vector>

#include "resolve/share_run.h"

namespace sharelink::share_engine {

/// Runs each step for files, in the rule's order, on the files still without an
/// error: once per file, or once per batch of them, a few at once. What an answer
/// gives ([steps.gives]) becomes its file's fields, a download address made
/// absolute against the answer's address. A step that fails for a file (its
/// request cannot be made, its fetch fails, a [[steps.fail]] holds, its answer
/// gives nothing for the file) is that file's error; the other files go on.
void run_file_steps(share_run& run, std::vector<file_record>& files);

}  // namespace sharelink::share_engine
