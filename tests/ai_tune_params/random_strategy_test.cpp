// Random search over the search space.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include <orvane/search_space.hpp>

namespace orvane::tuning {
namespace {

ParamSpec ranged(const std::string& name, ParamType type, double min, double max,
                 std::optional<double> step = std::nullopt) {
  ParamSpec p;
  p.name = name;
  p.type = type;
  p.min = min;
  p.max = max;
  p.step = step;
  return p;
}

ParamSpec choice(const std::string& name, std::vector<std::string> options) {
  ParamSpec p;
  p.name = name;
  p.type = ParamType::Enum;
  p.options = std::move(options);
  return p;
}

SearchSpace small_space() {
  return SearchSpace({ranged("n", ParamType::Int, 1, 3), choice("mode", {"on", "off"})});
}

TEST(RandomStrategy, ProposesEveryConfigurationOnceThenNothing) {
  const SearchSpace space = small_space();
  auto s = make_random_strategy(space, 1);
  std::set<std::string> seen;
  for (int i = 0; i < 6; ++i) {
    auto x = s->ask();
    ASSERT_TRUE(x.has_value()) << i;
    EXPECT_TRUE(seen.insert(space.key(*x)).second) << space.key(*x);
    s->tell(*x, i);
  }
  EXPECT_FALSE(s->ask().has_value());
}

TEST(RandomStrategy, NeverProposesWhatWasToldFromElsewhere) {
  const SearchSpace space = small_space();
  auto s = make_random_strategy(space, 2);
  for (double n : {1, 2, 3}) s->tell({n, 0}, 0);
  for (double n : {1, 3}) s->tell({n, 1}, 0);
  auto x = s->ask();
  ASSERT_TRUE(x.has_value());
  EXPECT_EQ(space.key(*x), space.key({2, 1}));
  EXPECT_FALSE(s->ask().has_value());
}

TEST(RandomStrategy, SameSeedSameSequence) {
  const SearchSpace space(
      {ranged("w", ParamType::Int, 256, 4096, 256), ranged("r", ParamType::Float, 0, 1)});
  auto a = make_random_strategy(space, 42), b = make_random_strategy(space, 42),
       c = make_random_strategy(space, 43);
  std::string seq_a, seq_b, seq_c;
  for (int i = 0; i < 10; ++i) {
    seq_a += space.key(*a->ask());
    seq_b += space.key(*b->ask());
    seq_c += space.key(*c->ask());
  }
  EXPECT_EQ(seq_a, seq_b);
  EXPECT_NE(seq_a, seq_c);
}

TEST(RandomStrategy, RespectsTypesBoundsAndSteps) {
  const SearchSpace space({ranged("w", ParamType::Int, 256, 4096, 256),
                           ranged("f", ParamType::Float, 0.1, 0.9, 0.1),
                           choice("e", {"a", "b", "c"})});
  auto s = make_random_strategy(space, 9);
  for (int i = 0; i < 200; ++i) {
    const Json v = space.to_json(*s->ask());
    ASSERT_TRUE(v["w"].is_number_integer());
    const long long wv = v["w"].get<long long>();
    EXPECT_TRUE(wv >= 256 && wv <= 4096 && wv % 256 == 0) << wv;
    const double fv = v["f"].get<double>();
    EXPECT_TRUE(fv >= 0.1 && fv <= 0.9) << fv;
    // On the decimal grid, as the text a set script receives shows.
    EXPECT_LE(v["f"].dump().size(), 3u) << v["f"].dump();
    EXPECT_TRUE(v["e"] == "a" || v["e"] == "b" || v["e"] == "c");
  }
}

TEST(RandomStrategy, RecommendsTheHighestScore) {
  const SearchSpace space = small_space();
  auto s = make_random_strategy(space, 3);
  EXPECT_THROW(s->recommend(), std::logic_error);
  s->tell({1, 0}, 5);
  s->tell({2, 1}, 9);
  s->tell({3, 0}, -1);
  s->tell({3, 1}, std::nan(""));
  EXPECT_EQ(space.key(s->recommend()), space.key({2, 1}));
}

}  // namespace
}  // namespace orvane::tuning
