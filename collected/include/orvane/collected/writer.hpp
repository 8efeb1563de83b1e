#pragma once
// The writer of collected-data files: groups of command blocks between separator lines.
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane::collected {

// A command's output made safe for the file: valid UTF-8 (utf8_with_replacement), no line
// that the parser would take for a separator, and `if_empty` when nothing but white space is
// left, since the parser drops a block without output.
std::string clean_output(std::string_view raw, std::string_view if_empty);

// One collected-data file in the making.
class CollectedFile {
 public:
  // Appends a command block to the group, which is created at its first use.
  void add(const std::string& group, const std::string& command, std::string_view output,
           std::string_view if_empty = "(no output)");
  bool empty() const { return groups_.empty(); }
  std::string text() const;
  // Replaces the file at `path` with text() in one step.
  void commit(const std::filesystem::path& path) const;

 private:
  struct Block {
    std::string command;
    std::string output;
  };
  std::vector<std::pair<std::string, std::vector<Block>>> groups_;
};

}  // namespace orvane::collected
