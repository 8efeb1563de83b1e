#pragma once
// The optimiser of a tuning run: proposes configurations through a search strategy, applies and
// measures each one, and reports the best against the baseline.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <orvane/json.hpp>
#include <orvane/search_space.hpp>

namespace orvane {

class Optimizer {
 public:
  // oriperformance: the baseline figures (at least one). settings: as Cfg().get_optimizer_info()
  // gives them. x0: configurations ({name: value} maps, as a list) to measure before the
  // strategy's own proposals; y0: their figures (a list as long as x0) when they are known
  // already, so that they are not measured again.
  Optimizer(std::vector<double> oriperformance, Json settings,
            std::optional<Json> x0 = std::nullopt, std::optional<Json> y0 = std::nullopt);

  // Runs up to `iterations` evaluations; each one sets the candidate through SceneVars and
  // measures it with Benchmark, scored by the median of its figures. The candidate last measured
  // stays applied: putting the scene back is the caller's business.
  //
  // Returns {} when no evaluation produced a figure, else the record
  //   {effective, param, best, baseline, improvement, noise, threshold, direction, method,
  //    evaluations, exhausted, interrupted, history: [{index, param, figures, figure}]}
  // where effective is true when the best figure beats the baseline median, in the configured
  // direction, by more than the threshold: the spread of the baseline's figures when there are
  // several, otherwise the mean spread within the evaluations' repeats, and never less than 1%
  // of the baseline. improvement is in percent (null for a zero baseline).
  Json run();

 private:
  std::vector<double> oriperformance_;
  Json settings_;
  std::optional<Json> x0_;
  std::optional<Json> y0_;
};

namespace tuning {

// Makes the strategy of one method from the space and the optimiser settings.
using StrategyFactory =
    std::function<std::unique_ptr<Strategy>(const SearchSpace& space, const Json& settings)>;

// Sets the factory for a method and returns the one it replaces (empty when there was none);
// an empty factory removes the method. "random" is built in.
StrategyFactory register_strategy(const std::string& method, StrategyFactory factory);

// The search space of optimiser settings ({params: [{name, type, range, step, options}]}).
SearchSpace space_from_settings(const Json& settings);

}  // namespace tuning
}  // namespace orvane
