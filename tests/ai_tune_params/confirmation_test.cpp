// The verdict of the confirmation rounds: paired improvements, their median and spread, and the
// cases that are never effective.
#include <gtest/gtest.h>

#include "confirmation.hpp"

namespace orvane::tuning {
namespace {

struct Verdict {
  const char* what;
  std::vector<ConfirmRound> rounds;
  bool minimize;
  bool effective;
  std::optional<double> median, min, max;
  std::string reason;  // expected start of the reason
};

void PrintTo(const Verdict& v, std::ostream* os) {
  *os << v.what;
}

class JudgeConfirmation : public ::testing::TestWithParam<Verdict> {};

TEST_P(JudgeConfirmation, GivesMedianMinMaxAndTheVerdict) {
  const Verdict& c = GetParam();
  const ConfirmVerdict v = judge_confirmation(c.rounds, c.minimize);
  EXPECT_EQ(v.effective, c.effective) << v.reason;
  EXPECT_EQ(v.improvements.size(), c.rounds.size());
  for (const auto& [got, want] :
       {std::pair{v.median, c.median}, std::pair{v.min, c.min}, std::pair{v.max, c.max}}) {
    ASSERT_EQ(got.has_value(), want.has_value()) << v.reason;
    if (want) {
      EXPECT_NEAR(*got, *want, 1e-9);
    }
  }
  EXPECT_EQ(v.reason.rfind(c.reason, 0), 0u) << v.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JudgeConfirmation,
    ::testing::Values(
        Verdict{"steady",
                {{110, 100}, {111, 100}, {109, 100}},
                false,
                true,
                10,
                9,
                11,
                "the median improvement +10.00% is more than the spread"},
        // The median of an even count is the mean of the middle two.
        Verdict{"even_count",
                {{104, 100}, {106, 100}},
                false,
                true,
                5,
                4,
                6,
                "the median improvement +5.00% is more than"},
        Verdict{"spread_beyond_gain",
                {{130, 100}, {95, 100}, {110, 100}},
                false,
                false,
                10,
                -5,
                30,
                "the median improvement +10.00% is not more than the spread of the rounds, "
                "35.00%"},
        Verdict{"gain_equal_to_spread",
                {{105, 100}, {110, 100}, {115, 100}},
                false,
                false,
                10,
                5,
                15,
                "the median improvement +10.00% is not more than the spread"},
        Verdict{"one_percent",
                {{101, 100}},
                false,
                false,
                1,
                1,
                1,
                "the median improvement +1.00% is not more than 1%"},
        Verdict{"loss",
                {{90, 100}, {91, 100}},
                false,
                false,
                -9.5,
                -10,
                -9,
                "the median improvement -9.50%"},
        Verdict{"minimize_gain",
                {{80, 100}, {81, 100}, {79, 100}},
                true,
                true,
                20,
                19,
                21,
                "the median improvement +20.00%"},
        Verdict{"minimize_loss",
                {{120, 100}},
                true,
                false,
                -20,
                -20,
                -20,
                "the median improvement -20.00%"},
        // A negative figure (a score such as a latency difference) is compared by its size.
        Verdict{"negative_original", {{-90, -100}}, false, true, 10, 10, 10, "the median"},
        Verdict{"chosen_failed",
                {{110, 100}, {std::nullopt, 100}, {110, 100}},
                false,
                false,
                10,
                10,
                10,
                "the chosen configuration gave no figure in 1 of 3 rounds"},
        // A round whose original failed, or measured 0, compares nothing but does not count
        // against.
        Verdict{"original_failed_or_zero",
                {{110, std::nullopt}, {110, 100}, {5, 0}},
                false,
                true,
                10,
                10,
                10,
                "the median improvement +10.00%"},
        Verdict{"nothing_compares",
                {{110, std::nullopt}},
                false,
                false,
                std::nullopt,
                std::nullopt,
                std::nullopt,
                "no round gave a figure of the original"},
        Verdict{"no_rounds",
                {},
                false,
                false,
                std::nullopt,
                std::nullopt,
                std::nullopt,
                "no confirmation round was measured"}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace orvane::tuning
