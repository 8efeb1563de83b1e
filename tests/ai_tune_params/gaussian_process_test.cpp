// The Bayesian strategy's model: kernel, posterior, likelihood gradient, fit, acquisition and
// model coordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "acquisition.hpp"
#include "gaussian_process.hpp"
#include "model_coordinates.hpp"

namespace orvane::tuning {
namespace {

// Matérn 5/2 written out independently of the implementation.
double matern(double r) {
  const double s5 = std::sqrt(5.0);
  return (1 + s5 * r + 5.0 / 3.0 * r * r) * std::exp(-s5 * r);
}

Eigen::VectorXd theta_of(std::initializer_list<double> lengthscales, double signal, double noise) {
  Eigen::VectorXd t(static_cast<long>(lengthscales.size()) + 2);
  long i = 0;
  for (double l : lengthscales) t(i++) = std::log(l);
  t(i++) = std::log(signal);
  t(i) = std::log(noise);
  return t;
}

GpBounds plain_likelihood() {
  GpBounds b;
  b.prior_log_sigma = 0;
  return b;
}

TEST(GaussianProcess, KernelValues) {
  EXPECT_DOUBLE_EQ(GaussianProcess::matern52(0.0, 2.0), 2.0);
  EXPECT_NEAR(GaussianProcess::matern52(1.0, 1.0), 0.5239941088318203, 1e-15);
  EXPECT_NEAR(GaussianProcess::matern52(0.5, 3.0), 3.0 * matern(0.5), 1e-15);
  EXPECT_LT(GaussianProcess::matern52(10.0, 1.0), 1e-7);
}

// Two observations in one dimension, x = 0 and x = 0.5 with y = 1 and -1, length scale 0.5,
// signal variance 1, noise 0.01. With c = k(0, 0.5) and d = 1 + noise the 2x2 system solves by
// hand: at x = 0, mean = (1 - c) / (d - c) and variance = 1 - (d - 2c² + c²d) / (d² - c²); at
// x = 0.25 both data points are at scaled distance 0.5, so by symmetry the mean is 0 and the
// variance is 1 - 2a² / (d + c) with a = k(0.25, 0).
TEST(GaussianProcess, PosteriorOfTwoPointsMatchesHandSolution) {
  GaussianProcess gp(plain_likelihood());
  Eigen::MatrixXd x(2, 1);
  x << 0.0, 0.5;
  Eigen::VectorXd y(2);
  y << 1.0, -1.0;
  gp.set_data(x, y);
  gp.set_theta(theta_of({0.5}, 1.0, 0.01));
  EXPECT_EQ(gp.jitter(), 0.0);

  const double c = matern(1.0);
  const double d = 1.01;
  const double a = matern(0.5);
  Eigen::MatrixXd q(3, 1);
  q << 0.0, 0.25, 0.5;
  const auto pred = gp.predict(q);
  EXPECT_NEAR(pred.mean(0), (1 - c) / (d - c), 1e-12);
  EXPECT_NEAR(pred.variance(0), 1 - (d - 2 * c * c + c * c * d) / (d * d - c * c), 1e-12);
  EXPECT_NEAR(pred.mean(1), 0.0, 1e-12);
  EXPECT_NEAR(pred.variance(1), 1 - 2 * a * a / (d + c), 1e-12);
  EXPECT_NEAR(pred.mean(2), -pred.mean(0), 1e-12);

  // Log marginal likelihood: -½ yᵀK⁻¹y - ½ log det K - log 2π, with yᵀK⁻¹y = 2 / (d - c).
  const double expected = -1.0 / (d - c) - 0.5 * std::log(d * d - c * c) - std::log(2 * M_PI);
  EXPECT_NEAR(gp.log_likelihood(gp.theta(), nullptr), expected, 1e-12);
}

TEST(GaussianProcess, PredictOneMatchesBatchAndItsGradient) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0, 1);
  Eigen::MatrixXd x(15, 3);
  Eigen::VectorXd y(15);
  for (long i = 0; i < 15; ++i) {
    for (long j = 0; j < 3; ++j) x(i, j) = u(rng);
    y(i) = std::sin(4 * x(i, 0)) + x(i, 1) * x(i, 2);
  }
  GaussianProcess gp(plain_likelihood());
  gp.set_data(x, y);
  gp.set_theta(theta_of({0.4, 0.7, 1.1}, 1.3, 0.02));
  const Eigen::Vector3d p(0.3, 0.6, 0.2);
  double mean = 0, sd = 0;
  Eigen::VectorXd dmean, dsd;
  gp.predict_one(p, mean, sd, &dmean, &dsd);
  const auto batch = gp.predict(p.transpose());
  EXPECT_NEAR(mean, batch.mean(0), 1e-10);
  EXPECT_NEAR(sd * sd, batch.variance(0), 1e-10);
  const double h = 1e-6;
  for (long j = 0; j < 3; ++j) {
    Eigen::Vector3d lo = p, hi = p;
    lo(j) -= h;
    hi(j) += h;
    double m1, s1, m2, s2;
    gp.predict_one(lo, m1, s1, nullptr, nullptr);
    gp.predict_one(hi, m2, s2, nullptr, nullptr);
    EXPECT_NEAR(dmean(j), (m2 - m1) / (2 * h), 1e-5) << "mean, input " << j;
    EXPECT_NEAR(dsd(j), (s2 - s1) / (2 * h), 1e-5) << "sd, input " << j;
  }
}

