// Loading and checking the rule file.
#include "rules.hpp"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

namespace orvane::analysis {
namespace {

struct RuleError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const YAML::Node& node, const std::string& what) {
  throw RuleError(fmt::format("line {}: {}", node.Mark().line + 1, what));
}

void only_keys(const YAML::Node& map, const std::set<std::string>& allowed, const char* what) {
  if (!map.IsMap()) fail(map, fmt::format("{} must be a mapping", what));
  for (const auto& kv : map) {
    const auto key = kv.first.as<std::string>();
    if (!allowed.contains(key)) fail(kv.first, fmt::format("unknown key '{}' in {}", key, what));
  }
}

std::string text(const YAML::Node& map, const char* key, bool required = true) {
  const YAML::Node v = map[key];
  if (!v) {
    if (required) fail(map, fmt::format("'{}' is missing", key));
    return "";
  }
  if (!v.IsScalar()) fail(v, fmt::format("'{}' must be a text", key));
  return v.as<std::string>();
}

std::optional<double> number(const YAML::Node& map, const char* key) {
  const YAML::Node v = map[key];
  if (!v) return std::nullopt;
  try {
    return v.as<double>();
  } catch (const YAML::Exception&) {
    fail(v, fmt::format("'{}' must be a number", key));
  }
}

Pattern expression(const YAML::Node& map, const char* key) {
  const std::string source = text(map, key);
  try {
    return Pattern(source);
  } catch (const PatternError& e) {
    fail(map[key], fmt::format("'{}' is not a valid regular expression: {}", key, e.what()));
  }
}

std::string severity(const YAML::Node& map) {
  std::string s = text(map, "severity");
  if (severity_rank(s) < 0) fail(map["severity"], "severity must be high, medium or low");
  return s;
}

std::vector<Condition> conditions(const YAML::Node& owner) {
  std::vector<Condition> out;
  const YAML::Node list = owner["when"];
  if (!list) return out;
  if (!list.IsSequence()) fail(list, "'when' must be a list of conditions");
  const auto& facts = known_facts();
  for (const auto& node : list) {
    only_keys(node, {"fact", "above", "below"}, "a condition");
    Condition c;
    c.fact = text(node, "fact");
    if (std::find(facts.begin(), facts.end(), c.fact) == facts.end()) {
      fail(node["fact"], fmt::format("unknown fact '{}'", c.fact));
    }
    const auto above = number(node, "above");
    const auto below = number(node, "below");
    if (above.has_value() == below.has_value())
      fail(node, "a condition needs either above or below");
    c.above = above.has_value();
    c.level = above ? *above : *below;
    out.push_back(std::move(c));
  }
  return out;
}

// The suggested value must pass the check it is suggested for, or the advice contradicts itself.
void suggestion_agrees(const YAML::Node& node, const Check& c) {
  if (!c.one_of.empty()) {
    if (std::find(c.one_of.begin(), c.one_of.end(), c.suggested) == c.one_of.end()) {
      fail(node["suggested"], "'suggested' must be one of the values 'one_of' accepts");
    }
    return;
  }
  char* end = nullptr;
  const double v = std::strtod(c.suggested.c_str(), &end);
  if (c.suggested.empty() || end != c.suggested.c_str() + c.suggested.size()) {
    fail(node["suggested"], "'suggested' must be a number for a check with min or max");
  }
  if ((c.min && v < *c.min) || (c.max && v > *c.max)) {
    fail(node["suggested"], "'suggested' must lie within min and max");
  }
}

Check read_check(const YAML::Node& node) {
  only_keys(node,
            {"parameter", "area", "read", "expect", "suggested", "severity", "reason", "reference",
             "none_found", "when"},
            "a check");
  Check c;
  c.parameter = text(node, "parameter");
  c.area = text(node, "area");
  const YAML::Node read = node["read"];
  if (!read) fail(node, "'read' is missing");
  if (read.IsScalar() && read.as<std::string>() == "services") {
    c.services = true;
    c.per_item = true;
  } else {
    only_keys(read, {"file", "command", "match", "skip"}, "'read'");
    c.file = text(read, "file");
    c.command = text(read, "command");
    c.match = expression(read, "match");
    const int groups = c.match.capture_count();
    if (groups != 1 && groups != 2) {
      fail(read["match"], "'match' must have one group (the value) or two (the item, the value)");
    }
    c.per_item = groups == 2;
    if (read["skip"]) c.skip = expression(read, "skip");
    if (c.command == "sysctl") c.key = c.parameter;
  }
  const YAML::Node expect = node["expect"];
  if (!expect) fail(node, "'expect' is missing");
  only_keys(expect, {"min", "max", "one_of"}, "'expect'");
  c.min = number(expect, "min");
  c.max = number(expect, "max");
  if (const YAML::Node list = expect["one_of"]) {
    if (!list.IsSequence() || list.size() == 0) fail(list, "'one_of' must be a list of texts");
    for (const auto& v : list) c.one_of.push_back(v.as<std::string>());
  }
  if (c.one_of.empty() == !(c.min || c.max)) {
    fail(expect, "'expect' needs either min/max or one_of");
  }
  c.suggested = text(node, "suggested");
  suggestion_agrees(node, c);
  c.severity = severity(node);
  c.reason = text(node, "reason");
  c.reference = text(node, "reference");
  c.none_found = text(node, "none_found", false);
  c.when = conditions(node);
  return c;
}

Workload read_workload(const YAML::Node& node) {
  only_keys(node, {"name", "scene", "commands", "args", "database"}, "a workload");
  Workload w;
  w.name = text(node, "name");
  w.scene = text(node, "scene");
  if (const YAML::Node d = node["database"]) {
    try {
      w.database = d.as<bool>();
    } catch (const YAML::Exception&) {
      fail(d, "'database' must be true or false");
    }
  }
  for (const char* key : {"commands", "args"}) {
    const YAML::Node list = node[key];
    if (!list) continue;
    if (!list.IsSequence()) fail(list, fmt::format("'{}' must be a list of texts", key));
    for (const auto& v : list) (key[0] == 'c' ? w.commands : w.args).push_back(v.as<std::string>());
  }
  if (w.commands.empty() && w.args.empty()) fail(node, "a workload needs commands or args");
  return w;
}

Finding read_finding(const YAML::Node& node) {
  only_keys(node, {"metric", "above", "below", "severity", "kind", "text", "when"}, "a finding");
  Finding f;
  f.metric = text(node, "metric");
  const auto& metrics = known_metrics();
  if (std::find(metrics.begin(), metrics.end(), f.metric) == metrics.end()) {
    fail(node["metric"], fmt::format("unknown metric '{}'", f.metric));
  }
  const auto above = number(node, "above");
  const auto below = number(node, "below");
  if (above.has_value() == below.has_value()) fail(node, "a finding needs either above or below");
  f.above = above.has_value();
  f.threshold = above ? *above : *below;
  f.severity = severity(node);
  f.kind = text(node, "kind");
  if (f.kind != "utilisation" && f.kind != "saturation" && f.kind != "errors") {
    fail(node["kind"], "kind must be utilisation, saturation or errors");
  }
  f.text = text(node, "text");
  f.when = conditions(node);
  return f;
}

}  // namespace

