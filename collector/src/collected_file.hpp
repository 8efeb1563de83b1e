#pragma once
// One collected-data file in the making: groups of command blocks between separator lines, the
// format that the report's parser reads.
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane::collect {

inline constexpr std::string_view kGroupSeparator =
    "=========================nerith=========================";
inline constexpr std::string_view kCommandSeparator =
    "-------------------------nerith-------------------------";

// A command's output made safe for the file: valid UTF-8 (a stray byte becomes U+FFFD), no line
// that the parser would take for a separator, and `if_empty` when nothing but white space is
// left, since the parser drops a block without output.
std::string clean_output(std::string_view raw, std::string_view if_empty);

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

}  // namespace orvane::collect
