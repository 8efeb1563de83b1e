// Readers of the figures in the collector's command outputs. Every reader is lenient: a line it
// does not understand is skipped, so a tool of another version costs a figure, never the report.
#include <orvane/collected/figures.hpp>

#include <algorithm>
#include <charconv>
#include <map>

namespace orvane::collected {
namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

template <typename F>
void each_line(std::string_view text, F&& f) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    f(text.substr(start, end - start));
    start = end + 1;
  }
}

// A decimal number; a comma is read as the decimal point (some locales print one).
std::optional<double> number(std::string_view word) {
  std::string w(word);
  for (char& c : w) {
    if (c == ',') c = '.';
  }
  double v = 0;
  auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
  if (ec != std::errc() || end != w.data() + w.size()) return std::nullopt;
  return v;
}

std::optional<unsigned long long> counter(std::string_view word) {
  unsigned long long v = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
  if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return v;
}

// Column positions of a header line, by name.
struct Columns {
  std::map<std::string, size_t, std::less<>> at;
  size_t count = 0;
  std::optional<size_t> find(std::string_view name) const {
    auto it = at.find(name);
    return it == at.end() ? std::nullopt : std::optional<size_t>(it->second);
  }
};

Columns columns_of(const std::vector<std::string_view>& header) {
  Columns c;
  c.count = header.size();
  for (size_t i = 0; i < header.size(); ++i) c.at.emplace(std::string(header[i]), i);
  return c;
}

double value_at(const std::vector<std::string_view>& row, std::optional<size_t> column) {
  if (!column || *column >= row.size()) return 0;
  return number(row[*column]).value_or(0);
}

// The fields of a CpuLoad, for summing and scaling all of them alike.
constexpr double CpuLoad::*kCpuFields[] = {&CpuLoad::user,   &CpuLoad::nice, &CpuLoad::system,
                                           &CpuLoad::iowait, &CpuLoad::irq,  &CpuLoad::softirq,
                                           &CpuLoad::steal,  &CpuLoad::idle};

CpuLoad mean(const std::string& cpu, const std::vector<CpuLoad>& loads) {
  CpuLoad m;
  m.cpu = cpu;
  if (loads.empty()) return m;
  for (const CpuLoad& l : loads) {
    for (auto f : kCpuFields) m.*f += l.*f;
  }
  for (auto f : kCpuFields) m.*f /= static_cast<double>(loads.size());
  return m;
}

}  // namespace

CpuUtilisation cpu_utilisation(std::string_view text) {
  CpuUtilisation result;
  std::optional<Columns> header;
  std::vector<std::string> order;                       // CPUs in printed order
  std::map<std::string, std::vector<CpuLoad>> samples;  // per CPU, for missing averages
  std::vector<CpuLoad> averages;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.empty()) return;
    Columns c = columns_of(w);
    if (c.find("%idle") && c.find("CPU")) {
      header = std::move(c);
      return;
    }
    if (!header || w.size() != header->count) return;
    const size_t cpu_col = *header->find("CPU");
    const auto usr = header->find("%usr");
    if (!number(w[cpu_col]) && w[cpu_col] != "all") return;
    CpuLoad load;
    load.cpu = std::string(w[cpu_col]);
    // mpstat counts guest time apart from user time; it is user time of the guest.
    load.user = value_at(w, usr) + value_at(w, header->find("%guest"));
    load.nice = value_at(w, header->find("%nice")) + value_at(w, header->find("%gnice"));
    load.system = value_at(w, header->find("%sys"));
    load.irq = value_at(w, header->find("%irq"));
    load.softirq = value_at(w, header->find("%soft"));
    load.iowait = value_at(w, header->find("%iowait"));
    load.steal = value_at(w, header->find("%steal"));
    load.idle = value_at(w, header->find("%idle"));
    if (w.front() == "Average:" || w.front() == "Average") {
      averages.push_back(load);
      return;
    }
    if (!samples.contains(load.cpu)) order.push_back(load.cpu);
    samples[load.cpu].push_back(load);
    if (load.cpu == "all") {
      // The time is every word before the CPU column ("09:53:11" or "09:53:11 AM").
      std::string time;
      for (size_t i = 0; i < cpu_col; ++i) {
        if (i > 0) time += ' ';
        time.append(w[i]);
      }
      result.series.push_back({time, load});
    }
  });
  if (!averages.empty()) {
    result.average = std::move(averages);
  } else {
    for (const std::string& cpu : order) result.average.push_back(mean(cpu, samples[cpu]));
  }
  std::stable_partition(result.average.begin(), result.average.end(),
                        [](const CpuLoad& l) { return l.cpu == "all"; });
  return result;
}

