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

ParamSpec choice(std::string name, std::vector<std::string> options) {
  return ParamSpec{std::move(name), ParamType::Enum, 0, 0, std::nullopt, std::move(options)};
}

double sq(double v) {
  return v * v;
}

// Requests per second of a caching web server (3% noise), at most 50000:
// - workers: best at the 16 cores, slight contention beyond;
// - cache size (MiB, steps of 16): a plateau from the 1024 MiB working set up to 3072, memory
//   pressure beyond;
// - compression and its level interact: off is network-bound (0.8), gzip peaks at level 5
//   (0.95), brotli at level 4 (1) but falls off faster and needs at least 8 workers' CPU;
// - sendfile helps only uncompressed responses (compressed ones are transformed in memory).
double webcache(const Point& x) {
  const double w = x[0], cache = x[1], level = x[3];
  const int comp = static_cast<int>(x[2]);
  const bool sendfile = x[4] > 0.5;
  const double f_w = std::pow(std::min(w, 16.0) / 16.0, 0.6) / (1 + 0.004 * std::max(w - 16, 0.0));
  const double f_c = (0.6 + 0.4 * std::min(cache, 1024.0) / 1024.0) *
                     (1 - 0.1 * std::max(cache - 3072, 0.0) / 1024.0);
  double f_comp = 0.8 * (sendfile ? 1.0 : 0.9);
  if (comp == 1) f_comp = 0.95 * (1 - 0.02 * sq(level - 5));
  if (comp == 2) {
    f_comp = std::max(0.3, 1 - 0.05 * sq(level - 4)) * (w < 8 ? 0.7 + 0.3 * w / 8 : 1.0);
  }
  return 50000 * f_w * f_c * f_comp;
}

// 99th-percentile latency (ms) of a database connection pool (4% noise), at least 10.8:
// - pool size (steps of 2): queueing below 40 connections, contention above, on a log scale;
// - batch size: best at 8;
// - queue discipline interacts with the pool: priority is best, but with under 20 connections
//   it starves the long queries and is the worst;
// - timeout (ms): too short retries, too long holds stuck connections, best at 300;
// - synchronous commit off saves 10%.
double dbpool(const Point& x) {
  const double pool = x[0], batch = x[1], timeout = x[3];
  const int queue = static_cast<int>(x[2]);
  const bool sync = x[4] < 0.5;
  const double f_pool = 1 + 0.3 * sq(std::log(pool / 40));
  const double f_batch = 1 + 0.1 * sq(std::log2(batch / 8));
  const double f_queue = queue == 0 ? 1.1 : queue == 1 ? 1.25 : (pool < 20 ? 1.3 : 1.0);
  const double f_timeout =
      1 + 0.5 * sq(std::max(300 - timeout, 0.0) / 290) + 0.1 * std::max(timeout - 300, 0.0) / 700;
  return 12 * f_pool * f_batch * f_queue * f_timeout * (sync ? 1.0 : 0.9);
}

// Requests per second of a managed-runtime application server (2% noise), at most 30000:
// - heap (MiB, steps of 256) interacts with the collector: serial is best at 1 GiB (0.85),
//   parallel at 4 GiB (0.95), g1 from 6 GiB on (1);
// - threads (steps of 4): best at 64, on a log scale;
// - young generation share: best at 0.3;
// - tiered compilation on saves 7%;
// - heap plus 8 MiB of stack per thread beyond 7680 MiB runs out of memory: no figure.
double appserver(const Point& x) {
  const double heap = x[0], threads = x[2], young = x[3];
  const int gc = static_cast<int>(x[1]);
  if (heap + 8 * threads > 7680) return std::nan("");
  double f_heap = 0;
  if (gc == 0) f_heap = 0.85 * std::exp(-sq(std::log2(heap / 1024)) / 2);
  if (gc == 1) f_heap = 0.95 * std::exp(-sq(std::log2(heap / 4096)) / 4);
  if (gc == 2) f_heap = heap >= 6144 ? 1.0 : std::exp(-sq(std::log2(heap / 6144)) / 3);
  const double f_threads = std::exp(-sq(std::log2(threads / 64)) / (2 * 1.5 * 1.5));
  const double f_young = 1 - 0.4 * sq(young - 0.3);
  return 30000 * f_heap * f_threads * f_young * (x[4] > 0.5 ? 1.0 : 0.93);
}

