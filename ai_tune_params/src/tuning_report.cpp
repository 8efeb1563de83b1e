// The end-of-run table, the JSON-lines history and the HTML page with its inline SVG plot, all
// made from the optimiser's result record.
#include <orvane/tuning_report.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

#include <orvane/util.hpp>
#include <orvane/value_text.hpp>

namespace orvane::tuning {
namespace {

std::optional<double> number_at(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

Json field(const Json& j, const char* key) {
  auto it = j.find(key);
  return it == j.end() ? Json(nullptr) : *it;
}

std::string figure_text(const std::optional<double>& v) {
  return v ? fmt::format("{:.6g}", *v) : "-";
}

std::string percent_text(const std::optional<double>& v) {
  return v ? fmt::format("{:+.2f}%", *v) : "-";
}

// One evaluation in budget order, as history_lines and the page show it.
struct Row {
  long long index = 0;
  bool confirm = false;
  long long round = 0;
  bool original = false;  // confirm only: the original configuration's measurement
  Json param;
  Json figures;
  std::optional<double> figure;
  std::optional<double> best;         // search only: best figure so far
  std::optional<double> improvement;  // the original's row: the round's improvement
};

std::vector<Row> rows_of(const Json& result) {
  const bool minimize = field(result, "direction") == "minimize";
  std::vector<Row> rows;
  std::optional<double> best;
  long long index = 0;
  const Json history = field(result, "history");
  if (history.is_array()) {
    for (const Json& h : history) {
      Row r;
      r.index = ++index;
      r.param = field(h, "param");
      r.figures = field(h, "figures");
      r.figure = number_at(h, "figure");
      if (r.figure && (!best || (minimize ? *r.figure < *best : *r.figure > *best)))
        best = r.figure;
      r.best = best;
      rows.push_back(std::move(r));
    }
  }
  const Json confirmation = field(result, "confirmation");
  const Json pairs = field(confirmation, "pairs");
  if (pairs.is_array()) {
    for (const Json& p : pairs) {
      for (const bool original : {false, true}) {
        const Json m = field(p, original ? "original" : "chosen");
        Row r;
        r.index = ++index;
        r.confirm = true;
        r.round = field(p, "round").is_number_integer() ? field(p, "round").get<long long>() : 0;
        r.original = original;
        r.param = original ? field(confirmation, "original") : field(result, "param");
        r.figures = field(m, "figures");
        r.figure = number_at(m, "figure");
        if (original) r.improvement = number_at(p, "improvement");
        rows.push_back(std::move(r));
      }
    }
  }
  return rows;
}

// The confirmed figures, with the counts they rest on.
struct Confirmed {
  size_t pairs = 0;
  std::optional<double> chosen, original;  // medians of the confirmation's figures
  std::optional<double> median, min, max;  // the rounds' improvements, in percent
  std::optional<double> low, high;         // the test's interval
  long long confidence = 90;
  std::string test;
  std::optional<double> error_rate, overall_error_rate, p_value;
};

// From the record's "confirmed" entry; a record without it (written before there was one) gives
// its improvement keys and pairs.
Confirmed confirmed_of(const Json& result) {
  Confirmed c;
  const Json j = field(result, "confirmed");
  const Json pairs = field(field(result, "confirmation"), "pairs");
  if (const auto n = number_at(j, "pairs"); n && *n >= 0) {
    c.pairs = static_cast<size_t>(*n);
  } else if (pairs.is_array()) {
    c.pairs = pairs.size();
  }
  c.chosen = number_at(j, "chosen");
  c.original = number_at(j, "original");
  c.median = number_at(result, "improvement");
  c.min = number_at(result, "improvement_min");
  c.max = number_at(result, "improvement_max");
  const Json interval = field(j, "interval");
  c.low = number_at(interval, "low");
  c.high = number_at(interval, "high");
  if (field(interval, "confidence").is_number_integer())
    c.confidence = field(interval, "confidence").get<long long>();
  if (field(j, "test").is_string()) c.test = field(j, "test").get<std::string>();
  c.error_rate = number_at(j, "error_rate_per_look");
  c.overall_error_rate = number_at(j, "error_rate");
  c.p_value = number_at(j, "p_value");
  return c;
}

std::string confirmed_figure_text(const std::optional<double>& v, size_t pairs) {
  if (!v) return "- (not measured in a confirmation)";
  return fmt::format("{} (median of {} confirmation round{})", figure_text(v), pairs,
                     pairs == 1 ? "" : "s");
}

std::string improvement_text(const Confirmed& c) {
  if (!c.median) return "-";
  std::string text =
      fmt::format("{} (median of {} paired round{}, range {} to {}; ", percent_text(c.median),
                  c.pairs, c.pairs == 1 ? "" : "s", percent_text(c.min), percent_text(c.max));
  text += c.low ? fmt::format("{}% interval {} to {})", c.confidence, percent_text(c.low),
                              percent_text(c.high))
                : fmt::format("too few pairs for a {}% interval)", c.confidence);
  return text;
}

std::string test_text(const Confirmed& c) {
  if (c.test.empty()) return "-";
  std::string text = c.test;
  if (c.error_rate) text += fmt::format(", {:.2g}% error per look", 100 * *c.error_rate);
  if (c.overall_error_rate) {
    text += fmt::format(" (at most {:g}% of changes that are no better accepted)",
                        100 * *c.overall_error_rate);
  }
  if (c.p_value) text += fmt::format(", p = {:.3f}", *c.p_value);
  return text;
}

// The best figure of the search, which no confirmation measured again; the chosen one's search
// figure for a record without it.
std::optional<double> best_seen(const Json& result) {
  if (auto v = number_at(result, "best_seen")) return v;
  return number_at(result, "best");
}

std::string outcome_text(const Json& result) {
  const bool effective = field(result, "effective") == true;
  const Json reason = field(field(result, "confirmation"), "reason");
  std::string text = effective ? "effective" : "not effective";
  if (reason.is_string()) text += ": " + reason.get<std::string>();
  return text;
}

std::string evaluations_text(const Json& result) {
  const auto count = [&](const Json& j, const char* key) {
    const Json v = field(j, key);
    return v.is_number_integer() ? v.get<long long>() : 0;
  };
  const long long search = count(result, "search_evaluations");
  const long long confirm = count(field(result, "confirmation"), "evaluations");
  std::string text =
      fmt::format("{} search + {} confirmation = {}", search, confirm, search + confirm);
  const long long extra = count(result, "extra_evaluations");
  if (const Json budget = field(result, "iterations"); budget.is_number_integer()) {
    text += extra > 0 ? fmt::format(" (budget {}, {} extra to decide the confirmation)",
                                    budget.get<long long>(), extra)
                      : fmt::format(" of {}", budget.get<long long>());
  }
  return text;
}

std::string value_or_dash(const Json& map, const std::string& name) {
  auto it = map.is_object() ? map.find(name) : map.end();
  return it == map.end() ? "-" : value_text(*it);
}

// Names of the chosen configuration, then any original name it lacks.
std::vector<std::string> config_names(const Json& param, const Json& oriparams) {
  std::vector<std::string> names;
  for (const Json* m : {&param, &oriparams}) {
    if (!m->is_object()) continue;
    for (const auto& [name, value] : m->items()) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  return names;
}

// A configuration as plain text for a tooltip: name=value, comma-separated.
std::string plain_config(const Json& param) {
  std::string out;
  if (!param.is_object()) return out;
  for (const auto& [name, value] : param.items()) {
    out += (out.empty() ? "" : ", ") + name + "=" + value_text(value);
  }
  return out;
}

// Tick spacing for about `ticks` intervals over `range`: 1, 2, 2.5 or 5 times a power of ten.
double nice_step(double range, double ticks) {
  const double raw = range / ticks;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  const double nice = norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 2.5 ? 2.5 : norm <= 5 ? 5 : 10;
  return nice * magnitude;
}

// A tick value with as many decimals as the step needs (none for a step of 1 or more).
std::string tick_text(double value, double step) {
  int decimals = 0;
  while (decimals < 9 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-9) {
    ++decimals;
  }
  if (std::fabs(value) < step * 1e-9) value = 0;  // no "-0"
  return fmt::format("{:.{}f}", value, decimals);
}

// The convergence plot: every figure as a dot, the best so far as a step line, the baseline
// dashed, and the confirmation's measurements after a dashed separator, the chosen and the
// original configuration's each joined by a line so that drift shows.
std::string plot_svg(const Json& result, const std::vector<Row>& rows,
                     const std::string& axis_label) {
  constexpr double kW = 760, kH = 360, kLeft = 80, kRight = 150, kTop = 20, kBottom = 45;
  const double pw = kW - kLeft - kRight, ph = kH - kTop - kBottom;
  const auto baseline = number_at(result, "baseline");

  double lo = baseline.value_or(0), hi = baseline.value_or(0);
  bool any = baseline.has_value();
  for (const Row& r : rows) {
    if (!r.figure) continue;
    lo = any ? std::min(lo, *r.figure) : *r.figure;
    hi = any ? std::max(hi, *r.figure) : *r.figure;
    any = true;
  }
  if (!(hi > lo)) {
    const double pad = std::max(std::fabs(hi) * 0.01, 1.0);
    lo -= pad;
    hi += pad;
  }
  // A margin around the figures, without going below zero when none is negative, then out to
  // the nearest ticks.
  const double margin = (hi - lo) * 0.05;
  lo = lo >= 0 ? std::max(lo - margin, 0.0) : lo - margin;
  hi += margin;
  const double y_step = nice_step(hi - lo, 5);
  lo = std::floor(lo / y_step) * y_step;
  hi = std::ceil(hi / y_step) * y_step;
  const double n = std::max<double>(static_cast<double>(rows.size()), 1);
  auto px = [&](double index) { return kLeft + (n <= 1 ? pw / 2 : (index - 1) / (n - 1) * pw); };
  auto py = [&](double y) { return kTop + (hi - y) / (hi - lo) * ph; };

  std::string svg = fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" "
      "viewBox=\"0 0 {0} {1}\" role=\"img\" aria-label=\"best figure against evaluation\">\n",
      kW, kH);
  svg += fmt::format(
      "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#fff\" stroke=\"#999\"/>\n", kLeft,
      kTop, pw, ph);
  // Axes: figure ticks at round values, evaluation ticks at 1 and at multiples of a round step.
  const long long y_ticks = std::llround((hi - lo) / y_step);
  for (long long k = 0; k <= y_ticks; ++k) {
    const double y = lo + static_cast<double>(k) * y_step;
    svg += fmt::format(
        "<line x1=\"{0:.1f}\" x2=\"{1:.1f}\" y1=\"{2:.1f}\" y2=\"{2:.1f}\" stroke=\"#eee\"/>"
        "<text x=\"{3:.1f}\" y=\"{4:.1f}\" text-anchor=\"end\">{5}</text>\n",
        kLeft, kLeft + pw, py(y), kLeft - 6, py(y) + 4, html_escape(tick_text(y, y_step)));
  }
  svg += fmt::format(
      "<text transform=\"translate(16 {:.1f}) rotate(-90)\" text-anchor=\"middle\">{}</text>\n",
      kTop + ph / 2, html_escape(axis_label.empty() ? "figure" : axis_label));
  long long step = 1;  // the first of 1, 2, 5, 10, 20, 50, ... that leaves at most ten intervals
  for (const long long s : {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000}) {
    step = s;
    if (n / static_cast<double>(s) <= 10) break;
  }
  for (long long i = 1; i <= static_cast<long long>(n); i = i == 1 && step > 1 ? step : i + step) {
    svg += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">{}</text>\n",
                       px(static_cast<double>(i)), kTop + ph + 16, i);
  }
  svg += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">evaluation</text>\n",
                     kLeft + pw / 2, kH - 6);

