// Evaluating the rules on the collected data, and the results in the report's and the result
// file's shapes.
#include <orvane/analysis.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include <fmt/format.h>

#include "collected.hpp"
#include "rules.hpp"

namespace orvane {

struct Analysis::Rules {
  analysis::RuleSet set;
};

namespace analysis {
namespace {

struct Reading {
  std::string item;  // empty for a single value
  std::string value;
};

std::vector<Reading> readings(const Check& c, collected::Collection& data) {
  std::vector<Reading> out;
  for (const CommandResult* r : data.find_all(c.file, c.command)) {
    size_t start = 0;
    while (start <= r->res.size()) {
      size_t end = r->res.find('\n', start);
      if (end == std::string::npos) end = r->res.size();
      const std::string line = r->res.substr(start, end - start);
      start = end + 1;
      std::optional<std::vector<std::optional<std::string_view>>> m;
      try {
        m = c.match.search(line);
        if (!m) continue;
      } catch (const PatternError&) {
        continue;  // a line that needs too much matching work gives no reading
      }
      auto group = [&](size_t k) {
        return k < m->size() && (*m)[k] ? std::string(*(*m)[k]) : std::string();
      };
      Reading reading = c.per_item ? Reading{group(1), group(2)} : Reading{"", group(1)};
      try {
        if (c.skip && c.skip->search(reading.item)) continue;
      } catch (const PatternError&) {
      }
      out.push_back(std::move(reading));
    }
  }
  return out;
}

std::string number_text(double v) {
  if (std::isinf(v)) return "unlimited";
  if (v == std::floor(v) && std::fabs(v) < 1e15) return fmt::format("{:.0f}", v);
  return fmt::format("{:.1f}", v);
}

// A fact of the collected data that conditions name, with the item it was seen on.
struct Fact {
  double value = 0;
  std::string item;
  std::string text;  // the evidence, in words
};

using Facts = std::map<std::string, Fact>;

std::string plural(double n, const char* one, const char* many) {
  return fmt::format("{} {}", number_text(n), n == 1 ? one : many);
}

Facts facts_of(const collected::Figures& f, const std::vector<WorkloadResult>& workloads) {
  Facts facts;
  if (f.swap_total_kb) {
    const double mib = static_cast<double>(*f.swap_total_kb) / 1024.0;
    facts["swap.total_mib"] = {
        mib, "", mib > 0 ? fmt::format("{:.0f} MiB of swap space", mib) : "no swap space"};
  }
  if (f.sockets) {
    const auto& s = *f.sockets;
    facts["tcp.established"] = {
        static_cast<double>(s.tcp_established), "",
        plural(s.tcp_established, "established TCP connection", "established TCP connections")};
    facts["tcp.listening"] = {
        static_cast<double>(s.tcp_listening), "",
        plural(s.tcp_listening, "listening TCP socket", "listening TCP sockets")};
    facts["tcp.timewait"] = {
        static_cast<double>(s.tcp_timewait), "",
        plural(s.tcp_timewait, "TCP connection in TIME-WAIT", "TCP connections in TIME-WAIT")};
  }
  if (f.window > 0) {
    Fact packets{0, "", "no network traffic while sampled"};
    Fact mib{0, "", "no network traffic while sampled"};
    for (const auto& n : f.networks) {
      if (n.packets() > packets.value) {
        packets = {n.packets(), n.device,
                   fmt::format("{:.0f} packets/s on {} while sampled", n.packets(), n.device)};
      }
      const double m = n.bytes() / 1048576.0;
      if (m > mib.value) {
        mib = {m, n.device, fmt::format("{:.1f} MiB/s on {} while sampled", m, n.device)};
      }
    }
    facts["net.packets_per_s"] = packets;
    facts["net.mib_per_s"] = mib;
  }
  if (f.window > 0 || !f.disks.empty()) {
    Fact writes{0, "", "no disk writes while sampled"};
    for (const auto& d : f.disks) {
      if (d.writes > writes.value) {
        writes = {d.writes, d.device,
                  fmt::format("{:.0f} writes/s on {} while sampled", d.writes, d.device)};
      }
    }
    facts["disk.writes_per_s"] = writes;
  }
  if (!f.queues.empty()) {
    std::vector<std::string> rotating, solid;
    for (const auto& q : f.queues) {
      if (collected::virtual_disk(q.device) || q.device.starts_with("dm-") ||
          q.device.starts_with("md")) {
        continue;
      }
      (q.rotational ? rotating : solid).push_back(q.device);
    }
    auto names = [](const std::vector<std::string>& v) {
      std::string s;
      for (const auto& n : v) s += (s.empty() ? "" : ", ") + n;
      return s;
    };
    facts["disk.rotating"] = {
        static_cast<double>(rotating.size()), "",
        rotating.empty() ? "no rotating disk" : "rotating disks: " + names(rotating)};
    facts["disk.solid"] = {
        static_cast<double>(solid.size()), "",
        solid.empty() ? "no SSD or NVMe disk" : "SSD or NVMe disks: " + names(solid)};
  }
  if (f.numa_nodes > 0) {
    facts["numa.nodes"] = {static_cast<double>(f.numa_nodes), "",
                           plural(f.numa_nodes, "NUMA node", "NUMA nodes")};
  }
  if (auto r = f.runnable_per_cpu()) {
    facts["cpu.runnable"] = {*r, "",
                             fmt::format("{:.1f} tasks running or ready to run per CPU", *r)};
  }
  if (f.cpu) {
    facts["cpu.busy"] = {
        f.cpu->busy_normal(), "",
        fmt::format("{:.0f}% of CPU time busy with normal-priority work", f.cpu->busy_normal())};
  }
  std::string running, databases;
  double database_count = 0;
  for (const auto& w : workloads) {
    running += (running.empty() ? "" : ", ") + w.name;
    if (w.database) {
      databases += (databases.empty() ? "" : ", ") + w.name;
      ++database_count;
    }
  }
  facts["workloads"] = {static_cast<double>(workloads.size()), "",
                        running.empty() ? "no recognised workload runs" : running + " runs here"};
  facts["workloads.database"] = {
      database_count, "",
      databases.empty() ? "no database or broker runs" : databases + " runs here"};
  return facts;
}

// Whether all conditions hold; the evidence of each is added. A fact that was not collected
// leaves the answer unknown.
enum class Applies { yes, no, unknown };

Applies applies(const std::vector<Condition>& when, const Facts& facts,
                std::vector<std::string>& evidence) {
  Applies result = Applies::yes;
  for (const Condition& c : when) {
    auto it = facts.find(c.fact);
    if (it == facts.end()) {
      evidence.push_back(fmt::format("{}: not collected", c.fact));
      if (result == Applies::yes) result = Applies::unknown;
      continue;
    }
    const bool holds = c.above ? it->second.value > c.level : it->second.value < c.level;
    if (holds) {
      evidence.push_back(it->second.text);
    } else {
      evidence.push_back(fmt::format("{} (matters {} {})", it->second.text,
                                     c.above ? "above" : "below", number_text(c.level)));
      result = Applies::no;
    }
  }
  return result;
}

// "unlimited" (a limit without bound) is above every number.
std::optional<double> numeric(const std::string& text) {
  if (text == "unlimited" || text == "infinity") return std::numeric_limits<double>::infinity();
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
  return v;
}

enum class Verdict { ok, change, unreadable };

Verdict judge(const Check& c, const std::string& value) {
  if (!c.one_of.empty()) {
    return std::find(c.one_of.begin(), c.one_of.end(), value) != c.one_of.end() ? Verdict::ok
                                                                                : Verdict::change;
  }
  const auto v = numeric(value);
  if (!v) return Verdict::unreadable;
  if ((c.min && *v < *c.min) || (c.max && *v > *c.max)) return Verdict::change;
  return Verdict::ok;
}

std::string recommended(const Check& c) {
  if (!c.one_of.empty()) {
    std::string text;
    for (size_t i = 0; i < c.one_of.size(); ++i) {
      if (i > 0) text += i + 1 == c.one_of.size() ? " or " : ", ";
      text += c.one_of[i];
    }
    return text;
  }
  if (c.min && c.max) return fmt::format("{} to {}", number_text(*c.min), number_text(*c.max));
  if (c.min) return "at least " + number_text(*c.min);
  return "at most " + number_text(*c.max);
}

// "powersave (cpu0, cpu1, cpu2, cpu3 and 60 more)": the items of each value.
std::string items_text(const std::vector<Reading>& readings) {
  std::vector<std::pair<std::string, std::vector<std::string>>> by_value;
  for (const Reading& r : readings) {
    auto it = std::find_if(by_value.begin(), by_value.end(),
                           [&](const auto& p) { return p.first == r.value; });
    if (it == by_value.end()) {
      by_value.emplace_back(r.value, std::vector<std::string>{});
      it = by_value.end() - 1;
    }
    it->second.push_back(r.item);
  }
  constexpr size_t kShown = 4;
  std::string text;
  for (const auto& [value, items] : by_value) {
    std::string names;
    for (size_t i = 0; i < items.size() && i < kShown; ++i) {
      if (i > 0) names += ", ";
      names += items[i];
    }
    if (items.size() > kShown) names += fmt::format(" and {} more", items.size() - kShown);
    text += fmt::format("{}{} ({})", text.empty() ? "" : "; ", value, names);
  }
  return text;
}

// The open-file limits of the services that matter: recognised workloads, those that use a CPU
// noticeably, and those with half their limit in use.
std::vector<Reading> service_readings(const collected::Figures& f,
                                      const std::vector<WorkloadResult>& workloads,
                                      std::vector<std::string>& evidence) {
  std::vector<Reading> out;
  for (const auto& s : f.service_limits) {
    bool workload = false;
    const std::string tag = fmt::format("(pid {})", s.pid);
    for (const auto& w : workloads) {
      for (const auto& p : w.processes) workload = workload || p.ends_with(tag);
    }
    const auto soft = numeric(s.soft);
    const bool crowded = soft && s.open_files >= 0 && s.open_files * 2 >= *soft;
    if (!workload && s.cpu < 1.0 && !crowded) continue;
    const std::string item = fmt::format("{} (pid {})", s.command, s.pid);
    out.push_back(Reading{item, s.soft});
    evidence.push_back(fmt::format("{}: {} open files, limit {}, {:.1f}% CPU since it started",
                                   item, s.open_files >= 0 ? std::to_string(s.open_files) : "?",
                                   s.soft, s.cpu));
  }
  return out;
}

CheckResult evaluate(const Check& c, collected::Collection& data, const collected::Figures& f,
                     const Facts& facts, const std::vector<WorkloadResult>& workloads) {
  CheckResult r;
  r.parameter = c.parameter;
  r.area = c.area;
  r.suggested = c.suggested;
  r.recommended = recommended(c);
  r.severity = c.severity;
  r.reason = c.reason;
  r.reference = c.reference;
  r.key = c.key;
  const Applies condition = applies(c.when, facts, r.evidence);
  const std::vector<Reading> values =
      c.services ? service_readings(f, workloads, r.evidence) : readings(c, data);
  if (values.empty()) {
    const bool none_applies = !c.none_found.empty() && (!c.services || !f.service_limits.empty());
    r.current = none_applies ? c.none_found : "not collected";
    r.status = none_applies ? "not_applicable" : "not_available";
    return r;
  }
  std::vector<Reading> failing;
  bool unreadable = false;
  for (const Reading& v : values) {
    const Verdict verdict = judge(c, v.value);
    if (verdict == Verdict::change) failing.push_back(v);
    unreadable = unreadable || verdict == Verdict::unreadable;
  }
  r.current = c.per_item ? items_text(failing.empty() ? values : failing) : values.front().value;
  if (!c.services) {
    r.evidence.push_back(fmt::format("{} read from `{}` in {}", r.current, c.command, c.file));
  }
  if (condition == Applies::no) {
    r.status = "not_applicable";
  } else if (condition == Applies::unknown || (!c.per_item && unreadable)) {
    r.status = "not_available";
  } else {
    r.status = failing.empty() ? "ok" : "change";
  }
  return r;
}

std::string fill(std::string text, const MetricValue& v) {
  auto replace = [&](const std::string& key, const std::string& with) {
    for (size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + with.size())) {
      text.replace(at, key.size(), with);
    }
  };
  replace("{value}", number_text(std::round(v.value * 10) / 10));
  replace("{item}", v.item);
  return text;
}

std::vector<WorkloadResult> recognise(const std::vector<Workload>& rules,
                                      const std::vector<collected::Process>& processes) {
  std::vector<WorkloadResult> out;
  for (const Workload& w : rules) {
    WorkloadResult found{w.name, w.scene, {}, w.database};
    for (const auto& p : processes) {
      bool match = std::find(w.commands.begin(), w.commands.end(), p.command) != w.commands.end();
      for (const auto& a : w.args) match = match || p.args.find(a) != std::string::npos;
      if (match && found.processes.size() < 4) {
        found.processes.push_back(fmt::format("{} (pid {})", p.command, p.pid));
      }
    }
    if (!found.processes.empty()) out.push_back(std::move(found));
  }
  return out;
}

std::string capitalised(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string s;
  for (const auto& p : parts) s += (s.empty() ? "" : separator) + p;
  return s;
}

}  // namespace
}  // namespace analysis

