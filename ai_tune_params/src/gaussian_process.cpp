// Gaussian-process regression: kernel, likelihood with its gradient, fitting and prediction.
#include "gaussian_process.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include <nlopt.hpp>

namespace orvane::tuning {
namespace {

const double kSqrt5 = std::sqrt(5.0);
const double kLog2Pi = std::log(2.0 * M_PI);

// (5/3) s2 (1 + √5 r) e^{-√5 r}: the factor shared by the derivatives of the Matérn 5/2 kernel.
// d k / d log l_j = g(r) (Δ_j / l_j)², d k / d x_j = -g(r) Δ_j / l_j².
double matern_grad_factor(double r, double s2) {
  return (5.0 / 3.0) * s2 * (1.0 + kSqrt5 * r) * std::exp(-kSqrt5 * r);
}

}  // namespace

GaussianProcess::GaussianProcess(Bounds bounds) : bounds_(bounds) {}

double GaussianProcess::matern52(double r, double s2) {
  return s2 * (1.0 + kSqrt5 * r + (5.0 / 3.0) * r * r) * std::exp(-kSqrt5 * r);
}

Eigen::VectorXd GaussianProcess::lower_bounds() const {
  const long d = dims();
  Eigen::VectorXd lb(d + 2);
  lb.head(d).setConstant(std::log(bounds_.min_lengthscale));
  lb(d) = std::log(bounds_.min_signal);
  lb(d + 1) = std::log(bounds_.min_noise);
  return lb;
}

Eigen::VectorXd GaussianProcess::upper_bounds() const {
  const long d = dims();
  Eigen::VectorXd ub(d + 2);
  ub.head(d).setConstant(std::log(bounds_.max_lengthscale));
  ub(d) = std::log(bounds_.max_signal);
  ub(d + 1) = std::log(bounds_.max_noise);
  return ub;
}

Eigen::VectorXd GaussianProcess::default_theta() const {
  // Length scales at the prior's median, signal variance 1 as for standardised outputs, and a
  // small noise.
  const long d = dims();
  Eigen::VectorXd t(d + 2);
  t.head(d).setConstant(
      std::log(bounds_.prior_lengthscale * std::sqrt(static_cast<double>(std::max(d, 1L)))));
  t(d) = 0.0;
  t(d + 1) = std::log(1e-2);
  return t.cwiseMax(lower_bounds()).cwiseMin(upper_bounds());
}

void GaussianProcess::set_data(Eigen::MatrixXd x, Eigen::VectorXd y) {
  if (x.rows() != y.size()) throw std::invalid_argument("GaussianProcess: x and y differ in size");
  const bool same_dims = x.cols() == x_.cols() && theta_.size() == x.cols() + 2;
  x_ = std::move(x);
  y_ = std::move(y);
  set_theta(same_dims ? theta_ : default_theta());
}

Eigen::MatrixXd GaussianProcess::kernel(const Eigen::VectorXd& theta) const {
  const long n = size();
  const long d = dims();
  const Eigen::ArrayXd inv_l = (-theta.head(d)).array().exp();
  const double s2 = std::exp(theta(d));
  const Eigen::MatrixXd xs = x_ * inv_l.matrix().asDiagonal();
  Eigen::MatrixXd k(n, n);
  for (long a = 0; a < n; ++a) {
    k(a, a) = s2;
    for (long b = 0; b < a; ++b) {
      const double r = (xs.row(a) - xs.row(b)).norm();
      k(a, b) = k(b, a) = matern52(r, s2);
    }
  }
  return k;
}

Eigen::LLT<Eigen::MatrixXd> GaussianProcess::factorise(const Eigen::MatrixXd& k, double noise,
                                                       double* jitter) {
  const long n = k.rows();
  const double scale = n > 0 ? k.diagonal().mean() : 1.0;
  double extra = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    Eigen::MatrixXd m = k;
    m.diagonal().array() += noise + extra;
    Eigen::LLT<Eigen::MatrixXd> llt(m);
    if (llt.info() == Eigen::Success) {
      if (jitter) *jitter = extra;
      return llt;
    }
    extra = extra == 0 ? 1e-10 * scale : extra * 10;
  }
  throw std::runtime_error("GaussianProcess: kernel matrix does not factorise");
}

