#pragma once
// Synthetic collected-data files of a given size, shaped like the collector's output.
#include <cstddef>
#include <filesystem>
#include <string>

namespace orvane::bench {

// Groups of command blocks with multi-line outputs (mostly ASCII, some UTF-8), about `bytes` long
// and closed by a group separator.
std::string make_collected_data(size_t bytes, unsigned seed = 1);

// A file shaped like a real collection: commands of about 9 KB, each many short lines (about 43
// characters, some of them multi-byte text), as `ps`, `sysctl -a`, `dmesg` and `/proc` files print.
std::string make_real_shaped_data(size_t bytes, unsigned seed = 1);

// Writes make_collected_data (or make_real_shaped_data with `real_shaped`) to `path`.
void write_collected_data(const std::filesystem::path& path, size_t bytes, unsigned seed = 1,
                          bool real_shaped = false);

}  // namespace orvane::bench