const std::vector<std::string>& known_metrics() {
  static const std::vector<std::string> metrics = {
      "cpu.busy",        "cpu.nice",     "cpu.iowait",   "cpu.steal",        "cpu.imbalance",
      "cpu.runnable",    "cpu.pressure", "load.per_cpu", "memory.available", "swap.used",
      "memory.pressure", "disk.util",    "net.errors",   "net.drops",        "tcp.retransmits"};
  return metrics;
}

const std::vector<std::string>& known_facts() {
  static const std::vector<std::string> facts = {
      "swap.total_mib",    "tcp.established",   "tcp.listening",     "tcp.timewait",
      "net.packets_per_s", "net.mib_per_s",     "disk.writes_per_s", "disk.rotating",
      "disk.solid",        "numa.nodes",        "cpu.runnable",      "cpu.busy",
      "workloads",         "workloads.database"};
  return facts;
}

int severity_rank(const std::string& severity) {
  if (severity == "high") return 0;
  if (severity == "medium") return 1;
  if (severity == "low") return 2;
  return -1;
}

RuleSet load_rules(const std::string& path) {
  try {
    const YAML::Node root = YAML::LoadFile(path);
    only_keys(root, {"checks", "findings", "workloads"}, "the rule file");
    RuleSet rules;
    if (const YAML::Node checks = root["checks"]) {
      if (!checks.IsSequence()) fail(checks, "'checks' must be a list");
      for (const auto& c : checks) rules.checks.push_back(read_check(c));
    }
    if (const YAML::Node findings = root["findings"]) {
      if (!findings.IsSequence()) fail(findings, "'findings' must be a list");
      for (const auto& f : findings) rules.findings.push_back(read_finding(f));
    }
    if (const YAML::Node workloads = root["workloads"]) {
      if (!workloads.IsSequence()) fail(workloads, "'workloads' must be a list");
      for (const auto& w : workloads) rules.workloads.push_back(read_workload(w));
    }
    return rules;
  } catch (const YAML::BadFile&) {
    throw std::runtime_error("cannot read the analysis rules " + path);
  } catch (const YAML::Exception& e) {
    throw std::runtime_error(fmt::format("{}: line {}: {}", path, e.mark.line + 1, e.msg));
  } catch (const RuleError& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

}  // namespace orvane::analysis
