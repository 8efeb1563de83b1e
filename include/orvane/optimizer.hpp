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

  // Searches, then confirms, within `iterations` evaluations. Each evaluation sets a
  // configuration through SceneVars and measures it with Benchmark, scored by the median of its
  // figures. The values in place when run() starts are the original configuration; when it is a
  // point of the space the strategy is told the baseline as its score.
  //
  // The search gets iterations - 2 * confirm_rounds evaluations (confirm_rounds: default 3).
  // The configuration chosen by the strategy's recommend() (the best posterior mean for bayes)
  // is then measured alternately with the original, chosen first, confirm_rounds times; while a
  // one-sided Wilcoxon signed-rank test of the paired ratios neither accepts
  // nor rejects, one more pair follows, up to confirm_max_rounds pairs in all (default 8). Those
  // further pairs are extra evaluations beyond `iterations`. The error per look is set so that
  // at most 5% of changes that are no better are accepted over all looks (tuning::confirm_rule).
  // The result is effective only when the test accepts: the chosen configuration gave a figure
  // in every round, is better at that error level, and its estimated improvement is more than
  // 1%. When the chosen configuration is
  // the original one, nothing is confirmed and the result is not effective. The last
  // configuration measured stays applied: putting the scene back is the caller's business.
  //
  // Returns {} when no search evaluation produced a figure, else the record
  //   {effective, param,
  //    confirmed: {pairs, chosen, original, improvement, improvement_min, improvement_max,
  //                estimate, interval: {confidence, low, high}, test, error_rate,
  //                error_rate_per_look, p_value},
  //    best, best_seen, baseline, improvement, improvement_min, improvement_max,
  //    direction, method, iterations, extra_evaluations, evaluations, search_evaluations,
  //    exhausted, interrupted,
  //    confirmation: {rounds, max_rounds, evaluations, extra_evaluations, interrupted, skipped,
  //                   reason, original,
  //                   pairs: [{round, extra, chosen: {figures, figure}, original: {...},
  //                            improvement}]},
  //    history: [{index, param, figures, figure}]}
  // where confirmed.chosen and confirmed.original are the medians of the confirmation's figures,
  // improvement the median of the rounds' improvements in percent (null when nothing compares),
  // estimate and interval the test's (Hodges-Lehmann) estimate and its interval (null ends with
  // fewer than five pairs), best the chosen configuration's search figure, best_seen the best
  // search figure (both unconfirmed), and history the search evaluations.
  // Throws std::invalid_argument when the budget leaves the search no evaluation.
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
