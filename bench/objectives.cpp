// The synthetic objectives: standard test functions and a model of a server's throughput.
#include "objectives.hpp"

#include <cmath>

namespace orvane::bench {
namespace {

using tuning::ParamSpec;
using tuning::ParamType;
using tuning::Point;

ParamSpec real(std::string name, double lo, double hi) {
  return ParamSpec{std::move(name), ParamType::Float, lo, hi, std::nullopt, {}};
}

ParamSpec integer(std::string name, double lo, double hi, std::optional<double> step = {}) {
  return ParamSpec{std::move(name), ParamType::Int, lo, hi, step, {}};
}

// Branin on [-5, 10] x [0, 15]; minimum 0.397887 at (-π, 12.275), (π, 2.275), (9.42478, 2.475).
double branin(const Point& x) {
  const double a = 1, b = 5.1 / (4 * M_PI * M_PI), c = 5 / M_PI, r = 6, s = 10;
  const double t = 1 / (8 * M_PI);
  const double q = x[1] - b * x[0] * x[0] + c * x[0] - r;
  return a * q * q + s * (1 - t) * std::cos(x[0]) + s;
}

// Hartmann-6 on [0, 1]^6; minimum -3.32237.
double hartmann6(const Point& x) {
  static const double alpha[4] = {1.0, 1.2, 3.0, 3.2};
  static const double a[4][6] = {{10, 3, 17, 3.5, 1.7, 8},
                                 {0.05, 10, 17, 0.1, 8, 14},
                                 {3, 3.5, 1.7, 10, 17, 8},
                                 {17, 8, 0.05, 10, 0.1, 14}};
  static const double p[4][6] = {{0.1312, 0.1696, 0.5569, 0.0124, 0.8283, 0.5886},
                                 {0.2329, 0.4135, 0.8307, 0.3736, 0.1004, 0.9991},
                                 {0.2348, 0.1451, 0.3522, 0.2883, 0.3047, 0.6650},
                                 {0.4047, 0.8828, 0.8732, 0.5743, 0.1091, 0.0381}};
  double f = 0;
  for (int i = 0; i < 4; ++i) {
    double e = 0;
    for (int j = 0; j < 6; ++j) e += a[i][j] * (x[j] - p[i][j]) * (x[j] - p[i][j]);
    f -= alpha[i] * std::exp(-e);
  }
  return f;
}

// Rosenbrock in 10 integer dimensions on [-5, 10]; minimum 0 at (1, ..., 1).
double rosenbrock(const Point& x) {
  double f = 0;
  for (size_t i = 0; i + 1 < x.size(); ++i) {
    f += 100 * (x[i + 1] - x[i] * x[i]) * (x[i + 1] - x[i] * x[i]) + (1 - x[i]) * (1 - x[i]);
  }
  return f;
}

// Requests per second of a modelled server. Every factor peaks at 1 on the grid, so the optimum
// is 40000 at workers 8, connections 1024, keepalive 15, buffer 64, cache 0.75, io "uring":
// - workers: sub-linear speed-up up to the 8 cores, then slight contention;
// - total concurrency workers x connections: best at 8192, log-normal around it;
// - keep-alive timeout (s): too short reconnects, too long holds idle sockets;
// - buffer (KiB): best at 64, quadratic in its logarithm;
// - cache share of memory: a parabola with its top at 0.75;
// - io model: poll 0.7, epoll 0.95, uring 1, and poll collapses to 5% beyond 65536
//   concurrent connections.
double server(const Point& x) {
  const double w = x[0], c = x[1], keepalive = x[2], buf = x[3], cache = x[4];
  const int io = static_cast<int>(x[5]);
  const double f_workers =
      std::pow(std::min(w, 8.0) / 8.0, 0.5) / (1.0 + 0.01 * std::max(w - 8.0, 0.0));
  const double lc = std::log2(w * c / 8192.0);
  const double f_conc = std::exp(-lc * lc / (2 * 3.0 * 3.0));
  const double lk = (keepalive - 15.0) / 30.0;
  const double f_keep = 0.8 + 0.2 * std::exp(-lk * lk);
  const double lb = std::log2(buf / 64.0);
  const double f_buf = 1.0 - 0.03 * lb * lb;
  const double f_cache = 1.0 - 0.3 * (cache - 0.75) * (cache - 0.75);
  static const double f_io[3] = {0.7, 0.95, 1.0};
  double t = 40000.0 * f_workers * f_conc * f_keep * f_buf * f_cache * f_io[io];
  if (io == 0 && w * c > 65536) t *= 0.05;
  return t;
}

std::vector<Objective> make_objectives() {
  std::vector<Objective> out;
  out.push_back(Objective{
      "branin", {real("x1", -5, 10), real("x2", 0, 15)}, true, 0.397887, {M_PI, 2.275}, 0, branin});
  out.push_back(Objective{"hartmann6",
                          {real("x1", 0, 1), real("x2", 0, 1), real("x3", 0, 1), real("x4", 0, 1),
                           real("x5", 0, 1), real("x6", 0, 1)},
                          true,
                          -3.32237,
                          {0.20169, 0.150011, 0.476874, 0.275332, 0.311652, 0.6573},
                          0,
                          hartmann6});
  std::vector<ParamSpec> ros;
  for (int i = 1; i <= 10; ++i) ros.push_back(integer("x" + std::to_string(i), -5, 10));
  out.push_back(Objective{"rosenbrock10", ros, true, 0, Point(10, 1.0), 0, rosenbrock});
  out.push_back(Objective{
      "server",
      {integer("workers", 1, 32), integer("connections", 64, 4096, 64),
       real("keepalive_timeout", 0, 120), integer("buffer_kb", 4, 1024, 4),
       real("cache_ratio", 0, 1),
       ParamSpec{"io_model", ParamType::Enum, 0, 0, std::nullopt, {"poll", "epoll", "uring"}}},
      false,
      40000,
      {8, 1024, 15, 64, 0.75, 2},
      0.02,
      server});
  return out;
}

}  // namespace

double Objective::measure(const Point& x, std::mt19937_64& rng) const {
  const double v = value(x);
  if (relative_noise <= 0) return v;
  std::normal_distribution<double> noise(0.0, relative_noise);
  return v * (1.0 + noise(rng));
}

double Objective::regret(const Point& x) const {
  const double v = value(x);
  return minimize ? v - optimum : optimum - v;
}

const std::vector<Objective>& objectives() {
  static const std::vector<Objective> all = make_objectives();
  return all;
}

const Objective* find_objective(const std::string& name) {
  for (const auto& o : objectives()) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

}  // namespace orvane::bench
