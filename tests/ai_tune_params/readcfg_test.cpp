// The project file reader: the records it hands out, and the files it refuses.
#include <orvane/readcfg.hpp>

#include <sys/stat.h>

#include "tuning_test_dir.hpp"

namespace orvane {
namespace {

using ReadCfg = testing::TuningDirTest;

const char* kGood = R"(project: web
workload: {start: "svc start", stop: "svc stop"}
benchmark:
  command: "wrk http://localhost"
  metric: 'Requests/sec:\s+([0-9.]+)'
  direction: minimize
  repeat: 3
  timeout: 2.5
optimizer: {method: random, iterations: 12, seed: 7}
params:
  - name: Workers
    type: int
    range: [256, 4096]
    step: 256
    get: "get w"
    set: "set w $value"
    needrestart: true
  - name: gzip
    type: enum
    options: ["on", "off"]
    get: "get g"
    set: "set g $value"
  - name: ratio
    type: float
    range: [0.1, 0.9]
    get: "get r"
    set: "set r $value"
)";

TEST_F(ReadCfg, HandsOutTheRecordsInFileOrderWithDefaults) {
  write("good.yaml", kGood);
  const Json all = Cfg().init("good.yaml");
  EXPECT_EQ(all["project"], "web");

  Cfg cfg;  // a new object sees the same configuration
  EXPECT_EQ(cfg.get_project(), "web");
  EXPECT_EQ(cfg.get_params_get_script().dump(),
            R"({"Workers":{"get":"get w"},"gzip":{"get":"get g"},"ratio":{"get":"get r"}})");
  EXPECT_EQ(cfg.get_params_set_script().dump(),
            R"({"Workers":{"set":"set w $value","needrestart":"true"},)"
            R"("gzip":{"set":"set g $value","needrestart":"false"},)"
            R"("ratio":{"set":"set r $value","needrestart":"false"}})");
  EXPECT_EQ(cfg.get_workload_options().dump(), R"({"stop":"svc stop","start":"svc start"})");
  EXPECT_EQ(cfg.get_benchmark_options().dump(),
            R"j({"command":"wrk http://localhost","metric":"Requests/sec:\\s+([0-9.]+)",)j"
            R"("direction":"minimize","repeat":3,"timeout":2.5})");
  EXPECT_EQ(cfg.get_optimizer_info().dump(),
            R"({"method":"random","iterations":12,"seed":7,"confirm_rounds":3,)"
            R"("confirm_max_rounds":8,"direction":"minimize","repeat":3,"params":[)"
            R"({"name":"Workers","type":"int","range":[256,4096],"step":256},)"
            R"({"name":"gzip","type":"enum","options":["on","off"]},)"
            R"({"name":"ratio","type":"float","range":[0.1,0.9]}]})");
}

TEST_F(ReadCfg, TheOptimizerDefaultsToBayesWithThreeConfirmationRounds) {
  write("min.yaml",
        "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
        "params:\n  - {name: x, type: int, range: [1, 2], get: g, set: s}\n");
  const Json o = Cfg().init("min.yaml")["optimizer"];
  // No initial_points: the optimiser sizes the design from the search's evaluations.
  EXPECT_EQ(o.dump(), R"({"method":"bayes","iterations":30,"seed":42,"confirm_rounds":3,)"
                      R"("confirm_max_rounds":8})");
  write("given.yaml",
        "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
        "optimizer: {iterations: 20, initial_points: 8}\n"
        "params:\n  - {name: x, type: int, range: [1, 2], get: g, set: s}\n");
  EXPECT_EQ(Cfg().init("given.yaml")["optimizer"].dump(),
            R"({"method":"bayes","iterations":20,"initial_points":8,"seed":42,"confirm_rounds":3,)"
            R"("confirm_max_rounds":8})");
}

TEST_F(ReadCfg, TheUnitIsKeptOnlyWhenGiven) {
  write("u.yaml",
        "project: p\nbenchmark: {command: b, metric: '(1)', unit: requests/s}\n"
        "params:\n  - {name: x, type: int, range: [1, 2], get: g, set: s}\n");
  EXPECT_EQ(Cfg().init("u.yaml")["benchmark"]["unit"], "requests/s");
  EXPECT_EQ(Cfg().get_benchmark_options()["unit"], "requests/s");
}

TEST_F(ReadCfg, ARefusedFileKeepsThePreviousConfiguration) {
  write("good.yaml", kGood);
  Cfg().init("good.yaml");
  write("bad.yaml", "project: other\n");
  EXPECT_THROW(Cfg().init("bad.yaml"), CfgError);
  EXPECT_EQ(Cfg().get_project(), "web");
}

struct Refusal {
  const char* what;
  std::string text;
  std::string message;  // expected part of the error
};

void PrintTo(const Refusal& c, std::ostream* os) {
  *os << c.what;
}

// One parameter entry with the given lines replacing or adding to a valid int parameter.
std::string with_param(const std::string& lines) {
  return "project: p\nbenchmark: {command: b, metric: '(\\d+)'}\nparams:\n  - name: x\n" + lines;
}
const std::string kScripts = "    get: g\n    set: s $value\n";

class ReadCfgRefusal : public testing::TuningDirTest,
                       public ::testing::WithParamInterface<Refusal> {};

TEST_P(ReadCfgRefusal, NamesFileLineAndKey) {
  write("bad.yaml", GetParam().text);
  try {
    Cfg().init("bad.yaml");
    FAIL() << "accepted";
  } catch (const CfgError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadCfgRefusal,
    ::testing::Values(
        Refusal{"empty", "", "bad.yaml: the project file is empty"},
        Refusal{"syntax", "project: [p\n", "bad.yaml:2: not valid YAML"},
        Refusal{"unknown_top", "project: p\nprojekt: q\n", "bad.yaml:2: projekt: unknown key"},
        Refusal{"duplicate_key", "project: p\nproject: q\n", "bad.yaml:2: project: given twice"},
        Refusal{"no_benchmark", "project: p\nparams: []\n", "bad.yaml:1: benchmark: missing"},
        Refusal{"unknown_param_key",
                with_param("    type: int\n    range: [1, 2]\n    default: 1\n" + kScripts),
                "bad.yaml:7: params[0].default: unknown key"},
        Refusal{"missing_get", with_param("    type: int\n    range: [1, 2]\n    set: s\n"),
                "bad.yaml:4: params[0]: missing key 'get'"},
        Refusal{"missing_set", with_param("    type: int\n    range: [1, 2]\n    get: g\n"),
                "bad.yaml:4: params[0]: missing key 'set'"},
        Refusal{"empty_params", "project: p\nbenchmark: {command: b, metric: '(1)'}\nparams: []\n",
                "bad.yaml:3: params: no parameter is given"},
        Refusal{"min_above_max", with_param("    type: int\n    range: [4096, 256]\n" + kScripts),
                "bad.yaml:6: params[0].range: min 4096 is greater than max 256"},
        Refusal{"non_numeric_bound",
                with_param("    type: float\n    range: [0, lots]\n" + kScripts),
                "bad.yaml:6: params[0].range[1]: 'lots' is not a number"},
        Refusal{"fractional_int_bound",
                with_param("    type: int\n    range: [0, 1.5]\n" + kScripts),
                "params[0].range[1]: an int parameter needs whole-number bounds"},
        Refusal{"zero_step",
                with_param("    type: int\n    range: [0, 8]\n    step: 0\n" + kScripts),
                "bad.yaml:7: params[0].step: must be more than 0"},
        Refusal{"enum_without_options", with_param("    type: enum\n" + kScripts),
                "params[0]: missing key 'options'"},
        Refusal{"enum_with_no_option", with_param("    type: enum\n    options: []\n" + kScripts),
                "params[0].options: an enum parameter needs at least one option"},
        Refusal{"unsafe_option",
                with_param("    type: enum\n    options: ['a;reboot']\n" + kScripts),
                "params[0].options[0]: 'a;reboot' holds characters that are not safe"},
        Refusal{"range_on_enum",
                with_param("    type: enum\n    options: [a]\n    range: [1, 2]\n" + kScripts),
                "bad.yaml:7: params[0].range: applies to int and float parameters only"},
        Refusal{"bad_type", with_param("    type: string\n" + kScripts),
                "bad.yaml:5: params[0].type: 'string' is not int, float or enum"},
        Refusal{"duplicate_name",
                with_param("    type: int\n    range: [1, 2]\n" + kScripts +
                           "  - name: X\n    type: int\n    range: [1, 2]\n" + kScripts),
                "bad.yaml:9: params[1].name: 'X' is given twice"},
        Refusal{
            "restart_without_workload",
            with_param("    type: int\n    range: [1, 2]\n    needrestart: 'true'\n" + kScripts),
            "bad.yaml:7: params[0].needrestart: the parameter needs a restart"},
        Refusal{"metric_does_not_compile",
                "project: p\nbenchmark:\n  command: b\n  metric: '([0-9'\nparams: []\n",
                "bad.yaml:4: benchmark.metric: the pattern does not compile"},
        Refusal{"metric_without_group",
                "project: p\nbenchmark:\n  command: b\n  metric: '[0-9]+'\nparams: []\n",
                "bad.yaml:4: benchmark.metric: the pattern has no capture group"},
        Refusal{"bad_direction",
                "project: p\nbenchmark: {command: b, metric: '(1)', direction: up}\nparams: []\n",
                "bad.yaml:2: benchmark.direction: 'up' is neither maximize nor minimize"},
        Refusal{"repeat_zero",
                "project: p\nbenchmark: {command: b, metric: '(1)', repeat: 0}\nparams: []\n",
                "benchmark.repeat: must be at least 1"},
        Refusal{"unknown_method",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\noptimizer: {method: grid}\n",
                "bad.yaml:3: optimizer.method: 'grid' is not bayes or random"},
        Refusal{"budget_taken_by_confirmation",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {iterations: 6}\n",
                "bad.yaml:3: optimizer.iterations: 6 leaves no evaluation for the search"},
        Refusal{"confirm_rounds_zero",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {confirm_rounds: 0}\n",
                "bad.yaml:3: optimizer.confirm_rounds: must be at least 1"},
        Refusal{"project_name_too_long",
                "project: " + std::string(65, 'p') +
                    "\nbenchmark: {command: b, metric: '(1)'}\nparams: []\n",
                "bad.yaml:1: project: the name is longer than 64 characters"},
        Refusal{"initial_points_above_iterations",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {iterations: 20, initial_points: 100000}\n",
                "bad.yaml:3: optimizer.initial_points: must be at most 1000"},
        Refusal{"initial_points_above_the_budget",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {iterations: 20, initial_points: 21}\n",
                "optimizer.initial_points: must be at most the iterations (20)"},
        Refusal{"huge_confirm_rounds",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {confirm_rounds: 9223372036854775807}\n",
                "optimizer.confirm_rounds: must be at most 1000"},
        Refusal{"confirm_max_rounds_below_confirm_rounds",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {confirm_rounds: 4, confirm_max_rounds: 3}\n",
                "bad.yaml:3: optimizer.confirm_max_rounds: must be at least confirm_rounds (4)"},
        Refusal{"huge_confirm_max_rounds",
                "project: p\nbenchmark: {command: b, metric: '(1)'}\n"
                "optimizer: {confirm_max_rounds: 1000}\n",
                "optimizer.confirm_max_rounds: must be at most 50"},
        Refusal{"unit_too_long",
                "project: p\nbenchmark: {command: b, metric: '(1)', unit: " + std::string(33, 'u') +
                    "}\nparams: []\n",
                "bad.yaml:2: benchmark.unit: is longer than 32 characters"},
        Refusal{"unit_with_a_line_break",
                "project: p\nbenchmark: {command: b, metric: '(1)', unit: \"a\\nb\"}\nparams: []\n",
                "benchmark.unit: holds a control character"},
        Refusal{"timeout_above_a_day",
                "project: p\nbenchmark: {command: b, metric: '(1)', timeout: 1e300}\nparams: []\n",
                "benchmark.timeout: must be at most 86400 seconds"},
        Refusal{"script_timeout_zero",
                "project: p\nscript_timeout: 0\nbenchmark: {command: b, metric: '(1)'}\n",
                "bad.yaml:2: script_timeout: must be more than 0 seconds"},
        Refusal{"project_with_slash",
                "project: ../etc/x\nbenchmark: {command: b, metric: '(1)'}\nparams: []\n",
                "bad.yaml:1: project: '../etc/x' may hold only"}),
    [](const auto& info) { return std::string(info.param.what); });

// Only a regular file of at most 1 MiB is read: a FIFO would block, a device never end.
TEST_F(ReadCfg, OnlyASmallRegularFileIsRead) {
  ASSERT_EQ(::mkfifo("fifo.yaml", 0600), 0);
  std::filesystem::create_directory("dir.yaml");
  write("big.yaml", "project: p\n# " + std::string(1 << 20, 'x') + "\n");
  const std::pair<const char*, const char*> cases[] = {
      {"fifo.yaml", "fifo.yaml is not a regular file"},
      {"/dev/zero", "/dev/zero is not a regular file"},
      {"dir.yaml", "dir.yaml is not a regular file"},
      {"big.yaml", "big.yaml is larger than 1 MiB"},
  };
  for (const auto& [file, message] : cases) {
    try {
      Cfg().init(file);
      ADD_FAILURE() << file << " accepted";
    } catch (const CfgError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  write("t.yaml", std::string(kGood) + "script_timeout: 2.5\n");
  Cfg().init("t.yaml");
  EXPECT_EQ(Cfg().get_script_timeout(), 2.5);
}

// The missing-file case has no file: give it a name that does not exist.
TEST_F(ReadCfg, MissingFileIsNamed) {
  try {
    Cfg().init("nothere.yaml");
    FAIL() << "accepted";
  } catch (const CfgError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot read the project file nothere.yaml"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace orvane
