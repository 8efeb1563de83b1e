#pragma once
// Synthetic objectives with known optima, for measuring how well the tuning strategies search:
// as C++ functions for the in-process benchmarks, and behind orvane-objective for end-to-end runs.
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <orvane/search_space.hpp>

namespace orvane::bench {

struct Objective {
  std::string name;
  std::vector<tuning::ParamSpec> params;
  bool minimize = true;
  double optimum = 0;         // the best true value
  tuning::Point argbest;      // a configuration that attains it
  double relative_noise = 0;  // standard deviation of the multiplicative measurement noise
  // The true, noise-free value; NaN where the modelled server crashes and gives no figure.
  std::function<double(const tuning::Point&)> value;
  // The configuration in place before tuning (the baseline a confirmation compares with);
  // empty: the centre of the space.
  tuning::Point stock = {};

  // One measurement: the true value times (1 + relative_noise * N(0, 1)); NaN in a crash.
  double measure(const tuning::Point& x, std::mt19937_64& rng) const;
  // How far the true value of x is from the optimum (never negative up to roundoff). A crashing
  // configuration counts as |optimum|, a throughput of 0.
  double regret(const tuning::Point& x) const;
  // The stock configuration, snapped into the space.
  tuning::Point stock_point() const;
  // The score a strategy maximises: the figure, negated when the objective is minimised.
  double score(double figure) const { return minimize ? -figure : figure; }
};

// The suite: Branin, Hartmann-6, a 10-dimensional integer Rosenbrock; six noisy mixed models of
// servers (options that interact with integers, plateaus, stepped integers, 1-5% noise, an
// optimum on a range bound, a parameter that does nothing, a crash region); and two mixed
// categorical-continuous functions from the literature on mixed-variable Bayesian optimisation.
const std::vector<Objective>& objectives();
// The objective of that name, or nullptr.
const Objective* find_objective(const std::string& name);

}  // namespace orvane::bench