  if (baseline) {
    svg += fmt::format(
        "<line x1=\"{0:.1f}\" x2=\"{1:.1f}\" y1=\"{2:.1f}\" y2=\"{2:.1f}\" stroke=\"#777\" "
        "stroke-dasharray=\"6 4\"/>\n",
        kLeft, kLeft + pw, py(*baseline));
  }
  const auto first_confirm =
      std::find_if(rows.begin(), rows.end(), [](const Row& r) { return r.confirm; });
  if (first_confirm != rows.end()) {
    const double x = px(static_cast<double>(first_confirm->index) - 0.5);
    svg += fmt::format(
        "<line x1=\"{0:.1f}\" x2=\"{0:.1f}\" y1=\"{1:.1f}\" y2=\"{2:.1f}\" stroke=\"#bbb\" "
        "stroke-dasharray=\"3 3\"/>\n",
        x, kTop, kTop + ph);
    svg += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" fill=\"#555\">confirmation</text>\n", x + 4,
                       kTop + 14);
    // Each configuration's confirmation measurements joined, so that drift over the rounds shows.
    for (const bool original : {false, true}) {
      std::string line;
      for (const Row& r : rows) {
        if (!r.confirm || r.original != original || !r.figure) continue;
        line += fmt::format("{}{:.1f},{:.1f}", line.empty() ? "M" : " L",
                            px(static_cast<double>(r.index)), py(*r.figure));
      }
      if (line.empty()) continue;
      svg += fmt::format("<path d=\"{}\" fill=\"none\" stroke=\"{}\" stroke-width=\"1\"/>\n", line,
                         original ? "#999" : "#27ae60");
    }
  }

