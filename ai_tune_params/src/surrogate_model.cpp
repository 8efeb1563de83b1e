// The surrogate model: score transform, encoding of the told configurations, and the fit.
#include "surrogate_model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane::tuning {
namespace {

// The hyperparameter box: with the length-scale prior and its floors, or the wide box of a plain
// fit.
GpBounds model_bounds(const BayesOptions& options) {
  GpBounds b;
  if (!options.lengthscale_prior) {
    b.prior_log_sigma = 0;
    b.min_lengthscale = 1e-3;
    b.max_lengthscale = 1e3;
    b.min_signal = 1e-2;
    b.min_noise = 1e-6;
  }
  return b;
}

Eigen::VectorXd to_eigen(const std::vector<double>& v) {
  return Eigen::Map<const Eigen::VectorXd>(v.data(), static_cast<long>(v.size()));
}

}  // namespace

Eigen::VectorXd model_scores(Eigen::VectorXd s, bool shortfall) {
  const long n = s.size();
  auto standardise = [n](const Eigen::VectorXd& y) -> Eigen::VectorXd {
    const double mean = y.mean();
    const double sd = std::sqrt((y.array() - mean).square().sum() / static_cast<double>(n));
    return (y.array() - mean) / (sd > 0 ? sd : 1.0);
  };
  if (!shortfall) return standardise(s);
  // The transform does not depend on the scale; scaling first keeps differences of huge
  // scores from overflowing.
  const double magnitude = s.cwiseAbs().maxCoeff();
  if (magnitude > 0) s /= magnitude;
  const double best = s.maxCoeff();
  std::vector<double> gaps(static_cast<size_t>(n));
  for (long i = 0; i < n; ++i) gaps[static_cast<size_t>(i)] = best - s(i);
  std::nth_element(gaps.begin(), gaps.begin() + n / 2, gaps.end());
  double unit = gaps[static_cast<size_t>(n / 2)];
  if (!(unit > 0)) unit = 1.0;
  Eigen::VectorXd y(n);
  for (long i = 0; i < n; ++i) y(i) = -std::log1p((best - s(i)) / unit);
  return standardise(y);
}

SurrogateModel::SurrogateModel(const SearchSpace& space, const BayesOptions& options,
                               std::uint64_t seed)
    : coords_(space, options.log_scale_ratio, options.one_hot),
      options_(options),
      seed_(seed),
      gp_(model_bounds(options)) {}

void SurrogateModel::fit(const std::vector<Point>& xs, const std::vector<double>& scores,
                         const Eigen::VectorXd& warm) {
  const long n = static_cast<long>(xs.size());
  double worst = std::numeric_limits<double>::infinity();
  for (double s : scores) {
    if (std::isfinite(s)) worst = std::min(worst, s);
  }
  Eigen::VectorXd s(n);
  for (long i = 0; i < n; ++i) {
    const double v = scores[static_cast<size_t>(i)];
    s(i) = std::isfinite(v) ? v : worst;
  }
  train_x_.resize(n, static_cast<long>(coords_.dims()));
  for (long i = 0; i < n; ++i) {
    train_x_.row(i) = to_eigen(coords_.encode(xs[static_cast<size_t>(i)]));
  }
  gp_.set_data(train_x_, model_scores(s, options_.shortfall_transform));
  gp_.set_theta(warm.size() == train_x_.cols() + 2 ? warm : gp_.default_theta());
  std::mt19937_64 fit_rng(seed_ ^ (0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(n + 1)));
  gp_.fit(fit_rng, options_.fit_starts, options_.fit_evals);
  size_ = xs.size();
}

GaussianProcess::Prediction SurrogateModel::predict(const std::vector<Point>& xs) const {
  Eigen::MatrixXd c(static_cast<long>(xs.size()), static_cast<long>(coords_.dims()));
  for (size_t i = 0; i < xs.size(); ++i) {
    c.row(static_cast<long>(i)) = to_eigen(coords_.encode(xs[i]));
  }
  return gp_.predict(c);
}

}  // namespace orvane::tuning
