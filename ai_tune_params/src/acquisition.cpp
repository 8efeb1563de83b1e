// Log expected improvement with a stable evaluation in the far tail.
#include "acquisition.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "surrogate_model.hpp"

namespace orvane::tuning {
namespace {

const double kLogSqrt2Pi = 0.5 * std::log(2.0 * M_PI);

// log h(z) and Φ(z)/h(z) = d log h / dz, where h(z) = z Φ(z) + φ(z) is the expected improvement
// of a standard normal over -z.
void log_h(double z, double& value, double& slope) {
  const double log_phi = -0.5 * z * z - kLogSqrt2Pi;
  if (z >= 0) {
    const double cdf = 0.5 * std::erfc(-z / M_SQRT2);
    const double h = z * cdf + std::exp(log_phi);
    value = std::log(h);
    slope = cdf / h;
  } else if (z > -25) {
    // h/φ = 1 + z Φ/φ; both Φ and φ are far from underflow here, and the cancellation costs
    // at most about three digits.
    const double ratio = 0.5 * std::erfc(-z / M_SQRT2) / std::exp(log_phi);
    const double h_over_phi = 1.0 + z * ratio;
    value = log_phi + std::log(h_over_phi);
    slope = ratio / h_over_phi;
  } else {
    // Asymptotic series of the Mills ratio: Φ/φ ≈ (1 - 1/t² + 3/t⁴ - 15/t⁶) / t and
    // h/φ ≈ 1/t² - 3/t⁴ + 15/t⁶ - 105/t⁸ with t = -z, exact to double precision for t ≥ 25.
    const double t = -z;
    const double u = 1.0 / (t * t);
    const double ratio = (1.0 - u + 3 * u * u - 15 * u * u * u) / t;
    const double h_over_phi = u * (1.0 - 3 * u + 15 * u * u - 105 * u * u * u);
    value = log_phi + std::log(h_over_phi);
    slope = ratio / h_over_phi;
  }
}

}  // namespace

double log_expected_improvement(double mean, double sd, double best, double* d_mean, double* d_sd) {
  const double z = (mean - best) / sd;
  double lh = 0;
  double slope = 0;
  log_h(z, lh, slope);
  // log EI = log sd + log h(z), with dz/dmean = 1/sd and dz/dsd = -z/sd.
  if (d_mean) *d_mean = slope / sd;
  if (d_sd) *d_sd = (1.0 - slope * z) / sd;
  return std::log(sd) + lh;
}

std::vector<double> log_expected_improvements(const SurrogateModel& model,
                                              const std::vector<Point>& xs, double best) {
  if (xs.empty()) return {};
  const GaussianProcess::Prediction pred = model.predict(xs);
  std::vector<double> out(xs.size());
  for (size_t i = 0; i < xs.size(); ++i) {
    const double sd = std::sqrt(std::max(pred.variance(static_cast<long>(i)), 1e-18));
    out[i] = log_expected_improvement(pred.mean(static_cast<long>(i)), sd, best);
    if (!std::isfinite(out[i])) out[i] = -std::numeric_limits<double>::infinity();
  }
  return out;
}

}  // namespace orvane::tuning