void GaussianProcess::set_theta(const Eigen::VectorXd& theta) {
  theta_ = theta.cwiseMax(lower_bounds()).cwiseMin(upper_bounds());
  const long d = dims();
  llt_ = factorise(kernel(theta_), std::exp(theta_(d + 1)), &jitter_);
  alpha_ = llt_.solve(y_);
}

double GaussianProcess::log_likelihood(const Eigen::VectorXd& theta, Eigen::VectorXd* grad) const {
  const long n = size();
  const long d = dims();
  const Eigen::MatrixXd k = kernel(theta);
  const double noise = std::exp(theta(d + 1));
  double jitter = 0;
  const Eigen::LLT<Eigen::MatrixXd> llt = factorise(k, noise, &jitter);
  const Eigen::VectorXd alpha = llt.solve(y_);
  const Eigen::MatrixXd& l = llt.matrixLLT();
  const double log_det = 2.0 * l.diagonal().array().log().sum();
  const double value =
      -0.5 * y_.dot(alpha) - 0.5 * log_det - 0.5 * static_cast<double>(n) * kLog2Pi;
  if (!grad) return value;

  // d/dθ = ½ tr((α αᵀ - K⁻¹) dK/dθ). K⁻¹ comes from the Cholesky factor by triangular solves.
  const Eigen::MatrixXd w = alpha * alpha.transpose() - llt.solve(Eigen::MatrixXd::Identity(n, n));
  grad->setZero(d + 2);
  const Eigen::ArrayXd inv_l = (-theta.head(d)).array().exp();
  const double s2 = std::exp(theta(d));
  Eigen::ArrayXd delta2(d);
  for (long a = 0; a < n; ++a) {
    for (long b = 0; b < a; ++b) {
      delta2 = ((x_.row(a) - x_.row(b)).transpose().array() * inv_l).square();
      const double r = std::sqrt(delta2.sum());
      // Off-diagonal pairs appear twice in the trace.
      grad->head(d).array() += w(a, b) * matern_grad_factor(r, s2) * delta2;
    }
  }
  // The diagonal of dK/d log l is zero; dK/d log s2 = K; dK/d log noise = noise I.
  (*grad)(d) = 0.5 * (w.array() * k.array()).sum();
  (*grad)(d + 1) = 0.5 * noise * w.trace();
  return value;
}

double GaussianProcess::log_posterior(const Eigen::VectorXd& theta, Eigen::VectorXd* grad) const {
  double value = log_likelihood(theta, grad);
  if (bounds_.prior_log_sigma > 0) {
    const long d = dims();
    const double mu =
        std::log(bounds_.prior_lengthscale * std::sqrt(static_cast<double>(std::max(d, 1L))));
    const double var = bounds_.prior_log_sigma * bounds_.prior_log_sigma;
    const Eigen::ArrayXd z = theta.head(d).array() - mu;
    value -= 0.5 * z.square().sum() / var;
    if (grad) grad->head(d).array() -= z / var;
  }
  return value;
}

