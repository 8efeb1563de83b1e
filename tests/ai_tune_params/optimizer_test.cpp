// The optimiser's loop with real set scripts and benchmark commands: the candidate's value is
// written to the file "figure" (and logged in "calls"), which the benchmark prints. The value in
// "figure" when the run starts is the original configuration.
#include <orvane/optimizer.hpp>

#include "tuning_test_dir.hpp"

namespace orvane {
namespace {

using OptimizerTest = testing::TuningDirTest;

std::string int_param(long long lo, long long hi) {
  return "  - name: x\n    type: int\n    range: [" + std::to_string(lo) + ", " +
         std::to_string(hi) +
         "]\n    get: cat figure\n    set: echo $value >> calls; echo $value > figure\n";
}

std::string bench(const std::string& command, const std::string& extra = "") {
  return "  command: '" + command + "'\n  metric: '([0-9.]+)'\n" + extra;
}

// Prints the figure plus the offset on the line of "offsets" numbered by the call, or fails when
// that line reads "fail".
const char* kOffsetBench =
    "n=$(( $(cat n 2>/dev/null || echo 0) + 1 )); echo $n > n; o=$(sed -n \"${n}p\" offsets); "
    "[ \"$o\" != fail ] && echo $(( $(cat figure) + ${o:-0} ))";

struct Confirmation {
  const char* what;
  long long candidate;  // the only configuration of the space
  const char* direction;
  // Offsets per benchmark call: the search's measurement, then chosen and original per round.
  std::string offsets;
  long long max_rounds;  // confirm_max_rounds
  size_t pairs;          // pairs measured before the decision
  bool effective;
  double median, min, max;  // percent, over the rounds
  std::string reason;       // part of the confirmation's reason
};

void PrintTo(const Confirmation& c, std::ostream* os) {
  *os << c.what;
}

// Offsets that make the chosen configuration (1100 against an original of 1000) measure these
// gains, in percent, round by round.
std::string gains(const std::vector<int>& percent) {
  std::string out = "0\n";
  for (int g : percent) out += std::to_string(10 * g - 100) + "\n0\n";
  return out;
}

class OptimizerConfirmation : public testing::TuningDirTest,
                              public ::testing::WithParamInterface<Confirmation> {};

// The original is 1000; three rounds after one search evaluation, then more while undecided.
TEST_P(OptimizerConfirmation, DecidesOnThePairedImprovement) {
  const Confirmation& c = GetParam();
  write("figure", "1000\n");
  write("offsets", c.offsets);
  load(int_param(c.candidate, c.candidate),
       "optimizer: {iterations: 7, confirm_max_rounds: " + std::to_string(c.max_rounds) + "}\n",
       bench(kOffsetBench, std::string("  direction: ") + c.direction + "\n"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({1000}, Cfg().get_optimizer_info()).run();
  const std::string progress = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["effective"], c.effective) << r.dump();
  EXPECT_NE(r["confirmation"]["reason"].get<std::string>().find(c.reason), std::string::npos)
      << r["confirmation"]["reason"];
  for (const auto& [key, expected] :
       {std::pair{"improvement", c.median}, std::pair{"improvement_min", c.min},
        std::pair{"improvement_max", c.max}}) {
    ASSERT_TRUE(r[key].is_number()) << key << " " << r.dump();
    EXPECT_NEAR(r[key].get<double>(), expected, 1e-9) << key;
    EXPECT_EQ(r["confirmed"][key], r[key]);
  }
  EXPECT_EQ(r["best"], static_cast<double>(c.candidate));
  EXPECT_EQ(r["baseline"], 1000.0);
  // Three pairs come out of the budget of 7; the others are extra.
  const long long extra = 2 * (static_cast<long long>(c.pairs) - 3);
  EXPECT_EQ(r["evaluations"], 1 + 2 * c.pairs);
  EXPECT_EQ(r["extra_evaluations"], extra);
  EXPECT_EQ(r["confirmation"]["extra_evaluations"], extra);
  EXPECT_EQ(r["confirmation"]["evaluations"], 2 * c.pairs);
  EXPECT_EQ(r["confirmation"]["pairs"].size(), c.pairs);
  EXPECT_EQ(r["confirmed"]["pairs"], c.pairs);
  if (c.pairs > 3) {
    EXPECT_NE(progress.find("undecided after 3 pairs"), std::string::npos) << progress;
    EXPECT_NE(progress.find("[7/7 +2 extra] confirm 4/"), std::string::npos) << progress;
  }
  // Chosen and original alternate, each applied through the set script; the original last.
  const std::string x = std::to_string(c.candidate);
  std::string calls = x + "\n";
  for (size_t k = 0; k < c.pairs; ++k) calls += x + "\n1000\n";
  EXPECT_EQ(read("calls"), calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptimizerConfirmation,
    ::testing::Values(
        // Identical pairs pass the test at six (p = 1/64), not before (1/32 at five).
        Confirmation{"steady_gain", 1100, "maximize", "", 8, 6, true, 10, 10, 10,
                     "is better at the 2.9% error level per look"},
        // Five pairs give a 90% interval, here entirely below 1%.
        Confirmation{"half_a_percent_is_not_enough", 1005, "maximize", "", 8, 5, false, 0.5, 0.5,
                     0.5, "lies below 1%"},
        // A loss among gains, as on a server that jumps between two levels: one more pair
        // decides it.
        Confirmation{"loss_among_gains", 1100, "maximize", gains({10, -5, 20, 15, 12, 18, 25}), 8,
                     7, true, 15, -5, 25, "7 pairs, p = 0.016) is better"},
        Confirmation{"undecided_at_the_limit", 1100, "maximize", gains({10, -5, 20, -3}), 4, 4,
                     false, 3.5, -5, 20, "is not better at the 3.1% error level per look"},
        // Both drift down by a tenth per round: the pairs still compare like with like.
        Confirmation{"drift_hits_both", 1100, "maximize",
                     "0\n0\n0\n-110\n-100\n-220\n-200\n-330\n-300\n-440\n-400\n-550\n-500\n", 8, 6,
                     true, 10, 10, 10, "is better"},
        Confirmation{"lower_is_better", 900, "minimize", "", 8, 6, true, 10, 10, 10, "is better"},
        Confirmation{"higher_is_worse", 1100, "minimize", "", 8, 5, false, -10, -10, -10,
                     "lies below 1%"},
        Confirmation{"chosen_fails_a_round", 1100, "maximize", "0\n0\n0\nfail\n0\n0\n0\n", 8, 3,
                     false, 10, 10, 10,
                     "the chosen configuration gave no figure in 1 of 3 rounds"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(OptimizerTest, TheOriginalChosenIsNotConfirmedAndNotEffective) {
  write("figure", "3\n");
  load(int_param(1, 3), "optimizer: {iterations: 8}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["effective"], false) << r.dump();
  EXPECT_EQ(r["param"].dump(), R"({"x":"3"})");
  EXPECT_EQ(r["best"], 3.0);
  EXPECT_EQ(r["improvement"], nullptr);
  EXPECT_EQ(r["confirmation"]["evaluations"], 0);
  EXPECT_EQ(r["confirmation"]["skipped"], "the chosen configuration is the original one");
  // The original is known from the baseline: the search measures only the two others.
  EXPECT_EQ(r["search_evaluations"], 2);
  EXPECT_EQ(r["exhausted"], false);
  const std::string calls = read("calls");
  EXPECT_TRUE(calls == "1\n2\n" || calls == "2\n1\n") << calls;
}

// An original between two grid points is not taken for either of them.
TEST_F(OptimizerTest, AnOriginalOffTheGridIsNotAPointOfTheSpace) {
  write("figure", "5\n");
  load(
      "  - name: x\n    type: int\n    range: [2, 6]\n    step: 2\n    get: cat figure\n"
      "    set: echo $value >> calls; echo $value > figure\n",
      "optimizer: {iterations: 9}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({5}, Cfg().get_optimizer_info()).run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["search_evaluations"], 3);
  EXPECT_EQ(r["param"].dump(), R"({"x":6})");
  EXPECT_EQ(r["effective"], true) << r.dump();
  EXPECT_NEAR(r["improvement"].get<double>(), 20.0, 1e-9);
  EXPECT_EQ(r["confirmed"]["chosen"], 6.0);
  EXPECT_EQ(r["confirmed"]["original"], 5.0);
}

TEST_F(OptimizerTest, MeasuresEachConfigurationOnceAndConfirmsTheBest) {
  write("figure", "3\n");
  load(int_param(1, 5), "optimizer: {iterations: 11, seed: 5}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  const std::string progress = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["iterations"], 11);
  EXPECT_EQ(r["search_evaluations"], 4);
  EXPECT_EQ(r["evaluations"], 16);  // six pairs, three of them extra
  EXPECT_EQ(r["exhausted"], true);
  EXPECT_EQ(r["param"].dump(), R"({"x":5})");
  EXPECT_EQ(r["effective"], true);
  EXPECT_NEAR(r["improvement"].get<double>(), 200.0 / 3, 1e-9);
  std::set<long long> tried;
  for (const Json& h : r["history"]) {
    EXPECT_TRUE(tried.insert(h["param"]["x"].get<long long>()).second) << r.dump();
    EXPECT_EQ(h["figure"], static_cast<double>(h["param"]["x"].get<long long>()));
  }
  EXPECT_EQ(tried, (std::set<long long>{1, 2, 4, 5}));
  EXPECT_NE(progress.find("[4/11] {'x': "), std::string::npos) << progress;
  EXPECT_NE(progress.find("(best so far 5)"), std::string::npos) << progress;
  EXPECT_NE(progress.find("[10/11] confirm 3/3 original {'x': '3'} -> 3 (+66.67%)"),
            std::string::npos)
      << progress;
}

TEST_F(OptimizerTest, FailedMeasurementsAreLeftOutAndAllFailedGivesNothing) {
  write("figure", "3\n");
  load(int_param(1, 4), "optimizer: {iterations: 5, confirm_rounds: 1}\n",
       bench("echo tried >> tries; echo no figure here"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("-> no figure"), std::string::npos);
  EXPECT_TRUE(r.empty()) << r.dump();
  EXPECT_EQ(read("tries"), "tried\ntried\ntried\n");
}

TEST_F(OptimizerTest, KnownConfigurationsAreToldNotMeasured) {
  write("figure", "7\n");  // an original outside the space
  load(int_param(1, 3), "optimizer: {iterations: 3, confirm_rounds: 1}\n",
       bench("echo m >> tries; cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({1}, Cfg().get_optimizer_info(), Json::array({{{"x", "3"}}, {{"x", 2}}}),
                           Json::array({50, 2}))
                     .run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["param"].dump(), R"({"x":3})");
  EXPECT_EQ(r["best"], 50.0);
  EXPECT_EQ(r["history"].size(), 3u);
  EXPECT_EQ(r["search_evaluations"], 1);  // only x=1 was left to measure
  // Then the confirmation's pairs, until five show the chosen 3 surely below the original 7.
  EXPECT_EQ(read("calls"), "1\n3\n7\n3\n7\n3\n7\n3\n7\n3\n7\n");
  EXPECT_EQ(r["effective"], false);
  EXPECT_EQ(r["extra_evaluations"], 8);
}

// The strategy is built with the file's initial_points, or without one with the default for
// the evaluations the confirmation leaves to the search.
TEST_F(OptimizerTest, TheDesignSizeDefaultsFromTheSearchBudget) {
  const struct {
    const char* optimizer;
    long long initial_points;
  } cases[] = {
      {"{iterations: 20}", 4},                     // 14 for the search
      {"{iterations: 30}", 6},                     // 24
      {"{iterations: 50}", 8},                     // 44, at most 8
      {"{iterations: 20, confirm_rounds: 1}", 5},  // 18
      {"{iterations: 20, initial_points: 8}", 8},  // given
  };
  for (const auto& c : cases) {
    write("figure", "3\n");
    load(int_param(1, 4), std::string("optimizer: ") + c.optimizer + "\n", bench("cat figure"));
    std::optional<long long> seen;
    const auto previous =
        tuning::register_strategy("bayes", [&](const tuning::SearchSpace& space, const Json& s) {
          seen = s.at("initial_points").get<long long>();
          return tuning::make_random_strategy(space, 1);
        });
    ::testing::internal::CaptureStderr();
    Optimizer({3}, Cfg().get_optimizer_info()).run();
    ::testing::internal::GetCapturedStderr();
    tuning::register_strategy("bayes", previous);
    EXPECT_EQ(seen, c.initial_points) << c.optimizer;
  }
}

TEST_F(OptimizerTest, ABudgetWithoutRoomForTheSearchIsRefused) {
  write("figure", "3\n");
  load(int_param(1, 4), "", bench("cat figure"));
  Json settings = Cfg().get_optimizer_info();
  settings["iterations"] = 6;  // the default three rounds take all six
  EXPECT_THROW(Optimizer({3}, settings).run(), std::invalid_argument);
  EXPECT_FALSE(exists("calls"));
}

}  // namespace
}  // namespace orvane