  std::string best_line;
  for (const Row& r : rows) {
    if (r.confirm || !r.best) continue;
    const double x = px(static_cast<double>(r.index)), y = py(*r.best);
    if (best_line.empty()) {
      best_line = fmt::format("M{:.1f},{:.1f}", x, y);
    } else {
      best_line += fmt::format(" H{:.1f} V{:.1f}", x, y);
    }
  }
  if (!best_line.empty()) {
    svg += "<path d=\"" + best_line + "\" fill=\"none\" stroke=\"#c0392b\" stroke-width=\"2\"/>\n";
  }

  for (const Row& r : rows) {
    const double x = px(static_cast<double>(r.index));
    const std::string tip = html_escape(
        fmt::format("#{} {}: {}{}", r.index,
                    r.confirm ? (r.original ? "confirm, original" : "confirm, chosen") : "search",
                    r.figure ? fmt::format("{:.6g}", *r.figure) : "no figure",
                    r.param.is_object() ? " " + plain_config(r.param) : ""));
    if (!r.figure) {
      // A failed evaluation: a cross on the bottom edge.
      const double y = kTop + ph - 6;
      svg += fmt::format(
          "<path d=\"M{:.1f},{:.1f} l8,8 m0,-8 l-8,8\" stroke=\"#c0392b\" stroke-width=\"1.5\">"
          "<title>{}</title></path>\n",
          x - 4, y - 4, tip);
      continue;
    }
    const double y = py(*r.figure);
    if (!r.confirm) {
      svg += fmt::format(
          "<circle cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"3.5\" fill=\"#5d8aa8\"><title>{}</title>"
          "</circle>\n",
          x, y, tip);
    } else if (!r.original) {
      svg += fmt::format(
          "<path d=\"M{:.1f},{:.1f} l5,9 h-10 z\" fill=\"#27ae60\"><title>{}</title></path>\n", x,
          y - 6, tip);
    } else {
      svg += fmt::format(
          "<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"8\" height=\"8\" fill=\"#777\"><title>{}</title>"
          "</rect>\n",
          x - 4, y - 4, tip);
    }
  }

