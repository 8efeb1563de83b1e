#pragma once
// The verdict on a tuning result: the chosen configuration and the original one measured in
// alternating pairs, and whether the chosen one is better by more than the measurements wander.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvane::tuning {

// One round of the confirmation: the figure of the chosen configuration, then the figure of the
// original one; nullopt for a measurement that gave no figure.
struct ConfirmRound {
  std::optional<double> chosen;
  std::optional<double> original;
};

struct ConfirmVerdict {
  bool effective = false;
  // Percent improvement of each round in the configured direction; nullopt when the round has no
  // two figures to compare, or the original's figure is 0.
  std::vector<std::optional<double>> improvements;
  // Median, least and greatest of the rounds' improvements; nullopt when no round compares.
  std::optional<double> median;
  std::optional<double> min;
  std::optional<double> max;
  std::string reason;  // one sentence: why the result is or is not effective
};

// Smallest median improvement, in percent, that counts as an improvement at all.
inline constexpr double kMinImprovementPercent = 1.0;

// Effective only when the chosen configuration gave a figure in every round and the median of
// the paired improvements is larger than their spread (greatest minus least) and than 1%.
ConfirmVerdict judge_confirmation(const std::vector<ConfirmRound>& rounds, bool minimize);

// Most pairs one confirmation may measure: the test's exact null distribution is counted in
// doubles, which hold 2^n up to n = 1023, and its cost grows with n^3.
inline constexpr long long kMaxConfirmPairs = 500;

// What the pairs measured so far decide.
enum class ConfirmDecision { Accept, Reject, MoreRounds };

// The paired test that decides a confirmation, and when it may ask for more pairs.
struct ConfirmRule {
  // One-sided error of each look: a change that is no better is accepted with probability at
  // most alpha each time the pairs are judged. With up to 8 pairs judged from the third on,
  // 0.03 keeps the overall rate under 5% in simulation (0.05 per look gave 7%).
  double alpha = 0.03;
  // The interval reported is 1 - 2 interval_alpha (90%).
  double interval_alpha = 0.05;
  // Smallest improvement, in percent, worth applying.
  double min_improvement = kMinImprovementPercent;
  // Pairs after which an undecided confirmation keeps the original.
  size_t max_rounds = 8;
};

struct PairedTest {
  ConfirmDecision decision = ConfirmDecision::Reject;
  size_t compared = 0;  // pairs with two figures to compare
  // Hodges-Lehmann estimate of the paired improvement and its 1 - 2 interval_alpha interval, in
  // percent; the interval is absent while too few pairs compare to reach that confidence.
  std::optional<double> estimate;
  std::optional<double> low;
  std::optional<double> high;
  double p_value = 1;  // one-sided Wilcoxon signed-rank, against "no better"
  std::string reason;  // one sentence: why
};

// Wilcoxon signed-rank test on the logarithms of the paired ratios (chosen over original, in the
// configured direction), with the interval from the Walsh averages that goes with it. The rank
// test takes a measurement that lands in another mode of a bimodal server as one rank, not as
// the size of its jump. Accept: the test rejects "no better" at alpha and the estimate is above
// min_improvement. Reject: the chosen configuration failed in a round, the test passes but the
// estimate is not above min_improvement, the interval lies below min_improvement, or max_rounds
// pairs left it undecided. Otherwise ask for another pair.
PairedTest decide_confirmation(const std::vector<ConfirmRound>& rounds, bool minimize,
                               const ConfirmRule& rule = {});

// The one-sided error per look that keeps the chance of accepting a change that is no better at
// most `overall` over all looks from `first` to `last` pairs. When the chosen configuration is no
// better, each pair's sign is a fair coin independent of the ranks of the pairs' sizes, whatever
// the noise (continuous, symmetric, pairs independent): the smallest p-value along the looks
// therefore has one distribution, simulated here once per (first, last) with a fixed seed. One
// look gives `overall` itself.
double per_look_alpha(size_t first, size_t last, double overall);

// The rule of a confirmation of `rounds` pairs first and at most `max_rounds` in all, its error
// per look set so that at most 5% of changes that are no better are accepted.
inline constexpr double kConfirmErrorRate = 0.05;
ConfirmRule confirm_rule(size_t rounds, size_t max_rounds);

// The pairs of one confirmation and what they decided.
struct Confirmation {
  std::vector<ConfirmRound> rounds;
  PairedTest test;
  bool interrupted = false;  // measure_pair gave up before the rule decided
};

// Measures pairs, chosen then original, through `measure_pair` (nullopt: the run was asked to
// stop): `rounds` pairs first, then one more at a time while the rule asks for it, up to
// rule.max_rounds (never fewer than `rounds`). An interrupted confirmation is judged on the
// pairs it has, with no more allowed.
Confirmation run_confirmation(size_t rounds, bool minimize, ConfirmRule rule,
                              const std::function<std::optional<ConfirmRound>()>& measure_pair);

}  // namespace orvane::tuning
