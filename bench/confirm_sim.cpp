// Error rates of the confirmation's decision rule on simulated noisy measurements: how often it
// applies a change that is no better, and how often it keeps the original against a true gain,
// beside the median-above-spread rule it replaced.
//
// usage: orvane-confirm-sim [--trials=N] [--alpha=A] [--rounds=N] [--max-rounds=N]
//
// The error per look is the tuning run's own (set for at most 5% false acceptance over the
// looks from --rounds to --max-rounds) unless --alpha gives one.
//
// Each trial measures the chosen and the original configuration alternately, chosen first, as a
// tuning run does: confirm_rounds pairs, then more while the paired test asks for them, up to
// max_rounds. Noise models, all multiplicative on the true figure:
//   gauss-2%, gauss-5%, gauss-10%   independent normal noise
//   bimodal-independent             every measurement lands on a low (26k) or high (36k) level of
//                                   throughput with even odds, plus 3% normal noise
//   bimodal-drift                   the level persists and switches with probability 0.1 between
//                                   consecutive measurements (minutes-long regimes), plus 3%
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "confirmation.hpp"

namespace {

using orvane::tuning::ConfirmDecision;
using orvane::tuning::ConfirmRound;
using orvane::tuning::ConfirmRule;

struct Noise {
  const char* name;
  double sd;         // relative normal noise
  bool bimodal;      // two levels of throughput
  double switching;  // probability that the level changes between measurements (1 = independent
                     // draws with even odds, as 0.5 switching would bias nothing either)
};

// One measurement stream: the level state carries over between calls.
class Meter {
 public:
  Meter(const Noise& n, std::uint64_t seed) : noise_(n), rng_(seed) { high_ = coin_(rng_) < 0.5; }
  double measure(double truth) {
    if (noise_.bimodal) {
      if (noise_.switching >= 1) {
        high_ = coin_(rng_) < 0.5;
      } else if (coin_(rng_) < noise_.switching) {
        high_ = !high_;
      }
    }
    const double level = noise_.bimodal ? (high_ ? 36.0 / 31.0 : 26.0 / 31.0) : 1.0;
    return truth * level * (1 + noise_.sd * normal_(rng_));
  }

 private:
  Noise noise_;
  std::mt19937_64 rng_;
  std::uniform_real_distribution<double> coin_{0.0, 1.0};
  std::normal_distribution<double> normal_{0.0, 1.0};
  bool high_ = false;
};

struct Outcome {
  double accept_rate = 0;
  double mean_pairs = 0;
  double old_accept_rate = 0;  // the median-above-spread rule on the first confirm_rounds pairs
};

Outcome simulate(const Noise& noise, double ratio, int trials, const ConfirmRule& rule,
                 size_t rounds) {
  Outcome out;
  long accepted = 0, old_accepted = 0, pairs = 0;
  for (int t = 0; t < trials; ++t) {
    Meter meter(noise, static_cast<std::uint64_t>(t) * 7919 + 1);
    const auto c = orvane::tuning::run_confirmation(rounds, false, rule, [&] {
      const ConfirmRound pair{meter.measure(30000 * ratio), meter.measure(30000)};
      return std::optional(pair);
    });
    if (c.test.decision == ConfirmDecision::Accept) ++accepted;
    const std::vector<ConfirmRound> first(c.rounds.begin(),
                                          c.rounds.begin() + static_cast<long>(rounds));
    if (orvane::tuning::judge_confirmation(first, false).effective) ++old_accepted;
    pairs += static_cast<long>(c.rounds.size());
  }
  out.accept_rate = static_cast<double>(accepted) / trials;
  out.old_accept_rate = static_cast<double>(old_accepted) / trials;
  out.mean_pairs = static_cast<double>(pairs) / trials;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int trials = 20000;
  ConfirmRule rule;
  size_t rounds = 3;
  double alpha = 0;  // 0: the tuning run's own, set for 5% in all
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--trials=", 0) == 0) {
      trials = std::stoi(a.substr(9));
    } else if (a.rfind("--alpha=", 0) == 0) {
      alpha = std::stod(a.substr(8));
    } else if (a.rfind("--rounds=", 0) == 0) {
      rounds = std::stoul(a.substr(9));
    } else if (a.rfind("--max-rounds=", 0) == 0) {
      rule.max_rounds = std::stoul(a.substr(13));
    } else {
      std::fprintf(stderr,
                   "usage: orvane-confirm-sim [--trials=N] [--alpha=A] [--rounds=N] "
                   "[--max-rounds=N]\n");
      return 2;
    }
  }
  const size_t max_rounds = rule.max_rounds;
  rule = orvane::tuning::confirm_rule(rounds, max_rounds);
  if (alpha > 0) rule.alpha = alpha;
  const Noise noises[] = {
      {"gauss-2%", 0.02, false, 0},       {"gauss-5%", 0.05, false, 0},
      {"gauss-10%", 0.10, false, 0},      {"bimodal-independent", 0.03, true, 1.0},
      {"bimodal-drift", 0.03, true, 0.1},
  };
  std::printf("rule: signed-rank test at one-sided %.4g per look, %zu to %zu pairs; %d trials\n",
              rule.alpha, rounds, rule.max_rounds, trials);
  std::printf("%-20s %14s %14s %10s %14s %14s\n", "noise", "accept no-gain", "reject +20%", "pairs",
              "old: accept 0", "old: rej +20%");
  for (const auto& n : noises) {
    const Outcome null = simulate(n, 1.0, trials, rule, rounds);
    const Outcome gain = simulate(n, 1.2, trials, rule, rounds);
    std::printf("%-20s %13.1f%% %13.1f%% %4.1f/%4.1f %13.1f%% %13.1f%%\n", n.name,
                100 * null.accept_rate, 100 * (1 - gain.accept_rate), null.mean_pairs,
                gain.mean_pairs, 100 * null.old_accept_rate, 100 * (1 - gain.old_accept_rate));
    std::fflush(stdout);
  }
  return 0;
}
