// Text helpers of the report builder.
#include "text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace orvane::report {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

bool is_cont(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

bool is_ascii_space(unsigned char c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
}

// The multi-byte white-space characters: U+0085 and U+00A0 take two bytes, the others three.
bool is_space2(unsigned char a, unsigned char b) {
  return a == 0xC2 && (b == 0x85 || b == 0xA0);
}

bool is_space3(unsigned char a, unsigned char b, unsigned char c) {
  switch (a) {
    case 0xE1:  // U+1680
      return b == 0x9A && c == 0x80;
    case 0xE2:
      if (b == 0x80) return c <= 0x8A ? c >= 0x80 : (c == 0xA8 || c == 0xA9 || c == 0xAF);
      return b == 0x81 && c == 0x9F;  // U+205F
    case 0xE3:                        // U+3000
      return b == 0x80 && c == 0x80;
    default:
      return false;
  }
}

// Length of the well-formed UTF-8 sequence at `i`, or 0 when the bytes from `i` on do not form one;
// then `*bad_at` is where the ill-formed part ends (the first byte that cannot continue it).
size_t utf8_sequence(std::string_view s, size_t i, size_t* bad_at) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    *bad_at = i + 1;
    return 0;
  }
  for (size_t k = 1; k < len; ++k) {
    if (i + k >= s.size()) {
      *bad_at = i + k;
      return 0;
    }
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) {
      *bad_at = i + k;
      return 0;
    }
  }
  return len;
}

}  // namespace

std::optional<size_t> find_invalid_utf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Plain ASCII runs are checked eight bytes at a time.
    if (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & kHighBits) == 0) {
        i += 8;
        continue;
      }
    }
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    size_t bad_at = 0;
    const size_t len = utf8_sequence(text, i, &bad_at);
    if (len == 0) return i;
    i += len;
  }
  return std::nullopt;
}

void normalize_line_ends(std::string& text) {
  size_t r = text.find('\r');
  if (r == std::string::npos) return;
  size_t w = r;
  const size_t n = text.size();
  while (r < n) {
    const char c = text[r++];
    if (c == '\r') {
      text[w++] = '\n';
      if (r < n && text[r] == '\n') ++r;
    } else {
      text[w++] = c;
    }
  }
  text.resize(w);
}

size_t white_space_at(std::string_view text, size_t pos) {
  const size_t left = text.size() - pos;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  if (left >= 1 && is_ascii_space(s[0])) return 1;
  if (left >= 2 && is_space2(s[0], s[1])) return 2;
  if (left >= 3 && is_space3(s[0], s[1], s[2])) return 3;
  return 0;
}

size_t white_space_before(std::string_view text, size_t end) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  // A lead byte never appears inside another sequence, so a white-space pattern that ends here is
  // a whole character of valid UTF-8.
  if (end >= 1 && is_ascii_space(s[end - 1])) return 1;
  if (end >= 2 && is_space2(s[end - 2], s[end - 1])) return 2;
  if (end >= 3 && is_space3(s[end - 3], s[end - 2], s[end - 1])) return 3;
  return 0;
}

std::string_view trim(std::string_view text) {
  size_t b = 0;
  while (b < text.size()) {
    const size_t w = white_space_at(text, b);
    if (w == 0) break;
    b += w;
  }
  size_t e = text.size();
  while (e > b) {
    const size_t w = white_space_before(text, e);
    if (w == 0) break;
    e -= w;
  }
  return text.substr(b, e - b);
}

std::string_view drop_last_chars(std::string_view text, size_t count) {
  size_t end = text.size();
  for (size_t k = 0; k < count; ++k) {
    if (end == 0) return {};
    --end;
    while (end > 0 && is_cont(static_cast<unsigned char>(text[end]))) --end;
  }
  return text.substr(0, end);
}

namespace {

// How string bytes are written: copied as they are, escaped, or decoded as UTF-8.
enum : unsigned char { kPlain, kEscape, kMultiByte };

constexpr std::array<unsigned char, 256> make_byte_classes() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) {
    if (c < 0x20 || c == '"' || c == '\\' || c == '<' || c == '>' || c == '&') {
      t[c] = kEscape;
    } else if (c >= 0x80) {
      t[c] = kMultiByte;
    } else {
      t[c] = kPlain;
    }
  }
  return t;
}
constexpr auto kByteClass = make_byte_classes();

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void write_escaped(unsigned char c, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\f':
      out += "\\f";
      break;
    case '\r':
      out += "\\r";
      break;
    default:  // other control characters, and < > &
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
  }
}

// Whether any of the eight bytes is not plain: a control character, one of " \\ < > &, or above
// 0x7F (bitwise tests on the whole word).
bool word_needs_care(uint64_t w) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  auto has_zero_byte = [](uint64_t v) { return (v - kOnes) & ~v & kHighBits; };
  auto has_byte = [&](char c) {
    return has_zero_byte(w ^ (kOnes * static_cast<unsigned char>(c)));
  };
  const uint64_t below_space = (w - kOnes * 0x20) & ~w & kHighBits;
  return ((w & kHighBits) | below_space | has_byte('"') | has_byte('\\') | has_byte('<') |
          has_byte('>') | has_byte('&')) != 0;
}

void write_string(std::string_view s, std::string& out) {
  out += '"';
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    for (uint64_t w; run + 8 <= n; run += 8) {
      std::memcpy(&w, s.data() + run, 8);
      if (word_needs_care(w)) break;
    }
    while (run < n && kByteClass[static_cast<unsigned char>(s[run])] == kPlain) ++run;
    out.append(s.data() + i, run - i);
    i = run;
    if (i == n) break;
    const auto c = static_cast<unsigned char>(s[i]);
    if (kByteClass[c] == kEscape) {
      write_escaped(c, out);
      ++i;
      continue;
    }
    size_t bad_at = 0;
    const size_t len = utf8_sequence(s, i, &bad_at);
    if (len == 0) {
      // Each maximal ill-formed part becomes one replacement character.
      out += kReplacement;
      i = bad_at;
    } else if (len == 3 && c == 0xE2 && s[i + 1] == '\x80' &&
               (s[i + 2] == '\xA8' || s[i + 2] == '\xA9')) {
      out += s[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 3;
    } else {
      out.append(s.data() + i, len);
      i += len;
    }
  }
  out += '"';
}

void write_value(const Json& v, std::string& out) {
  switch (v.type()) {
    case Json::value_t::string:
      write_string(v.get_ref<const std::string&>(), out);
      break;
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, value] : v.items()) {
        if (!first) out += ',';
        first = false;
        write_string(key, out);
        out += ':';
        write_value(value, out);
      }
      out += '}';
      break;
    }
    case Json::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : v) {
        if (!first) out += ',';
        first = false;
        write_value(item, out);
      }
      out += ']';
      break;
    }
    default:  // null, booleans, numbers and binary values hold no text to escape
      out += v.dump();
      break;
  }
}

}  // namespace

std::string script_safe_json(const Json& tree) {
  std::string out;
  write_value(tree, out);
  return out;
}

}  // namespace orvane::report
