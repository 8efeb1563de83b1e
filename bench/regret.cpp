// Regret benchmark: how close to the known optimum the reported configuration of each method is
// after 20 and after 50 measurements, over several seeds, on the synthetic objectives.
//
// Methods: random (uniform search, reports the best figure), bayes (the Bayesian strategy alone,
// with a design of 8 or --initial, reports its recommendation), orvane (the strategy as a tuning
// run uses it: the design the optimiser's default gives the search's evaluations, or --initial;
// the stock configuration told with its baseline figure, the search, then the confirmation pairs
// against the stock configuration inside the same budget, with extra pairs while they are
// undecided; it reports the chosen configuration when the confirmation accepts it, else the
// stock one).
//
// usage: orvane-regret [--seeds=N] [--first-seed=N] [--objectives=a,b] [--methods=a,b]
//                      [--budgets=20,50] [--initial=N] [--label=NAME] [--csv=FILE]
//                      [--no-log] [--no-shortfall] [--no-prior] [--no-trust-region]
//                      [--integer-enums] [--confirm-rounds=N] [--confirm-max=N] [--check]
// The --no-... switches turn one part of the strategy off, for the ablations; --label names the
// variant in the CSV lines (objective,method,seed,budget,regret,evaluations). --check samples
// every objective and fails when any configuration beats its declared optimum.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <unordered_set>

#include <orvane/bayes_strategy.hpp>

#include "confirmation.hpp"
#include "objectives.hpp"

namespace {

using orvane::bench::Objective;
using orvane::tuning::Point;
using orvane::tuning::SearchSpace;
using orvane::tuning::Strategy;

struct Settings {
  int seeds = 10;
  int first_seed = 1;
  std::vector<std::string> objectives;
  std::vector<std::string> methods = {"random", "bayes", "orvane"};
  std::vector<int> budgets = {20, 50};
  std::optional<int> initial_points;  // bayes: 8 when not given; orvane: the optimiser's default
  std::string label;
  std::string csv;
  int confirm_rounds = 3;
  int confirm_max = 8;
  orvane::tuning::BayesOptions options;
};

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string w; std::getline(in, w, ',');) {
    if (!w.empty()) out.push_back(w);
  }
  return out;
}

// Measurement noise of evaluation i of a run: the same stream for every method of a seed.
std::uint64_t noise_seed(std::uint64_t seed, std::uint64_t i) {
  return seed * 1000003ULL + i;
}

double measure(const Objective& obj, const Point& x, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  return obj.measure(x, rng);
}

struct RunResult {
  std::map<int, double> regret;  // by budget
  std::map<int, int> evaluations;
  std::vector<double> ask_ms;  // time of each ask() plus tell(), by evaluation index
};

// A search that tells a failed measurement as the worst score seen so far, as the optimiser does.
class Search {
 public:
  Search(const Objective& obj, std::unique_ptr<Strategy> s) : obj_(obj), s_(std::move(s)) {}
  void tell(const Point& x, double figure) {
    double score = obj_.score(figure);
    if (std::isnan(score)) {
      score = std::isfinite(worst_) ? worst_ : 0.0;
    } else {
      worst_ = std::min(worst_, score);
    }
    s_->tell(x, score);
  }
  Strategy& strategy() { return *s_; }

 private:
  const Objective& obj_;
  std::unique_ptr<Strategy> s_;
  double worst_ = std::numeric_limits<double>::infinity();
};

std::unique_ptr<Strategy> make(const std::string& method, const SearchSpace& space,
                               std::uint64_t seed, const Settings& s) {
  if (method == "random") return orvane::tuning::make_random_strategy(space, seed);
  return orvane::tuning::make_bayes_strategy(space, seed, s.initial_points.value_or(8), s.options);
}

// Random and bayes: one search of the largest budget, reading the recommendation at every
// smaller budget on the way (the strategies do not know the budget, so a shorter run is a
// prefix of a longer one).
RunResult run_plain(const Objective& obj, const std::string& method, std::uint64_t seed,
                    const Settings& s) {
  const SearchSpace space(obj.params);
  Search search(obj, make(method, space, seed, s));
  RunResult out;
  for (int i = 1; i <= s.budgets.back(); ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const auto x = search.strategy().ask();
    const auto t1 = std::chrono::steady_clock::now();
    if (!x) break;
    const double figure = measure(obj, *x, noise_seed(seed, static_cast<std::uint64_t>(i)));
    const auto t2 = std::chrono::steady_clock::now();
    search.tell(*x, figure);
    const auto t3 = std::chrono::steady_clock::now();
    out.ask_ms.push_back(std::chrono::duration<double, std::milli>((t1 - t0) + (t3 - t2)).count());
    for (int b : s.budgets) {
      if (b == i) {
        out.regret[b] = obj.regret(search.strategy().recommend());
        out.evaluations[b] = i;
      }
    }
  }
  return out;
}

