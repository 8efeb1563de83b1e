#pragma once
// The model of the scores told so far, in the coordinates the Bayesian strategy works in.
#include <cstdint>
#include <vector>

#include <orvane/bayes_strategy.hpp>

#include "gaussian_process.hpp"
#include "model_coordinates.hpp"

namespace orvane::tuning {

// Scores as the model sees them, standardised. With `shortfall`, first the shortfall from the
// best score on a log scale whose unit is the median shortfall: the better half keeps its shape,
// while the tail of bad scores (a collapse, a failed run, an outlier) is compressed instead of
// flattening every other difference after standardisation.
Eigen::VectorXd model_scores(Eigen::VectorXd s, bool shortfall);

// A Gaussian process over the model coordinates of told configurations and their transformed
// scores, refitted on demand.
class SurrogateModel {
 public:
  SurrogateModel(const SearchSpace& space, const BayesOptions& options, std::uint64_t seed);

  const ModelCoordinates& coords() const { return coords_; }
  const GaussianProcess& gp() const { return gp_; }
  // Observations in the current fit.
  size_t size() const { return size_; }

  // Fits the model to these configurations and scores. A failed measurement (a score that is not
  // finite) enters as the worst finite score, so that the model learns to avoid its
  // neighbourhood. The fit starts from `warm` when it has the model's dimension, and draws its
  // other starting points from a generator of its own, so that a fit made for recommend() does
  // not change later proposals.
  void fit(const std::vector<Point>& xs, const std::vector<double>& scores,
           const Eigen::VectorXd& warm);

  // Posterior mean at each configuration of the fit, in order.
  Eigen::VectorXd fitted_mean() const { return gp_.predict(train_x_).mean; }
  GaussianProcess::Prediction predict(const std::vector<Point>& xs) const;

 private:
  ModelCoordinates coords_;
  BayesOptions options_;
  std::uint64_t seed_;
  GaussianProcess gp_;
  Eigen::MatrixXd train_x_;
  size_t size_ = 0;
};

}  // namespace orvane::tuning
