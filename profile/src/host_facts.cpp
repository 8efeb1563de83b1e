// Host facts from /proc/meminfo, /sys/devices/system/cpu/online and /sys/block.
#include <orvane/profile/host_facts.hpp>

#include <algorithm>
#include <charconv>
#include <sstream>
#include <system_error>

#include <orvane/host_root.hpp>
#include <orvane/util.hpp>

namespace orvane::profile {
namespace {

constexpr double kKiB = 1024;

std::string first_line(const std::filesystem::path& p) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec)) return "";
  std::string text;
  try {
    text = read_file(p);
  } catch (const std::system_error&) {
    return "";
  }
  return text.substr(0, text.find('\n'));
}

// Block devices that are no disk of their own: loop files, RAM disks, compressed RAM, software
// RAID and device-mapper stacks (their disks are listed themselves), optical and floppy drives.
bool is_disk(const std::string& name) {
  static const char* const kNotDisks[] = {"loop", "ram", "zram", "md", "dm-", "sr", "fd", "nbd"};
  return std::none_of(std::begin(kNotDisks), std::end(kNotDisks),
                      [&](const char* prefix) { return name.starts_with(prefix); });
}

}  // namespace

std::vector<int> parse_cpu_list(std::string_view text) {
  std::vector<int> cpus;
  auto number = [&](std::string_view s) {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < 0) {
      throw std::invalid_argument("not a CPU list: " + std::string(text));
    }
    return v;
  };
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view part = text.substr(start, comma - start);
    const size_t dash = part.find('-');
    const int lo = number(part.substr(0, dash));
    const int hi = dash == std::string_view::npos ? lo : number(part.substr(dash + 1));
    if (hi < lo) throw std::invalid_argument("not a CPU list: " + std::string(text));
    for (int c = lo; c <= hi; ++c) cpus.push_back(c);
    start = comma + 1;
  }
  return cpus;
}

HostFacts read_host_facts() {
  HostFacts facts;
  std::istringstream meminfo([] {
    try {
      return read_file(host_path("/proc/meminfo"));
    } catch (const std::system_error&) {
      return std::string();
    }
  }());
  for (std::string line; std::getline(meminfo, line);) {
    if (line.starts_with("MemTotal:")) {
      facts.memory = std::strtod(line.c_str() + 9, nullptr) * kKiB;
      break;
    }
  }
  try {
    facts.cpus = parse_cpu_list(first_line(host_path("/sys/devices/system/cpu/online")));
  } catch (const std::invalid_argument&) {
    facts.cpus.clear();
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(host_path("/sys/block"), ec)) {
    const std::string name = entry.path().filename().string();
    if (!is_disk(name)) continue;
    facts.disks.push_back({name, first_line(entry.path() / "queue/rotational") == "1"});
  }
  std::sort(facts.disks.begin(), facts.disks.end(),
            [](const Disk& a, const Disk& b) { return a.name < b.name; });
  return facts;
}

Facts HostFacts::numbers() const {
  const auto rotating =
      std::count_if(disks.begin(), disks.end(), [](const Disk& d) { return d.rotational; });
  return {{"memory", memory},
          {"cpus", static_cast<double>(cpus.size())},
          {"disks", static_cast<double>(disks.size())},
          {"rotational", static_cast<double>(rotating)},
          {"ssd", static_cast<double>(disks.size() - rotating)},
          {"KiB", kKiB},
          {"MiB", kKiB * kKiB},
          {"GiB", kKiB * kKiB * kKiB}};
}

const Facts& fact_names() {
  static const Facts names = [] {
    Facts f = HostFacts().numbers();
    f["disk_rotational"] = 0;
    return f;
  }();
  return names;
}

}  // namespace orvane::profile