void GaussianProcess::fit(std::mt19937_64& rng, int starts, int max_evals) {
  const long p = dims() + 2;
  if (size() < 2) return;
  const Eigen::VectorXd lb = lower_bounds();
  const Eigen::VectorXd ub = upper_bounds();

  // Starting points: the current hyperparameters, the defaults, then random points of a box
  // narrower than the bounds (the extremes rarely hold the optimum and are slow to leave).
  std::vector<Eigen::VectorXd> x0{theta_, default_theta()};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  while (static_cast<int>(x0.size()) < std::max(starts, 1)) {
    Eigen::VectorXd t(p);
    for (long i = 0; i < p; ++i) {
      const double lo = lb(i) + 0.15 * (ub(i) - lb(i));
      const double hi = ub(i) - 0.15 * (ub(i) - lb(i));
      t(i) = lo + unit(rng) * (hi - lo);
    }
    x0.push_back(t);
  }
  x0.resize(static_cast<size_t>(std::max(starts, 1)));

  struct Context {
    const GaussianProcess* gp;
    Eigen::VectorXd grad;
  } ctx{this, Eigen::VectorXd(p)};
  auto objective = [](unsigned n, const double* x, double* g, void* data) -> double {
    auto* c = static_cast<Context*>(data);
    const Eigen::Map<const Eigen::VectorXd> theta(x, n);
    try {
      const double v = c->gp->log_posterior(theta, g ? &c->grad : nullptr);
      if (g) Eigen::Map<Eigen::VectorXd>(g, n) = -c->grad;
      return std::isfinite(v) ? -v : 1e300;
    } catch (const std::runtime_error&) {
      if (g) std::fill(g, g + n, 0.0);
      return 1e300;
    }
  };

  Eigen::VectorXd best = theta_;
  double best_value = -std::numeric_limits<double>::infinity();
  for (const auto& start : x0) {
    nlopt::opt opt(nlopt::LD_LBFGS, static_cast<unsigned>(p));
    opt.set_lower_bounds(std::vector<double>(lb.data(), lb.data() + p));
    opt.set_upper_bounds(std::vector<double>(ub.data(), ub.data() + p));
    opt.set_min_objective(objective, &ctx);
    opt.set_maxeval(max_evals);
    opt.set_ftol_rel(1e-7);
    opt.set_xtol_rel(1e-5);
    std::vector<double> x(start.data(), start.data() + p);
    for (long i = 0; i < p; ++i) x[static_cast<size_t>(i)] = std::clamp(x[i], lb(i), ub(i));
    double f = 0;
    try {
      opt.optimize(x, f);
    } catch (const std::exception&) {
      // Roundoff or a stalled line search: the last point is still a valid candidate.
      f = objective(static_cast<unsigned>(p), x.data(), nullptr, &ctx);
    }
    if (std::isfinite(f) && -f > best_value) {
      best_value = -f;
      best = Eigen::Map<Eigen::VectorXd>(x.data(), p);
    }
  }
  set_theta(best);
}

GaussianProcess::Prediction GaussianProcess::predict(const Eigen::MatrixXd& xs) const {
  const long d = dims();
  const long n = size();
  const long m = xs.rows();
  const Eigen::ArrayXd inv_l = (-theta_.head(d)).array().exp();
  const double s2 = std::exp(theta_(d));
  const Eigen::MatrixXd a = x_ * inv_l.matrix().asDiagonal();
  const Eigen::MatrixXd b = xs * inv_l.matrix().asDiagonal();
  // Squared distances by the expansion |a|² + |b|² - 2 a·b, clamped against roundoff.
  const Eigen::VectorXd an = a.rowwise().squaredNorm();
  const Eigen::VectorXd bn = b.rowwise().squaredNorm();
  Eigen::MatrixXd kt = -2.0 * (a * b.transpose());  // n x m
  for (long j = 0; j < m; ++j) {
    for (long i = 0; i < n; ++i) {
      const double r2 = std::max(kt(i, j) + an(i) + bn(j), 0.0);
      kt(i, j) = matern52(std::sqrt(r2), s2);
    }
  }
  Prediction out;
  out.mean = kt.transpose() * alpha_;
  llt_.matrixL().solveInPlace(kt);
  out.variance = (s2 - kt.colwise().squaredNorm().transpose().array()).max(0.0).matrix();
  return out;
}

void GaussianProcess::predict_one(const Eigen::VectorXd& x, double& mean, double& sd,
                                  Eigen::VectorXd* dmean, Eigen::VectorXd* dsd) const {
  const long d = dims();
  const long n = size();
  const Eigen::ArrayXd inv_l2 = (-2.0 * theta_.head(d)).array().exp();
  const double s2 = std::exp(theta_(d));
  Eigen::VectorXd k(n);
  Eigen::MatrixXd dk(n, d);  // d k(x, x_i) / d x
  for (long i = 0; i < n; ++i) {
    const Eigen::ArrayXd delta = x.array() - x_.row(i).transpose().array();
    const double r = std::sqrt((delta.square() * inv_l2).sum());
    k(i) = matern52(r, s2);
    dk.row(i) = (-matern_grad_factor(r, s2) * delta * inv_l2).transpose();
  }
  mean = k.dot(alpha_);
  const Eigen::VectorXd v = llt_.matrixL().solve(k);
  const double var = std::max(s2 - v.squaredNorm(), 1e-18);
  sd = std::sqrt(var);
  if (dmean) *dmean = dk.transpose() * alpha_;
  if (dsd) {
    // var = s2 - kᵀ K⁻¹ k, so d var = -2 (K⁻¹ k)ᵀ dk.
    const Eigen::VectorXd w = llt_.matrixU().solve(v);
    *dsd = -(dk.transpose() * w) / sd;
  }
}

}  // namespace orvane::tuning
