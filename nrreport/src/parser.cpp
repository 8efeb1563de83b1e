// The collected-data file parser: groups of command blocks between separator lines.
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/util.hpp>

#include "text.hpp"

namespace orvane {
namespace {

constexpr std::string_view kGroupSeparator =
    "=========================nerith=========================";
constexpr std::string_view kCommandSeparator =
    "-------------------------nerith-------------------------";
constexpr std::string_view kGroupLabel = "Command: ";
constexpr std::string_view kCommandLabel = "SubCommand: ";

// A fault in the file's content; its text becomes the second half of the error message.
struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Calls `piece` with every part of `text` between occurrences of `sep`, empty parts included.
template <typename F>
void split(std::string_view text, std::string_view sep, F&& piece) {
  size_t start = 0;
  while (true) {
    const void* hit =
        text.size() - start >= sep.size()
            ? ::memmem(text.data() + start, text.size() - start, sep.data(), sep.size())
            : nullptr;
    if (hit == nullptr) {
      piece(text.substr(start));
      return;
    }
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    piece(text.substr(start, at - start));
    start = at + sep.size();
  }
}

// A header line shortened for an error message, cut at a character boundary.
std::string excerpt(std::string_view line) {
  constexpr size_t kMax = 80;
  if (line.size() <= kMax) return std::string(line);
  size_t end = kMax;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  return std::string(line.substr(0, end)) + "...";
}

// The text after the first `label` of the line, up to a second `label` if there is one.
std::string_view labelled_value(std::string_view line, std::string_view label, int line_no) {
  const size_t at = line.find(label);
  if (at == std::string_view::npos) {
    throw ParseError("line " + std::to_string(line_no) + " of a command block lacks \"" +
                     std::string(label) + "\": \"" + excerpt(line) + "\"");
  }
  std::string_view rest = line.substr(at + label.size());
  return rest.substr(0, rest.find(label));
}

std::vector<CommandGroup> parse(std::string& content) {
  if (auto bad = report::find_invalid_utf8(content)) {
    throw ParseError("invalid UTF-8 at byte " + std::to_string(*bad));
  }
  report::normalize_line_ends(content);
  const std::string_view body =
      report::drop_last_chars(report::trim(content), kGroupSeparator.size());

  std::vector<CommandGroup> groups;
  split(body, kGroupSeparator, [&](std::string_view group_text) {
    CommandGroup group;
    split(report::trim(group_text), kCommandSeparator, [&](std::string_view block_text) {
      const std::string_view block = report::trim(block_text);
      const size_t nl1 = block.find('\n');
      if (nl1 == std::string_view::npos) return;
      const size_t nl2 = block.find('\n', nl1 + 1);
      if (nl2 == std::string_view::npos) return;
      const std::string_view name = labelled_value(block.substr(0, nl1), kGroupLabel, 1);
      const std::string_view cmd =
          labelled_value(block.substr(nl1 + 1, nl2 - nl1 - 1), kCommandLabel, 2);
      group.group.assign(name);
      group.sub.push_back(CommandResult{std::string(cmd), std::string(block.substr(nl2 + 1))});
    });
    if (!group.group.empty() && !group.sub.empty()) groups.push_back(std::move(group));
  });
  return groups;
}

}  // namespace

void to_json(Json& j, const CommandResult& r) {
  j = Json{{"cmd", r.cmd}, {"res", r.res}};
}

void to_json(Json& j, const CommandGroup& g) {
  j = Json{{"group", g.group}, {"sub", g.sub}};
}

std::optional<std::vector<CommandGroup>> NrReport::build_info(const std::string& fname) {
  std::error_code ec;
  if (!std::filesystem::exists(fname, ec)) {
    Logger().warning("Report file not found: " + fname);
    return std::vector<CommandGroup>{};
  }
  try {
    std::string content = read_file(fname);
    return parse(content);
  } catch (const std::exception& e) {
    Logger().error("Failed parse file \"" + fname + "\": " + e.what());
    return std::nullopt;
  }
}

}  // namespace orvane
