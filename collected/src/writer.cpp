// The writer of collected-data files.
#include <orvane/collected/writer.hpp>

#include <orvane/collected/format.hpp>
#include <orvane/util.hpp>

namespace orvane::collected {
namespace {

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
  std::string out = utf8_with_replacement(raw);
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
      text.append(kGroupLabel).append(name).append("\n").append(kCommandLabel);
      text += blocks[i].command + "\n" + blocks[i].output + "\n";
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

}  // namespace orvane::collected
