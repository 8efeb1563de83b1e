// The tuning road's own cost per evaluation: an optimiser run whose set script and benchmark
// command return at once, next to the bare cost of starting those two scripts.
//
//   bench_tuning_overhead --benchmark_counters_tabular=true
//
// Tool overhead per evaluation = per_evaluation - 3 x ShellStart (two set scripts and one
// benchmark run per evaluation). The CPU column is the tool's own processor time, which leaves
// the scripts (child processes) out by construction; divide it by 20 evaluations per iteration.
// JournalAndVerify is what a run adds once, whatever its length: the change journal written
// before the first change and marked finished at the end, the restore (two set scripts) and its
// verification (two get scripts); divide by a run's evaluations for the share of each.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <orvane/optimizer.hpp>
#include <orvane/process.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/restore_guard.hpp>

namespace {

constexpr int kEvaluationsPerRun = 20;

// A project in a temporary directory: one int parameter, instant scripts.
class InstantProject {
 public:
  InstantProject() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvane-bench.XXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
    std::ofstream(dir_ / "p.yaml") << "project: bench\n"
                                      "benchmark: {command: 'echo 1', metric: '([0-9]+)'}\n"
                                      "params:\n"
                                      "  - {name: x, type: int, range: [1, 1000000], "
                                      "get: 'echo 1', set: ':'}\n"
                                      "  - {name: mode, type: enum, options: [a, b, c], "
                                      "get: 'echo a', set: ':'}\n";
    orvane::Cfg().init((dir_ / "p.yaml").string());
  }
  ~InstantProject() { std::filesystem::remove_all(dir_); }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

// The progress lines go to /dev/null while the benchmark runs; writing them is still measured.
class QuietStderr {
 public:
  QuietStderr() : saved_(::dup(2)) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::close(null);
  }
  ~QuietStderr() {
    ::dup2(saved_, 2);
    ::close(saved_);
  }

 private:
  int saved_;
};

void Evaluation(benchmark::State& state) {
  InstantProject project;
  orvane::Json settings = orvane::Cfg().get_optimizer_info();
  settings["iterations"] = kEvaluationsPerRun;
  QuietStderr quiet;
  std::uint64_t seed = 1;
  for (auto _ : state) {
    settings["seed"] = seed++;
    benchmark::DoNotOptimize(orvane::Optimizer({1.0}, settings).run());
  }
  state.SetItemsProcessed(state.iterations() * kEvaluationsPerRun);
  state.counters["per_evaluation"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kEvaluationsPerRun),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(Evaluation)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void JournalAndVerify(benchmark::State& state) {
  InstantProject project;
  const orvane::ChangeJournal journal(project.dir() / "state");
  const orvane::Json originals = {{"x", "1"}, {"mode", "a"}};
  for (auto _ : state) {
    orvane::tuning::RestoreGuard guard(journal, originals, orvane::ScriptLimits{});
    guard.arm();
    benchmark::DoNotOptimize(guard.restore().verified);
  }
}
BENCHMARK(JournalAndVerify)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// What starting one instant script costs on its own (posix_spawn of /bin/sh, pipes, reaping).
void ShellStart(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(orvane::run_shell(":"));
}
BENCHMARK(ShellStart)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