std::optional<LoadAverage> load_average(std::string_view text) {
  const auto w = words(text.substr(0, text.find('\n')));
  if (w.size() < 3) return std::nullopt;
  auto a = number(w[0]), b = number(w[1]), c = number(w[2]);
  if (!a || !b || !c) return std::nullopt;
  LoadAverage load{*a, *b, *c};
  if (w.size() > 3) {
    // "running/total": the running count includes the task that read the file.
    if (auto r = counter(w[3].substr(0, w[3].find('/')))) load.runnable = static_cast<long>(*r);
  }
  return load;
}

std::optional<double> vmstat_runnable(std::string_view text) {
  std::optional<size_t> column;
  double sum = 0;
  int count = 0;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.empty()) return;
    if (!column) {
      for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] == "r" && i + 1 < w.size() && w[i + 1] == "b") column = i;
      }
      return;
    }
    if (*column >= w.size()) return;
    if (auto r = counter(w[*column])) {
      sum += static_cast<double>(*r);
      ++count;
    }
  });
  if (count == 0) return std::nullopt;
  return sum / count;
}

std::optional<long long> meminfo_field(std::string_view text, std::string_view name) {
  std::optional<long long> found;
  each_line(text, [&](std::string_view line) {
    if (found || !line.starts_with(name) || line.size() <= name.size() ||
        line[name.size()] != ':') {
      return;
    }
    const auto w = words(line.substr(name.size() + 1));
    if (w.empty()) return;
    if (auto v = counter(w[0])) found = static_cast<long long>(*v);
  });
  return found;
}

std::optional<double> pressure_some_avg10(std::string_view text) {
  std::optional<double> found;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (found || w.size() < 2 || w[0] != "some") return;
    for (size_t i = 1; i < w.size(); ++i) {
      if (w[i].starts_with("avg10=")) found = number(w[i].substr(6));
    }
  });
  return found;
}

std::vector<DiskLoad> iostat_devices(std::string_view text) {
  std::vector<std::vector<DiskLoad>> reports;
  std::optional<Columns> header;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.empty()) {
      header.reset();  // a report ends with an empty line
      return;
    }
    if (w[0] == "Device" || w[0] == "Device:") {
      header = columns_of(w);
      reports.emplace_back();
      return;
    }
    if (!header || w.size() != header->count) return;
    DiskLoad d;
    d.device = std::string(w[0]);
    d.reads = value_at(w, header->find("r/s"));
    d.writes = value_at(w, header->find("w/s"));
    d.util = value_at(w, header->find("%util"));
    reports.back().push_back(d);
  });
  if (reports.empty()) return {};
  if (reports.size() > 1) reports.erase(reports.begin());
  std::vector<DiskLoad> out;
  std::map<std::string, size_t> index;
  for (const auto& report : reports) {
    for (const DiskLoad& d : report) {
      auto [it, added] = index.emplace(d.device, out.size());
      if (added) {
        out.emplace_back();
        out.back().device = d.device;
      }
      DiskLoad& sum = out[it->second];
      sum.reads += d.reads;
      sum.writes += d.writes;
      sum.util += d.util;
    }
  }
  const double n = static_cast<double>(reports.size());
  for (DiskLoad& d : out) {
    d.reads /= n;
    d.writes /= n;
    d.util /= n;
  }
  return out;
}