Analysis::Analysis(const std::string& rules_file)
    : rules_(std::make_unique<Rules>(Rules{analysis::load_rules(rules_file)})) {}
Analysis::~Analysis() = default;
Analysis::Analysis(Analysis&&) noexcept = default;
Analysis& Analysis::operator=(Analysis&&) noexcept = default;

size_t Analysis::check_count() const {
  return rules_->set.checks.size();
}

AnalysisResult Analysis::run(const std::string& out_dir) const {
  collected::Collection data(out_dir);
  return run(data);
}

AnalysisResult Analysis::run(collected::Collection& data) const {
  using namespace analysis;
  AnalysisResult result;
  result.figures = collected::derive_figures(data);
  const collected::Figures& f = result.figures;
  result.workloads = recognise(rules_->set.workloads, f.processes);
  const Facts facts = facts_of(f, result.workloads);

  for (const Check& c : rules_->set.checks) {
    result.checks.push_back(evaluate(c, data, f, facts, result.workloads));
  }

  const auto figures = metrics(f);
  for (const Finding& rule : rules_->set.findings) {
    auto it = figures.find(rule.metric);
    if (it == figures.end()) continue;
    std::vector<std::string> evidence;
    if (applies(rule.when, facts, evidence) != Applies::yes) continue;
    for (const MetricValue& v : it->second) {
      if (rule.above ? v.value > rule.threshold : v.value < rule.threshold) {
        std::string text = fill(rule.text, v);
        if (!evidence.empty()) text += " (" + joined(evidence, "; ") + ")";
        result.findings.push_back(FindingResult{rule.severity, rule.kind, std::move(text),
                                                rule.metric, std::round(v.value * 10) / 10,
                                                v.item});
      }
    }
  }
  std::stable_sort(result.findings.begin(), result.findings.end(),
                   [](const FindingResult& a, const FindingResult& b) {
                     return severity_rank(a.severity) < severity_rank(b.severity);
                   });
  return result;
}