  // Legend, right of the plot.
  const double lx = kLeft + pw + 14;
  svg += fmt::format(
      "<line x1=\"{0:.1f}\" x2=\"{1:.1f}\" y1=\"{2}\" y2=\"{2}\" stroke=\"#c0392b\" "
      "stroke-width=\"2\"/><text x=\"{3:.1f}\" y=\"{4}\">best so far</text>\n"
      "<circle cx=\"{5:.1f}\" cy=\"{6}\" r=\"3.5\" fill=\"#5d8aa8\"/>"
      "<text x=\"{3:.1f}\" y=\"{7}\">search</text>\n"
      "<line x1=\"{0:.1f}\" x2=\"{1:.1f}\" y1=\"{8}\" y2=\"{8}\" stroke=\"#777\" "
      "stroke-dasharray=\"6 4\"/><text x=\"{3:.1f}\" y=\"{9}\">baseline</text>\n"
      "<path d=\"M{5:.1f},{10} l5,9 h-10 z\" fill=\"#27ae60\"/>"
      "<text x=\"{3:.1f}\" y=\"{11}\">confirm: chosen</text>\n"
      "<rect x=\"{12:.1f}\" y=\"{13}\" width=\"8\" height=\"8\" fill=\"#777\"/>"
      "<text x=\"{3:.1f}\" y=\"{14}\">confirm: original</text>\n",
      lx, lx + 20, kTop + 10, lx + 26, kTop + 14, lx + 10, kTop + 30, kTop + 34, kTop + 50,
      kTop + 54, kTop + 64, kTop + 74, lx + 6, kTop + 86, kTop + 94);
  svg += "</svg>\n";
  return svg;
}

}  // namespace

