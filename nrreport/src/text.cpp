// The page-safe form of the report data.
#include "text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include <orvane/util.hpp>

namespace orvane::report {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

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
    size_t bad = 0;
    const size_t len = utf8_sequence_length(s, i, &bad);
    if (len == 0) {
      // Each maximal ill-formed part becomes one replacement character.
      out += kReplacement;
      i += bad;
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
