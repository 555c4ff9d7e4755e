#pragma once
// Telling a rule_trace what a reading of answers found: each field and value,
// how it was read, and its text before and after each decode step.
#include <string>

#include "resolve/rule_reading.h"
#include "resolve/rule_trace.h"

namespace sharelink {

/// Tells `trace` what `reading` finds in `answers`, as the reading `what` ("field
/// size", "step list: value token"). Reads the answers again, so that the reading
/// itself spends nothing when nobody listens.
void trace_value(rule_trace& trace, const std::string& what, const value_reading& reading,
                 const rule_answers& answers);

/// Tells `trace` what each of the rule's [fields] and its [records] find in
/// `answers`.
void trace_fields(rule_trace& trace, const service_rule& rule, const rule_answers& answers);

}  // namespace sharelink
