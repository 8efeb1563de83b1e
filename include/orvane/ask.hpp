#pragma once
// The yes/no question before orvane changes a system, with one set of answer rules for every
// command that asks it.
#include <iosfwd>
#include <optional>
#include <string>

namespace orvane {

// Writes `question` followed by "(Y/N):" to `out` and reads lines of `in` until one is exactly
// y, Y, n or N (anything else asks again). True for y/Y, false for n/N; nothing when the input
// ends first.
std::optional<bool> ask_yes_no(const std::string& question, std::istream& in, std::ostream& out);

}  // namespace orvane
