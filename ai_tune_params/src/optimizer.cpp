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
                                    settings.value("initial_points", 8));
       }},
  };
  return table;
}

std::unique_ptr<Strategy> make_strategy(const SearchSpace& space, const Json& settings) {
  const std::string method = settings.at("method").get<std::string>();
  auto it = strategies().find(method);
  if (it == strategies().end()) {
    throw std::invalid_argument("the optimiser method '" + method + "' is not available");
  }
  return it->second(space, settings);
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

}  // namespace tuning

using tuning::Evaluation;
using tuning::Point;

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
  const std::string direction = settings_.at("direction").get<std::string>();
  const bool minimize = direction == "minimize";
  const double sign = minimize ? -1.0 : 1.0;
  const long long iterations = settings_.at("iterations").get<long long>();
  const long long rounds = settings_.value("confirm_rounds", tuning::kDefaultConfirmRounds);
  if (rounds < 1) throw std::invalid_argument("confirm_rounds must be at least 1");
  if (iterations <= 2 * rounds) {
    throw std::invalid_argument(
        fmt::format("{} iterations leave no evaluation for the search after the confirmation's {}",
                    iterations, 2 * rounds));
  }
  const long long max_rounds = settings_.value(
      "confirm_max_rounds", static_cast<long long>(tuning::ConfirmRule{}.max_rounds));
  if (max_rounds < 1 || max_rounds > tuning::kMaxConfirmPairs) {
    throw std::invalid_argument(
        fmt::format("confirm_max_rounds must be 1 to {}", tuning::kMaxConfirmPairs));
  }
  const long long search_budget = iterations - 2 * rounds;
  const double baseline = tuning::median(oriperformance_);
  auto strategy = tuning::make_strategy(space, settings_);

  // The values in place now are the original configuration, the one the baseline measured.
  const Json original = SceneVars().get_params();
  bool original_complete = true;
  for (const auto& p : space.params())
    original_complete = original_complete && original.contains(p.name);
  const std::optional<Point> original_point =
      original_complete ? tuning::exact_point(space, original) : std::nullopt;
  // When the original is a point of the space the strategy knows its score and never proposes
  // it, and may recommend it in the end.
  if (original_point) strategy->tell(*original_point, sign * baseline);

  std::vector<Evaluation> evaluations;
  std::optional<size_t> best;  // index into evaluations
  // Failed evaluations are told the worst score seen, so the strategy avoids them without a
  // value that would distort a model.
  double worst_score = sign * baseline;
  auto record = [&](Evaluation e) {
    if (e.figure) {
      const double score = sign * *e.figure;
      strategy->tell(e.x, score);
      worst_score = std::min(worst_score, score);
      if (!best || score > sign * *evaluations[*best].figure) best = evaluations.size();
    } else {
      strategy->tell(e.x, worst_score);
    }
    evaluations.push_back(std::move(e));
  };

  std::vector<Point> queued;
  if (x0_) {
    for (size_t k = 0; k < x0_->size(); ++k) {
      std::optional<Point> x = space.from_json((*x0_)[k]);
      if (!x)
        throw std::invalid_argument(fmt::format("x0[{}] is not a configuration of the space", k));
      if (y0_) {
        const double y = (*y0_)[k].get<double>();
        record({*x, space.to_json(*x), {y}, y});
      } else {
        queued.push_back(*x);
      }
    }
  }

  bool exhausted = false;
  long long measured = 0;   // search evaluations
  long long confirmed = 0;  // confirmation evaluations
  for (long long i = 1; i <= search_budget && !tuning::stop_requested(); ++i) {
    std::optional<Point> x;
    if (static_cast<size_t>(i) <= queued.size()) {
      x = queued[static_cast<size_t>(i) - 1];
    } else {
      x = strategy->ask();
    }
    if (!x) {
      exhausted = true;
      break;
    }
    Evaluation e{*x, space.to_json(*x), {}, std::nullopt};
    if (!tuning::measure(e.param, e.figures)) break;
    if (!e.figures.empty()) e.figure = tuning::median(e.figures);
    ++measured;
    const std::string candidate = tuning::map_text(e.param);
    const std::string figure = e.figure ? tuning::figure_text(*e.figure) : "no figure";
    record(std::move(e));
    std::cerr << fmt::format("[{}/{}] {} -> {} (best so far {})\n", measured, iterations, candidate,
                             figure, best ? tuning::figure_text(*evaluations[*best].figure) : "-");
  }
  if (!best) return Json::object();

  // The strategy's pick: the original configuration, or a measured one that gave a figure (the
  // best figure when the pick is neither).
  const std::string recommended = space.key(strategy->recommend());
  const bool chosen_is_original = original_point && space.key(*original_point) == recommended;
  size_t chosen = *best;
  for (size_t k = 0; k < evaluations.size(); ++k) {
    if (evaluations[k].figure && space.key(evaluations[k].x) == recommended) chosen = k;
  }

  // The confirmation: chosen and original measured alternately, each applied through the set
  // scripts, so that drift over the run hits both alike. The first `rounds` pairs come out of the
  // budget; while the paired test does not decide, more pairs follow, up to max_rounds, as
  // extra evaluations.
  const tuning::ConfirmRule rule =
      tuning::confirm_rule(static_cast<size_t>(rounds), static_cast<size_t>(max_rounds));
  tuning::Confirmation confirmation;
  Json pair_records = Json::array();
  std::string skipped;
  const Json& chosen_param = evaluations[chosen].param;
  if (chosen_is_original) {
    skipped = "the chosen configuration is the original one";
  } else if (!original_complete) {
    skipped = "the original values could not all be read again";
  } else {
    const std::string chosen_text = tuning::map_text(chosen_param);
    const std::string original_text = tuning::map_text(original);
    auto progress = [&](long long r) {
      if (r <= rounds) {
        return fmt::format("[{}/{}] confirm {}/{}", measured + confirmed, iterations, r, rounds);
      }
      return fmt::format("[{}/{} +{} extra] confirm {}/{}", measured + 2 * rounds, iterations,
                         confirmed - 2 * rounds, r, rule.max_rounds);
    };
    std::vector<tuning::ConfirmRound> measured_pairs;
    auto measure_pair = [&]() -> std::optional<tuning::ConfirmRound> {
      const long long r = static_cast<long long>(pair_records.size()) + 1;
      if (r == rounds + 1) {
        const std::string why = tuning::decide_confirmation(measured_pairs, minimize, rule).reason;
        Logger().info(
            fmt::format("confirmation: {}; measuring more pairs, up to {}", why, rule.max_rounds));
        std::cerr << fmt::format("undecided after {} pair{}: measuring more, up to {}\n", rounds,
                                 rounds == 1 ? "" : "s", rule.max_rounds);
      }
      if (tuning::stop_requested()) return std::nullopt;
      Json round = {{"round", r}, {"extra", r > rounds}};
      tuning::ConfirmRound pair;
      std::vector<double> figures;
      if (!tuning::measure(chosen_param, figures)) return std::nullopt;
      ++confirmed;
      if (!figures.empty()) pair.chosen = tuning::median(figures);
      round["chosen"] = tuning::figures_json(figures, pair.chosen);
      std::cerr << fmt::format("{} chosen {} -> {}\n", progress(r), chosen_text,
                               pair.chosen ? tuning::figure_text(*pair.chosen) : "no figure");
      figures.clear();
      if (!tuning::measure(original, figures)) return std::nullopt;
      ++confirmed;
      if (!figures.empty()) pair.original = tuning::median(figures);
      round["original"] = tuning::figures_json(figures, pair.original);
      const auto gain = tuning::judge_confirmation({pair}, minimize).improvements.front();
      round["improvement"] = gain ? Json(*gain) : Json(nullptr);
      std::cerr << fmt::format("{} original {} -> {} ({})\n", progress(r), original_text,
                               pair.original ? tuning::figure_text(*pair.original) : "no figure",
                               gain ? fmt::format("{:+.2f}%", *gain) : "no comparison");
      pair_records.push_back(std::move(round));
      measured_pairs.push_back(pair);
      return pair;
    };
    confirmation =
        tuning::run_confirmation(static_cast<size_t>(rounds), minimize, rule, measure_pair);
  }
  const std::vector<tuning::ConfirmRound>& pairs = confirmation.rounds;
  const tuning::PairedTest& test = confirmation.test;
  // The rounds' own improvements, for their median and range beside the test's estimate.
  const tuning::ConfirmVerdict rounds_seen = tuning::judge_confirmation(pairs, minimize);
  const bool effective = skipped.empty() && test.decision == tuning::ConfirmDecision::Accept;
  const std::string reason = skipped.empty() ? test.reason : skipped;
  Logger().info(
      fmt::format("confirmation: {} ({})", effective ? "effective" : "not effective", reason));
  std::vector<double> chosen_figures, original_figures;
  for (const tuning::ConfirmRound& p : pairs) {
    if (p.chosen) chosen_figures.push_back(*p.chosen);
    if (p.original) original_figures.push_back(*p.original);
  }
  const long long extra = std::max(0LL, confirmed - 2 * rounds);

  Json history = Json::array();
  for (size_t k = 0; k < evaluations.size(); ++k) {
    const auto& e = evaluations[k];
    history.push_back({{"index", k + 1},
                       {"param", e.param},
                       {"figures", e.figures},
                       {"figure", e.figure ? Json(*e.figure) : Json(nullptr)}});
  }
  auto optional_json = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
  auto median_json = [](const std::vector<double>& v) {
    return v.empty() ? Json(nullptr) : Json(tuning::median(v));
  };
  const int confidence = static_cast<int>(std::lround(100 * (1 - 2 * rule.interval_alpha)));
  Json result = Json::object();
  result["effective"] = effective;
  result["param"] = chosen_is_original ? original : chosen_param;
  // What the confirmation measured comes first: the figures the decision rests on.
  Json interval = {{"confidence", confidence},
                   {"low", optional_json(test.low)},
                   {"high", optional_json(test.high)}};
  result["confirmed"] = {{"pairs", pairs.size()},
                         {"chosen", median_json(chosen_figures)},
                         {"original", median_json(original_figures)},
                         {"improvement", optional_json(rounds_seen.median)},
                         {"improvement_min", optional_json(rounds_seen.min)},
                         {"improvement_max", optional_json(rounds_seen.max)},
                         {"estimate", optional_json(test.estimate)},
                         {"interval", std::move(interval)},
                         {"test", "one-sided Wilcoxon signed-rank test of the paired ratios"},
                         {"error_rate", tuning::kConfirmErrorRate},
                         {"error_rate_per_look", rule.alpha},
                         {"p_value", pairs.empty() ? Json(nullptr) : Json(test.p_value)}};
  result["best"] = chosen_is_original ? baseline : *evaluations[chosen].figure;
  result["best_seen"] = *evaluations[*best].figure;
  result["baseline"] = baseline;
  result["improvement"] = optional_json(rounds_seen.median);
  result["improvement_min"] = optional_json(rounds_seen.min);
  result["improvement_max"] = optional_json(rounds_seen.max);
  result["direction"] = direction;
  result["method"] = settings_.at("method");
  result["iterations"] = iterations;
  result["extra_evaluations"] = extra;
  result["evaluations"] = measured + confirmed;
  result["search_evaluations"] = measured;
  result["exhausted"] = exhausted;
  result["interrupted"] = tuning::stop_requested() != 0;
  result["confirmation"] = {{"rounds", rounds},
                            {"max_rounds", rule.max_rounds},
                            {"evaluations", confirmed},
                            {"extra_evaluations", extra},
                            {"interrupted", confirmation.interrupted},
                            {"skipped", skipped.empty() ? Json(nullptr) : Json(skipped)},
                            {"reason", reason},
                            {"original", original},
                            {"pairs", std::move(pair_records)}};
  result["history"] = std::move(history);
  return result;
}

}  // namespace orvane