std::vector<NetCounters> net_dev(std::string_view text) {
  std::vector<NetCounters> out;
  each_line(text, [&](std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.find('|') != std::string_view::npos) return;
    const auto name = words(line.substr(0, colon));
    const auto w = words(line.substr(colon + 1));
    if (name.size() != 1 || w.size() < 16) return;
    std::vector<unsigned long long> v;
    for (size_t i = 0; i < 16; ++i) {
      auto c = counter(w[i]);
      if (!c) return;
      v.push_back(*c);
    }
    NetCounters c;
    c.device = std::string(name[0]);
    c.rx_bytes = v[0];
    c.rx_packets = v[1];
    c.rx_errors = v[2];
    c.rx_dropped = v[3];
    c.tx_bytes = v[8];
    c.tx_packets = v[9];
    c.tx_errors = v[10];
    c.tx_dropped = v[11];
    out.push_back(std::move(c));
  });
  return out;
}

std::vector<DiskCounters> diskstats(std::string_view text) {
  std::vector<DiskCounters> out;
  each_line(text, [&](std::string_view line) {
    // major minor name reads merged sectors ms writes merged sectors ms in-flight io_ms ...
    const auto w = words(line);
    if (w.size() < 14 || !counter(w[0]) || !counter(w[1])) return;
    unsigned long long v[11];
    for (size_t i = 0; i < 11; ++i) {
      auto c = counter(w[3 + i]);
      if (!c) return;
      v[i] = *c;
    }
    out.push_back(DiskCounters{std::string(w[2]), v[0], v[2], v[4], v[6], v[9]});
  });
  return out;
}

std::optional<unsigned long long> snmp_counter(std::string_view text, std::string_view proto,
                                               std::string_view name) {
  std::optional<unsigned long long> found;
  const std::string prefix = std::string(proto) + ":";
  std::vector<std::string_view> names;
  each_line(text, [&](std::string_view line) {
    if (found || !line.starts_with(prefix)) return;
    const auto w = words(line);
    if (w.size() == 2 && w[0].size() > prefix.size()) {
      // The collector's paired form: "Tcp:RetransSegs 12".
      if (w[0].substr(prefix.size()) == name) found = counter(w[1]);
      return;
    }
    if (names.empty() || !counter(w.size() > 1 ? w[1] : "x")) {
      names = w;
      return;
    }
    for (size_t i = 1; i < names.size() && i < w.size(); ++i) {
      if (names[i] == name) found = counter(w[i]);
    }
    names.clear();
  });
  return found;
}

std::optional<double> uptime_seconds(std::string_view text) {
  const auto w = words(text.substr(0, text.find('\n')));
  if (w.empty()) return std::nullopt;
  return number(w[0]);
}

std::vector<LinkState> ip_links(std::string_view text) {
  std::vector<LinkState> out;
  each_line(text, [&](std::string_view line) {
    // "4: eth0: <BROADCAST,...> mtu 1400 qdisc pfifo_fast state UP mode DEFAULT ..."
    const auto w = words(line);
    if (w.size() < 3 || !w[0].ends_with(':') || !counter(w[0].substr(0, w[0].size() - 1)) ||
        !w[1].ends_with(':')) {
      return;
    }
    std::string_view name = w[1].substr(0, w[1].size() - 1);
    name = name.substr(0, name.find('@'));
    LinkState link;
    link.device = std::string(name);
    for (size_t i = 2; i + 1 < w.size(); ++i) {
      if (w[i] == "mtu") link.mtu = static_cast<long>(counter(w[i + 1]).value_or(0));
      if (w[i] == "state") link.state = std::string(w[i + 1]);
    }
    out.push_back(std::move(link));
  });
  return out;
}

std::vector<Address> brief_addresses(std::string_view text) {
  std::vector<Address> out;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.size() < 2) return;
    Address a;
    a.device = std::string(w[0].substr(0, w[0].find('@')));
    a.state = std::string(w[1]);
    for (size_t i = 2; i < w.size(); ++i) {
      if (!a.addresses.empty()) a.addresses += ' ';
      a.addresses.append(w[i]);
    }
    out.push_back(std::move(a));
  });
  return out;
}

