#pragma once
// The handlers of `orvane collection` and `orvane analysis`.
#include <orvane/json.hpp>

namespace orvane {

// Collects the system's data (and the perf and off-CPU traces asked for) into the output
// directory and writes the report. Returns 0, or 1 with a message on standard error when the
// output directory cannot be written, a command hangs, or the report cannot be written; no
// report is written then.
int run_collection(const Json& options);

// The same, with the analysis of the collected data and its tuning advice in the report.
int run_analysis(const Json& options);

}  // namespace orvane