size_t AnalysisResult::applicable() const {
  return static_cast<size_t>(std::count_if(checks.begin(), checks.end(), [](const auto& c) {
    return c.status == "ok" || c.status == "change";
  }));
}

size_t AnalysisResult::changes() const {
  return static_cast<size_t>(std::count_if(checks.begin(), checks.end(),
                                           [](const auto& c) { return c.status == "change"; }));
}

namespace {

// The checks to change, most severe first.
std::vector<const CheckResult*> advice(const std::vector<CheckResult>& checks) {
  std::vector<const CheckResult*> out;
  for (const auto& c : checks) {
    if (c.status == "change") out.push_back(&c);
  }
  std::stable_sort(out.begin(), out.end(), [](const CheckResult* a, const CheckResult* b) {
    return analysis::severity_rank(a->severity) < analysis::severity_rank(b->severity);
  });
  return out;
}

Json evidence_json(const std::vector<std::string>& evidence) {
  Json list = Json::array();
  for (const auto& e : evidence) list.push_back(e);
  return list;
}

}  // namespace

Json AnalysisResult::sug() const {
  Json list = Json::array();
  for (const CheckResult* c : advice(checks)) {
    list.push_back(Json{{"parameter", c->parameter},
                        {"current", c->current},
                        {"suggested", c->suggested},
                        {"severity", c->severity},
                        {"evidence", analysis::joined(c->evidence, "; ")},
                        {"reason", c->reason}});
  }
  return list;
}

