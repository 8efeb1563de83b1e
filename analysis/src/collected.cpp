// Figures of the run for the findings, read with the same readers as the report's sections.
#include "collected.hpp"

#include <filesystem>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <orvane/collected_figures.hpp>

namespace orvane::analysis {

const std::vector<CommandGroup>& Collected::groups(const std::string& file) {
  auto it = files_.find(file);
  if (it != files_.end()) return it->second;
  std::vector<CommandGroup> groups;
  std::error_code ec;
  const std::string path = out_dir_ + file;
  if (std::filesystem::exists(path, ec)) {
    if (auto parsed = NrReport::build_info(path)) groups = std::move(*parsed);
  }
  return files_.emplace(file, std::move(groups)).first->second;
}

std::vector<const CommandResult*> Collected::outputs(const std::string& file,
                                                     const std::string& needle) {
  std::vector<const CommandResult*> out;
  for (const CommandGroup& g : groups(file)) {
    for (const CommandResult& r : g.sub) {
      if (r.cmd.find(needle) != std::string::npos) out.push_back(&r);
    }
  }
  return out;
}

namespace {

void cpu_metrics(Collected& data, std::map<std::string, std::vector<MetricValue>>& m) {
  const auto& groups = data.groups("CPUInfo.txt");
  const CommandResult* util = figures::find_output(groups, "mpstat -P ALL");
  if (util == nullptr) util = figures::find_output(groups, "/proc/stat");
  size_t cpus = 0;
  if (util != nullptr) {
    const auto u = figures::cpu_utilisation(util->res);
    std::vector<MetricValue> busy;
    double all_busy = 0;
    for (const auto& l : u.average) {
      if (l.cpu == "all") {
        all_busy = l.busy();
        m["cpu.busy"].push_back({"", l.busy()});
        m["cpu.iowait"].push_back({"", l.iowait});
        m["cpu.steal"].push_back({"", l.steal});
      } else {
        ++cpus;
        busy.push_back({l.cpu, l.busy()});
      }
    }
    // How much busier each CPU was than the machine as a whole; with one CPU there is no
    // imbalance to speak of.
    if (busy.size() > 1) {
      for (MetricValue& v : busy) v.value -= all_busy;
      m["cpu.imbalance"] = std::move(busy);
    }
  }
  if (const CommandResult* r = figures::find_output(groups, "/proc/loadavg")) {
    if (auto load = figures::load_average(r->res); load && cpus > 0) {
      m["load.per_cpu"].push_back({"", load->one / static_cast<double>(cpus)});
    }
  }
}

void memory_metrics(Collected& data, std::map<std::string, std::vector<MetricValue>>& m) {
  const auto& groups = data.groups("memInfo.txt");
  if (const CommandResult* r = figures::find_output(groups, "/proc/meminfo")) {
    const auto total = figures::meminfo_field(r->res, "MemTotal");
    const auto available = figures::meminfo_field(r->res, "MemAvailable");
    if (total && available && *total > 0) {
      m["memory.available"].push_back(
          {"", 100.0 * static_cast<double>(*available) / static_cast<double>(*total)});
    }
    const auto swap_total = figures::meminfo_field(r->res, "SwapTotal");
    const auto swap_free = figures::meminfo_field(r->res, "SwapFree");
    if (swap_total && swap_free && *swap_total > 0) {
      m["swap.used"].push_back({"", 100.0 * static_cast<double>(*swap_total - *swap_free) /
                                        static_cast<double>(*swap_total)});
    }
  }
  if (const CommandResult* r = figures::find_output(groups, "/proc/pressure/memory")) {
    if (auto some = figures::pressure_some_avg10(r->res)) {
      m["memory.pressure"].push_back({"", *some});
    }
  }
}

void disk_metrics(Collected& data, std::map<std::string, std::vector<MetricValue>>& m) {
  const CommandResult* r = figures::find_output(data.groups("diskInfo.txt"), "iostat");
  if (r == nullptr) return;
  for (const auto& d : figures::iostat_devices(r->res)) {
    m["disk.util"].push_back({d.device, d.util});
  }
}

std::vector<figures::NetCounters> counters(Collected& data) {
  const CommandResult* r = figures::find_output(data.groups("netInfo.txt"), "/proc/net/dev");
  auto devices = r ? figures::net_dev(r->res) : std::vector<figures::NetCounters>{};
  std::erase_if(devices, [](const auto& d) { return d.device == "lo"; });
  return devices;
}

}  // namespace

std::map<std::string, std::vector<MetricValue>> metrics(Collected& data) {
  std::map<std::string, std::vector<MetricValue>> m;
  cpu_metrics(data, m);
  memory_metrics(data, m);
  disk_metrics(data, m);
  for (const auto& d : counters(data)) {
    m["net.errors"].push_back({d.device, static_cast<double>(d.rx_errors + d.tx_errors)});
    m["net.drops"].push_back({d.device, static_cast<double>(d.rx_dropped + d.tx_dropped)});
  }
  return m;
}

Json network_devices(Collected& data) {
  std::vector<figures::LinkState> links;
  if (const CommandResult* r = figures::find_output(data.groups("netInfo.txt"), "ip -s link")) {
    links = figures::ip_links(r->res);
  }
  Json rows = Json::array();
  for (const auto& d : counters(data)) {
    std::string state = "-";
    std::string mtu = "-";
    for (const auto& l : links) {
      if (l.device == d.device) {
        state = l.state.empty() ? "-" : l.state;
        mtu = l.mtu > 0 ? std::to_string(l.mtu) : "-";
      }
    }
    std::vector<std::string> faults;
    if (d.rx_errors) faults.push_back(fmt::format("{} receive errors", d.rx_errors));
    if (d.tx_errors) faults.push_back(fmt::format("{} transmit errors", d.tx_errors));
    if (d.rx_dropped) faults.push_back(fmt::format("{} received packets dropped", d.rx_dropped));
    if (d.tx_dropped) faults.push_back(fmt::format("{} sent packets dropped", d.tx_dropped));
    std::string finding;
    if (!faults.empty()) {
      finding = fmt::format("{} since boot", fmt::join(faults, ", "));
    } else if (state == "DOWN") {
      finding = "the link is down";
    } else {
      finding = "no errors or drops";
    }
    rows.push_back(Json{{"device", d.device},
                        {"state", state},
                        {"mtu", mtu},
                        {"rx_packets", d.rx_packets},
                        {"rx_errors", d.rx_errors},
                        {"rx_dropped", d.rx_dropped},
                        {"tx_packets", d.tx_packets},
                        {"tx_errors", d.tx_errors},
                        {"tx_dropped", d.tx_dropped},
                        {"finding", finding}});
  }
  return rows;
}

}  // namespace orvane::analysis
