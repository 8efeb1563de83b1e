// Paired improvements of the confirmation rounds and the rule that makes a result effective.
#include "confirmation.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace orvane::tuning {

ConfirmVerdict judge_confirmation(const std::vector<ConfirmRound>& rounds, bool minimize) {
  ConfirmVerdict v;
  std::vector<double> gains;
  size_t chosen_failed = 0;
  for (const ConfirmRound& r : rounds) {
    if (!r.chosen) ++chosen_failed;
    if (r.chosen && r.original && *r.original != 0) {
      const double diff = minimize ? *r.original - *r.chosen : *r.chosen - *r.original;
      const double gain = diff * 100 / std::fabs(*r.original);
      v.improvements.push_back(gain);
      gains.push_back(gain);
    } else {
      v.improvements.push_back(std::nullopt);
    }
  }
  if (!gains.empty()) {
    std::sort(gains.begin(), gains.end());
    const size_t n = gains.size();
    v.median = n % 2 ? gains[n / 2] : (gains[n / 2 - 1] + gains[n / 2]) / 2;
    v.min = gains.front();
    v.max = gains.back();
  }

  if (rounds.empty()) {
    v.reason = "no confirmation round was measured";
  } else if (chosen_failed > 0) {
    // A configuration under which the benchmark fails is no improvement, whatever else it gives.
    v.reason = fmt::format("the chosen configuration gave no figure in {} of {} rounds",
                           chosen_failed, rounds.size());
  } else if (!v.median) {
    v.reason = "no round gave a figure of the original configuration to compare with";
  } else {
    const double spread = *v.max - *v.min;
    if (*v.median <= kMinImprovementPercent) {
      v.reason = fmt::format("the median improvement {:+.2f}% is not more than {}%", *v.median,
                             kMinImprovementPercent);
    } else if (*v.median <= spread) {
      v.reason = fmt::format(
          "the median improvement {:+.2f}% is not more than the spread of the rounds, {:.2f}%",
          *v.median, spread);
    } else {
      v.effective = true;
      v.reason = fmt::format(
          "the median improvement {:+.2f}% is more than the spread of the rounds, {:.2f}%, and "
          "than {}%",
          *v.median, spread, kMinImprovementPercent);
    }
  }
  return v;
}

}  // namespace orvane::tuning
