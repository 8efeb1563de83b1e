#pragma once
// The Bayesian strategy: a Gaussian-process model of the scores measured so far decides which
// configuration is worth measuring next, so that a small budget of noisy benchmark runs goes
// where an improvement is likely.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <orvane/search_space.hpp>

namespace orvane::tuning {

// Effort knobs of the Bayesian strategy. The defaults keep one proposal well under 100 ms at 50
// measured configurations in 10 dimensions.
struct BayesOptions {
  // Proposal: valid configurations drawn uniformly, and drawn around the best ones so far.
  int random_candidates = 1000;
  int local_candidates = 1000;
  // The best few candidates are refined by a local optimiser of the acquisition.
  int refine_starts = 5;
  int refine_evals = 60;
  // Model fit: starting points and evaluations per start of the likelihood maximisation.
  int fit_starts = 3;
  int fit_evals = 100;
  // Spaces with at most this many configurations are scored whole instead of sampled.
  std::size_t enumerate_limit = 4096;
  // Int and Float parameters whose range is positive and spans at least this factor
  // (max >= ratio * min > 0) are modelled on a log scale; 0 models every range linearly.
  double log_scale_ratio = 10.0;
  // Scores modelled as the log of their shortfall from the best one (false: standardised only).
  bool shortfall_transform = true;
  // A log-normal prior on the length scales, with floors on length scales, signal and noise
  // (false: the plain likelihood in a wide box).
  bool lengthscale_prior = true;
  // Proposals drawn from a box around the best configuration that grows and shrinks with
  // success (false: from the whole space).
  bool trust_region = true;
  // Enum options one coordinate each (false: one coordinate, the option's index scaled).
  bool one_hot = true;
};

// A strategy that measures a space-filling design of `initial_points` configurations first
// (at least two), then proposes the configuration with the largest expected improvement over
// the model's best estimate among those measured. It never proposes a configuration already
// told or already proposed, and gives the same proposals for the same seed and the same scores.
// recommend() returns the told configuration with the best posterior mean, which discounts a
// single lucky measurement.
std::unique_ptr<Strategy> make_bayes_strategy(const SearchSpace& space, std::uint64_t seed,
                                              int initial_points, const BayesOptions& options = {});

// The space-filling design a search of `search_budget` evaluations starts with when the project
// does not say: a quarter of the budget, rounded up, 2 to 8. A design of 8 leaves a 14-evaluation
// search only 6 proposals of the model; 4 leaves it 10, which the regret suite finds better at
// 20 and 30 evaluations, while from 32 on the design stays at 8.
int default_initial_points(long long search_budget);

}  // namespace orvane::tuning