std::string summary_table(const Json& result, const Json& oriparams) {
  const Confirmed c = confirmed_of(result);
  std::string out = fmt::format(
      "tuning result ({}, {})\n",
      field(result, "method").is_string() ? field(result, "method").get<std::string>() : "-",
      field(result, "direction").is_string() ? field(result, "direction").get<std::string>() : "-");
  out += fmt::format("  {:<13}{}\n", "chosen", confirmed_figure_text(c.chosen, c.pairs));
  out += fmt::format("  {:<13}{}\n", "original", confirmed_figure_text(c.original, c.pairs));
  out += fmt::format("  {:<13}{}\n", "improvement", improvement_text(c));
  out += fmt::format("  {:<13}{}\n", "outcome", outcome_text(result));
  if (!c.test.empty()) out += fmt::format("  {:<13}{}\n", "test", test_text(c));
  out += fmt::format("  {:<13}{}\n", "evaluations", evaluations_text(result));
  out +=
      fmt::format("  best seen while searching (unconfirmed): {}; original before searching: {}\n",
                  figure_text(best_seen(result)), figure_text(number_at(result, "baseline")));

  const Json param = field(result, "param");
  const std::vector<std::string> names = config_names(param, oriparams);
  size_t name_width = std::string("configuration").size();
  size_t value_width = std::string("chosen").size();
  for (const auto& name : names) {
    name_width = std::max(name_width, name.size());
    value_width = std::max(value_width, value_or_dash(param, name).size());
  }
  out += fmt::format("  {:<{}}  {:<{}}  {}\n", "configuration", name_width, "chosen", value_width,
                     "original");
  for (const auto& name : names) {
    out += fmt::format("  {:<{}}  {:<{}}  {}\n", name, name_width, value_or_dash(param, name),
                       value_width, value_or_dash(oriparams, name));
  }
  return out;
}

std::string history_lines(const Json& result) {
  std::string out;
  for (const Row& r : rows_of(result)) {
    Json line = {{"index", r.index}, {"phase", r.confirm ? "confirm" : "search"}};
    if (r.confirm) {
      line["round"] = r.round;
      line["config"] = r.original ? "original" : "chosen";
    }
    line["param"] = r.param;
    line["figures"] = r.figures;
    line["figure"] = r.figure ? Json(*r.figure) : Json(nullptr);
    if (!r.confirm) line["best"] = r.best ? Json(*r.best) : Json(nullptr);
    if (r.original) line["improvement"] = r.improvement ? Json(*r.improvement) : Json(nullptr);
    out += line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  }
  return out;
}

std::string metric_label(const Json& benchmark) {
  std::string name;
  const Json pattern = field(benchmark, "metric");
  const std::string p = pattern.is_string() ? pattern.get<std::string>() : "";
  // The literal text before the figure's group: escapes taken literally, classes and
  // quantifiers as a blank.
  for (size_t i = 0; i < p.size() && p[i] != '('; ++i) {
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      const char e = p[++i];
      name += std::isalnum(static_cast<unsigned char>(e)) ? ' ' : e;
    } else if (c == '[' || c == '{') {
      const size_t end = p.find(c == '[' ? ']' : '}', i + 1);
      if (end == std::string::npos) break;
      i = end;
      name += ' ';
    } else if (std::string_view("^$*+?.|)").find(c) != std::string_view::npos) {
      name += ' ';
    } else {
      name += c;
    }
  }
  // Blanks collapsed; a trailing colon or equals sign dropped.
  std::string tidy;
  for (const char c : name) {
    if (c == ' ' && (tidy.empty() || tidy.back() == ' ')) continue;
    tidy += c;
  }
  while (!tidy.empty() && (tidy.back() == ' ' || tidy.back() == ':' || tidy.back() == '='))
    tidy.pop_back();
  if (tidy.empty()) tidy = "figure";
  const Json unit = field(benchmark, "unit");
  if (unit.is_string() && !unit.get<std::string>().empty()) {
    tidy += " (" + unit.get<std::string>() + ")";
  }
  return tidy;
}

