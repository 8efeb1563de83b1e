// The optimiser's evaluation loop on top of the ask/tell strategies.
#include <orvane/optimizer.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <stdexcept>

#include <orvane/benchmark.hpp>
#include <orvane/scenevars.hpp>
#include <orvane/tuning_stop.hpp>

#include <orvane/value_text.hpp>

namespace orvane {
namespace tuning {
namespace {

std::map<std::string, StrategyFactory>& strategies() {
  static std::map<std::string, StrategyFactory> table = {
      {"random",
       [](const SearchSpace& space, const Json& settings) {
         return make_random_strategy(space, settings.at("seed").get<std::uint64_t>());
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

double spread(const std::vector<double>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return *hi - *lo;
}

std::string figure_text(double x) {
  return fmt::format("{}", x);
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
  std::vector<ParamSpec> specs;
  for (const Json& p : settings.at("params")) {
    ParamSpec spec;
    spec.name = p.at("name").get<std::string>();
    const std::string type = p.at("type").get<std::string>();
    if (type == "enum") {
      spec.type = ParamType::Enum;
      spec.options = p.at("options").get<std::vector<std::string>>();
    } else if (type == "int" || type == "float") {
      spec.type = type == "int" ? ParamType::Int : ParamType::Float;
      spec.min = p.at("range").at(0).get<double>();
      spec.max = p.at("range").at(1).get<double>();
      if (p.contains("step")) spec.step = p.at("step").get<double>();
    } else {
      throw std::invalid_argument("parameter '" + spec.name + "' has the unknown type '" + type +
                                  "'");
    }
    specs.push_back(std::move(spec));
  }
  return SearchSpace(std::move(specs));
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
  const double sign = direction == "minimize" ? -1.0 : 1.0;
  const long long iterations = settings_.at("iterations").get<long long>();
  const double baseline = tuning::median(oriperformance_);
  auto strategy = tuning::make_strategy(space, settings_);

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
  long long measured = 0;
  for (long long i = 1; i <= iterations && !tuning::stop_requested(); ++i) {
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
    SceneVars().set_params(e.param);
    if (tuning::stop_requested()) break;
    e.figures = Benchmark().run();
    if (tuning::stop_requested()) break;
    if (!e.figures.empty()) e.figure = tuning::median(e.figures);
    ++measured;
    const std::string candidate = tuning::map_text(e.param);
    const std::string figure = e.figure ? tuning::figure_text(*e.figure) : "no figure";
    record(std::move(e));
    std::cerr << fmt::format("[{}/{}] {} -> {} (best so far {})\n", i, iterations, candidate,
                             figure, best ? tuning::figure_text(*evaluations[*best].figure) : "-");
  }
  if (!best) return Json::object();

  // The strategy's pick among the measured configurations, when it is one that gave a figure.
  size_t chosen = *best;
  const std::string recommended = space.key(strategy->recommend());
  for (size_t k = 0; k < evaluations.size(); ++k) {
    if (evaluations[k].figure && space.key(evaluations[k].x) == recommended) chosen = k;
  }
  const double best_figure = *evaluations[chosen].figure;

  double noise = 0;
  if (oriperformance_.size() > 1) {
    noise = tuning::spread(oriperformance_);
  } else {
    double sum = 0;
    int n = 0;
    for (const auto& e : evaluations) {
      if (e.figures.size() > 1) sum += tuning::spread(e.figures), ++n;
    }
    if (n) noise = sum / n;
  }
  const double threshold = std::max(noise, 0.01 * std::fabs(baseline));
  const double gain = sign * (best_figure - baseline);

  Json history = Json::array();
  for (size_t k = 0; k < evaluations.size(); ++k) {
    const auto& e = evaluations[k];
    history.push_back({{"index", k + 1},
                       {"param", e.param},
                       {"figures", e.figures},
                       {"figure", e.figure ? Json(*e.figure) : Json(nullptr)}});
  }
  Json result = Json::object();
  result["effective"] = gain > threshold;
  result["param"] = evaluations[chosen].param;
  result["best"] = best_figure;
  result["baseline"] = baseline;
  result["improvement"] = baseline != 0 ? Json(gain / std::fabs(baseline) * 100) : Json(nullptr);
  result["noise"] = noise;
  result["threshold"] = threshold;
  result["direction"] = direction;
  result["method"] = settings_.at("method");
  result["evaluations"] = measured;
  result["exhausted"] = exhausted;
  result["interrupted"] = tuning::stop_requested() != 0;
  result["history"] = std::move(history);
  return result;
}

}  // namespace orvane
