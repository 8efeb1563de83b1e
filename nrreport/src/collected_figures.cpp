// Readers of the figures in the collector's command outputs. Every reader is lenient: a line it
// does not understand is skipped, so a tool of another version costs a figure, never the report.
#include <orvane/collected_figures.hpp>

#include <algorithm>
#include <charconv>
#include <map>

namespace orvane::figures {
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

CpuLoad mean(const std::string& cpu, const std::vector<CpuLoad>& loads) {
  CpuLoad m;
  m.cpu = cpu;
  if (loads.empty()) return m;
  for (const CpuLoad& l : loads) {
    m.user += l.user;
    m.system += l.system;
    m.iowait += l.iowait;
    m.steal += l.steal;
    m.idle += l.idle;
  }
  const double n = static_cast<double>(loads.size());
  m.user /= n;
  m.system /= n;
  m.iowait /= n;
  m.steal /= n;
  m.idle /= n;
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
    load.user = value_at(w, usr) + value_at(w, header->find("%nice")) +
                value_at(w, header->find("%guest")) + value_at(w, header->find("%gnice"));
    load.system = value_at(w, header->find("%sys")) + value_at(w, header->find("%irq")) +
                  value_at(w, header->find("%soft"));
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
  return LoadAverage{*a, *b, *c};
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

const CommandResult* find_output(const std::vector<CommandGroup>& groups, std::string_view needle) {
  for (const CommandGroup& g : groups) {
    for (const CommandResult& r : g.sub) {
      if (r.cmd.find(needle) != std::string::npos) return &r;
    }
  }
  return nullptr;
}

}  // namespace orvane::figures
