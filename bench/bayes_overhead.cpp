// The Bayesian strategy's own time per iteration (ask, then tell) once N configurations have been
// measured: the search runs to N outside the timing, then each timed iteration adds one more.
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>

#include <orvane/bayes_strategy.hpp>

#include "objectives.hpp"

namespace {

using orvane::tuning::Point;

void run_iterations(benchmark::State& state, const orvane::tuning::SearchSpace& space,
                    const std::function<double(const Point&)>& score) {
  auto s = orvane::tuning::make_bayes_strategy(space, 1, 10);
  const auto measured = state.range(0);
  for (long i = 0; i < measured; ++i) {
    const auto x = s->ask();
    s->tell(*x, score(*x));
  }
  for (auto _ : state) {
    const auto x = s->ask();
    state.PauseTiming();
    const double y = score(*x);
    state.ResumeTiming();
    s->tell(*x, y);
  }
  state.counters["dims"] = static_cast<double>(space.encoded_dims());
}

void objective_iteration(benchmark::State& state, const char* name) {
  const auto& obj = *orvane::bench::find_objective(name);
  std::mt19937_64 noise(7);
  run_iterations(state, orvane::tuning::SearchSpace(obj.params),
                 [&](const Point& x) { return obj.score(obj.measure(x, noise)); });
}

// Ten continuous parameters: the most work for the local refinement of the acquisition.
void continuous10_iteration(benchmark::State& state) {
  std::vector<orvane::tuning::ParamSpec> params;
  for (int i = 0; i < 10; ++i) {
    params.push_back({"x" + std::to_string(i), orvane::tuning::ParamType::Float, 0, 1, {}, {}});
  }
  run_iterations(state, orvane::tuning::SearchSpace(params), [](const Point& x) {
    double f = 0;
    for (size_t i = 0; i < x.size(); ++i) f += std::sin(3 * x[i] + static_cast<double>(i));
    return f;
  });
}

}  // namespace

BENCHMARK_CAPTURE(objective_iteration, rosenbrock10, "rosenbrock10")
    ->Arg(20)
    ->Arg(49)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(objective_iteration, server, "server")
    ->Arg(49)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(continuous10_iteration)->Arg(49)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
