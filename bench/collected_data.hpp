#pragma once
// Synthetic collected-data files of a given size, shaped like the collector's output.
#include <cstddef>
#include <filesystem>
#include <string>

namespace orvane::bench {

// Groups of command blocks with multi-line outputs (mostly ASCII, some UTF-8), about `bytes` long
// and closed by a group separator.
std::string make_collected_data(size_t bytes, unsigned seed = 1);

void write_collected_data(const std::filesystem::path& path, size_t bytes, unsigned seed = 1);

}  // namespace orvane::bench
