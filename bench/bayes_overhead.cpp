// The Bayesian strategy's own time per iteration (ask, then tell) once N configurations have been
// measured: the search runs to N outside the timing, then each timed iteration adds one more.
#include <benchmark/benchmark.h>

#include <orvane/bayes_strategy.hpp>

#include "objectives.hpp"

namespace {

void bayes_iteration(benchmark::State& state, const char* name) {
  const auto& obj = *orvane::bench::find_objective(name);
  const orvane::tuning::SearchSpace space(obj.params);
  auto s = orvane::tuning::make_bayes_strategy(space, 1, 10);
  std::mt19937_64 noise(7);
  const auto measured = state.range(0);
  for (long i = 0; i < measured; ++i) {
    const auto x = s->ask();
    s->tell(*x, obj.score(obj.measure(*x, noise)));
  }
  for (auto _ : state) {
    const auto x = s->ask();
    state.PauseTiming();
    const double score = obj.score(obj.measure(*x, noise));
    state.ResumeTiming();
    s->tell(*x, score);
  }
  state.counters["dims"] = static_cast<double>(space.encoded_dims());
}

}  // namespace

BENCHMARK_CAPTURE(bayes_iteration, rosenbrock10, "rosenbrock10")
    ->Arg(20)
    ->Arg(49)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bayes_iteration, server, "server")
    ->Arg(49)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
