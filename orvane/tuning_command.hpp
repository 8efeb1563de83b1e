#pragma once
// The handler of `orvane tuning PROJECT_YAML`.
#include <orvane/json.hpp>

namespace orvane {

// One tuning run of the project file, its outcome, and the Y/N question on applying the result.
// Returns 0 when the run completed, 1 when it could not start, failed or could not put a value
// back, 128 + the signal number when SIGINT, SIGTERM or SIGHUP stopped it (values put back).
int run_tuning(const Json& options);

}  // namespace orvane
