#pragma once
// What the collector runs for each collected-data file: groups of commands, in file order.
#include <string>
#include <vector>

#include <orvane/collector.hpp>

namespace orvane::collect {

struct PlannedCommand {
  std::string line;              // the shell command line, run and recorded as written
  std::string tool;              // the program it needs; empty for files and shell built-ins
  std::string if_empty;          // recorded when the command prints nothing
  int sampling = 0;              // seconds the command samples for
  bool cpu_utilisation = false;  // mpstat, or the collector's own sampling without it
  // Counters read at the start or the end of the sampling window (before the first command and
  // after the last), for rates over it.
  enum class Window { none, start, end } window = Window::none;
};

struct PlannedGroup {
  std::string name;
  std::vector<PlannedCommand> commands;
};

struct PlannedFile {
  std::string name;
  std::vector<PlannedGroup> groups;
};

// The six files of a collection, with the sampling of `settings`.
std::vector<PlannedFile> system_files(const CollectorSettings& settings);

}  // namespace orvane::collect
