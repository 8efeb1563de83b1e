// The optimiser's evaluation loop on top of the ask/tell strategies.
#include <orvane/optimizer.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <stdexcept>

#include <orvane/bayes_strategy.hpp>
#include <orvane/benchmark.hpp>
#include <orvane/log.hpp>
#include <orvane/scenevars.hpp>
#include <orvane/tuning_stop.hpp>
#include <orvane/value_text.hpp>

#include "confirmation.hpp"

namespace orvane {
namespace tuning {
namespace {

std::map<std::string, StrategyFactory>& strategies() {
  static std::map<std::string, StrategyFactory> table = {
      {"random",
       [](const SearchSpace& space, const Json& settings) {
         return make_random_strategy(space, settings.at("seed").get<std::uint64_t>());
       }},
      {"bayes",
       [](const SearchSpace& space, const Json& settings) {
         return make_bayes_strategy(space, settings.at("seed").get<std::uint64_t>(),
                                    settings.at("initial_points").get<int>());
       }},
  };
  return table;
}

// The factory sees the settings with initial_points filled in when they do not give it: the
// default design depends on the evaluations left to the search.
std::unique_ptr<Strategy> make_strategy(const SearchSpace& space, const Json& settings,
                                        long long search_budget) {
  const std::string method = settings.at("method").get<std::string>();
  auto it = strategies().find(method);
  if (it == strategies().end()) {
    throw std::invalid_argument("the optimiser method '" + method + "' is not available");
  }
  Json resolved = settings;
  if (!resolved.contains("initial_points")) {
    resolved["initial_points"] = default_initial_points(search_budget);
  }
  return it->second(space, resolved);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string figure_text(double x) {
  return fmt::format("{}", x);
}

// Confirmation rounds when the settings do not say.
constexpr long long kDefaultConfirmRounds = 3;

// Applies the configuration and measures it. False, with nothing measured, when the run was
// asked to stop meanwhile. A configuration whose scripts failed is not measured: the figure
// would belong to whatever the system holds instead.
bool measure(const Json& param, std::vector<double>& figures) {
  bool applied = true;
  for (const ScriptRun& run : SceneVars().set_params_checked(param)) {
    if (run.ok()) continue;
    Logger().warning("trial " + map_text(param) + " not measured: " + run.describe());
    applied = false;
  }
  if (stop_requested()) return false;
  if (!applied) return true;
  figures = Benchmark().run();
  return !stop_requested();
}

Json figures_json(const std::vector<double>& figures, const std::optional<double>& figure) {
  return {{"figures", figures}, {"figure", figure ? Json(*figure) : Json(nullptr)}};
}

// The point of the space that is exactly this configuration; nullopt when a value lies off the
// grid (700 with a step of 64, 2.5 for an int), which would otherwise be taken for the nearest
// grid point.
std::optional<Point> exact_point(const SearchSpace& space, const Json& values) {
  std::optional<Point> x = space.from_json(values);
  if (!x) return x;
  const Point snapped = space.snap(*x);
  for (size_t i = 0; i < x->size(); ++i) {
    if (std::fabs(snapped[i] - (*x)[i]) > 1e-9 * std::max(1.0, std::fabs((*x)[i]))) {
      return std::nullopt;
    }
  }
  return snapped;
}

struct Evaluation {
  Point x;
  Json param;
  std::vector<double> figures;
  std::optional<double> figure;  // median of figures
};

}  // namespace

StrategyFactory register_strategy(const std::string& method, StrategyFactory factory) {
  auto& table = strategies();
  StrategyFactory previous;
  if (auto it = table.find(method); it != table.end()) previous = it->second;
  if (factory) {
    table[method] = std::move(factory);
  } else {
    table.erase(method);
  }
  return previous;
}

SearchSpace space_from_settings(const Json& settings) {
  std::vector<ParamSpec> space_params;
  for (const Json& p : settings.at("params")) {
    ParamSpec param;
    param.name = p.at("name").get<std::string>();
    const std::string type = p.at("type").get<std::string>();
    if (type == "enum") {
      param.type = ParamType::Enum;
      param.options = p.at("options").get<std::vector<std::string>>();
    } else if (type == "int" || type == "float") {
      param.type = type == "int" ? ParamType::Int : ParamType::Float;
      param.min = p.at("range").at(0).get<double>();
      param.max = p.at("range").at(1).get<double>();
      if (p.contains("step")) param.step = p.at("step").get<double>();
    } else {
      throw std::invalid_argument("parameter '" + param.name + "' has the unknown type '" + type +
                                  "'");
    }
    space_params.push_back(std::move(param));
  }
  return SearchSpace(std::move(space_params));
}

namespace {

// The optimiser settings one run reads, taken from the settings once and checked.
struct RunSettings {
  std::string direction;
  bool minimize = false;
  double sign = 1;  // a score is sign * figure: higher is better
  long long iterations = 0;
  long long rounds = 0;         // confirmation pairs within the budget
  long long max_rounds = 0;     // confirmation pairs in all, the extra ones included
  long long search_budget = 0;  // evaluations left to the search
  std::string method;
};

RunSettings read_run_settings(const Json& settings) {
  RunSettings s;
  s.direction = settings.at("direction").get<std::string>();
  s.minimize = s.direction == "minimize";
  s.sign = s.minimize ? -1.0 : 1.0;
  s.iterations = settings.at("iterations").get<long long>();
  s.rounds = settings.value("confirm_rounds", kDefaultConfirmRounds);
  if (s.rounds < 1) throw std::invalid_argument("confirm_rounds must be at least 1");
  if (s.iterations <= 2 * s.rounds) {
    throw std::invalid_argument(
        fmt::format("{} iterations leave no evaluation for the search after the confirmation's {}",
                    s.iterations, 2 * s.rounds));
  }
  s.max_rounds =
      settings.value("confirm_max_rounds", static_cast<long long>(ConfirmRule{}.max_rounds));
  if (s.max_rounds < 1 || s.max_rounds > kMaxConfirmPairs) {
    throw std::invalid_argument(
        fmt::format("confirm_max_rounds must be 1 to {}", kMaxConfirmPairs));
  }
  s.search_budget = s.iterations - 2 * s.rounds;
  s.method = settings.at("method").get<std::string>();
  return s;
}

// What every part of a run reads.
struct RunContext {
  const SearchSpace& space;
  Strategy& strategy;
  const RunSettings& settings;
  double baseline;                 // median of the baseline figures
  Json original;                   // the values in place when the run started
  bool original_complete = false;  // it holds every parameter of the space
  std::optional<Point> original_point;
};

// Reads the original configuration, the one the baseline measured. When it is a point of the
// space the strategy is told its score, so it never proposes it and may recommend it in the end.
RunContext start_run(const SearchSpace& space, Strategy& strategy, const RunSettings& settings,
                     double baseline) {
  RunContext run{space, strategy, settings, baseline, SceneVars().get_params(), true, std::nullopt};
  for (const auto& p : space.params())
    run.original_complete = run.original_complete && run.original.contains(p.name);
  if (run.original_complete) run.original_point = exact_point(space, run.original);
  if (run.original_point) strategy.tell(*run.original_point, settings.sign * baseline);
  return run;
}

struct SearchOutcome {
  std::vector<Evaluation> evaluations;
  std::optional<size_t> best;  // index into evaluations
  long long measured = 0;      // evaluations the search measured
  bool exhausted = false;      // the strategy had nothing left to propose
};

// The search: the configurations of x0 (recorded with their figures from y0 when given, else
// measured first), then the strategy's proposals, within the search budget.
SearchOutcome search(const RunContext& run, const std::optional<Json>& x0,
                     const std::optional<Json>& y0) {
  const RunSettings& s = run.settings;
  SearchOutcome out;
  // Failed evaluations are told the worst score seen, so the strategy avoids them without a
  // value that would distort a model.
  double worst_score = s.sign * run.baseline;
  auto record = [&](Evaluation e) {
    if (e.figure) {
      const double score = s.sign * *e.figure;
      run.strategy.tell(e.x, score);
      worst_score = std::min(worst_score, score);
      if (!out.best || score > s.sign * *out.evaluations[*out.best].figure) {
        out.best = out.evaluations.size();
      }
    } else {
      run.strategy.tell(e.x, worst_score);
    }
    out.evaluations.push_back(std::move(e));
  };

  std::vector<Point> queued;
  if (x0) {
    for (size_t k = 0; k < x0->size(); ++k) {
      std::optional<Point> x = run.space.from_json((*x0)[k]);
      if (!x)
        throw std::invalid_argument(fmt::format("x0[{}] is not a configuration of the space", k));
      if (y0) {
        const double y = (*y0)[k].get<double>();
        record({*x, run.space.to_json(*x), {y}, y});
      } else {
        queued.push_back(*x);
      }
    }
  }

  for (long long i = 1; i <= s.search_budget && !stop_requested(); ++i) {
    std::optional<Point> x;
    if (static_cast<size_t>(i) <= queued.size()) {
      x = queued[static_cast<size_t>(i) - 1];
    } else {
      x = run.strategy.ask();
    }
    if (!x) {
      out.exhausted = true;
      break;
    }
    Evaluation e{*x, run.space.to_json(*x), {}, std::nullopt};
    if (!measure(e.param, e.figures)) break;
    if (!e.figures.empty()) e.figure = median(e.figures);
    ++out.measured;
    const std::string candidate = map_text(e.param);
    const std::string figure = e.figure ? figure_text(*e.figure) : "no figure";
    record(std::move(e));
    std::cerr << fmt::format("[{}/{}] {} -> {} (best so far {})\n", out.measured, s.iterations,
                             candidate, figure,
                             out.best ? figure_text(*out.evaluations[*out.best].figure) : "-");
  }
  return out;
}

// The configuration to confirm: the strategy's pick, which is the original configuration or a
// measured one that gave a figure (the best figure when the pick is neither).
struct Choice {
  size_t index;  // into the search's evaluations
  bool is_original;
};

Choice choose(const RunContext& run, const SearchOutcome& found) {
  const std::string recommended = run.space.key(run.strategy.recommend());
  Choice choice{*found.best,
                run.original_point && run.space.key(*run.original_point) == recommended};
  for (size_t k = 0; k < found.evaluations.size(); ++k) {
    if (found.evaluations[k].figure && run.space.key(found.evaluations[k].x) == recommended) {
      choice.index = k;
    }
  }
  return choice;
}

// One pair of the confirmation as measured, chosen first.
struct PairRecord {
  long long round;
  bool extra;  // beyond the pairs the budget holds
  std::vector<double> chosen_figures;
  std::optional<double> chosen;  // median of chosen_figures
  std::vector<double> original_figures;
  std::optional<double> original;     // median of original_figures
  std::optional<double> improvement;  // percent, in the configured direction
};

struct ConfirmOutcome {
  ConfirmRule rule;
  Confirmation confirmation;
  std::vector<PairRecord> records;
  long long evaluations = 0;
  std::string skipped;  // why nothing was confirmed; empty when it was
  // The rounds' own improvements, for their median and range beside the test's estimate.
  ConfirmVerdict rounds_seen;
  bool effective = false;
  std::string reason;
};

// The confirmation: chosen and original measured alternately, each applied through the set
// scripts, so that drift over the run hits both alike. The first `rounds` pairs come out of the
// budget; while the paired test does not decide, more pairs follow, up to max_rounds, as extra
// evaluations. `measured`: the search's evaluations, for the progress lines.
ConfirmOutcome confirm(const RunContext& run, const Json& chosen_param, bool chosen_is_original,
                       long long measured) {
  const RunSettings& s = run.settings;
  ConfirmOutcome out;
  out.rule = confirm_rule(static_cast<size_t>(s.rounds), static_cast<size_t>(s.max_rounds));
  const ConfirmRule& rule = out.rule;
  if (chosen_is_original) {
    out.skipped = "the chosen configuration is the original one";
  } else if (!run.original_complete) {
    out.skipped = "the original values could not all be read again";
  } else {
    const std::string chosen_text = map_text(chosen_param);
    const std::string original_text = map_text(run.original);
    auto progress = [&](long long r) {
      if (r <= s.rounds) {
        return fmt::format("[{}/{}] confirm {}/{}", measured + out.evaluations, s.iterations, r,
                           s.rounds);
      }
      return fmt::format("[{}/{} +{} extra] confirm {}/{}", measured + 2 * s.rounds, s.iterations,
                         out.evaluations - 2 * s.rounds, r, rule.max_rounds);
    };
    std::vector<ConfirmRound> measured_pairs;
    auto measure_pair = [&]() -> std::optional<ConfirmRound> {
      const long long r = static_cast<long long>(out.records.size()) + 1;
      if (r == s.rounds + 1) {
        const std::string why = decide_confirmation(measured_pairs, s.minimize, rule).reason;
        Logger().info(
            fmt::format("confirmation: {}; measuring more pairs, up to {}", why, rule.max_rounds));
        std::cerr << fmt::format("undecided after {} pair{}: measuring more, up to {}\n", s.rounds,
                                 s.rounds == 1 ? "" : "s", rule.max_rounds);
      }
      if (stop_requested()) return std::nullopt;
      PairRecord record{r, r > s.rounds, {}, {}, {}, {}, {}};
      if (!measure(chosen_param, record.chosen_figures)) return std::nullopt;
      ++out.evaluations;
      if (!record.chosen_figures.empty()) record.chosen = median(record.chosen_figures);
      std::cerr << fmt::format("{} chosen {} -> {}\n", progress(r), chosen_text,
                               record.chosen ? figure_text(*record.chosen) : "no figure");
      if (!measure(run.original, record.original_figures)) return std::nullopt;
      ++out.evaluations;
      if (!record.original_figures.empty()) record.original = median(record.original_figures);
      const ConfirmRound pair{record.chosen, record.original};
      record.improvement = judge_confirmation({pair}, s.minimize).improvements.front();
      std::cerr << fmt::format(
          "{} original {} -> {} ({})\n", progress(r), original_text,
          record.original ? figure_text(*record.original) : "no figure",
          record.improvement ? fmt::format("{:+.2f}%", *record.improvement) : "no comparison");
      out.records.push_back(std::move(record));
      measured_pairs.push_back(pair);
      return pair;
    };
    out.confirmation =
        run_confirmation(static_cast<size_t>(s.rounds), s.minimize, rule, measure_pair);
  }
  out.rounds_seen = judge_confirmation(out.confirmation.rounds, s.minimize);
  out.effective = out.skipped.empty() && out.confirmation.test.decision == ConfirmDecision::Accept;
  out.reason = out.skipped.empty() ? out.confirmation.test.reason : out.skipped;
  Logger().info(fmt::format("confirmation: {} ({})", out.effective ? "effective" : "not effective",
                            out.reason));
  return out;
}

// What one run found: the record run() returns is built from it in result_json alone.
struct TuningResult {
  bool effective = false;
  Json param;            // the chosen configuration
  double best = 0;       // its search figure (the baseline when it is the original)
  double best_seen = 0;  // the best search figure
  double baseline = 0;
  std::string direction;
  std::string method;
  long long iterations = 0;
  long long rounds = 0;  // confirmation pairs within the budget
  long long search_evaluations = 0;
  bool exhausted = false;
  bool interrupted = false;
  Json original;
  ConfirmOutcome confirmation;
  std::vector<Evaluation> history;  // the search's evaluations
};

TuningResult tuning_result(const RunContext& run, SearchOutcome found, const Choice& choice,
                           ConfirmOutcome confirmed) {
  const Evaluation& chosen = found.evaluations[choice.index];
  TuningResult t;
  t.effective = confirmed.effective;
  t.param = choice.is_original ? run.original : chosen.param;
  t.best = choice.is_original ? run.baseline : *chosen.figure;
  t.best_seen = *found.evaluations[*found.best].figure;
  t.baseline = run.baseline;
  t.direction = run.settings.direction;
  t.method = run.settings.method;
  t.iterations = run.settings.iterations;
  t.rounds = run.settings.rounds;
  t.search_evaluations = found.measured;
  t.exhausted = found.exhausted;
  t.interrupted = stop_requested() != 0;
  t.original = run.original;
  t.confirmation = std::move(confirmed);
  t.history = std::move(found.evaluations);
  return t;
}

Json optional_json(const std::optional<double>& v) {
  return v ? Json(*v) : Json(nullptr);
}

Json history_json(const std::vector<Evaluation>& evaluations) {
  Json history = Json::array();
  for (size_t k = 0; k < evaluations.size(); ++k) {
    const auto& e = evaluations[k];
    history.push_back({{"index", k + 1},
                       {"param", e.param},
                       {"figures", e.figures},
                       {"figure", e.figure ? Json(*e.figure) : Json(nullptr)}});
  }
  return history;
}

Json pairs_json(const std::vector<PairRecord>& records) {
  Json pairs = Json::array();
  for (const PairRecord& p : records) {
    Json round = {{"round", p.round}, {"extra", p.extra}};
    round["chosen"] = figures_json(p.chosen_figures, p.chosen);
    round["original"] = figures_json(p.original_figures, p.original);
    round["improvement"] = optional_json(p.improvement);
    pairs.push_back(std::move(round));
  }
  return pairs;
}

// The record of a run, as Optimizer::run documents it; its keys and their order are read by the
// tuning command, its report and the result file.
Json result_json(const TuningResult& t) {
  const ConfirmOutcome& c = t.confirmation;
  const std::vector<ConfirmRound>& pairs = c.confirmation.rounds;
  const PairedTest& test = c.confirmation.test;
  const ConfirmRule& rule = c.rule;
  std::vector<double> chosen_figures, original_figures;
  for (const ConfirmRound& p : pairs) {
    if (p.chosen) chosen_figures.push_back(*p.chosen);
    if (p.original) original_figures.push_back(*p.original);
  }
  const long long extra = std::max(0LL, c.evaluations - 2 * t.rounds);

  auto median_json = [](const std::vector<double>& v) {
    return v.empty() ? Json(nullptr) : Json(median(v));
  };
  const int confidence = static_cast<int>(std::lround(100 * (1 - 2 * rule.interval_alpha)));
  Json result = Json::object();
  result["effective"] = t.effective;
  result["param"] = t.param;
  // What the confirmation measured comes first: the figures the decision rests on.
  Json interval = {{"confidence", confidence},
                   {"low", optional_json(test.low)},
                   {"high", optional_json(test.high)}};
  result["confirmed"] = {{"pairs", pairs.size()},
                         {"chosen", median_json(chosen_figures)},
                         {"original", median_json(original_figures)},
                         {"improvement", optional_json(c.rounds_seen.median)},
                         {"improvement_min", optional_json(c.rounds_seen.min)},
                         {"improvement_max", optional_json(c.rounds_seen.max)},
                         {"estimate", optional_json(test.estimate)},
                         {"interval", std::move(interval)},
                         {"test", "one-sided Wilcoxon signed-rank test of the paired ratios"},
                         {"error_rate", kConfirmErrorRate},
                         {"error_rate_per_look", rule.alpha},
                         {"p_value", pairs.empty() ? Json(nullptr) : Json(test.p_value)}};
  result["best"] = t.best;
  result["best_seen"] = t.best_seen;
  result["baseline"] = t.baseline;
  result["improvement"] = optional_json(c.rounds_seen.median);
  result["improvement_min"] = optional_json(c.rounds_seen.min);
  result["improvement_max"] = optional_json(c.rounds_seen.max);
  result["direction"] = t.direction;
  result["method"] = t.method;
  result["iterations"] = t.iterations;
  result["extra_evaluations"] = extra;
  result["evaluations"] = t.search_evaluations + c.evaluations;
  result["search_evaluations"] = t.search_evaluations;
  result["exhausted"] = t.exhausted;
  result["interrupted"] = t.interrupted;
  result["confirmation"] = {{"rounds", t.rounds},
                            {"max_rounds", rule.max_rounds},
                            {"evaluations", c.evaluations},
                            {"extra_evaluations", extra},
                            {"interrupted", c.confirmation.interrupted},
                            {"skipped", c.skipped.empty() ? Json(nullptr) : Json(c.skipped)},
                            {"reason", c.reason},
                            {"original", t.original},
                            {"pairs", pairs_json(c.records)}};
  result["history"] = history_json(t.history);
  return result;
}

}  // namespace
}  // namespace tuning

Optimizer::Optimizer(std::vector<double> oriperformance, Json settings, std::optional<Json> x0,
                     std::optional<Json> y0)
    : oriperformance_(std::move(oriperformance)),
      settings_(std::move(settings)),
      x0_(std::move(x0)),
      y0_(std::move(y0)) {
  if (oriperformance_.empty()) throw std::invalid_argument("the optimiser needs a baseline figure");
  if (y0_ && (!x0_ || !y0_->is_array() || !x0_->is_array() || y0_->size() != x0_->size())) {
    throw std::invalid_argument("y0 must be a list of figures, one per configuration of x0");
  }
  if (x0_ && !x0_->is_array()) throw std::invalid_argument("x0 must be a list of configurations");
}

Json Optimizer::run() {
  const tuning::SearchSpace space = tuning::space_from_settings(settings_);
  const tuning::RunSettings settings = tuning::read_run_settings(settings_);
  auto strategy = tuning::make_strategy(space, settings_, settings.search_budget);
  const tuning::RunContext run =
      tuning::start_run(space, *strategy, settings, tuning::median(oriperformance_));
  tuning::SearchOutcome found = tuning::search(run, x0_, y0_);
  if (!found.best) return Json::object();
  const tuning::Choice choice = tuning::choose(run, found);
  tuning::ConfirmOutcome confirmed = tuning::confirm(run, found.evaluations[choice.index].param,
                                                     choice.is_original, found.measured);
  return tuning::result_json(
      tuning::tuning_result(run, std::move(found), choice, std::move(confirmed)));
}

}  // namespace orvane
