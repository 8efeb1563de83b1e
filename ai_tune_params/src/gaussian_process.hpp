#pragma once
// Gaussian-process regression with a Matérn 5/2 kernel, one length scale per input and a learned
// noise term: the surrogate model of the Bayesian strategy.
#include <random>

#include <Eigen/Cholesky>
#include <Eigen/Core>

namespace orvane::tuning {

// Box for the hyperparameters of a GaussianProcess (length scales and variances, not logarithms).
struct GpBounds {
  double min_lengthscale = 0.03;
  double max_lengthscale = 30.0;
  double min_signal = 0.3;
  double max_signal = 20.0;
  double min_noise = 1e-4;
  double max_noise = 2.0;
  // Log-normal prior on each length scale: median prior_lengthscale * sqrt(d) (distances grow
  // with the square root of the number of inputs), and the standard deviation of its logarithm.
  // It keeps a fit to a handful of points from explaining them with one or two very short
  // length scales and every other input switched off. Zero sigma: plain likelihood.
  double prior_lengthscale = 0.10;
  double prior_log_sigma = 0.75;
};

// The model works on inputs scaled to [0, 1] and on standardised outputs; the caller does both.
// Hyperparameters are kept as logarithms, theta = (log l_1 .. log l_d, log signal variance,
// log noise variance), so that a plain box bounds them and the optimiser sees a smooth surface.
class GaussianProcess {
 public:
  using Bounds = GpBounds;

  struct Prediction {
    Eigen::VectorXd mean;
    Eigen::VectorXd variance;  // of the latent function, without the noise term
  };

  explicit GaussianProcess(Bounds bounds = {});

  // Replaces the data: one row of x per observation, y already standardised. Keeps the
  // hyperparameters when the dimension is unchanged, otherwise resets them to the defaults.
  void set_data(Eigen::MatrixXd x, Eigen::VectorXd y);
  // Sets the hyperparameters (clamped into the bounds) and factorises the kernel matrix.
  void set_theta(const Eigen::VectorXd& theta);
  // Maximises the log marginal likelihood from the current hyperparameters and `starts` - 1
  // further starting points drawn from `rng`, then keeps the best.
  void fit(std::mt19937_64& rng, int starts, int max_evals);

  // Log marginal likelihood of the data under theta; fills grad (d + 2 long) when it is given.
  double log_likelihood(const Eigen::VectorXd& theta, Eigen::VectorXd* grad) const;
  // The log marginal likelihood plus the log prior of theta: what fit() maximises.
  double log_posterior(const Eigen::VectorXd& theta, Eigen::VectorXd* grad) const;

  // Posterior of the latent function at each row of xs.
  Prediction predict(const Eigen::MatrixXd& xs) const;
  // Posterior mean and standard deviation at one point, with their gradients with respect to
  // the point when the pointers are given.
  void predict_one(const Eigen::VectorXd& x, double& mean, double& sd, Eigen::VectorXd* dmean,
                   Eigen::VectorXd* dsd) const;

  const Eigen::VectorXd& theta() const { return theta_; }
  const Bounds& bounds() const { return bounds_; }
  Eigen::VectorXd lower_bounds() const;
  Eigen::VectorXd upper_bounds() const;
  Eigen::VectorXd default_theta() const;
  // The diagonal added to the kernel matrix beyond the noise term to make it factorise.
  double jitter() const { return jitter_; }
  long dims() const { return x_.cols(); }
  long size() const { return x_.rows(); }

  // Matérn 5/2 covariance of two points at scaled distance r: s2 (1 + √5 r + 5/3 r²) e^{-√5 r}.
  static double matern52(double r, double signal_variance);

 private:
  // Kernel matrix of the data (without noise) for the hyperparameters theta.
  Eigen::MatrixXd kernel(const Eigen::VectorXd& theta) const;
  // Cholesky factor of k + (noise + jitter) I, raising the jitter until it factorises.
  static Eigen::LLT<Eigen::MatrixXd> factorise(const Eigen::MatrixXd& k, double noise,
                                               double* jitter);

  Bounds bounds_;
  Eigen::MatrixXd x_;
  Eigen::VectorXd y_;
  Eigen::VectorXd theta_;
  Eigen::LLT<Eigen::MatrixXd> llt_;
  Eigen::VectorXd alpha_;  // (K + noise I)^{-1} y, by two triangular solves
  double jitter_ = 0;
};

}  // namespace orvane::tuning
