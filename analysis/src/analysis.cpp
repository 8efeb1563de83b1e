// Evaluating the rules on the collected data, and the results in the report's shapes.
#include <orvane/analysis.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

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

std::vector<Reading> readings(const Check& c, Collected& data) {
  std::vector<Reading> out;
  for (const CommandResult* r : data.outputs(c.file, c.command)) {
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

std::string number_text(double v) {
  if (std::isinf(v)) return "unlimited";
  if (v == std::floor(v) && std::fabs(v) < 1e15) return fmt::format("{:.0f}", v);
  return fmt::format("{:.1f}", v);
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

std::string fill(std::string text, const MetricValue& v) {
  auto replace = [&](const std::string& key, const std::string& with) {
    for (size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + with.size())) {
      text.replace(at, key.size(), with);
    }
  };
  const bool whole = v.value == std::floor(v.value);
  replace("{value}", whole ? fmt::format("{:.0f}", v.value) : fmt::format("{:.1f}", v.value));
  replace("{item}", v.item);
  return text;
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
  using namespace analysis;
  Collected data(out_dir);
  AnalysisResult result;

  struct Advice {
    int rank;
    Json sug;
    Json ref;
  };
  std::vector<Advice> advice;
  int counts[3] = {0, 0, 0};
  for (const Check& c : rules_->set.checks) {
    const std::vector<Reading> values = readings(c, data);
    std::string current, status;
    std::vector<Reading> failing;
    if (values.empty()) {
      current = c.none_found.empty() ? "not collected" : c.none_found;
      status = c.none_found.empty() ? "not available" : "not applicable";
    } else if (!c.per_item) {
      current = values.front().value;
      const Verdict v = judge(c, current);
      status = v == Verdict::ok ? "ok" : v == Verdict::change ? "change" : "not available";
    } else {
      for (const Reading& r : values) {
        if (judge(c, r.value) != Verdict::ok) failing.push_back(r);
      }
      current = items_text(failing.empty() ? values : failing);
      status = failing.empty() ? "ok" : "change";
    }
    result.hldata.push_back(Json{{"parameter", c.parameter},
                                 {"area", c.area},
                                 {"current", current},
                                 {"recommended", recommended(c)},
                                 {"severity", c.severity},
                                 {"status", status}});
    if (status != "change") continue;
    const int rank = severity_rank(c.severity);
    ++counts[rank];
    advice.push_back(Advice{rank,
                            Json{{"parameter", c.parameter},
                                 {"current", current},
                                 {"suggested", c.suggested},
                                 {"severity", c.severity},
                                 {"reason", c.reason}},
                            Json{{"parameter", c.parameter}, {"reference", c.reference}}});
  }
  std::stable_sort(advice.begin(), advice.end(),
                   [](const Advice& a, const Advice& b) { return a.rank < b.rank; });
  for (Advice& a : advice) {
    result.sug.push_back(std::move(a.sug));
    result.ref.push_back(std::move(a.ref));
  }

  struct Highlight {
    int rank;
    std::string text;
  };
  std::vector<Highlight> highlights;
  const auto figures = metrics(data);
  for (const Finding& f : rules_->set.findings) {
    auto it = figures.find(f.metric);
    if (it == figures.end()) continue;
    for (const MetricValue& v : it->second) {
      if (f.above ? v.value > f.threshold : v.value < f.threshold) {
        highlights.push_back({severity_rank(f.severity), fill(f.text, v)});
      }
    }
  }
  const size_t changes = advice.size();
  if (changes > 0) {
    highlights.push_back(
        {counts[0] > 0   ? 0
         : counts[1] > 0 ? 1
                         : 2,
         fmt::format("{} of {} checked settings should be changed ({} high, {} medium, {} low "
                     "severity); see the suggestions.",
                     changes, rules_->set.checks.size(), counts[0], counts[1], counts[2])});
  }
  std::stable_sort(highlights.begin(), highlights.end(),
                   [](const Highlight& a, const Highlight& b) { return a.rank < b.rank; });
  static const char* const names[] = {"high", "medium", "low"};
  for (const Highlight& h : highlights) {
    result.height_info.push_back(Json{{"severity", names[h.rank]}, {"finding", h.text}});
  }
  result.netdevice = network_devices(data);
  return result;
}

}  // namespace orvane