// Operations per second of a log-structured key-value store (5% noise), with plateaus:
// - I/O threads saturate the device at 6 (a plateau above);
// - write batch: saturates at 64, a plateau up to 512, latency costs beyond;
// - compaction: tiered 1, leveled 0.9, none 0.7;
// - bloom filter bits per key (steps of 2): fewer disk reads, memory cost above 10;
// - block size (KiB, steps of 4): best at 16;
// - log rotation size: does nothing.
double kvstore(const Point& x) {
  const double io = x[0], batch = x[1], bits = x[3], block = x[4];
  const int compaction = static_cast<int>(x[2]);
  const double f_io = std::pow(std::min(io, 6.0) / 6, 0.7);
  const double lb = std::log2(batch);
  const double f_batch = std::min(1.0, 0.5 + 0.5 * lb / 6) * (1 - 0.15 * std::max(lb - 9, 0.0));
  const double f_comp = compaction == 1 ? 1.0 : compaction == 0 ? 0.9 : 0.7;
  const double f_bloom = 1 - 0.3 * std::exp(-bits / 2.5) - 0.005 * std::max(bits - 10, 0.0);
  const double f_block = 1 - 0.02 * sq(std::log2(block / 16));
  return 200000 * f_io * f_batch * f_comp * f_bloom * f_block;
}

// Round-trip latency (µs) of a network stack (1% noise); its optimum lies on range bounds:
// - receive buffer (KiB, steps of 64): larger is better up to the top of its range;
// - busy polling (µs, steps of 10): best at 50, burns CPU beyond;
// - interrupt coalescing (µs): none is best, and matters less while busy polling;
// - congestion control: bbr 0.92, cubic 1, reno 1.05;
// - generic receive offload adds 3% for small messages.
double netstack(const Point& x) {
  const double rmem = x[0], poll = x[1], coalesce = x[2];
  const int cc = static_cast<int>(x[3]);
  const double f_rmem = 1 + 0.5 * std::log2(16384 / rmem) / 8;
  const double f_poll = 1 - 0.15 * std::min(poll, 50.0) / 50 + 0.002 * std::max(poll - 50, 0.0);
  const double f_coal = 1 + coalesce / 400 * (poll > 0 ? 0.3 : 1.0);
  const double f_cc = cc == 0 ? 1.0 : cc == 1 ? 0.92 : 1.05;
  return 80 * f_rmem * f_poll * f_coal * f_cc * (x[4] > 0.5 ? 1.03 : 1.0);
}

// The parts of the mixed categorical-continuous functions of Ru et al. (2020), scaled as there.
double rosenbrock_part(double a, double b) {
  return (100 * sq(b - a * a) + sq(a - 1)) / 300;
}
double sixhump_part(double a, double b) {
  return ((4 - 2.1 * a * a + a * a * a * a / 3) * a * a + a * b + (-4 + 4 * b * b) * b * b) / 10;
}
double beale_part(double a, double b) {
  return (sq(1.5 - a + a * b) + sq(2.25 - a + a * b * b) + sq(2.625 - a + a * b * b * b)) / 50;
}
double mixed_part(int h, double a, double b) {
  return h == 0 ? rosenbrock_part(a, b) : h == 1 ? sixhump_part(a, b) : beale_part(a, b);
}

// Func2C: two options of 3 and 5 values pick the sum of two of the parts, on [-1, 1]² doubled.
double func2c(const Point& x) {
  const double a = 2 * x[2], b = 2 * x[3];
  return mixed_part(static_cast<int>(x[0]), a, b) + mixed_part(static_cast<int>(x[1]), a, b);
}

