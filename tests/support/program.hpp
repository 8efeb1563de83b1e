#pragma once
// Runs the built orvane program as a user would, with the sample os-release file so that the
// operating-system gate lets it through on hosts that are not Nerith.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <orvane/process.hpp>

#include "temp_dir.hpp"

namespace orvane::testing {

inline std::filesystem::path build_dir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
}

inline std::filesystem::path source_dir() {
  const char* env = std::getenv("ORVANE_SOURCE_DIR");
  return env ? std::filesystem::path(env) : std::filesystem::path(ORVANE_SOURCE_DIR_DEFAULT);
}

inline std::string orvane_bin() {
  return (build_dir() / "bin" / "orvane").string();
}

// Runs `orvane args...` through env(1) with the given extra environment settings.
inline ProcessResult run_orvane(const std::vector<std::string>& args,
                                const std::vector<std::string>& env = {},
                                const RunOptions& options = {}) {
  // The journal of a test run never lies in the host's state directory; a test that needs a
  // state directory of its own names it in `env`, which comes later and wins.
  static const TempDir state;
  std::vector<std::string> argv = {
      "/usr/bin/env", "ORVANE_OS_RELEASE=" + (source_dir() / "examples/nerith-os-release").string(),
      "ORVANE_STATE_DIR=" + (state.path() / "state").string()};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(orvane_bin());
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, options);
}

}  // namespace orvane::testing
