// The page-safe form of the report data.
#include "text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The end of the run of plain bytes that starts at `i`: sixteen bytes at a time where the
// processor has SSE2, else eight (the last few bytes one by one).
size_t plain_run_end(std::string_view s, size_t i) {
  const size_t n = s.size();
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i amp = _mm_set1_epi8('&');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    // Signed: the bytes above 0x7F count as below the space too.
    __m128i care = _mm_cmplt_epi8(v, space);
    care = _mm_or_si128(care, _mm_cmpeq_epi8(v, quote));
    care = _mm_or_si128(care, _mm_cmpeq_epi8(v, backslash));
    care = _mm_or_si128(care, _mm_cmpeq_epi8(v, lt));
    care = _mm_or_si128(care, _mm_cmpeq_epi8(v, gt));
    care = _mm_or_si128(care, _mm_cmpeq_epi8(v, amp));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(care));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (uint64_t w; i + 8 <= n; i += 8) {
    std::memcpy(&w, s.data() + i, 8);
    if (word_needs_care(w)) break;
  }
  while (i < n && kByteClass[static_cast<unsigned char>(s[i])] == kPlain) ++i;
  return i;
}

void write_string(std::string_view s, std::string& out) {
  out += '"';
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const size_t run = plain_run_end(s, i);
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

// The length of the tree's plain JSON, short of numbers and escapes.
size_t size_estimate(const Json& v) {
  switch (v.type()) {
    case Json::value_t::string:
      return v.get_ref<const std::string&>().size() + 2;
    case Json::value_t::object: {
      size_t n = 2;
      for (const auto& [key, value] : v.items()) n += key.size() + 4 + size_estimate(value);
      return n;
    }
    case Json::value_t::array: {
      size_t n = 2;
      for (const auto& item : v) n += 1 + size_estimate(item);
      return n;
    }
    default:
      return 8;
  }
}

}  // namespace

void append_script_safe_json(const Json& tree, std::string& out) {
  write_value(tree, out);
}

size_t script_safe_json_size(const Json& tree) {
  const size_t plain = size_estimate(tree);
  return plain + plain / 16;
}

}  // namespace orvane::report
