// Paired improvements of the confirmation rounds and the rule that makes a result effective.
#include "confirmation.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>
#include <utility>

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

namespace {

// Number of sign assignments of the ranks 1..n giving each sum of positive ranks (0 to
// n(n+1)/2): the null distribution of the signed-rank statistic without ties, times 2^n.
std::vector<double> signed_rank_counts(size_t n) {
  std::vector<double> c(n * (n + 1) / 2 + 1, 0.0);
  c[0] = 1;
  for (size_t r = 1; r <= n; ++r) {
    for (size_t s = c.size() - 1; s >= r; --s) c[s] += c[s - r];
  }
  return c;
}

// P(T+ >= observed) for the non-zero differences d, with tied magnitudes sharing their mean rank
// (ranks doubled so that they stay whole).
double signed_rank_p_value(std::vector<double> d) {
  d.erase(std::remove(d.begin(), d.end(), 0.0), d.end());
  const size_t n = d.size();
  if (n == 0) return 1.0;
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return std::fabs(d[a]) < std::fabs(d[b]); });
  std::vector<size_t> rank2(n);  // twice the rank
  for (size_t i = 0; i < n;) {
    size_t j = i;
    while (j + 1 < n && std::fabs(d[order[j + 1]]) == std::fabs(d[order[i]])) ++j;
    for (size_t k = i; k <= j; ++k) rank2[order[k]] = i + j + 2;
    i = j + 1;
  }
  size_t total = 0;
  size_t observed = 0;
  for (size_t i = 0; i < n; ++i) {
    total += rank2[i];
    if (d[i] > 0) observed += rank2[i];
  }
  std::vector<double> c(total + 1, 0.0);
  c[0] = 1;
  for (size_t i = 0; i < n; ++i) {
    for (size_t s = total; s >= rank2[i]; --s) c[s] += c[s - rank2[i]];
  }
  const double all = std::accumulate(c.begin(), c.end(), 0.0);
  return std::accumulate(c.begin() + static_cast<long>(observed), c.end(), 0.0) / all;
}

// A log ratio as the percent improvement the old rule reported: more throughput, or less cost.
double percent(double log_ratio, bool minimize) {
  return minimize ? -100 * std::expm1(-log_ratio) : 100 * std::expm1(log_ratio);
}

}  // namespace

PairedTest decide_confirmation(const std::vector<ConfirmRound>& rounds, bool minimize,
                               const ConfirmRule& rule) {
  PairedTest t;
  const bool more_allowed = rounds.size() < rule.max_rounds;
  size_t chosen_failed = 0;
  std::vector<double> d;  // log of the ratio, better > 0
  for (const ConfirmRound& r : rounds) {
    if (!r.chosen) ++chosen_failed;
    if (!r.chosen || !r.original || *r.original == 0) continue;
    // The log of chosen / original for a throughput, of original / chosen for a cost; a ratio
    // of zero or below (a collapse, figures of mixed sign) counts as a 1000-fold change.
    const double ratio = 1 + (*r.chosen - *r.original) / std::fabs(*r.original);
    d.push_back(minimize ? -std::log(std::max(ratio, 1e-3)) : std::log(std::max(ratio, 1e-3)));
  }
  t.compared = d.size();
  if (rounds.empty()) {
    t.reason = "no confirmation round was measured";
    return t;
  }
  if (chosen_failed > 0) {
    t.reason = fmt::format("the chosen configuration gave no figure in {} of {} rounds",
                           chosen_failed, rounds.size());
    return t;
  }
  if (d.empty()) {
    t.decision = more_allowed ? ConfirmDecision::MoreRounds : ConfirmDecision::Reject;
    t.reason = "no round gave a figure of the original configuration to compare with";
    return t;
  }

  const size_t n = d.size();
  std::vector<double> walsh;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i; j < n; ++j) walsh.push_back((d[i] + d[j]) / 2);
  }
  std::sort(walsh.begin(), walsh.end());
  const size_t m = walsh.size();
  t.estimate = percent(m % 2 ? walsh[m / 2] : (walsh[m / 2 - 1] + walsh[m / 2]) / 2, minimize);
  t.p_value = signed_rank_p_value(d);
  // The interval's ends are the (k+1)-th smallest and largest Walsh averages, k the largest
  // count with P(T+ <= k) <= interval_alpha.
  const std::vector<double> counts = signed_rank_counts(n);
  const double all = std::ldexp(1.0, static_cast<int>(n));
  double cumulative = 0;
  std::optional<size_t> k;
  for (size_t s = 0; s < counts.size(); ++s) {
    cumulative += counts[s];
    if (cumulative / all > rule.interval_alpha) break;
    k = s;
  }
  if (k) {
    t.low = percent(walsh[*k], minimize);
    t.high = percent(walsh[m - 1 - *k], minimize);
  }
  const int confidence = static_cast<int>(std::lround(100 * (1 - 2 * rule.interval_alpha)));
  const std::string interval =
      t.low ? fmt::format("{}% interval {:+.2f}% to {:+.2f}%", confidence, *t.low, *t.high)
            : fmt::format("too few for a {}% interval", confidence);
  const std::string summary =
      fmt::format("the paired improvement {:+.2f}% ({}, {} pairs, p = {:.3f})", *t.estimate,
                  interval, n, t.p_value);
  const bool significant = t.p_value <= rule.alpha;

  if (significant && *t.estimate > rule.min_improvement) {
    t.decision = ConfirmDecision::Accept;
    t.reason =
        fmt::format("{} is better at the {:.2g}% error level per look", summary, 100 * rule.alpha);
  } else if (significant) {
    t.reason = fmt::format("{} is not more than {}%", summary, rule.min_improvement);
  } else if (t.high && *t.high < rule.min_improvement) {
    t.reason = fmt::format("{} lies below {}%", summary, rule.min_improvement);
  } else if (more_allowed) {
    t.decision = ConfirmDecision::MoreRounds;
    t.reason = fmt::format("{} does not decide yet", summary);
  } else {
    t.reason = fmt::format("{} is not better at the {:.2g}% error level per look", summary,
                           100 * rule.alpha);
  }
  return t;
}

