#pragma once
// Expected improvement, computed in the logarithm so that it stays informative far from the
// incumbent where the improvement itself underflows to zero.

#include <vector>

#include <orvane/search_space.hpp>

namespace orvane::tuning {

class SurrogateModel;

// log E[max(f - best, 0)] for f ~ N(mean, sd²), sd > 0. When the pointers are given, fills the
// derivatives of that logarithm with respect to mean and sd.
double log_expected_improvement(double mean, double sd, double best, double* d_mean = nullptr,
                                double* d_sd = nullptr);

// Log expected improvement over `best` (in model units) of each configuration under the model;
// -infinity where it does not evaluate.
std::vector<double> log_expected_improvements(const SurrogateModel& model,
                                              const std::vector<Point>& xs, double best);

}  // namespace orvane::tuning
