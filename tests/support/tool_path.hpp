#pragma once
// A directory to use as the whole PATH: links to every program of the current PATH except some,
// plus fake programs. For runs without a tool, or with a tool that misbehaves.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace orvane::testing {

// Fills `dir` and returns it as a PATH value. `fakes` are (name, /bin/sh script body).
inline std::string tool_path(const std::filesystem::path& dir, std::set<std::string> without,
                             const std::vector<std::pair<std::string, std::string>>& fakes = {}) {
  namespace fs = std::filesystem;
  fs::create_directories(dir);
  for (const auto& [name, body] : fakes) {
    std::ofstream(dir / name) << "#!/bin/sh\n" << body << "\n";
    ::chmod((dir / name).c_str(), 0755);
    without.insert(name);
  }
  const char* current = std::getenv("PATH");
  std::stringstream path(current ? current : "/usr/bin:/bin");
  for (std::string entry; std::getline(path, entry, ':');) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(entry, ec)) {
      const std::string name = e.path().filename().string();
      if (without.insert(name).second) fs::create_symlink(e.path(), dir / name, ec);
    }
  }
  return dir.string();
}

}  // namespace orvane::testing