double per_look_alpha(size_t first, size_t last, double overall) {
  first = std::max<size_t>(first, 1);
  last = std::max(last, first);
  if (first == last) return overall;
  // The simulation costs trials x last^2; past this many pairs the error is split evenly.
  if (last > 60) return overall / static_cast<double>(last - first + 1);
  static std::map<std::pair<size_t, size_t>, std::map<double, double>> cache;
  auto& known = cache[{first, last}];
  if (auto it = known.find(overall); it != known.end()) return it->second;

  // P(T+ >= t) for n pairs without ties.
  std::vector<std::vector<double>> tail(last + 1);
  for (size_t n = first; n <= last; ++n) {
    const std::vector<double> c = signed_rank_counts(n);
    const double all = std::ldexp(1.0, static_cast<int>(n));
    tail[n].assign(c.size() + 1, 0.0);
    for (size_t t = c.size(); t-- > 0;) tail[n][t] = tail[n][t + 1] + c[t] / all;
  }
  constexpr int kTrials = 20000;
  std::mt19937_64 rng(20261207);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> smallest(kTrials);
  std::vector<double> sizes;
  std::vector<bool> positive;
  for (int k = 0; k < kTrials; ++k) {
    sizes.clear();
    positive.clear();
    size_t t_plus = 0;
    double least = 1;
    for (size_t n = 1; n <= last; ++n) {
      const double size = uniform(rng);
      const bool up = uniform(rng) < 0.5;
      // The new pair's rank, and one rank more for every larger positive pair.
      size_t rank = 1;
      for (size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] < size) {
          ++rank;
        } else if (positive[i]) {
          ++t_plus;
        }
      }
      if (up) t_plus += rank;
      sizes.push_back(size);
      positive.push_back(up);
      if (n >= first) least = std::min(least, tail[n][t_plus]);
    }
    smallest[static_cast<size_t>(k)] = least;
  }
  std::sort(smallest.begin(), smallest.end());
  // The largest level that at most `overall` of the paths reach, set midway below the next
  // attainable p-value so that rounding cannot tip a decision.
  const size_t allowed = static_cast<size_t>(overall * kTrials);
  const double next = smallest[std::min(allowed, smallest.size() - 1)];
  const auto at = std::lower_bound(smallest.begin(), smallest.end(), next);
  const double alpha = at == smallest.begin() ? next / 2 : (*(at - 1) + next) / 2;
  known[overall] = alpha;
  return alpha;
}

ConfirmRule confirm_rule(size_t rounds, size_t max_rounds) {
  ConfirmRule rule;
  rule.max_rounds = std::max(rounds, max_rounds);
  rule.alpha = per_look_alpha(rounds, rule.max_rounds, kConfirmErrorRate);
  return rule;
}

Confirmation run_confirmation(size_t rounds, bool minimize, ConfirmRule rule,
                              const std::function<std::optional<ConfirmRound>()>& measure_pair) {
  Confirmation c;
  rule.max_rounds = std::max(rule.max_rounds, rounds);
  while (true) {
    const std::optional<ConfirmRound> pair = measure_pair();
    if (!pair) {
      c.interrupted = true;
      rule.max_rounds = c.rounds.size();
      c.test = decide_confirmation(c.rounds, minimize, rule);
      return c;
    }
    c.rounds.push_back(*pair);
    if (c.rounds.size() < rounds) continue;
    c.test = decide_confirmation(c.rounds, minimize, rule);
    if (c.test.decision != ConfirmDecision::MoreRounds) return c;
  }
}

}  // namespace orvane::tuning
