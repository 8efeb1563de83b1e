// The trust region's side over a run of scores, and its box.
#include <gtest/gtest.h>

#include "trust_region.hpp"

namespace orvane::tuning {
namespace {

TEST(TrustRegion, GrowsAfterSuccessesShrinksAfterFailuresAndRestarts) {
  const SearchSpace space({{"a", ParamType::Float, 0, 1, std::nullopt, {}},
                           {"b", ParamType::Float, 0, 1, std::nullopt, {}}});
  const ModelCoordinates coords(space, 0);
  struct Case {
    const char* what;
    std::vector<double> scores;  // told after a first score of 0
    double side;
  };
  const Case cases[] = {
      {"two improvements change nothing", {1, 2}, 0.4},
      {"three improvements double it", {1, 2, 3}, 0.8},
      {"and it stops at 1.6", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1.6},
      // An improvement must beat the best by a thousandth of the range seen.
      {"ties are failures", {0, 0, 0, 0}, 0.2},
      {"a failed measurement is a failure", {std::nan(""), -1, -1, -1}, 0.2},
      {"a success resets the failures", {-1, -1, -1, 1, -1, -1, -1}, 0.4},
      // Six halvings from 0.4 reach 0.00625, below the smallest side: back to the start.
      {"shrunk to nothing it starts again", std::vector<double>(24, -1.0), 0.4},
      {"five halvings", std::vector<double>(20, -1.0), 0.0125},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TrustRegion region(coords, true);
    std::vector<double> told{0};
    for (double s : c.scores) {
      region.update(s, told);
      told.push_back(s);
    }
    EXPECT_DOUBLE_EQ(region.side(), c.side);
  }
}

TEST(TrustRegion, BoxFollowsLengthScalesAndStaysInTheSpace) {
  const SearchSpace space({{"a", ParamType::Float, 0, 1, std::nullopt, {}},
                           {"m", ParamType::Enum, 0, 0, std::nullopt, {"x", "y"}},
                           {"b", ParamType::Float, 0, 1, std::nullopt, {}}});
  const ModelCoordinates coords(space, 0);
  // Log length scales: b's is e times a's; the enum's do not count.
  Eigen::VectorXd theta(6);
  theta << -0.5, 5, 5, 0.5, 0, 0;
  const Box box = TrustRegion(coords, true).box({0.5, 1, 0.9}, theta);
  // Side 0.4 scaled by e^{-1/2} for a and e^{1/2} for b (their mean log length scale is 0).
  EXPECT_NEAR(box.hi[0] - box.lo[0], 0.4 * std::exp(-0.5), 1e-12);
  EXPECT_NEAR(box.lo[3], 0.9 - 0.2 * std::exp(0.5), 1e-12);
  EXPECT_EQ(box.hi[3], 1.0);
  EXPECT_EQ((std::vector<double>{box.lo[1], box.hi[1], box.lo[2], box.hi[2]}),
            (std::vector<double>{0, 1, 0, 1}));
  const Box whole = TrustRegion(coords, false).box({0.5, 1, 0.9}, theta);
  EXPECT_EQ(whole.lo, std::vector<double>(4, 0.0));
  EXPECT_EQ(whole.hi, std::vector<double>(4, 1.0));
}

}  // namespace
}  // namespace orvane::tuning
