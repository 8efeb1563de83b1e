// Text rules of the collected-data format.
#include <orvane/collected/text.hpp>

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <orvane/util.hpp>

namespace orvane::collected {
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

}  // namespace

std::optional<size_t> find_invalid_utf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Plain ASCII runs are checked sixteen bytes at a time where the processor has SSE2, else
    // eight.
#if defined(__SSE2__)
    if (i + 16 <= n &&
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))) == 0) {
      i += 16;
      continue;
    }
#endif
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
    const size_t len = utf8_sequence_length(text, i);
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

}  // namespace orvane::collected
