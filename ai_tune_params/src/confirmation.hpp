#pragma once
// The verdict on a tuning result: the chosen configuration and the original one measured in
// alternating pairs, and whether the chosen one is better by more than the measurements wander.
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

}  // namespace orvane::tuning