Json AnalysisResult::ref() const {
  Json list = Json::array();
  for (const CheckResult* c : advice(checks)) {
    list.push_back(Json{{"parameter", c->parameter}, {"reference", c->reference}});
  }
  return list;
}

Json AnalysisResult::height_info() const {
  Json list = Json::array();
  for (const auto& f : findings) {
    list.push_back(Json{{"severity", f.severity},
                        {"kind", f.kind},
                        {"finding", analysis::capitalised(f.kind) + ": " + f.text},
                        {"metric", f.metric},
                        {"item", f.item}});
  }
  const auto to_change = advice(checks);
  if (!to_change.empty()) {
    int counts[3] = {0, 0, 0};
    for (const CheckResult* c : to_change) ++counts[analysis::severity_rank(c->severity)];
    static const char* const names[] = {"high", "medium", "low"};
    const int rank = counts[0] > 0 ? 0 : counts[1] > 0 ? 1 : 2;
    list.push_back(Json{
        {"severity", names[rank]},
        {"kind", "settings"},
        {"finding", fmt::format("{} of {} applicable settings should be changed ({} high, {} "
                                "medium, {} low severity); see the suggestions.",
                                to_change.size(), applicable(), counts[0], counts[1], counts[2])},
        {"metric", ""},
        {"item", ""}});
  }
  for (const auto& w : workloads) {
    list.push_back(
        Json{{"severity", "low"},
             {"kind", "workload"},
             {"finding", fmt::format("{} runs here ({}): `orvane profile {} CONF_DIR` applies the "
                                     "preset scene for it.",
                                     w.name, analysis::joined(w.processes, ", "), w.scene)},
             {"metric", ""},
             {"item", ""}});
  }
  return list;
}