std::string convergence_page(const std::string& project, const Json& result, const Json& oriparams,
                             const std::string& axis_label) {
  const std::vector<Row> rows = rows_of(result);
  const auto cell = [](const std::string& text) { return "<td>" + html_escape(text) + "</td>"; };
  const auto num = [](const std::string& text) {
    return "<td class=\"num\">" + html_escape(text) + "</td>";
  };

  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>orvane "
      "tuning: " +
      html_escape(project) +
      "</title>\n<style>\n"
      "body{font-family:system-ui,sans-serif;margin:2em;color:#222;max-width:1300px}\n"
      "table{border-collapse:collapse;margin:0.5em 0 1.5em}\n"
      "th,td{padding:3px 12px;text-align:left;border-bottom:1px solid #ddd;vertical-align:top}\n"
      "td.num{text-align:right;font-variant-numeric:tabular-nums}\n"
      // Wide tables scroll on their own rather than widening the page; cells keep one line.
      "table.wide{display:block;overflow-x:auto;max-width:100%;font-size:13px}\n"
      "table.wide th,table.wide td{white-space:nowrap;padding:2px 8px}\n"
      "svg{font:12px system-ui,sans-serif}\n"
      ".effective{color:#1e8449}.not{color:#922b21}\n"
      "</style>\n</head>\n<body>\n";
  page += "<h1>Tuning " + html_escape(project) + "</h1>\n";
  const bool effective = field(result, "effective") == true;
  page += "<p class=\"" + std::string(effective ? "effective" : "not") + "\">" +
          html_escape(outcome_text(result)) + "</p>\n";

  page += "<table>\n";
  const auto summary_row = [&](const std::string& name, const std::string& value) {
    page += "<tr><th>" + html_escape(name) + "</th>" + cell(value) + "</tr>\n";
  };
  const Confirmed c = confirmed_of(result);
  summary_row("chosen", confirmed_figure_text(c.chosen, c.pairs));
  summary_row("original", confirmed_figure_text(c.original, c.pairs));
  summary_row("improvement", improvement_text(c));
  summary_row("test", test_text(c));
  summary_row("evaluations", evaluations_text(result));
  summary_row("best seen while searching (unconfirmed)", figure_text(best_seen(result)));
  summary_row("original before searching", figure_text(number_at(result, "baseline")));
  summary_row("method", field(result, "method").is_string()
                            ? field(result, "method").get<std::string>()
                            : "-");
  summary_row("direction", field(result, "direction").is_string()
                               ? field(result, "direction").get<std::string>()
                               : "-");
  page += "</table>\n";

  page += "<h2>Convergence</h2>\n" + plot_svg(result, rows, axis_label);

  const Json param = field(result, "param");
  page +=
      "<h2>Chosen configuration</h2>\n<table>\n<tr><th>parameter</th><th>chosen</th>"
      "<th>original</th></tr>\n";
  for (const auto& name : config_names(param, oriparams)) {
    page += "<tr>" + cell(name) + cell(value_or_dash(param, name)) +
            cell(value_or_dash(oriparams, name)) + "</tr>\n";
  }
  page += "</table>\n";

  // Every evaluation, one column per parameter.
  std::vector<std::string> names = config_names(param, oriparams);
  for (const Row& r : rows) {
    for (const std::string& name : config_names(r.param, Json::object())) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  page +=
      "<h2>Evaluations</h2>\n<table class=\"wide\">\n<tr><th>#</th><th>phase</th><th>figure</th>"
      "<th>best so far</th>";
  for (const std::string& name : names) page += "<th>" + html_escape(name) + "</th>";
  page += "</tr>\n";
  for (const Row& r : rows) {
    std::string phase = "search";
    if (r.confirm) {
      phase = fmt::format("confirm {} {}", r.round, r.original ? "original" : "chosen");
      if (r.original) phase += " (" + percent_text(r.improvement) + ")";
    }
    page += "<tr>" + num(std::to_string(r.index)) + cell(phase) +
            num(r.figure ? fmt::format("{:.6g}", *r.figure) : "no figure") +
            num(r.confirm ? "" : figure_text(r.best));
    for (const std::string& name : names) page += cell(value_or_dash(r.param, name));
    page += "</tr>\n";
  }
  page += "</table>\n</body>\n</html>\n";
  return page;
}

}  // namespace orvane::tuning
