// The trust region: its side's growth and shrinkage, and its box for the current model.
#include "trust_region.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane::tuning {
namespace {

// Initial, largest and smallest side, and the runs that grow or shrink it.
constexpr double kInitial = 0.4;
constexpr double kMax = 1.6;
constexpr double kMin = 0.0078125;  // 0.4 halved six times falls below it
constexpr int kSuccesses = 3;
constexpr int kMinFailures = 4;

}  // namespace

TrustRegion::TrustRegion(const ModelCoordinates& coords, bool enabled)
    : coords_(coords), enabled_(enabled), side_(kInitial) {}

void TrustRegion::update(double score, const std::vector<double>& before) {
  double best = -std::numeric_limits<double>::infinity();
  double worst = std::numeric_limits<double>::infinity();
  for (double s : before) {
    if (!std::isfinite(s)) continue;
    best = std::max(best, s);
    worst = std::min(worst, s);
  }
  const bool improved =
      std::isfinite(score) && (!std::isfinite(best) || score > best + 1e-3 * (best - worst));
  successes_ = improved ? successes_ + 1 : 0;
  failures_ = improved ? 0 : failures_ + 1;
  const int failure_limit = std::max(kMinFailures, static_cast<int>(coords_.numeric().size()));
  if (successes_ >= kSuccesses) {
    side_ = std::min(2 * side_, kMax);
    successes_ = 0;
  } else if (failures_ >= failure_limit) {
    side_ /= 2;
    failures_ = 0;
  }
  if (side_ < kMin) side_ = kInitial;
}

Box TrustRegion::box(const Point& centre, const Eigen::VectorXd& theta) const {
  Box box;
  box.centre = coords_.encode(centre);
  box.lo.assign(box.centre.size(), 0.0);
  box.hi.assign(box.centre.size(), 1.0);
  const auto& numeric = coords_.numeric();
  if (numeric.empty() || !enabled_) return box;
  double log_mean = 0;
  for (long c : numeric) log_mean += theta(c);
  log_mean /= static_cast<double>(numeric.size());
  for (long c : numeric) {
    const auto k = static_cast<size_t>(c);
    const double half = 0.5 * side_ * std::exp(theta(c) - log_mean);
    box.lo[k] = std::max(0.0, box.centre[k] - half);
    box.hi[k] = std::min(1.0, box.centre[k] + half);
  }
  return box;
}

}  // namespace orvane::tuning
