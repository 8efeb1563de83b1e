#pragma once
// Text rules of the collected-data format: UTF-8 checks, Unicode white space and line ends.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::collected {

// The byte offset of the first byte that does not belong to a well-formed UTF-8 sequence
// (overlong forms, surrogates and values above U+10FFFF included); nullopt for valid text.
std::optional<size_t> find_invalid_utf8(std::string_view text);

// Turns every CR LF pair and every lone CR into LF, in place.
void normalize_line_ends(std::string& text);

// Length in bytes of the white-space character that starts at `pos` (or ends at `end`), 0 when
// there is none. White space is the Unicode set: TAB to CR, the separators U+001C to U+001F,
// blank, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
// Safe on any bytes; on invalid UTF-8 only well-formed white-space sequences count.
size_t white_space_at(std::string_view text, size_t pos);
size_t white_space_before(std::string_view text, size_t end);

// The text without white space at its start and end.
std::string_view trim(std::string_view text);

// The text without its last `count` characters (code points); empty when it has fewer. Expects
// valid UTF-8.
std::string_view drop_last_chars(std::string_view text, size_t count);

}  // namespace orvane::collected
