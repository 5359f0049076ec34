#pragma once

// The C API's translations of the library's results, shared by its files.

#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace tolbe::c_api {

// `d` as the C structure, with its findings; nothing when `out` is null.
void to_c(const Diagnostics& d, tolbe_diagnostics* out);

tolbe_interval_summary summary_to_c(const IntervalSummary& s);

// The request of the C structure; out-of-range enum values become ones
// the checks reject.
IntervalRequest request_from_c(const tolbe_interval_request& r);

}  // namespace tolbe::c_api