// Func3C: three binary options; the third adds 5 six-hump parts or 2 Rosenbrock parts.
double func3c(const Point& x) {
  const double a = 2 * x[3], b = 2 * x[4];
  const double third = x[2] < 0.5 ? 5 * sixhump_part(a, b) : 2 * rosenbrock_part(a, b);
  return mixed_part(static_cast<int>(x[0]), a, b) + mixed_part(static_cast<int>(x[1]), a, b) +
         third;
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
      server,
      {4, 512, 60, 16, 0.5, 0}});
  // The optimum of each model below is its value at the configuration given, where every
  // factor is at its best.
  auto add = [&out](Objective o) {
    o.optimum = o.value(o.argbest);
    out.push_back(std::move(o));
  };
  add(Objective{"webcache",
                {integer("workers", 1, 64), integer("cache_mb", 16, 4096, 16),
                 choice("compression", {"off", "gzip", "brotli"}), integer("comp_level", 1, 9),
                 choice("sendfile", {"off", "on"})},
                false,
                0,
                {16, 2048, 2, 4, 1},
                0.03,
                webcache,
                {1, 64, 0, 6, 1}});
  add(Objective{"dbpool",
                {integer("pool_size", 2, 200, 2), integer("batch", 1, 64),
                 choice("queue", {"fifo", "lifo", "priority"}), real("timeout_ms", 10, 1000),
                 choice("sync_commit", {"on", "off"})},
                true,
                0,
                {40, 8, 2, 300, 1},
                0.04,
                dbpool,
                {10, 1, 0, 30, 0}});
  add(Objective{"appserver",
                {integer("heap_mb", 256, 8192, 256), choice("gc", {"serial", "parallel", "g1"}),
                 integer("threads", 4, 256, 4), real("young_ratio", 0.1, 0.9),
                 choice("tiered", {"off", "on"})},
                false,
                0,
                {6144, 2, 64, 0.3, 1},
                0.02,
                appserver,
                {512, 0, 200, 0.5, 1}});
  add(Objective{
      "kvstore",
      {integer("io_threads", 1, 16), integer("batch", 1, 1024),
       choice("compaction", {"leveled", "tiered", "none"}), integer("bloom_bits", 0, 20, 2),
       integer("block_kb", 4, 64, 4), integer("log_rotate_mb", 1, 1000)},
      false,
      0,
      {6, 128, 1, 10, 16, 100},
      0.05,
      kvstore,
      {2, 16, 0, 0, 4, 100}});
  add(Objective{"netstack",
                {integer("rmem_kb", 64, 16384, 64), integer("busy_poll_us", 0, 100, 10),
                 integer("coalesce_us", 0, 200), choice("congestion", {"cubic", "bbr", "reno"}),
                 choice("gro", {"off", "on"})},
                true,
                0,
                {16384, 50, 0, 1, 0},
                0.01,
                netstack,
                {256, 0, 50, 0, 1}});
  // The six-hump camel function's minimiser (0.0898, -0.7126) up to sign, halved by the
  // doubling of the inputs.
  const double ca = -0.08984201368301331 / 2, cb = 0.7126564032704135 / 2;
  add(Objective{"func2c",
                {choice("h1", {"a", "b", "c"}), choice("h2", {"a", "b", "c", "d", "e"}),
                 real("x1", -1, 1), real("x2", -1, 1)},
                true,
                0,
                {1, 1, ca, cb},
                0,
                func2c});
  add(Objective{"func3c",
                {choice("h1", {"a", "b"}), choice("h2", {"a", "b"}), choice("h3", {"a", "b"}),
                 real("x1", -1, 1), real("x2", -1, 1)},
                true,
                0,
                {1, 1, 0, ca, cb},
                0,
                func3c});
  return out;
}

}  // namespace

double Objective::measure(const Point& x, std::mt19937_64& rng) const {
  const double v = value(x);
  if (relative_noise <= 0 || std::isnan(v)) return v;
  std::normal_distribution<double> noise(0.0, relative_noise);
  return v * (1.0 + noise(rng));
}

double Objective::regret(const Point& x) const {
  const double v = value(x);
  if (std::isnan(v)) return std::fabs(optimum);
  return minimize ? v - optimum : optimum - v;
}

Point Objective::stock_point() const {
  const tuning::SearchSpace space(params);
  if (!stock.empty()) return space.snap(stock);
  Point centre;
  for (const auto& p : params) {
    centre.push_back(p.type == ParamType::Enum ? 0.0 : (p.min + p.max) / 2);
  }
  return space.snap(centre);
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