// The analytic gradients of the likelihood and of the posterior that fit() maximises agree
// with central differences, across short and long length scales and small and large noise.
TEST(GaussianProcess, LikelihoodGradientMatchesFiniteDifferences) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0, 1);
  Eigen::MatrixXd x(20, 3);
  Eigen::VectorXd y(20);
  for (long i = 0; i < 20; ++i) {
    for (long j = 0; j < 3; ++j) x(i, j) = u(rng);
    y(i) = std::cos(5 * x(i, 0)) - 2 * x(i, 2) + 0.05 * (u(rng) - 0.5);
  }
  const Eigen::VectorXd cases[] = {
      theta_of({0.3, 0.3, 0.3}, 1.0, 0.01),
      theta_of({0.05, 2.0, 0.5}, 0.5, 1e-4),
      theta_of({5.0, 10.0, 0.2}, 3.0, 0.5),
      theta_of({0.8, 0.1, 1.5}, 10.0, 1.5),
  };
  GaussianProcess gp;  // with the length-scale prior
  gp.set_data(x, y);
  for (const auto& theta : cases) {
    for (bool posterior : {false, true}) {
      auto f = [&](const Eigen::VectorXd& t, Eigen::VectorXd* g) {
        return posterior ? gp.log_posterior(t, g) : gp.log_likelihood(t, g);
      };
      Eigen::VectorXd grad;
      f(theta, &grad);
      ASSERT_EQ(grad.size(), theta.size());
      for (long i = 0; i < theta.size(); ++i) {
        const double h = 1e-5;
        Eigen::VectorXd lo = theta, hi = theta;
        lo(i) -= h;
        hi(i) += h;
        const double numeric = (f(hi, nullptr) - f(lo, nullptr)) / (2 * h);
        EXPECT_NEAR(grad(i), numeric, 1e-4 * std::max(1.0, std::abs(numeric)))
            << (posterior ? "posterior" : "likelihood") << ", parameter " << i << ", theta "
            << theta.transpose();
      }
    }
  }
}

// Data from sin(6 x0) with a little noise and an input x1 that does not matter: the fit finds
// a short length scale for x0, a long one for x1, a small noise, beats the starting points on
// the likelihood it maximises, and predicts unseen points well.
TEST(GaussianProcess, FitLearnsRelevanceNoiseAndPredicts) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0, 1);
  std::normal_distribution<double> noise(0, 0.02);
  const long n = 40;
  Eigen::MatrixXd x(n, 2);
  Eigen::VectorXd y(n);
  for (long i = 0; i < n; ++i) {
    x(i, 0) = u(rng);
    x(i, 1) = u(rng);
    y(i) = std::sin(6 * x(i, 0)) + noise(rng);
  }
  GaussianProcess gp;
  gp.set_data(x, y);
  const double at_default = gp.log_posterior(gp.default_theta(), nullptr);
  std::mt19937_64 fit_rng(1);
  gp.fit(fit_rng, 4, 200);
  const Eigen::VectorXd t = gp.theta();
  EXPECT_GT(gp.log_posterior(t, nullptr), at_default);
  EXPECT_GT(std::exp(t(1)), 3 * std::exp(t(0))) << t.transpose();
  EXPECT_LT(std::exp(t(3)), 0.01) << "noise variance, true 0.0004";
  EXPECT_GT(std::exp(t(3)), 1e-4 - 1e-12);

  Eigen::MatrixXd q(50, 2);
  double sq = 0;
  for (long i = 0; i < 50; ++i) {
    q(i, 0) = (i + 0.5) / 50;
    q(i, 1) = u(rng);
  }
  const auto pred = gp.predict(q);
  for (long i = 0; i < 50; ++i) sq += std::pow(pred.mean(i) - std::sin(6 * q(i, 0)), 2);
  EXPECT_LT(std::sqrt(sq / 50), 0.05);
}

