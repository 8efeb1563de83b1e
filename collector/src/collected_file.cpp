// The writer of collected-data files.
#include "collected_file.hpp"

#include <orvane/util.hpp>

namespace orvane::collect {
namespace {

// Length of the well-formed UTF-8 sequence at `i`, 0 when the byte there starts none.
size_t utf8_length(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  }
  return n;
}

void defuse(std::string& text, std::string_view separator) {
  // "=====nerith=====" becomes "=====(nerith)=====": the same to a reader, no separator to the
  // parser, which matches separators anywhere in the text.
  const size_t half = (separator.size() - 6) / 2;
  std::string replacement =
      std::string(separator.substr(0, half)) + "(nerith)" + std::string(separator.substr(half + 6));
  for (size_t at = text.find(separator); at != std::string::npos;
       at = text.find(separator, at + replacement.size())) {
    text.replace(at, separator.size(), replacement);
  }
}

bool blank(std::string_view s) {
  return s.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

}  // namespace

std::string clean_output(std::string_view raw, std::string_view if_empty) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    const size_t n = utf8_length(raw, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(raw.substr(i, n));
      i += n;
    }
  }
  defuse(out, kGroupSeparator);
  defuse(out, kCommandSeparator);
  if (blank(out)) return std::string(if_empty);
  return out;
}

void CollectedFile::add(const std::string& group, const std::string& command,
                        std::string_view output, std::string_view if_empty) {
  auto it = groups_.begin();
  while (it != groups_.end() && it->first != group) ++it;
  if (it == groups_.end()) {
    groups_.emplace_back(group, std::vector<Block>{});
    it = groups_.end() - 1;
  }
  // A line end inside a name or a command line would break the block's header.
  auto one_line = [](std::string s) {
    for (char& c : s) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    return clean_output(s, "-");
  };
  it->second.push_back(Block{one_line(command), clean_output(output, if_empty)});
}

std::string CollectedFile::text() const {
  std::string text;
  for (const auto& [group, blocks] : groups_) {
    const std::string name = clean_output(group, "-");
    for (size_t i = 0; i < blocks.size(); ++i) {
      if (i > 0) text.append(kCommandSeparator).append("\n");
      text += "Command: " + name + "\nSubCommand: " + blocks[i].command + "\n" + blocks[i].output +
              "\n";
    }
    text.append(kGroupSeparator).append("\n");
  }
  return text;
}

void CollectedFile::commit(const std::filesystem::path& path) const {
  AtomicFile file(path, /*sync=*/false);
  file.write(text());
  file.commit();
}

}  // namespace orvane::collect
