#pragma once
// The handler of `orvane profile [-o DIR] recover`.
#include <orvane/json.hpp>

namespace orvane {

// Restores the latest unfinished or applied change set of the journal, after a Y answer: every
// item put back, last first, and read again. Returns 0 when all were verified (the set is then
// removed) or there was nothing to restore or the answer was N; 1 otherwise, keeping the set.
int run_recover(const Json& options);

}  // namespace orvane
