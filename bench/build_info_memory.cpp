// Time and peak memory of one NrReport::build_info call on a large collected-data file.
// Usage: build_info_memory [FILE [MEGABYTES [real]]]; the file is generated when it does not exist,
// shaped like a real collection (many short lines) with "real".
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <orvane/nr_report.hpp>

#include "collected_data.hpp"

namespace {

// A "VmRSS"/"VmHWM" line of /proc/self/status, in kB.
long status_kb(const std::string& key) {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/tmp/orvane_build_info_bench.txt";
  const size_t megabytes = argc > 2 ? std::stoul(argv[2]) : 50;
  if (!std::filesystem::exists(path)) {
    const bool real_shaped = argc > 3 && std::string(argv[3]) == "real";
    orvane::bench::write_collected_data(path, megabytes << 20, 1, real_shaped);
  }
  const double size_mb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);

  // Peak memory counts from here: the high-water mark is reset to the current resident size.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long base_kb = status_kb("VmRSS");
  const auto t0 = std::chrono::steady_clock::now();
  const auto groups = orvane::NrReport::build_info(path);
  const auto t1 = std::chrono::steady_clock::now();
  const long peak_kb = status_kb("VmHWM");

  const double s = std::chrono::duration<double>(t1 - t0).count();
  size_t commands = 0;
  for (const auto& g : groups.value()) commands += g.sub.size();
  std::printf("file %.1f MB, %zu groups, %zu commands\n", size_mb, groups->size(), commands);
  std::printf("build_info %.1f ms, %.0f MB/s\n", s * 1e3, size_mb / s);
  std::printf("peak RSS %.1f MB (%.1f MB before the call): %.2f x the file size\n",
              peak_kb / 1024.0, base_kb / 1024.0, peak_kb / 1024.0 / size_mb);
  return 0;
}
