// The figures of the run as metrics for the findings, read from the collection's one set of
// derived figures.
#include "collected.hpp"

#include <cmath>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace orvane::analysis {

std::map<std::string, std::vector<MetricValue>> metrics(const collected::Figures& f) {
  std::map<std::string, std::vector<MetricValue>> m;
  if (f.cpu) {
    m["cpu.busy"].push_back({"", f.cpu->busy_normal()});
    m["cpu.nice"].push_back({"", f.cpu->nice});
    m["cpu.iowait"].push_back({"", f.cpu->iowait});
    m["cpu.steal"].push_back({"", f.cpu->steal});
    // How much busier each CPU was than the machine as a whole; with one CPU there is no
    // imbalance to speak of.
    if (f.per_cpu.size() > 1) {
      for (const auto& l : f.per_cpu) {
        m["cpu.imbalance"].push_back({l.cpu, l.busy() - f.cpu->busy()});
      }
    }
  }
  if (f.load && f.cpus > 0) {
    m["load.per_cpu"].push_back({"", f.load->one / static_cast<double>(f.cpus)});
  }
  if (auto r = f.runnable_per_cpu()) m["cpu.runnable"].push_back({"", *r});
  if (f.cpu_pressure) m["cpu.pressure"].push_back({"", *f.cpu_pressure});
  if (auto a = f.memory_available_percent()) m["memory.available"].push_back({"", *a});
  if (f.swap_total_kb && f.swap_free_kb && *f.swap_total_kb > 0) {
    m["swap.used"].push_back({"", 100.0 * static_cast<double>(*f.swap_total_kb - *f.swap_free_kb) /
                                      static_cast<double>(*f.swap_total_kb)});
  }
  if (f.memory_pressure) m["memory.pressure"].push_back({"", *f.memory_pressure});
  for (const auto& d : f.disks) m["disk.util"].push_back({d.device, d.util});
  for (const auto& n : f.networks) {
    m["net.errors"].push_back({n.device, n.errors});
    m["net.drops"].push_back({n.device, n.drops});
  }
  if (f.tcp_segments && f.tcp_retransmits && *f.tcp_segments >= 100) {
    m["tcp.retransmits"].push_back({"", 100.0 * *f.tcp_retransmits / *f.tcp_segments});
  }
  return m;
}

namespace {

std::string per_second(double v) {
  if (v >= 100) return fmt::format("{:.0f}/s", v);
  return fmt::format("{:.1f}/s", v);
}

}  // namespace

Json network_devices(const collected::Figures& f) {
  Json rows = Json::array();
  for (const auto& d : f.networks) {
    std::vector<std::string> faults;
    if (d.errors > 0) faults.push_back(fmt::format("{} errors", per_second(d.errors)));
    if (d.drops > 0) faults.push_back(fmt::format("{} packets dropped", per_second(d.drops)));
    std::string finding;
    if (!faults.empty()) {
      finding = fmt::format("{} while sampled", fmt::join(faults, ", "));
    } else if (d.state == "DOWN") {
      finding = "the link is down";
    } else {
      finding = "no errors or drops";
    }
    rows.push_back(Json{{"device", d.device},
                        {"state", d.state.empty() ? "-" : d.state},
                        {"mtu", d.mtu > 0 ? std::to_string(d.mtu) : "-"},
                        {"rx_packets_s", std::round(d.rx_packets * 10) / 10},
                        {"tx_packets_s", std::round(d.tx_packets * 10) / 10},
                        {"rx_bytes_s", std::round(d.rx_bytes)},
                        {"tx_bytes_s", std::round(d.tx_bytes)},
                        {"errors_s", std::round(d.errors * 10) / 10},
                        {"drops_s", std::round(d.drops * 10) / 10},
                        {"finding", finding}});
  }
  return rows;
}

}  // namespace orvane::analysis
