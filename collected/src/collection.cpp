// The parsed files of one output directory and the figures derived from them. The needles name
// the collector's command lines (collector/src/system_commands.cpp).
#include <orvane/collected/collection.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <orvane/collected/format.hpp>
#include <orvane/collected/parser.hpp>

namespace orvane::collected {

Collection::Parsed& Collection::parsed(std::string_view file) {
  auto it = files_.find(file);
  if (it != files_.end()) return it->second;
  Parsed p;
  const std::string path = dir_ + std::string(file);
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    try {
      p.groups = read_groups(path);
    } catch (const std::exception&) {
      p.readable = false;
    }
  }
  return files_.emplace(std::string(file), std::move(p)).first->second;
}

const std::vector<CommandGroup>& Collection::groups(std::string_view file) {
  return parsed(file).groups;
}

bool Collection::readable(std::string_view file) {
  return parsed(file).readable;
}

const CommandResult* Collection::find(std::string_view file, std::string_view needle) {
  return find_output(groups(file), needle);
}

std::vector<const CommandResult*> Collection::find_all(std::string_view file,
                                                       std::string_view needle) {
  return find_outputs(groups(file), needle);
}

bool virtual_disk(std::string_view device) {
  return device.starts_with("loop") || device.starts_with("ram") || device.starts_with("zram");
}

std::optional<double> Figures::runnable_per_cpu() const {
  if (!runnable || cpus <= 0) return std::nullopt;
  return *runnable / static_cast<double>(cpus);
}

std::optional<double> Figures::memory_available_percent() const {
  if (!mem_total_kb || !mem_available_kb || *mem_total_kb <= 0) return std::nullopt;
  return 100.0 * static_cast<double>(*mem_available_kb) / static_cast<double>(*mem_total_kb);
}

namespace {

// "Label:   value" of lscpu.
long lscpu_number(std::string_view text, std::string_view label) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    if (line.starts_with(label)) {
      return std::strtol(std::string(line.substr(label.size())).c_str(), nullptr, 10);
    }
    at = end + 1;
  }
  return 0;
}

// The start and end readings of a window command, and the seconds between them.
struct Window {
  const CommandResult* start = nullptr;
  const CommandResult* end = nullptr;
  double seconds = 0;
};

Window window_of(Collection& data, std::string_view file, std::string_view command) {
  Window w;
  for (const CommandGroup& g : data.groups(file)) {
    if (g.group != kWindowGroup) continue;
    std::vector<const CommandResult*> blocks;
    for (const CommandResult& r : g.sub) {
      if (r.cmd == command) blocks.push_back(&r);
    }
    if (blocks.size() < 2) continue;
    const auto t0 = uptime_seconds(blocks.front()->res);
    const auto t1 = uptime_seconds(blocks.back()->res);
    if (t0 && t1 && *t1 > *t0) {
      w = Window{blocks.front(), blocks.back(), *t1 - *t0};
    }
  }
  return w;
}

double rate(unsigned long long before, unsigned long long after, double seconds) {
  return after >= before ? static_cast<double>(after - before) / seconds : 0.0;
}

void cpu_figures(Collection& data, Figures& f) {
  const CommandResult* util = data.find(kCpuFile, "mpstat -P ALL");
  if (util == nullptr) util = data.find(kCpuFile, "/proc/stat");
  if (util != nullptr) {
    f.cpu_command = util->cmd;
    CpuUtilisation u = cpu_utilisation(util->res);
    for (CpuLoad& l : u.average) {
      if (l.cpu == "all") {
        f.cpu = l;
      } else {
        f.per_cpu.push_back(std::move(l));
      }
    }
    f.cpu_series = std::move(u.series);
  }
  f.cpus = static_cast<long>(f.per_cpu.size());
  if (const CommandResult* r = data.find(kCpuFile, "lscpu")) {
    if (f.cpus == 0) f.cpus = lscpu_number(r->res, "CPU(s):");
    f.numa_nodes = lscpu_number(r->res, "NUMA node(s):");
  }
  if (const CommandResult* r = data.find(kCpuFile, "/proc/loadavg")) f.load = load_average(r->res);
  if (const CommandResult* r = data.find(kMemoryFile, "vmstat"))
    f.runnable = vmstat_runnable(r->res);
  if (!f.runnable && f.load && f.load->runnable > 0) {
    // The reading counts the task that read the file.
    f.runnable = static_cast<double>(f.load->runnable - 1);
  }
  if (const CommandResult* r = data.find(kCpuFile, "/proc/pressure/cpu")) {
    f.cpu_pressure = pressure_some_avg10(r->res);
  }
  if (const CommandResult* r = data.find(kCpuFile, "ps -eo")) f.processes = processes(r->res);
}