// As a tuning run: the stock configuration's baseline is known before the search starts; the
// search gets the budget less the confirmation's pairs. Each budget is a run of its own, since
// the design's size depends on the search's evaluations.
RunResult run_orvane(const Objective& obj, std::uint64_t seed, const Settings& s) {
  const SearchSpace space(obj.params);
  const Point stock = obj.stock_point();
  const std::string stock_key = space.key(stock);
  const int confirm = 2 * s.confirm_rounds;
  RunResult out;
  for (int b : s.budgets) {
    const int search_budget = b - confirm;
    Settings run = s;
    run.initial_points = s.initial_points.value_or(
        orvane::tuning::default_initial_points(static_cast<long long>(search_budget)));
    Search search(obj, make("bayes", space, seed, run));
    search.tell(stock, measure(obj, stock, noise_seed(seed, 0)));
    for (int i = 1; i <= search_budget; ++i) {
      const auto x = search.strategy().ask();
      if (!x) break;
      search.tell(*x, measure(obj, *x, noise_seed(seed, static_cast<std::uint64_t>(i))));
    }
    const Point x = search.strategy().recommend();
    int evaluations = search_budget;
    Point reported = stock;
    if (space.key(x) != stock_key) {
      const orvane::tuning::ConfirmRule rule = orvane::tuning::confirm_rule(
          static_cast<size_t>(s.confirm_rounds), static_cast<size_t>(s.confirm_max));
      auto figure = [](double v) {
        return std::isnan(v) ? std::nullopt : std::optional<double>(v);
      };
      std::uint64_t k = 100000 + 1000 * static_cast<std::uint64_t>(b);
      const auto c = orvane::tuning::run_confirmation(
          static_cast<size_t>(s.confirm_rounds), obj.minimize, rule, [&] {
            const orvane::tuning::ConfirmRound pair{
                figure(measure(obj, x, noise_seed(seed, k))),
                figure(measure(obj, stock, noise_seed(seed, k + 1)))};
            k += 2;
            return std::optional(pair);
          });
      evaluations += 2 * static_cast<int>(c.rounds.size());
      if (c.test.decision == orvane::tuning::ConfirmDecision::Accept) reported = x;
    }
    out.regret[b] = obj.regret(reported);
    out.evaluations[b] = evaluations;
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

// Uniform samples and the declared optimiser itself: no sample may beat the declared optimum,
// and the optimum must be attained where it is declared.
bool check(const Objective& obj) {
  const SearchSpace space(obj.params);
  std::mt19937_64 rng(1);
  // The standard functions' optima are published to six digits.
  const double tolerance = 1e-5 * std::max(1.0, std::fabs(obj.optimum));
  if (std::fabs(obj.regret(space.snap(obj.argbest))) > tolerance) {
    std::fprintf(stderr, "%s: the declared optimiser gives %.8g, not %.8g\n", obj.name.c_str(),
                 obj.value(space.snap(obj.argbest)), obj.optimum);
    return false;
  }
  for (int i = 0; i < 200000; ++i) {
    const Point x = space.random(rng);
    if (obj.regret(x) < -tolerance) {
      std::fprintf(stderr, "%s: %s beats the declared optimum %.8g\n", obj.name.c_str(),
                   space.key(x).c_str(), obj.optimum);
      return false;
    }
  }
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: orvane-regret [--seeds=N] [--first-seed=N] [--objectives=a,b] "
               "[--methods=random,bayes,orvane] [--budgets=20,50] [--initial=N] [--label=NAME] "
               "[--csv=FILE] [--no-log] [--no-shortfall] [--no-prior] [--no-trust-region] "
               "[--integer-enums] [--confirm-rounds=N] [--confirm-max=N] [--check]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  bool check_only = false;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      auto value = [&](const char* prefix) -> std::optional<std::string> {
        const size_t n = std::strlen(prefix);
        if (a.compare(0, n, prefix) == 0) return a.substr(n);
        return std::nullopt;
      };
      if (auto v = value("--seeds=")) {
        s.seeds = std::stoi(*v);
      } else if (auto v = value("--first-seed=")) {
        s.first_seed = std::stoi(*v);
      } else if (auto v = value("--objectives=")) {
        s.objectives = split(*v);
      } else if (auto v = value("--methods=")) {
        s.methods = split(*v);
      } else if (auto v = value("--budgets=")) {
        s.budgets.clear();
        for (const auto& b : split(*v)) s.budgets.push_back(std::stoi(b));
        std::sort(s.budgets.begin(), s.budgets.end());
      } else if (auto v = value("--initial=")) {
        s.initial_points = std::stoi(*v);
      } else if (auto v = value("--label=")) {
        s.label = *v;
      } else if (auto v = value("--csv=")) {
        s.csv = *v;
      } else if (auto v = value("--confirm-rounds=")) {
        s.confirm_rounds = std::stoi(*v);
      } else if (auto v = value("--confirm-max=")) {
        s.confirm_max = std::stoi(*v);
      } else if (a == "--no-log") {
        s.options.log_scale_ratio = 0;
      } else if (a == "--no-shortfall") {
        s.options.shortfall_transform = false;
      } else if (a == "--no-prior") {
        s.options.lengthscale_prior = false;
      } else if (a == "--no-trust-region") {
        s.options.trust_region = false;
      } else if (a == "--integer-enums") {
        s.options.one_hot = false;
      } else if (a == "--check") {
        check_only = true;
      } else {
        return usage();
      }
    }
  } catch (const std::exception&) {
    return usage();
  }
  if (s.budgets.empty() || s.budgets.front() <= 2 * s.confirm_rounds) return usage();
  for (const auto& name : s.objectives) {
    if (!orvane::bench::find_objective(name)) {
      std::fprintf(stderr, "orvane-regret: unknown objective '%s'\n", name.c_str());
      return 2;
    }
  }
  for (const auto& m : s.methods) {
    if (m != "random" && m != "bayes" && m != "orvane") {
      std::fprintf(stderr, "orvane-regret: unknown method '%s'\n", m.c_str());
      return 2;
    }
  }
  FILE* csv = nullptr;
  if (!s.csv.empty() && !(csv = std::fopen(s.csv.c_str(), "a"))) {
    std::fprintf(stderr, "orvane-regret: cannot open %s\n", s.csv.c_str());
    return 2;
  }

  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
  for (const auto& obj : orvane::bench::objectives()) {
    if (!s.objectives.empty() &&
        std::find(s.objectives.begin(), s.objectives.end(), obj.name) == s.objectives.end())
      continue;
    if (check_only) {
      const bool good = check(obj);
      std::printf("%-13s optimum %s\n", obj.name.c_str(), good ? "ok" : "WRONG");
      ok = ok && good;
      continue;
    }
    std::printf("%-13s %6s %-16s %12s %12s %12s %6s\n", obj.name.c_str(), "budget", "method", "q1",
                "median", "q3", "evals");
    std::map<std::string, std::map<int, std::vector<double>>> regrets;
    std::map<std::string, std::map<int, double>> evals;
    std::vector<double> late_ms;  // bayes time of the iterations at 46-50 measurements
    for (const auto& method : s.methods) {
      const std::string name = s.label.empty() || method != "bayes" ? method : s.label;
      for (int seed = s.first_seed; seed < s.first_seed + s.seeds; ++seed) {
        const auto sd = static_cast<std::uint64_t>(seed);
        const RunResult r =
            method == "orvane" ? run_orvane(obj, sd, s) : run_plain(obj, method, sd, s);
        for (const auto& [b, v] : r.regret) {
          regrets[name][b].push_back(v);
          evals[name][b] += r.evaluations.at(b);
          if (csv) {
            std::fprintf(csv, "%s,%s,%d,%d,%.10g,%d\n", obj.name.c_str(), name.c_str(), seed, b, v,
                         r.evaluations.at(b));
            std::fflush(csv);
          }
        }
        if (method == "bayes") {
          for (size_t i = 45; i < r.ask_ms.size(); ++i) late_ms.push_back(r.ask_ms[i]);
        }
      }
    }
    for (int b : s.budgets) {
      for (const auto& [name, by_budget] : regrets) {
        const auto& v = by_budget.at(b);
        std::printf("%-13s %6d %-16s %12.6g %12.6g %12.6g %6.1f\n", obj.name.c_str(), b,
                    name.c_str(), quantile(v, 0.25), quantile(v, 0.5), quantile(v, 0.75),
                    evals[name][b] / static_cast<double>(v.size()));
      }
    }
    if (!late_ms.empty()) {
      std::printf("%-13s bayes time per iteration at 46-50 measured: median %.1f ms, max %.1f ms\n",
                  obj.name.c_str(), quantile(late_ms, 0.5),
                  *std::max_element(late_ms.begin(), late_ms.end()));
    }
    std::fflush(stdout);
  }
  if (csv) std::fclose(csv);
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.1f s\n", secs);
  return ok ? 0 : 1;
}
