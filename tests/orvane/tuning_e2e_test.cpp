// `orvane tuning` run as a program on the demo project in a temporary directory: the outcome,
// the Y/N dialogue through a pipe, refusals, and interruption by SIGINT and SIGTERM.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <orvane/json.hpp>
#include <orvane/process.hpp>
#include <orvane/util.hpp>

namespace orvane {
namespace {

namespace fs = std::filesystem;

const std::string kDemo = std::string(ORVANE_SOURCE_DIR) + "/examples/demo/";
const std::string kOriginalConf = read_file(kDemo + "workload.conf");

class TuningProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "orvane-e2e.XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    for (const char* f : {"demo.yaml", "workload.conf", "bench.sh"}) fs::copy(kDemo + f, dir_ / f);
    write("workload.state", "running\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string read(const std::string& name) const { return read_file(dir_ / name); }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

  // The program's command line, to run in the test directory, with its output files there too.
  std::string command(const std::string& project) const {
    const std::string d = shell_quote(dir_.string());
    return "ORVANE_STATE_DIR=" + shell_quote((dir_ / "state").string()) + " ORVANE_OS_RELEASE=" +
           shell_quote(std::string(ORVANE_SOURCE_DIR) + "/examples/nerith-os-release") + " " +
           shell_quote(ORVANE_BIN) + " tuning -o " + d + " --tuning_outpath " + d + " " +
           shell_quote(project);
  }
  std::string cd() const { return "cd " + shell_quote(dir_.string()) + "\n"; }

  // Runs the program with `input` as its standard input.
  ProcessResult tune(const std::string& project, const std::string& input) const {
    return run_shell(cd() + "printf '%s' " + shell_quote(input) + " | " + command(project));
  }

  fs::path dir_;
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(TuningProgram, DemoTunesAndLeavesTheWorkloadAsItFoundIt) {
  const ProcessResult r = tune("demo.yaml", "n\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("本次调优最佳参数组合: {'threads': "), std::string::npos) << r.out;
  EXPECT_EQ(count(r.out, "是否需要下发优化参数(Y/N):"), 1u);
  EXPECT_NE(r.out.find("total runtime: "), std::string::npos);
  EXPECT_NE(r.err.find("[24/30] {'threads': "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[30/30] confirm 3/3 original {'threads': '4', "), std::string::npos)
      << r.err;
  // A steady gain is accepted after six pairs: three out of the budget, three extra.
  EXPECT_NE(r.out.find("  evaluations  24 search + 12 confirmation = 36 (budget 30, 6 extra to "
                       "decide the confirmation)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(read("workload.conf"), kOriginalConf);
  EXPECT_EQ(read("workload.state"), "running\n");
  EXPECT_EQ(read("bak_demo.ini").rfind("[params]\nthreads = 4\ncache_mb = 64\n", 0), 0u);

  const Json record = Json::parse(read("tuning_demo_result.json"));
  EXPECT_EQ(record["oriparams"]["threads"], "4");
  EXPECT_EQ(record["result"]["method"], "bayes");
  EXPECT_EQ(record["result"]["evaluations"], 36);
  EXPECT_EQ(record["result"]["extra_evaluations"], 6);
  EXPECT_EQ(record["result"]["confirmed"]["pairs"], 6);
  EXPECT_TRUE(record["result"]["confirmed"]["interval"]["low"].is_number());
  EXPECT_NE(r.out.find("  best seen while searching (unconfirmed): "), std::string::npos);
  EXPECT_EQ(record["result"]["history"].size(), 24u);
  EXPECT_EQ(record["result"]["effective"], true);
  EXPECT_EQ(count(read("tuning_demo_history.jsonl"), "\n"), 36u);
  EXPECT_NE(read("tuning_demo_report.html").find("<svg "), std::string::npos);
  EXPECT_NE(read("orvaneData/orvane.log").find("[info] \n本次调优最佳参数组合: "),
            std::string::npos);
}

TEST_F(TuningProgram, DemoAppliesTheBestOnYes) {
  const ProcessResult r = tune("demo.yaml", "y\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const Json best = Json::parse(read("tuning_demo_result.json"))["result"]["param"];
  std::string expected = "# Settings of the demo workload, as the tuning demo finds them.\n";
  for (const auto& [name, value] : best.items()) {
    expected += name + "=" + (value.is_string() ? value.get<std::string>() : value.dump()) + "\n";
  }
  EXPECT_EQ(read("workload.conf"), expected);
  EXPECT_EQ(read("workload.state"), "running\n");
}

// The noisy server model of orvane-objective as the benchmark: six parameters of three types,
// 2% noise per measurement, a poor starting configuration and a known optimum (40000).
TEST_F(TuningProgram, FindsAndConfirmsAGainOnTheNoisyServerModel) {
  const std::string start =
      "workers=2\nconnections=256\nkeepalive_timeout=65\nbuffer_kb=8\ncache_ratio=0.2\n"
      "io_model=poll\n";
  write("server.conf", start);
  std::string yaml = "project: server\nbenchmark:\n  command: \"" + shell_quote(ORVANE_OBJECTIVE) +
                     " server $(cat server.conf)\"\n"
                     "  metric: 'value: ([0-9.e+-]+)'\noptimizer: {iterations: 30, seed: 3}\n"
                     "params:\n";
  const char* params[][2] = {{"workers", "type: int, range: [1, 32]"},
                             {"connections", "type: int, range: [64, 4096], step: 64"},
                             {"keepalive_timeout", "type: float, range: [0, 120]"},
                             {"buffer_kb", "type: int, range: [4, 1024], step: 4"},
                             {"cache_ratio", "type: float, range: [0, 1]"},
                             {"io_model", "type: enum, options: [poll, epoll, uring]"}};
  for (const auto& [name, type] : params) {
    const std::string n = name;
    yaml += "  - {name: " + n + ", " + type + ",\n     get: \"sed -n 's/^" + n +
            "=//p' server.conf\",\n     set: \"sed -i 's/^" + n + "=.*/" + n +
            "=$value/' server.conf\"}\n";
  }
  write("server.yaml", yaml);

  const ProcessResult r = tune("server.yaml", "n\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(read("server.conf"), start);
  EXPECT_NE(r.out.find("本次调优最佳参数组合: {'workers': "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  outcome      effective: the paired improvement +"), std::string::npos)
      << r.out;

  const Json result = Json::parse(read("tuning_server_result.json"))["result"];
  EXPECT_EQ(result["effective"], true);
  EXPECT_EQ(result["search_evaluations"], 24);
  EXPECT_EQ(result["confirmation"]["evaluations"], 12);
  // The start gives about 3100; anything the search keeps is far better than that.
  EXPECT_GT(result["improvement_min"].get<double>(), 100.0) << result.dump();

  std::istringstream lines(read("tuning_server_history.jsonl"));
  std::vector<Json> history;
  for (std::string line; std::getline(lines, line);) history.push_back(Json::parse(line));
  ASSERT_EQ(history.size(), 36u);
  for (size_t k = 0; k < history.size(); ++k) {
    EXPECT_EQ(history[k]["index"], k + 1);
    EXPECT_EQ(history[k]["phase"], k < 24 ? "search" : "confirm");
  }
  EXPECT_EQ(history[24]["config"], "chosen");
  EXPECT_EQ(history[25]["config"], "original");
  EXPECT_EQ(history[25]["param"]["io_model"], "poll");
  double best = 0;
  for (size_t k = 0; k < 24; ++k) best = std::max(best, history[k]["figure"].get<double>());
  EXPECT_EQ(history[23]["best"], best);
  const std::string page = read("tuning_server_report.html");
  EXPECT_NE(page.find("<svg "), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("http://www.w3.org/2000/svg"), page.find("http"));  // no other address
}

struct Dialogue {
  const char* what;
  std::string input;
  size_t prompts;
  bool applied;
  int status;
  std::string told;  // the line after the answer (the letter in lower case), and the record's
};

void PrintTo(const Dialogue& d, std::ostream* os) {
  *os << d.what;
}

class TuningDialogue : public TuningProgram, public ::testing::WithParamInterface<Dialogue> {};

// A one-value parameter that always beats the baseline, so every run asks.
TEST_P(TuningDialogue, AcceptsOneLetterAndAsksAgainOtherwise) {
  write("x.conf", "1\n");
  write(
      "tiny.yaml",
      "project: tiny\nbenchmark: {command: 'cat x.conf', metric: '([0-9]+)'}\n"
      "optimizer: {iterations: 3, confirm_rounds: 1}\nparams:\n"
      "  - {name: x, type: int, range: [7, 7], get: 'cat x.conf', set: 'echo $value > x.conf'}\n");
  const ProcessResult r = tune("tiny.yaml", GetParam().input);
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  EXPECT_EQ(count(r.out, "是否需要下发优化参数(Y/N):"), GetParam().prompts) << r.out;
  EXPECT_EQ(read("x.conf"), GetParam().applied ? "7\n" : "1\n");
  // One English line before the first prompt, however often it is asked.
  EXPECT_EQ(count(r.out,
                  "Apply the chosen parameters now? Answer Y to apply them or N to keep "
                  "the original values.\n是否需要下发优化参数(Y/N):"),
            1u)
      << r.out;
  EXPECT_EQ(count(r.out, "Apply the chosen parameters now?"), 1u);
  EXPECT_NE(r.out.find("\nanswer " + GetParam().told), std::string::npos) << r.out;
  EXPECT_NE(read("orvaneData/orvane.log").find("Y/N answer " + GetParam().told), std::string::npos);
  const Json answer = Json::parse(read("tuning_tiny_result.json"))["answer"];
  EXPECT_EQ(answer["asked"], true);
  EXPECT_EQ(answer["applied"], GetParam().applied);
  EXPECT_EQ(answer["verified"], GetParam().applied);
  const std::string told = GetParam().told;
  const std::string letter = told.substr(0, told.find(':'));
  EXPECT_EQ(answer["answer"], letter == "none" ? Json(nullptr) : Json(letter));
  EXPECT_EQ(answer["outcome"].get<std::string>().rfind(told.substr(letter.size() + 2), 0), 0u)
      << answer["outcome"];
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TuningDialogue,
    ::testing::Values(
        Dialogue{"y", "y\n", 1, true, 0, "y: applied and verified"},
        Dialogue{"Y", "Y\n", 1, true, 0, "y: applied and verified"},
        Dialogue{"n", "n\n", 1, false, 0, "n: left original"},
        Dialogue{"N", "N\n", 1, false, 0, "n: left original"},
        Dialogue{"yes_then_n", "yes\nn\n", 2, false, 0, "n: left original"},
        Dialogue{"blank_then_Y", "\nY\n", 2, true, 0, "y: applied and verified"},
        Dialogue{"blank_before_letter", " y\ny \nN\n", 3, false, 0, "n: left original"},
        Dialogue{"end_of_input", "", 1, false, 1, "none: no answer"},
        Dialogue{"end_after_wrong_answer", "maybe\n", 2, false, 1, "none: no answer"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(TuningProgram, ABadProjectFileIsRefusedBeforeAnythingRuns) {
  write("bad.yaml", "project: demo\nbenchmark: {command: x, metric: '(1)'}\nparamz: []\n");
  const ProcessResult r = tune("bad.yaml", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("orvane: tuning cannot start: bad.yaml:3: paramz: unknown key"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(exists("bak_demo.ini"));
}

TEST_F(TuningProgram, ABaselineWithoutFigureFails) {
  write("workload.state", "stopped\n");  // the demo benchmark then fails
  const ProcessResult r = tune("demo.yaml", "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the benchmark gave no figure"), std::string::npos) << r.err;
  EXPECT_EQ(read("workload.conf"), kOriginalConf);
  EXPECT_NE(read("orvaneData/orvane.log").find("demo workload is not running"), std::string::npos);
}

struct Stop {
  const char* what;
  int signo;
};

void PrintTo(const Stop& s, std::ostream* os) {
  *os << s.what;
}

class TuningInterrupted : public TuningProgram, public ::testing::WithParamInterface<Stop> {};

// The benchmark of the first trial waits; the signal arrives while it does.
TEST_P(TuningInterrupted, RestoresTheWorkloadAndExitsWith128PlusSignal) {
  std::string yaml = read("demo.yaml");
  const std::string from = "command: \"sh ./bench.sh\"";
  yaml.replace(yaml.find(from), from.size(),
               "command: \"sh ./bench.sh && if ! cmp -s workload.conf workload.orig; then "
               "touch sleeping; exec sleep 30; fi\"");
  write("slow.yaml", yaml);
  write("workload.orig", kOriginalConf);
  const std::string script =
      cd() + command("slow.yaml") + " >out.txt 2>err.txt &\n" +
      "pid=$!\ni=0\n"
      "while [ ! -f sleeping ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
      "kill -" +
      std::to_string(GetParam().signo) +
      " $pid\n"
      "wait $pid\necho \"status=$?\"\n";
  const ProcessResult r = run_shell(script);
  EXPECT_EQ(r.out, "status=" + std::to_string(128 + GetParam().signo) + "\n") << read("err.txt");
  EXPECT_TRUE(exists("sleeping"));
  EXPECT_EQ(read("workload.conf"), kOriginalConf);
  EXPECT_EQ(read("workload.state"), "running\n");
  EXPECT_NE(read("err.txt").find(std::string("interrupted by ") + GetParam().what),
            std::string::npos)
      << read("err.txt");
  EXPECT_NE(read("orvaneData/orvane.log").find("the values read before tuning were written back"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, TuningInterrupted,
                         ::testing::Values(Stop{"SIGINT", SIGINT}, Stop{"SIGTERM", SIGTERM}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace orvane