// Repeated points with a noise bound near zero make the kernel matrix singular; the jitter
// makes it factorise and the posterior stays finite.
TEST(GaussianProcess, DuplicatePointsFactoriseWithJitter) {
  GpBounds b = plain_likelihood();
  b.min_noise = 1e-300;
  GaussianProcess gp(b);
  Eigen::MatrixXd x(4, 2);
  x << 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.7, 0.1;
  Eigen::VectorXd y(4);
  y << 1, 1.1, 0.9, -1;
  gp.set_data(x, y);
  gp.set_theta(theta_of({0.5, 0.5}, 1.0, 1e-300));
  EXPECT_GT(gp.jitter(), 0.0);
  const auto pred = gp.predict(x);
  for (long i = 0; i < 4; ++i) {
    EXPECT_TRUE(std::isfinite(pred.mean(i)));
    EXPECT_GE(pred.variance(i), 0.0);
  }
  EXPECT_NEAR(pred.mean(0), 1.0, 1e-3);
}

TEST(GaussianProcess, DataOfDifferentSizesIsRefused) {
  GaussianProcess gp;
  EXPECT_THROW(gp.set_data(Eigen::MatrixXd(3, 2), Eigen::VectorXd(2)), std::invalid_argument);
}

// log EI against the closed form σ (z Φ(z) + φ(z)) where that is representable, and its
// derivatives against central differences in every regime of the evaluation.
TEST(LogExpectedImprovement, ClosedFormAndDerivatives) {
  struct Case {
    double mean, sd, best;
  };
  const Case cases[] = {{0.0, 1.0, 0.0},   {2.0, 0.5, 0.0},  {-1.0, 1.0, 0.0},
                        {0.0, 0.1, 0.3},   {-5.0, 1.0, 0.0}, {-24.9, 1.0, 0.0},
                        {-25.1, 1.0, 0.0}, {0.0, 0.02, 1.0}, {-60.0, 1.5, 0.0}};
  for (const auto& c : cases) {
    double d_mean = 0, d_sd = 0;
    const double v = log_expected_improvement(c.mean, c.sd, c.best, &d_mean, &d_sd);
    ASSERT_TRUE(std::isfinite(v)) << c.mean << " " << c.sd;
    const double z = (c.mean - c.best) / c.sd;
    const double ei =
        c.sd * (z * 0.5 * std::erfc(-z / M_SQRT2) + std::exp(-0.5 * z * z) / std::sqrt(2 * M_PI));
    if (ei > 1e-280 && z > -20) {
      EXPECT_NEAR(v, std::log(ei), 1e-8 * std::max(1.0, std::abs(v))) << "z " << z;
    } else {
      // Far tail: EI ≈ σ φ(z) / z².
      const double tail =
          std::log(c.sd) - 0.5 * z * z - 0.5 * std::log(2 * M_PI) - 2 * std::log(-z);
      EXPECT_NEAR(v, tail, 0.01) << "z " << z;
    }
    const double h = 1e-6 * c.sd;
    const double num_mean = (log_expected_improvement(c.mean + h, c.sd, c.best) -
                             log_expected_improvement(c.mean - h, c.sd, c.best)) /
                            (2 * h);
    const double num_sd = (log_expected_improvement(c.mean, c.sd + h, c.best) -
                           log_expected_improvement(c.mean, c.sd - h, c.best)) /
                          (2 * h);
    EXPECT_NEAR(d_mean, num_mean, 1e-4 * std::max(1.0, std::abs(num_mean))) << "z " << z;
    EXPECT_NEAR(d_sd, num_sd, 1e-4 * std::max(1.0, std::abs(num_sd))) << "z " << z;
  }
  // Continuous across the switch to the asymptotic series.
  EXPECT_NEAR(log_expected_improvement(-25.0 + 1e-9, 1.0, 0.0),
              log_expected_improvement(-25.0 - 1e-9, 1.0, 0.0), 1e-6);
}

