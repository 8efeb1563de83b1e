#pragma once
// Expected improvement, computed in the logarithm so that it stays informative far from the
// incumbent where the improvement itself underflows to zero.

namespace orvane::tuning {

// log E[max(f - best, 0)] for f ~ N(mean, sd²), sd > 0. When the pointers are given, fills the
// derivatives of that logarithm with respect to mean and sd.
double log_expected_improvement(double mean, double sd, double best, double* d_mean = nullptr,
                                double* d_sd = nullptr);

}  // namespace orvane::tuning
