// The expression evaluator over host facts.
#include <gtest/gtest.h>

#include <cmath>

#include <orvane/profile/expression.hpp>
#include <orvane/profile/host_facts.hpp>

namespace orvane::profile {
namespace {

const Facts kFacts = {
    {"memory", 8.0 * 1024 * 1024 * 1024}, {"cpus", 4},           {"disks", 2}, {"rotational", 0},
    {"GiB", 1024.0 * 1024 * 1024},        {"MiB", 1024.0 * 1024}};

TEST(Expression, Values) {
  const std::pair<const char*, double> cases[] = {
      {"1 + 2 * 3", 7},
      {"(1 + 2) * 3", 9},
      {"10 - 4 - 3", 3},
      {"12 / 4 / 3", 1},
      {"-cpus + 10", 6},
      {"floor(memory * if(memory <= 4 * GiB, 0.5, 0.75) / MiB)", 6144},
      {"max(8, 2 * disks)", 8},
      {"min(16, max(3, floor(cpus / 2)))", 3},
      {"rotational == 0 && disks > 0", 1},
      {"rotational > 0 || !disks", 0},
      {"cpus >= 4", 1},
      {"cpus != 4", 0},
      {"1 < 2 < 3", 1},
      {"round(2.5) + ceil(0.1)", 4},
  };
  for (const auto& [text, want] : cases) EXPECT_DOUBLE_EQ(evaluate(text, kFacts), want) << text;
}

TEST(Expression, Refusals) {
  const char* cases[] = {"",       "1 +",      "(1",    "1 2",   "memry", "cpus / (disks - 2)",
                         "foo(1)", "if(1, 2)", "min()", "1 ; 2", "1..2",  "memory $ 2"};
  for (const char* text : cases) {
    EXPECT_THROW(evaluate(text, kFacts), ExpressionError) << text;
  }
}

TEST(Expression, CheckKnowsEveryFactNameButNotOthers) {
  EXPECT_NO_THROW(check_expression(
      "memory / GiB + cpus + disks + rotational + ssd + disk_rotational", fact_names()));
  // A division that would be by zero with real facts is no syntax error.
  EXPECT_NO_THROW(check_expression("cpus / (disks - disks)", fact_names()));
  EXPECT_THROW(check_expression("memory_gb", fact_names()), ExpressionError);
}

TEST(HostFacts, CpuLists) {
  EXPECT_EQ(parse_cpu_list("0-3,6,8-9\n"), (std::vector<int>{0, 1, 2, 3, 6, 8, 9}));
  EXPECT_EQ(parse_cpu_list("0"), (std::vector<int>{0}));
  for (const char* bad : {"3-1", "a", "0-", "1,,2"}) {
    EXPECT_THROW(parse_cpu_list(bad), std::invalid_argument) << bad;
  }
}

}  // namespace
}  // namespace orvane::profile
