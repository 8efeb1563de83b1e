// The search space's grid: values per parameter, count, indexing and enumeration.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include <orvane/search_space.hpp>

namespace orvane::tuning {
namespace {

ParamSpec ranged(const std::string& name, ParamType type, double lo, double hi,
                 std::optional<double> step = std::nullopt) {
  return {name, type, lo, hi, step, {}};
}

TEST(SearchSpace, GridValuesOfEachKindOfParameter) {
  struct Case {
    const char* what;
    ParamSpec param;
    std::optional<std::vector<double>> values;
  };
  const Case cases[] = {
      {"int", ranged("n", ParamType::Int, -1, 2), std::vector<double>{-1, 0, 1, 2}},
      // The last step does not fit: the range ends at the last grid value below max.
      {"int with step", ranged("n", ParamType::Int, 64, 300, 64),
       std::vector<double>{64, 128, 192, 256}},
      // The top value survives the roundoff of (max - min) / step = 2.9999999999999996.
      {"float with decimal step", ranged("r", ParamType::Float, 0.1, 0.4, 0.1),
       std::vector<double>{0.1, 0.2, 0.3, 0.4}},
      {"single value", ranged("n", ParamType::Int, 5, 5), std::vector<double>{5}},
      {"enum",
       {"m", ParamType::Enum, 0, 0, std::nullopt, {"a", "b", "c"}},
       std::vector<double>{0, 1, 2}},
      {"continuous float", ranged("f", ParamType::Float, 0, 1), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const SearchSpace space({c.param});
    const auto values = space.grid_values(0);
    ASSERT_EQ(values.has_value(), c.values.has_value());
    if (!values) {
      EXPECT_FALSE(space.cardinality());
      continue;
    }
    ASSERT_EQ(values->size(), c.values->size());
    for (size_t k = 0; k < values->size(); ++k) {
      EXPECT_DOUBLE_EQ((*values)[k], (*c.values)[k]) << k;
      EXPECT_EQ(space.snap({(*values)[k]}), Point{(*values)[k]}) << "a grid value snaps to itself";
    }
    EXPECT_EQ(*space.cardinality(), static_cast<double>(values->size()));
  }
}

// Indexing visits every configuration once, first parameter fastest, each a valid one.
TEST(SearchSpace, EnumerationVisitsEveryConfigurationOnce) {
  const SearchSpace space({ranged("n", ParamType::Int, 1, 3),
                           {"m", ParamType::Enum, 0, 0, std::nullopt, {"on", "off"}},
                           ranged("r", ParamType::Float, 0.5, 1.0, 0.25)});
  ASSERT_EQ(*space.cardinality(), 18.0);
  const std::vector<Point> all = space.enumerate(18);
  ASSERT_EQ(all.size(), 18u);
  EXPECT_EQ(all[0], (Point{1, 0, 0.5}));
  EXPECT_EQ(all[1], (Point{2, 0, 0.5}));
  EXPECT_EQ(all[3], (Point{1, 1, 0.5}));
  EXPECT_EQ(all[17], (Point{3, 1, 1.0}));
  std::set<std::string> keys;
  for (size_t k = 0; k < all.size(); ++k) {
    EXPECT_EQ(all[k], space.at_index(k));
    EXPECT_EQ(space.snap(all[k]), all[k]);
    keys.insert(space.key(all[k]));
  }
  EXPECT_EQ(keys.size(), 18u);
  // Indices wrap around: the caller's scan from a random start relies on it.
  EXPECT_EQ(space.at_index(18), all[0]);
}

TEST(SearchSpace, EnumerationRefusesSpacesItCannotList) {
  EXPECT_THROW(SearchSpace({ranged("f", ParamType::Float, 0, 1)}).enumerate(1000),
               std::logic_error);
  EXPECT_THROW(SearchSpace({ranged("n", ParamType::Int, 1, 100)}).enumerate(99), std::logic_error);
  EXPECT_THROW(SearchSpace({ranged("f", ParamType::Float, 0, 1)}).at_index(0), std::logic_error);
}

}  // namespace
}  // namespace orvane::tuning
