#pragma once
// Text forms of tuning values: the text a set script receives for $value, and the form in which
// parameter maps appear in log lines and on the terminal.
#include <string>

#include <orvane/json.hpp>

namespace orvane::tuning {

// Texts as they are; integers in plain decimal; real numbers in the shortest form that reads back
// to the same double, with a decimal for whole values (3.0, 0.5); true/false; other values as JSON.
std::string value_text(const Json& value);

// {'a': '1', 'b': 2, 'c': 0.5}: keys and texts in single quotes (a text holding a single quote
// and no double quote in double quotes), numbers plain, true/false as True/False, null as None;
// an empty map is {}.
std::string map_text(const Json& map);

}  // namespace orvane::tuning
