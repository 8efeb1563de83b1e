// Page data of the CPU and synthesis sections, from the collection's one set of figures.
#include <algorithm>
#include <cmath>
#include <string_view>

#include <fmt/format.h>

#include <orvane/collected/collection.hpp>
#include <orvane/collected/format.hpp>
#include <orvane/config.hpp>
#include <orvane/nr_data_collection.hpp>
#include <orvane/nr_report.hpp>

#include "collected_page.hpp"

namespace orvane {
namespace {

using collected::CpuLoad;

double round2(double v) {
  return std::round(v * 100.0) / 100.0;
}

// The parts of CPU time in the order the page stacks and lists them.
constexpr std::pair<const char*, double CpuLoad::*> kParts[] = {
    {"user", &CpuLoad::user},     {"nice", &CpuLoad::nice}, {"system", &CpuLoad::system},
    {"iowait", &CpuLoad::iowait}, {"irq", &CpuLoad::irq},   {"softirq", &CpuLoad::softirq},
    {"steal", &CpuLoad::steal},   {"idle", &CpuLoad::idle}};

Json load_json(const CpuLoad& l) {
  Json row = Json{{"cpu", l.cpu}};
  for (const auto& [name, field] : kParts) row[name] = round2(l.*field);
  return row;
}

Json utilisation_json(const collected::Figures& f) {
  Json average = Json::array();
  Json series = Json{{"time", Json::array()}};
  for (const auto& [name, field] : kParts) series[name] = Json::array();
  if (f.cpu_command.empty()) return Json{{"command", ""}, {"average", average}, {"series", series}};
  if (f.cpu) average.push_back(load_json(*f.cpu));
  for (const auto& l : f.per_cpu) average.push_back(load_json(l));
  for (const auto& s : f.cpu_series) {
    series["time"].push_back(s.time);
    for (const auto& [name, field] : kParts) series[name].push_back(round2(s.load.*field));
  }
  return Json{{"command", f.cpu_command}, {"average", average}, {"series", series}};
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

std::string rate_text(double v) {
  return v >= 100 || v == 0 ? fmt::format("{:.0f}", v) : fmt::format("{:.1f}", v);
}

Json resource(std::string name, std::string item, std::string utilisation, std::string saturation,
              std::string errors) {
  return Json{{"resource", std::move(name)},
              {"item", std::move(item)},
              {"utilisation", std::move(utilisation)},
              {"saturation", std::move(saturation)},
              {"errors", std::move(errors)}};
}

void cpu_resource(Json& rows, const collected::Figures& f) {
  if (!f.cpu && !f.load) return;
  std::string use = "not sampled";
  if (f.cpu) {
    const CpuLoad& a = *f.cpu;
    use = fmt::format(
        "{:.1f}% busy: user {:.1f}%, nice {:.1f}%, system {:.1f}%, irq {:.1f}%, softirq "
        "{:.1f}%, steal {:.1f}%; I/O wait {:.1f}%, idle {:.1f}%",
        a.busy(), a.user, a.nice, a.system, a.irq, a.softirq, a.steal, a.iowait, a.idle);
    if (a.nice >= 10) {
      use += fmt::format(
          "; {:.0f}% went to niced (background) processes, which yield to "
          "normal-priority work",
          a.nice);
    }
    if (f.per_cpu.size() > 1) {
      auto [low, high] = std::minmax_element(
          f.per_cpu.begin(), f.per_cpu.end(),
          [](const CpuLoad& x, const CpuLoad& y) { return x.busy() < y.busy(); });
      if (high->busy() - low->busy() < 5) {
        use += fmt::format("; all {} CPUs equally busy ({:.0f}% to {:.0f}%)", f.per_cpu.size(),
                           low->busy(), high->busy());
      } else {
        use += fmt::format("; busiest CPU {} at {:.1f}%, least busy CPU {} at {:.1f}%", high->cpu,
                           high->busy(), low->cpu, low->busy());
      }
    }
  }
  std::vector<std::string> sat;
  if (f.load) {
    std::string load = fmt::format("load average {:.2f} / {:.2f} / {:.2f}", f.load->one,
                                   f.load->five, f.load->fifteen);
    if (f.cpus > 0) load += fmt::format(" on {} CPUs", f.cpus);
    sat.push_back(load);
  }
  if (auto r = f.runnable_per_cpu()) {
    sat.push_back(fmt::format("{:.1f} tasks running or ready to run per CPU", *r));
  }
  if (f.cpu_pressure) sat.push_back(fmt::format("CPU pressure {:.1f}%", *f.cpu_pressure));
  std::string saturation;
  for (const auto& s : sat) saturation += (saturation.empty() ? "" : "; ") + s;
  rows.push_back(resource("CPUs", "", use, saturation.empty() ? "not collected" : saturation, "-"));
}

void memory_resource(Json& rows, const collected::Figures& f) {
  if (!f.mem_total_kb) return;
  std::string use = "total " + bytes_text(*f.mem_total_kb * 1024.0);
  if (auto p = f.memory_available_percent()) {
    use = fmt::format("{} available of {} ({:.0f}%)", bytes_text(*f.mem_available_kb * 1024.0),
                      bytes_text(*f.mem_total_kb * 1024.0), *p);
  }
  std::string sat = "no swap space";
  if (f.swap_total_kb && *f.swap_total_kb > 0) {
    sat = fmt::format("swap {} used of {}",
                      bytes_text((*f.swap_total_kb - f.swap_free_kb.value_or(0)) * 1024.0),
                      bytes_text(*f.swap_total_kb * 1024.0));
  }
  if (f.memory_pressure) sat += fmt::format("; memory pressure {:.1f}%", *f.memory_pressure);
  rows.push_back(resource("Memory", "", use, sat, "-"));
}

void disk_resources(Json& rows, const collected::Figures& f) {
  const std::string over = f.window > 0 ? fmt::format(" over {:.0f} s", f.window) : "";
  for (const auto& d : f.disks) {
    std::string use = fmt::format("{:.1f}% busy{}: {} reads/s, {} writes/s", d.util, over,
                                  rate_text(d.reads), rate_text(d.writes));
    if (f.window > 0) {
      use += fmt::format(", {}/s read, {}/s written", bytes_text(d.read_bytes),
                         bytes_text(d.write_bytes));
    }
    std::string kind = d.rotational ? (*d.rotational ? "rotating disk" : "SSD") : "disk";
    rows.push_back(resource("Disk", d.device + " (" + kind + ")", use, "-", "-"));
  }
}

void network_resources(Json& rows, const collected::Figures& f) {
  for (const auto& n : f.networks) {
    const std::string use =
        fmt::format("{} packets/s in, {} out; {}/s in, {}/s out", rate_text(n.rx_packets),
                    rate_text(n.tx_packets), bytes_text(n.rx_bytes), bytes_text(n.tx_bytes));
    std::string item = n.device;
    if (!n.state.empty()) item += " (" + n.state + ")";
    rows.push_back(resource("Network device", item, use,
                            fmt::format("{} drops/s", rate_text(n.drops)),
                            fmt::format("{} errors/s", rate_text(n.errors))));
  }
}

void tcp_resource(Json& rows, const collected::Figures& f) {
  if (!f.sockets) return;
  std::string errors = "-";
  if (f.tcp_retransmits && f.tcp_segments) {
    errors = fmt::format("{} retransmitted segments/s of {} sent", rate_text(*f.tcp_retransmits),
                         rate_text(*f.tcp_segments));
  }
  const auto count = [](long long n, const char* one, const char* many) {
    return fmt::format("{} {}", n, n == 1 ? one : many);
  };
  rows.push_back(resource(
      "Kernel TCP queues", "",
      count(f.sockets->tcp_established, "established connection", "established connections") +
          ", " + count(f.sockets->tcp_listening, "listening socket", "listening sockets"),
      count(f.sockets->tcp_timewait, "connection in TIME-WAIT", "connections in TIME-WAIT"),
      errors));
}

Json fact(std::string value, std::string source) {
  return Json{{"value", std::move(value)}, {"source", std::move(source)}};
}

Json facts_json(collected::Collection& data, const collected::Figures& f) {
  Json facts = Json::object();
  facts["system_version"] = fact(f.os_name, "/etc/os-release");
  auto kib = [](const std::optional<long long>& v) {
    return v ? bytes_text(static_cast<double>(*v) * 1024.0) : std::string();
  };
  facts["memory_total"] = fact(kib(f.mem_total_kb), "/proc/meminfo");
  facts["memory_free"] = fact(kib(f.mem_free_kb), "/proc/meminfo");
  facts["memory_available"] = fact(kib(f.mem_available_kb), "/proc/meminfo");
  std::string mhz;
  if (const CommandResult* r = data.find(collected::kCpuFile, "cpu MHz")) {
    const size_t colon = r->res.find(':');
    if (colon != std::string::npos) {
      mhz = r->res.substr(colon + 1);
      mhz.erase(0, mhz.find_first_not_of(" \t"));
      mhz.erase(mhz.find_last_not_of(" \t\n") + 1);
    }
  }
  facts["cpu_mhz"] = fact(mhz, "/proc/cpuinfo, current clock rate");
  Json devices = Json::array();
  for (const auto& a : f.addresses) {
    if (a.device == "lo") continue;
    devices.push_back(Json{{"name", a.device}, {"state", a.state}, {"addresses", a.addresses}});
  }
  facts["network_devices"] = Json{{"value", devices}, {"source", "ip -br addr"}};
  return facts;
}

}  // namespace

namespace report {

Json cpu_tag_data(collected::Collection& data, const collected::Figures& f) {
  Json page = Json::object();
  page["utilisation"] = utilisation_json(f);
  Json groups = Json::array();
  for (const CommandGroup& g : data.groups(collected::kCpuFile)) groups.push_back(g);
  page["groups"] = std::move(groups);
  return page;
}

Json synthesis_tag_data(collected::Collection& data, const collected::Figures& f) {
  Json rows = Json::array();
  cpu_resource(rows, f);
  memory_resource(rows, f);
  disk_resources(rows, f);
  network_resources(rows, f);
  tcp_resource(rows, f);
  return Json{{"resources", rows}, {"facts", facts_json(data, f)}};
}

}  // namespace report

Json DATACOLLECTION::get_cpu_tag_data() {
  collected::Collection data(Config::get_output_path());
  if (!data.readable(collected::kCpuFile)) return Json();
  return report::cpu_tag_data(data, collected::derive_figures(data));
}

Json DATACOLLECTION::get_synthesis_tag_data() {
  collected::Collection data(Config::get_output_path());
  if (!data.readable(collected::kCpuFile)) return Json();
  return report::synthesis_tag_data(data, collected::derive_figures(data));
}

}  // namespace orvane