Json AnalysisResult::hldata() const {
  Json list = Json::array();
  for (const auto& c : checks) {
    list.push_back(Json{{"parameter", c.parameter},
                        {"area", c.area},
                        {"current", c.current},
                        {"recommended", c.recommended},
                        {"severity", c.severity},
                        {"status", c.status},
                        {"evidence", analysis::joined(c.evidence, "; ")}});
  }
  return list;
}

Json AnalysisResult::netdevice() const {
  return analysis::network_devices(figures);
}

Json AnalysisResult::findings_json() const {
  Json list = Json::array();
  for (const auto& f : findings) {
    list.push_back(Json{{"severity", f.severity},
                        {"kind", f.kind},
                        {"text", f.text},
                        {"metric", f.metric},
                        {"value", f.value},
                        {"item", f.item}});
  }
  return list;
}

Json AnalysisResult::checks_json() const {
  Json list = Json::array();
  for (const auto& c : checks) {
    list.push_back(Json{{"parameter", c.parameter},
                        {"area", c.area},
                        {"current", c.current},
                        {"suggested", c.suggested},
                        {"status", c.status},
                        {"severity", c.severity},
                        {"evidence", evidence_json(c.evidence)},
                        {"reason", c.reason},
                        {"reference", c.reference}});
  }
  return list;
}

Json AnalysisResult::workloads_json() const {
  Json list = Json::array();
  for (const auto& w : workloads) list.push_back(Json{{"name", w.name}, {"scene", w.scene}});
  return list;
}

}  // namespace orvane