void socket_summary(std::string_view text, Sockets& into) {
  each_line(text, [&](std::string_view line) {
    if (!line.starts_with("TCP:")) return;
    const auto w = words(line);
    for (size_t i = 0; i + 1 < w.size(); ++i) {
      std::string_view v = w[i + 1];
      while (!v.empty() && (v.back() == ',' || v.back() == ')')) v.remove_suffix(1);
      const auto n = counter(v);
      if (!n) continue;
      if (w[i] == "(estab") into.tcp_established = static_cast<long>(*n);
      if (w[i] == "timewait") into.tcp_timewait = static_cast<long>(*n);
    }
  });
}

long listening_sockets(std::string_view text) {
  long n = 0;
  each_line(text, [&](std::string_view line) {
    if (line.starts_with("LISTEN")) ++n;
  });
  return n;
}

std::vector<Process> processes(std::string_view text) {
  std::vector<Process> out;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.size() < 7) return;
    const auto pid = counter(w[0]);
    const auto elapsed = counter(w[2]);
    const auto cpu = number(w[3]);
    if (!pid || !elapsed || !cpu) return;
    Process p{static_cast<long>(*pid),     std::string(w[1]),
              static_cast<long>(*elapsed), *cpu,
              std::string(w[6]),           ""};
    // The command line is the rest of the line after the seventh word.
    if (w.size() > 7) {
      const size_t at = static_cast<size_t>(w[7].data() - line.data());
      p.args = std::string(line.substr(at));
      while (!p.args.empty() && (p.args.back() == ' ' || p.args.back() == '\r')) p.args.pop_back();
    }
    out.push_back(std::move(p));
  });
  return out;
}

std::vector<ServiceLimit> service_limits(std::string_view text) {
  std::vector<ServiceLimit> out;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.size() < 6) return;
    const auto pid = counter(w[0]);
    const auto cpu = number(w[2]);
    if (!pid || !cpu) return;
    const auto files = counter(w[3]);
    out.push_back(ServiceLimit{static_cast<long>(*pid), std::string(w[1]), *cpu,
                               files ? static_cast<long>(*files) : -1, std::string(w[4]),
                               std::string(w[5])});
  });
  return out;
}

std::vector<BlockQueue> block_queues(std::string_view text) {
  std::vector<BlockQueue> out;
  each_line(text, [&](std::string_view line) {
    const auto w = words(line);
    if (w.size() < 2 || (w[1] != "0" && w[1] != "1")) return;
    BlockQueue q{std::string(w[0]), w[1] == "1", ""};
    for (size_t i = 2; i < w.size(); ++i) {
      if (w[i].size() > 2 && w[i].front() == '[' && w[i].back() == ']') {
        q.scheduler = std::string(w[i].substr(1, w[i].size() - 2));
      }
    }
    out.push_back(std::move(q));
  });
  return out;
}

std::string os_release_field(std::string_view text, std::string_view name) {
  std::string found;
  each_line(text, [&](std::string_view line) {
    if (!found.empty() || !line.starts_with(name) || line.size() <= name.size() ||
        line[name.size()] != '=') {
      return;
    }
    std::string_view v = line.substr(name.size() + 1);
    while (!v.empty() && (v.back() == '\r' || v.back() == ' ')) v.remove_suffix(1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    found = std::string(v);
  });
  return found;
}

std::vector<const CommandResult*> find_outputs(const std::vector<CommandGroup>& groups,
                                               std::string_view needle) {
  std::vector<const CommandResult*> out;
  for (const CommandGroup& g : groups) {
    for (const CommandResult& r : g.sub) {
      if (r.cmd.find(needle) != std::string::npos) out.push_back(&r);
    }
  }
  return out;
}

const CommandResult* find_output(const std::vector<CommandGroup>& groups, std::string_view needle) {
  for (const CommandGroup& g : groups) {
    for (const CommandResult& r : g.sub) {
      if (r.cmd.find(needle) != std::string::npos) return &r;
    }
  }
  return nullptr;
}

}  // namespace orvane::collected
