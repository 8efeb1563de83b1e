// Page data of the CPU and synthesis sections, from the collected-data files of the output
// directory.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string_view>

#include <fmt/format.h>

#include <orvane/collected_figures.hpp>
#include <orvane/config.hpp>
#include <orvane/nr_data_collection.hpp>
#include <orvane/nr_report.hpp>

namespace orvane {
namespace {

double round2(double v) {
  return std::round(v * 100.0) / 100.0;
}

// A collected file's groups: nullopt when it cannot be parsed, empty when it does not exist.
std::optional<std::vector<CommandGroup>> groups_of(const std::string& name) {
  const std::string path = Config::get_output_path() + name;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return std::vector<CommandGroup>{};
  return NrReport::build_info(path);
}

// The CPU utilisation output: mpstat's, or the collector's own sampling of /proc/stat.
const CommandResult* utilisation_output(const std::vector<CommandGroup>& groups) {
  const CommandResult* r = figures::find_output(groups, "mpstat -P ALL");
  return r ? r : figures::find_output(groups, "/proc/stat");
}

Json load_json(const figures::CpuLoad& l) {
  return Json{{"cpu", l.cpu},
              {"user", round2(l.user)},
              {"system", round2(l.system)},
              {"iowait", round2(l.iowait)},
              {"steal", round2(l.steal)},
              {"idle", round2(l.idle)}};
}

Json utilisation_json(const CommandResult* output) {
  Json average = Json::array();
  Json series = Json{{"time", Json::array()},   {"user", Json::array()},  {"system", Json::array()},
                     {"iowait", Json::array()}, {"steal", Json::array()}, {"idle", Json::array()}};
  if (output == nullptr) return Json{{"command", ""}, {"average", average}, {"series", series}};
  const figures::CpuUtilisation u = figures::cpu_utilisation(output->res);
  for (const auto& l : u.average) average.push_back(load_json(l));
  for (const auto& s : u.series) {
    series["time"].push_back(s.time);
    series["user"].push_back(round2(s.load.user));
    series["system"].push_back(round2(s.load.system));
    series["iowait"].push_back(round2(s.load.iowait));
    series["steal"].push_back(round2(s.load.steal));
    series["idle"].push_back(round2(s.load.idle));
  }
  return Json{{"command", output->cmd}, {"average", average}, {"series", series}};
}

Json groups_json(const std::vector<CommandGroup>& groups) {
  Json list = Json::array();
  for (const CommandGroup& g : groups) list.push_back(g);
  return list;
}

Json row(std::string item, std::string value, std::string detail) {
  return Json{
      {"item", std::move(item)}, {"value", std::move(value)}, {"detail", std::move(detail)}};
}

std::string bytes_text(double bytes) {
  static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  size_t u = 0;
  while (bytes >= 1024.0 && u + 1 < std::size(units)) {
    bytes /= 1024.0;
    ++u;
  }
  return u == 0 ? fmt::format("{:.0f} B", bytes) : fmt::format("{:.1f} {}", bytes, units[u]);
}

// "CPU(s):" of lscpu, for the load per CPU when the utilisation lists no single CPU.
long lscpu_cpus(const std::vector<CommandGroup>& groups) {
  const CommandResult* r = figures::find_output(groups, "lscpu");
  if (r == nullptr) return 0;
  constexpr std::string_view kLabel = "CPU(s):";
  size_t at = 0;
  while (at < r->res.size()) {
    const size_t end = std::min(r->res.find('\n', at), r->res.size());
    if (std::string_view(r->res).substr(at, end - at).starts_with(kLabel)) {
      return std::strtol(r->res.c_str() + at + kLabel.size(), nullptr, 10);
    }
    at = end + 1;
  }
  return 0;
}

void cpu_rows(Json& rows, const std::vector<CommandGroup>& cpu_groups) {
  const CommandResult* util_out = utilisation_output(cpu_groups);
  const figures::CpuUtilisation u =
      util_out ? figures::cpu_utilisation(util_out->res) : figures::CpuUtilisation{};
  std::vector<figures::CpuLoad> cpus;
  for (const auto& l : u.average) {
    if (l.cpu != "all") cpus.push_back(l);
  }
  long ncpu = static_cast<long>(cpus.size());
  if (ncpu == 0) ncpu = lscpu_cpus(cpu_groups);

  if (const CommandResult* r = figures::find_output(cpu_groups, "/proc/loadavg")) {
    if (auto load = figures::load_average(r->res)) {
      std::string detail = "over 1, 5 and 15 minutes";
      if (ncpu > 0) {
        detail += fmt::format("; {:.2f} per CPU over 1 minute on {} CPUs",
                              load->one / static_cast<double>(ncpu), ncpu);
      }
      rows.push_back(row(
          "Load average",
          fmt::format("{:.2f} / {:.2f} / {:.2f}", load->one, load->five, load->fifteen), detail));
    }
  }
  if (!u.average.empty() && u.average.front().cpu == "all") {
    const auto& a = u.average.front();
    rows.push_back(row(
        "CPU utilisation", fmt::format("{:.1f}% busy", a.busy()),
        fmt::format("user {:.1f}%, system {:.1f}%, I/O wait {:.1f}%, steal {:.1f}%, idle {:.1f}%; "
                    "mean of {} samples",
                    a.user, a.system, a.iowait, a.steal, a.idle, u.series.size())));
  }
  if (cpus.size() > 1) {
    auto [low, high] = std::minmax_element(
        cpus.begin(), cpus.end(),
        [](const figures::CpuLoad& x, const figures::CpuLoad& y) { return x.busy() < y.busy(); });
    rows.push_back(row("Busiest CPU", fmt::format("CPU {} {:.1f}% busy", high->cpu, high->busy()),
                       fmt::format("least busy: CPU {} {:.1f}%", low->cpu, low->busy())));
  }
}

void memory_rows(Json& rows, const std::vector<CommandGroup>& mem_groups) {
  if (const CommandResult* r = figures::find_output(mem_groups, "/proc/meminfo")) {
    const auto total = figures::meminfo_field(r->res, "MemTotal");
    const auto available = figures::meminfo_field(r->res, "MemAvailable");
    if (total && available && *total > 0) {
      const auto swap_total = figures::meminfo_field(r->res, "SwapTotal").value_or(0);
      const auto swap_free = figures::meminfo_field(r->res, "SwapFree").value_or(0);
      const std::string swap =
          swap_total > 0
              ? fmt::format("swap: {} used of {}", bytes_text((swap_total - swap_free) * 1024.0),
                            bytes_text(swap_total * 1024.0))
              : "no swap space";
      rows.push_back(
          row("Memory",
              fmt::format("{} available of {} ({:.0f}%)", bytes_text(*available * 1024.0),
                          bytes_text(*total * 1024.0),
                          100.0 * static_cast<double>(*available) / static_cast<double>(*total)),
              swap));
    }
  }
  if (const CommandResult* r = figures::find_output(mem_groups, "/proc/pressure/memory")) {
    if (auto some = figures::pressure_some_avg10(r->res)) {
      rows.push_back(row("Memory pressure", fmt::format("{:.2f}%", *some),
                         "share of the last 10 s in which some tasks waited for memory"));
    }
  }
}

void disk_rows(Json& rows, const std::vector<CommandGroup>& disk_groups) {
  const CommandResult* r = figures::find_output(disk_groups, "iostat");
  if (r == nullptr) return;
  auto disks = figures::iostat_devices(r->res);
  std::erase_if(disks, [](const figures::DiskLoad& d) {
    return d.device.starts_with("loop") || d.device.starts_with("ram");
  });
  if (disks.empty()) return;
  std::stable_sort(disks.begin(), disks.end(),
                   [](const auto& a, const auto& b) { return a.util > b.util; });
  disks.resize(std::min<size_t>(disks.size(), 3));
  std::string value, detail;
  for (const auto& d : disks) {
    value += fmt::format("{}{} {:.1f}% busy", value.empty() ? "" : ", ", d.device, d.util);
    detail += fmt::format("{}{}: {:.1f} reads/s, {:.1f} writes/s", detail.empty() ? "" : "; ",
                          d.device, d.reads, d.writes);
  }
  rows.push_back(row("Busiest disks", value, detail));
}

void network_rows(Json& rows, const std::vector<CommandGroup>& net_groups) {
  const CommandResult* r = figures::find_output(net_groups, "/proc/net/dev");
  if (r == nullptr) return;
  auto devices = figures::net_dev(r->res);
  std::erase_if(devices, [](const figures::NetCounters& d) {
    return d.device == "lo" || d.rx_bytes + d.tx_bytes == 0;
  });
  if (devices.empty()) return;
  std::string faults;
  for (const auto& d : devices) {
    const auto errors = d.rx_errors + d.tx_errors;
    const auto dropped = d.rx_dropped + d.tx_dropped;
    if (errors + dropped > 0) {
      faults += fmt::format("{}{}: {} errors, {} dropped", faults.empty() ? "" : "; ", d.device,
                            errors, dropped);
    }
  }
  std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
    return a.rx_bytes + a.tx_bytes > b.rx_bytes + b.tx_bytes;
  });
  devices.resize(std::min<size_t>(devices.size(), 3));
  std::string value;
  for (const auto& d : devices) {
    value += fmt::format("{}{} {} in, {} out", value.empty() ? "" : ", ", d.device,
                         bytes_text(static_cast<double>(d.rx_bytes)),
                         bytes_text(static_cast<double>(d.tx_bytes)));
  }
  rows.push_back(row("Busiest network devices", value,
                     "traffic since boot; " + (faults.empty() ? "no errors or drops" : faults)));
}

}  // namespace

Json DATACOLLECTION::get_cpu_tag_data() {
  const auto groups = groups_of("CPUInfo.txt");
  if (!groups) return Json();
  Json data = Json::object();
  data["utilisation"] = utilisation_json(utilisation_output(*groups));
  data["groups"] = groups_json(*groups);
  return data;
}

Json DATACOLLECTION::get_synthesis_tag_data() {
  const auto cpu_groups = groups_of("CPUInfo.txt");
  if (!cpu_groups) return Json();
  Json rows = Json::array();
  cpu_rows(rows, *cpu_groups);
  if (auto mem = groups_of("memInfo.txt")) memory_rows(rows, *mem);
  if (auto disk = groups_of("diskInfo.txt")) disk_rows(rows, *disk);
  if (auto net = groups_of("netInfo.txt")) network_rows(rows, *net);
  return rows;
}

}  // namespace orvane