// Wide positive ranges are modelled on a log scale, the others linearly; decoding inverts
// encoding and snaps to the grid.
TEST(ModelCoordinates, LogScaleForWidePositiveRanges) {
  const SearchSpace space({
      {"connections", ParamType::Int, 64, 4096, 64.0, {}},   // factor 64: log
      {"ratio", ParamType::Float, 0, 1, std::nullopt, {}},   // starts at 0: linear
      {"threads", ParamType::Int, 2, 16, std::nullopt, {}},  // factor 8: linear
      {"mode", ParamType::Enum, 0, 0, std::nullopt, {"a", "b", "c"}},
      {"timeout", ParamType::Float, 1, 100, std::nullopt, {}},  // factor 100: log
  });
  const ModelCoordinates m(space, 10.0);
  EXPECT_TRUE(m.is_log(0));
  EXPECT_FALSE(m.is_log(1));
  EXPECT_FALSE(m.is_log(2));
  EXPECT_FALSE(m.is_log(3));
  EXPECT_TRUE(m.is_log(4));
  EXPECT_EQ(m.dims(), 7u);
  EXPECT_EQ(m.numeric(), (std::vector<long>{0, 1, 2, 6}));

  const Point x{512, 0.25, 9, 2, 10};
  const std::vector<double> u = m.encode(x);
  EXPECT_NEAR(u[0], 0.5, 1e-12);  // 512 is the geometric middle of 64 and 4096
  EXPECT_NEAR(u[1], 0.25, 1e-12);
  EXPECT_NEAR(u[2], 0.5, 1e-12);
  EXPECT_EQ((std::vector<double>(u.begin() + 3, u.begin() + 6)), (std::vector<double>{0, 0, 1}));
  EXPECT_NEAR(u[6], 0.5, 1e-12);
  const Point back = m.decode(u);
  for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(back[i], x[i], 1e-9) << i;

  // Off-grid and out-of-range model coordinates decode to valid configurations.
  const Point snapped = m.decode({0.51, -0.3, 1.7, 0.2, 0.9, 0.1, 2.0});
  EXPECT_EQ(snapped, space.snap(snapped));
  EXPECT_EQ(snapped[1], 0.0);
  EXPECT_EQ(snapped[2], 16.0);
  EXPECT_EQ(snapped[3], 1.0);
  EXPECT_EQ(snapped[4], 100.0);

  const ModelCoordinates linear(space, 0.0);
  EXPECT_FALSE(linear.is_log(0));
  EXPECT_NEAR(linear.encode(x)[0], (512.0 - 64) / (4096 - 64), 1e-12);
}

// Integer-coded options take one coordinate each, the index scaled to [0, 1], and decode to the
// nearest option.
TEST(ModelCoordinates, IntegerCodedOptions) {
  const SearchSpace space({
      {"mode", ParamType::Enum, 0, 0, std::nullopt, {"a", "b", "c", "d", "e"}},
      {"n", ParamType::Int, 1, 3, std::nullopt, {}},
      {"one", ParamType::Enum, 0, 0, std::nullopt, {"only"}},
  });
  const ModelCoordinates m(space, 10.0, false);
  EXPECT_EQ(m.dims(), 3u);
  EXPECT_EQ(m.numeric(), (std::vector<long>{1}));
  EXPECT_EQ(m.encode({3, 2, 0}), (std::vector<double>{0.75, 0.5, 0.0}));
  EXPECT_EQ(m.decode({0.74, 0.5, 0.9}), (Point{3, 2, 0}));
  EXPECT_EQ(m.decode({0.6, 0.0, 0.0}), (Point{2, 1, 0}));
  EXPECT_EQ(m.decode({1.7, 0.0, 0.0})[0], 4.0);
}

}  // namespace
}  // namespace orvane::tuning