void memory_figures(Collection& data, Figures& f) {
  if (const CommandResult* r = data.find(kMemoryFile, "/proc/meminfo")) {
    f.mem_total_kb = meminfo_field(r->res, "MemTotal");
    f.mem_free_kb = meminfo_field(r->res, "MemFree");
    f.mem_available_kb = meminfo_field(r->res, "MemAvailable");
    f.swap_total_kb = meminfo_field(r->res, "SwapTotal");
    f.swap_free_kb = meminfo_field(r->res, "SwapFree");
  }
  if (const CommandResult* r = data.find(kMemoryFile, "/proc/pressure/memory")) {
    f.memory_pressure = pressure_some_avg10(r->res);
  }
}

void disk_figures(Collection& data, Figures& f) {
  if (const CommandResult* r = data.find(kParamFile, "/sys/block/"))
    f.queues = block_queues(r->res);
  auto rotational = [&](const std::string& device) -> std::optional<bool> {
    for (const BlockQueue& q : f.queues) {
      if (q.device == device) return q.rotational;
    }
    return std::nullopt;
  };
  // Whole disks only: those with a queue of their own when the queues were listed.
  auto whole_disk = [&](const std::string& device) {
    if (virtual_disk(device)) return false;
    return f.queues.empty() || rotational(device).has_value();
  };
  const Window w = window_of(data, kDiskFile, kDiskWindowCommand);
  if (w.seconds > 0) {
    f.window = w.seconds;
    const auto before = diskstats(w.start->res);
    for (const DiskCounters& b : diskstats(w.end->res)) {
      if (!whole_disk(b.device)) continue;
      auto a = std::find_if(before.begin(), before.end(),
                            [&](const DiskCounters& d) { return d.device == b.device; });
      if (a == before.end()) continue;
      DiskRate d;
      d.device = b.device;
      d.reads = rate(a->reads, b.reads, w.seconds);
      d.writes = rate(a->writes, b.writes, w.seconds);
      d.read_bytes = 512.0 * rate(a->sectors_read, b.sectors_read, w.seconds);
      d.write_bytes = 512.0 * rate(a->sectors_written, b.sectors_written, w.seconds);
      d.util = std::min(100.0, rate(a->busy_ms, b.busy_ms, w.seconds) / 10.0);
      d.rotational = rotational(b.device);
      f.disks.push_back(std::move(d));
    }
    return;
  }
  if (const CommandResult* r = data.find(kDiskFile, "iostat")) {
    for (const DiskLoad& l : iostat_devices(r->res)) {
      if (!whole_disk(l.device)) continue;
      DiskRate d;
      d.device = l.device;
      d.reads = l.reads;
      d.writes = l.writes;
      d.util = l.util;
      d.rotational = rotational(l.device);
      f.disks.push_back(std::move(d));
    }
  }
}

void network_figures(Collection& data, Figures& f) {
  std::vector<LinkState> links;
  if (const CommandResult* r = data.find(kNetworkFile, "ip -s link")) links = ip_links(r->res);
  if (const CommandResult* r = data.find(kNetworkFile, "ip -br addr")) {
    f.addresses = brief_addresses(r->res);
  }
  Sockets sockets;
  bool have_sockets = false;
  if (const CommandResult* r = data.find(kNetworkFile, "ss -s")) {
    socket_summary(r->res, sockets);
    have_sockets = true;
  }
  if (const CommandResult* r = data.find(kNetworkFile, "ss -ltn")) {
    sockets.tcp_listening = listening_sockets(r->res);
    have_sockets = true;
  }
  if (have_sockets) f.sockets = sockets;

  const Window w = window_of(data, kNetworkFile, kNetWindowCommand);
  if (w.seconds <= 0) return;
  if (f.window == 0) f.window = w.seconds;
  // The reading holds /proc/net/snmp after /proc/net/dev: the device table is the lines after its
  // header up to the first that is no device's counters ("Ip:", "Icmp:", ... are no devices).
  auto devices = [](const std::string& text) {
    std::string_view t(text);
    if (const size_t h = t.find("face |"); h != std::string_view::npos) {
      const size_t nl = t.find('\n', h);
      t = nl == std::string_view::npos ? std::string_view() : t.substr(nl + 1);
    }
    size_t end = 0;
    while (end < t.size()) {
      size_t nl = t.find('\n', end);
      if (nl == std::string_view::npos) nl = t.size();
      if (net_dev(t.substr(end, nl - end)).empty()) break;
      end = nl + 1;
    }
    return net_dev(t.substr(0, std::min(end, t.size())));
  };
  const auto before = devices(w.start->res);
  for (const NetCounters& b : devices(w.end->res)) {
    if (b.device == "lo") continue;
    auto a = std::find_if(before.begin(), before.end(),
                          [&](const NetCounters& d) { return d.device == b.device; });
    if (a == before.end()) continue;
    NetRate n;
    n.device = b.device;
    for (const LinkState& l : links) {
      if (l.device == b.device) {
        n.state = l.state;
        n.mtu = l.mtu;
      }
    }
    n.rx_packets = rate(a->rx_packets, b.rx_packets, w.seconds);
    n.tx_packets = rate(a->tx_packets, b.tx_packets, w.seconds);
    n.rx_bytes = rate(a->rx_bytes, b.rx_bytes, w.seconds);
    n.tx_bytes = rate(a->tx_bytes, b.tx_bytes, w.seconds);
    n.errors = rate(a->rx_errors + a->tx_errors, b.rx_errors + b.tx_errors, w.seconds);
    n.drops = rate(a->rx_dropped + a->tx_dropped, b.rx_dropped + b.tx_dropped, w.seconds);
    f.networks.push_back(std::move(n));
  }
  const auto out0 = snmp_counter(w.start->res, "Tcp", "OutSegs");
  const auto out1 = snmp_counter(w.end->res, "Tcp", "OutSegs");
  const auto re0 = snmp_counter(w.start->res, "Tcp", "RetransSegs");
  const auto re1 = snmp_counter(w.end->res, "Tcp", "RetransSegs");
  if (out0 && out1) f.tcp_segments = rate(*out0, *out1, w.seconds);
  if (re0 && re1) f.tcp_retransmits = rate(*re0, *re1, w.seconds);
}

}  // namespace

