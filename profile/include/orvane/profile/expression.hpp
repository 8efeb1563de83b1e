#pragma once
// Small arithmetic expressions over named numbers (the host facts), evaluated by orvane itself:
// numbers, names, + - * / ( ), comparisons < <= > >= == !=, && || ! (true is 1, false 0) and the
// functions min(a, b, ...), max(a, b, ...), floor(x), ceil(x), round(x), if(c, a, b).
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvane::profile {

using Facts = std::map<std::string, double, std::less<>>;

// A refused expression: the message names the position (1-based character) and what was wrong.
struct ExpressionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The value of `text` with the given facts. Throws ExpressionError on a syntax error, an unknown
// name, a division by zero or a result that is not a finite number.
double evaluate(std::string_view text, const Facts& facts);

// Checks the syntax and that every name is one of `names` (their values do not matter), without
// evaluating: a profile is refused when it is loaded, not when a setting is reached.
void check_expression(std::string_view text, const Facts& names);

}  // namespace orvane::profile
