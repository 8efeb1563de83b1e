// The acquisition's candidates that do not depend on the random draws.
#include <gtest/gtest.h>

#include "candidates.hpp"

namespace orvane::tuning {
namespace {

TEST(Candidates, SwitchOptionsAndMoveEachInputToTheEndsOfTheBox) {
  // rmem spans a factor of 256: a log scale, 1024 in the middle.
  const SearchSpace space({{"rmem", ParamType::Int, 64, 16384, std::nullopt, {}},
                           {"poll", ParamType::Int, 0, 100, 10.0, {}},
                           {"mode", ParamType::Enum, 0, 0, std::nullopt, {"a", "b", "c"}}});
  const ModelCoordinates coords(space, 100);
  struct Case {
    const char* what;
    Point best;
    std::vector<double> lo, hi;  // of rmem and poll; the enum's block is [0, 1]
    std::vector<Point> want;
  };
  const Case cases[] = {
      {"whole space",
       {1024, 50, 0},
       {0, 0},
       {1, 1},
       {{1024, 50, 1}, {1024, 50, 2}, {64, 50, 0}, {16384, 50, 0}, {1024, 0, 0}, {1024, 100, 0}}},
      {"a box inside the space, on the log scale for rmem",
       {2048, 50, 1},
       {0.5, 0.3},
       {0.75, 0.7},
       {{2048, 50, 0}, {2048, 50, 2}, {1024, 50, 1}, {4096, 50, 1}, {2048, 30, 1}, {2048, 70, 1}}},
      {"on a corner already, one of each pair is the best itself",
       {16384, 0, 2},
       {0.5, 0},
       {1, 0.5},
       {{16384, 0, 0}, {16384, 0, 1}, {1024, 0, 2}, {16384, 0, 2}, {16384, 0, 2}, {16384, 50, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Box box;
    box.centre = coords.encode(c.best);
    box.lo = {c.lo[0], c.lo[1], 0, 0, 0};
    box.hi = {c.hi[0], c.hi[1], 1, 1, 1};
    std::mt19937_64 rng(7);
    const std::vector<Point> got = sample_candidates(coords, box, {c.best}, 0, 0, rng);
    EXPECT_EQ(got, c.want);
  }
}

}  // namespace
}  // namespace orvane::tuning
