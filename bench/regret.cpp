// Regret benchmark: how close to the known optimum the recommended configuration of each strategy
// is after 20 and after 50 measurements, over several seeds, on the synthetic objectives.
//
// usage: orvane-regret [--seeds=N] [--objective=NAME] [--initial=N] [--linear]
// --linear models every numeric range linearly (no log scale for wide positive ranges).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_set>

#include <orvane/bayes_strategy.hpp>

#include "objectives.hpp"

namespace {

using orvane::bench::Objective;
using orvane::tuning::Point;
using orvane::tuning::SearchSpace;
using orvane::tuning::Strategy;

// Uniform random search without repeats that recommends the best score it observed: the
// baseline the model-based strategy has to beat.
class RandomSearch final : public Strategy {
 public:
  RandomSearch(const SearchSpace& space, std::uint64_t seed) : space_(space), rng_(seed) {}
  std::optional<Point> ask() override {
    for (int i = 0; i < 10000; ++i) {
      Point x = space_.random(rng_);
      if (seen_.insert(space_.key(x)).second) return x;
    }
    return std::nullopt;
  }
  void tell(const Point& x, double score) override {
    seen_.insert(space_.key(x));
    if (best_.empty() || score > best_score_) {
      best_ = x;
      best_score_ = score;
    }
  }
  Point recommend() const override { return best_; }

 private:
  SearchSpace space_;
  std::mt19937_64 rng_;
  std::unordered_set<std::string> seen_;
  Point best_;
  double best_score_ = 0;
};

const int kBudgets[] = {20, 50};

struct RunResult {
  std::map<int, double> regret;  // by budget
  std::vector<double> ask_ms;    // time of each ask() plus tell(), by evaluation index
};

// One search of the largest budget, reading the recommendation at every smaller budget on the
// way (the strategies do not know the budget, so a shorter run is a prefix of a longer one).
RunResult run(const Objective& obj, const std::string& method, std::uint64_t seed,
              int initial_points, const orvane::tuning::BayesOptions& options) {
  const SearchSpace space(obj.params);
  std::unique_ptr<Strategy> s;
  if (method == "bayes") {
    s = orvane::tuning::make_bayes_strategy(space, seed, initial_points, options);
  } else {
    s = std::make_unique<RandomSearch>(space, seed);
  }
  // The same measurement noise for both methods of one seed.
  std::mt19937_64 noise(seed * 1000003ULL + 17);
  RunResult out;
  const int budget = kBudgets[std::size(kBudgets) - 1];
  for (int i = 1; i <= budget; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const auto x = s->ask();
    const auto t1 = std::chrono::steady_clock::now();
    if (!x) break;
    const double figure = obj.measure(*x, noise);
    const auto t2 = std::chrono::steady_clock::now();
    s->tell(*x, obj.score(figure));
    const auto t3 = std::chrono::steady_clock::now();
    out.ask_ms.push_back(std::chrono::duration<double, std::milli>((t1 - t0) + (t3 - t2)).count());
    for (int b : kBudgets) {
      if (b == i) out.regret[b] = obj.regret(s->recommend());
    }
  }
  return out;
}

// Quantile by linear interpolation between order statistics.
double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double pos = q * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<size_t>(std::floor(pos));
  const size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (pos - static_cast<double>(lo)) * (v[hi] - v[lo]);
}

// The absolute goal on the median regret of the model-based strategy, or a negative number.
double goal(const Objective& obj, int budget) {
  if (obj.name == "branin") return budget == 20 ? 0.3 : 0.01;
  if (obj.name == "hartmann6") return budget == 20 ? 1.0 : 0.3;
  if (obj.name == "server" && budget == 50) return 0.07 * obj.optimum;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = 10;
  // One initial design size for every objective, as a project file would give it.
  int initial_points = 5;
  std::string only;
  orvane::tuning::BayesOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--seeds=", 0) == 0) {
      seeds = std::stoi(a.substr(8));
    } else if (a.rfind("--objective=", 0) == 0) {
      only = a.substr(12);
    } else if (a == "--linear") {
      options.log_scale_ratio = 0;
    } else if (a.rfind("--initial=", 0) == 0) {
      initial_points = std::stoi(a.substr(10));
    } else {
      std::fprintf(
          stderr, "usage: orvane-regret [--seeds=N] [--objective=NAME] [--initial=N] [--linear]\n");
      return 2;
    }
  }

  const auto start = std::chrono::steady_clock::now();
  bool all_met = true;
  std::printf("%-13s %6s %-6s %12s %12s %12s   %s\n", "objective", "budget", "method", "q1",
              "median", "q3", "goal");
  for (const auto& obj : orvane::bench::objectives()) {
    if (!only.empty() && obj.name != only) continue;
    // The declared optimum must be what the function gives at its declared minimiser.
    if (std::fabs(obj.value(obj.argbest) - obj.optimum) >
        1e-4 * std::max(1.0, std::fabs(obj.optimum))) {
      std::fprintf(stderr, "%s: value at the optimum is %.8g, not %.8g\n", obj.name.c_str(),
                   obj.value(obj.argbest), obj.optimum);
      return 1;
    }
    const int init = initial_points;
    std::map<std::string, std::map<int, std::vector<double>>> regrets;
    std::vector<double> late_ms;  // bayes time of the iterations at about 50 measurements
    double max_ms = 0;
    for (const std::string method : {"random", "bayes"}) {
      for (int seed = 1; seed <= seeds; ++seed) {
        const RunResult r = run(obj, method, static_cast<std::uint64_t>(seed), init, options);
        for (const auto& [b, v] : r.regret) regrets[method][b].push_back(v);
        if (method == "bayes") {
          for (size_t i = 45; i < r.ask_ms.size(); ++i) late_ms.push_back(r.ask_ms[i]);
          for (double ms : r.ask_ms) max_ms = std::max(max_ms, ms);
        }
      }
    }
    for (int b : kBudgets) {
      const double random_median = quantile(regrets["random"][b], 0.5);
      for (const std::string method : {"random", "bayes"}) {
        const auto& v = regrets[method][b];
        const double med = quantile(v, 0.5);
        std::string verdict;
        if (method == "bayes") {
          const bool half = med <= 0.5 * random_median;
          verdict = half ? "<= random/2" : "NOT <= random/2";
          all_met = all_met && half;
          const double g = goal(obj, b);
          if (g >= 0) {
            char text[64];
            std::snprintf(text, sizeof text, ", %s %.4g", med < g ? "<" : "NOT <", g);
            verdict += text;
            all_met = all_met && med < g;
          }
        }
        std::printf("%-13s %6d %-6s %12.6g %12.6g %12.6g   %s\n", obj.name.c_str(), b,
                    method.c_str(), quantile(v, 0.25), med, quantile(v, 0.75), verdict.c_str());
      }
    }
    std::printf(
        "%-13s bayes time per iteration at 46-50 measured: median %.1f ms, max %.1f ms "
        "(max over the run %.1f ms), %d initial points\n",
        obj.name.c_str(), quantile(late_ms, 0.5), *std::max_element(late_ms.begin(), late_ms.end()),
        max_ms, init);
    std::fflush(stdout);
  }
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("all goals %s; %.1f s\n", all_met ? "met" : "NOT met", secs);
  return 0;
}