Figures derive_figures(Collection& data) {
  Figures f;
  cpu_figures(data, f);
  memory_figures(data, f);
  disk_figures(data, f);
  network_figures(data, f);
  if (const CommandResult* r = data.find(kParamFile, "/limits")) {
    f.service_limits = service_limits(r->res);
  }
  if (const CommandResult* r = data.find(kParamFile, "os-release")) {
    f.os_name = os_release_field(r->res, "PRETTY_NAME");
  }
  return f;
}

namespace {

double round2(double v) {
  return std::round(v * 100.0) / 100.0;
}

template <typename T>
Json or_null(const std::optional<T>& v) {
  return v ? Json(*v) : Json();
}

Json split_json(const CpuLoad& l) {
  return Json{{"user", round2(l.user)},     {"nice", round2(l.nice)},
              {"system", round2(l.system)}, {"iowait", round2(l.iowait)},
              {"irq", round2(l.irq)},       {"softirq", round2(l.softirq)},
              {"steal", round2(l.steal)},   {"idle", round2(l.idle)}};
}

}  // namespace

Json figures_json(const Figures& f) {
  Json per_cpu = Json::array();
  for (const auto& l : f.per_cpu) {
    Json row = Json{{"cpu", l.cpu}};
    row.update(split_json(l));
    per_cpu.push_back(std::move(row));
  }
  Json load;
  if (f.load) {
    load = Json{{"one", f.load->one}, {"five", f.load->five}, {"fifteen", f.load->fifteen}};
  }
  const auto runnable = f.runnable_per_cpu();
  Json disks = Json::array();
  for (const auto& d : f.disks) {
    disks.push_back(Json{{"device", d.device},
                         {"reads_per_s", round2(d.reads)},
                         {"writes_per_s", round2(d.writes)},
                         {"read_bytes_per_s", std::round(d.read_bytes)},
                         {"write_bytes_per_s", std::round(d.write_bytes)},
                         {"util_percent", round2(d.util)},
                         {"rotational", or_null(d.rotational)}});
  }
  Json networks = Json::array();
  for (const auto& n : f.networks) {
    networks.push_back(Json{{"device", n.device},
                            {"state", n.state},
                            {"rx_packets_per_s", round2(n.rx_packets)},
                            {"tx_packets_per_s", round2(n.tx_packets)},
                            {"rx_bytes_per_s", std::round(n.rx_bytes)},
                            {"tx_bytes_per_s", std::round(n.tx_bytes)},
                            {"errors_per_s", round2(n.errors)},
                            {"drops_per_s", round2(n.drops)}});
  }
  std::optional<long long> swap_used;
  if (f.swap_total_kb && f.swap_free_kb) swap_used = *f.swap_total_kb - *f.swap_free_kb;
  return Json{
      {"window_seconds", round2(f.window)},
      {"cpus", f.cpus},
      {"cpu", f.cpu ? split_json(*f.cpu) : Json()},
      {"per_cpu", per_cpu},
      {"load", load},
      {"runnable_per_cpu", runnable ? Json(round2(*runnable)) : Json()},
      {"memory", Json{{"total_kib", or_null(f.mem_total_kb)},
                      {"free_kib", or_null(f.mem_free_kb)},
                      {"available_kib", or_null(f.mem_available_kb)}}},
      {"swap", Json{{"total_kib", or_null(f.swap_total_kb)}, {"used_kib", or_null(swap_used)}}},
      {"pressure", Json{{"cpu_some_avg10", or_null(f.cpu_pressure)},
                        {"memory_some_avg10", or_null(f.memory_pressure)}}},
      {"disks", disks},
      {"networks", networks},
      {"tcp",
       Json{{"established", f.sockets ? Json(f.sockets->tcp_established) : Json()},
            {"listening", f.sockets ? Json(f.sockets->tcp_listening) : Json()},
            {"segments_per_s", f.tcp_segments ? Json(round2(*f.tcp_segments)) : Json()},
            {"retransmits_per_s", f.tcp_retransmits ? Json(round2(*f.tcp_retransmits)) : Json()}}}};
}

}  // namespace orvane::collected
