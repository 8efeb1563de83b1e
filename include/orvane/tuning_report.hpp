#pragma once
// What a tuning run leaves for people to look at: the end-of-run table, the history as JSON
// lines, and a self-contained HTML page with the convergence plot.
#include <string>

#include <orvane/json.hpp>

namespace orvane::tuning {

// The table printed at the end of a run, led by what the confirmation measured: the chosen and
// the original configuration's medians over its rounds, the median paired improvement with its
// range and the test's interval, the outcome and the test; then the evaluations spent, the best
// figure seen while searching and the baseline (both unconfirmed), and the chosen configuration
// beside the original values. `result` is the optimiser's record, `oriparams` the values read
// before tuning.
std::string summary_table(const Json& result, const Json& oriparams);

// One JSON object per line for every evaluation in budget order: the search evaluations
// {index, phase: "search", param, figures, figure, best} (best: the best figure so far), then
// the confirmation's {index, phase: "confirm", round, config: "chosen" | "original", param,
// figures, figure} with the round's improvement on the original's line.
std::string history_lines(const Json& result);

// The y-axis label for a benchmark record ({metric, unit?}): the literal text of the metric's
// pattern before its figure ("Requests/sec" for 'Requests/sec:\s+([0-9.]+)', "figure" when there
// is none), and the unit in parentheses when the project gives one.
std::string metric_label(const Json& benchmark);

// A complete HTML page without external assets: the summary, the convergence plot (every figure
// and the best so far against evaluation, the confirmation's rounds after them, as inline SVG,
// the y axis labelled `axis_label`), the chosen configuration and every evaluation, as tables of
// plain values. All text is HTML-escaped.
std::string convergence_page(const std::string& project, const Json& result, const Json& oriparams,
                             const std::string& axis_label = "");

}  // namespace orvane::tuning
