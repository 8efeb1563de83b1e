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
// beside the original values. `result` is the optimiser's record, `oriparams` the values read before tuning.
std::string summary_table(const Json& result, const Json& oriparams);

// One JSON object per line for every evaluation in budget order: the search evaluations
// {index, phase: "search", param, figures, figure, best} (best: the best figure so far), then
// the confirmation's {index, phase: "confirm", round, config: "chosen" | "original", param,
// figures, figure} with the round's improvement on the original's line.
std::string history_lines(const Json& result);

// A complete HTML page without external assets: the summary, the convergence plot (best figure
// against evaluation, as inline SVG), the chosen configuration and every evaluation. All text is
// HTML-escaped.
std::string convergence_page(const std::string& project, const Json& result, const Json& oriparams);

}  // namespace orvane::tuning
