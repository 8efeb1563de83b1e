#pragma once
// The reader of collected-data files: text to command groups.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/collected_groups.hpp>

namespace orvane::collected {

// A fault in a file's content; the text names it ("invalid UTF-8 at byte 12", "line 1 of a
// command block lacks ...").
struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The groups of a collected-data text, in file order. Line ends may be LF, CR LF or CR. The text
// is trimmed and its last group separator's worth of characters dropped; blocks of fewer than
// three lines and groups without a name or without blocks are left out. Throws ParseError when the
// text is not UTF-8 or a block of three or more lines lacks its "Command: " or "SubCommand: ".
std::vector<CommandGroup> parse_groups(std::string_view text);

// The groups of the file at `path`. Throws std::system_error when it cannot be read, ParseError
// as above.
std::vector<CommandGroup> read_groups(const std::string& path);

}  // namespace orvane::collected
