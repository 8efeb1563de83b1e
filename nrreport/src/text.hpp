#pragma once
// The page-safe form of the report data.
#include <string>

#include <orvane/json.hpp>

namespace orvane::report {

// Appends the tree to `out` as one line of JSON that is safe inside an HTML <script> element:
// "<", ">", "&", U+2028 and U+2029 are written as \u escapes, so no text of the data can end the
// element or open a comment in it, and invalid UTF-8 in the data is written as U+FFFD.
void append_script_safe_json(const Json& tree, std::string& out);
// About how long the appended text is (the plain JSON's length without numbers and escapes, plus a
// sixteenth): room to reserve so that a large tree is written without moving what came before.
size_t script_safe_json_size(const Json& tree);

}  // namespace orvane::report
