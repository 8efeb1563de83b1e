// Running and timing the collector's commands.
#include "runner.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <fmt/format.h>

#include <orvane/command.hpp>
#include <orvane/log.hpp>

namespace orvane::collect {

bool tool_installed(std::string_view tool) {
  if (tool.empty() || tool.find('/') != std::string_view::npos) return false;
  const char* env = std::getenv("PATH");
  const std::string_view path = env ? env : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string_view::npos) end = path.size();
    // An empty entry stands for the current directory.
    std::string file(end > start ? path.substr(start, end - start) : std::string_view("."));
    file += '/';
    file.append(tool);
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(file.c_str(), X_OK) == 0) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string Runner::run(const std::string& line, std::chrono::seconds samples_for) {
  const auto start = std::chrono::steady_clock::now();
  std::string out = Command::cmd_exec(line, limit_ + samples_for);
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ++timing_.count;
  (samples_for.count() > 0 ? timing_.sampling : timing_.commands) += took;
  Logger().debug(fmt::format("collector: `{}` took {:.3f} s", line, took));
  return out;
}

}  // namespace orvane::collect
