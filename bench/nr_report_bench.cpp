// Benchmarks of the report builder: the parser, the rendering stage with the real assets, and a
// whole nr_build on this machine beside the shell commands it runs.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <orvane/command.hpp>
#include <orvane/config.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/util.hpp>

#include "base_facts.hpp"
#include "collected_data.hpp"
#include "collected_page.hpp"
#include "report_document.hpp"

namespace orvane {

class NrReportInternals {
 public:
  static void render(const NrReport& r, const Json& info, const std::string& srcfile,
                     const std::string& outfile) {
    r.render(info, srcfile, outfile);
  }
};

namespace {

const std::string kShare = std::string(ORVANE_BENCH_SHARE_DIR) + "/";

// A scratch directory for the whole run: <dir>/collected/orvaneData/ holds the collected-data files
// of a typical collection, <dir>/empty/orvaneData/ none.
const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = "/tmp/nr_report_bench.XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    const std::filesystem::path out = std::filesystem::path(tmpl) / "collected/orvaneData";
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(std::filesystem::path(tmpl) / "empty/orvaneData");
    unsigned seed = 1;
    for (const auto& [name, kb] :
         std::initializer_list<std::pair<const char*, size_t>>{{"CPUInfo.txt", 200},
                                                               {"memInfo.txt", 100},
                                                               {"netInfo.txt", 150},
                                                               {"diskInfo.txt", 100},
                                                               {"sysParamInfo.txt", 300},
                                                               {"systemMessage.txt", 500}}) {
      bench::write_collected_data(out / name, kb << 10, seed++);
    }
    Config::set_inst_path(kShare);
    static const std::string remove_at_exit = tmpl;
    std::atexit([] { std::filesystem::remove_all(remove_at_exit); });
    return std::filesystem::path(tmpl);
  }();
  return dir;
}

// The output directory of the benchmarks that build reports.
std::string use_output(bool collected) {
  const std::string base = (scratch() / (collected ? "collected" : "empty")).string();
  Config::set_out_path(base);
  return base + "/orvaneData/";
}

// Argument 1: the file in MB; argument 2: 0 for long lines of the benchmark's own shape, 1 for a
// file shaped like a real collection (commands of about 9 KB, lines of about 43 characters).
void BM_BuildInfo(benchmark::State& state) {
  const bool real_shaped = state.range(1) != 0;
  const auto path = scratch() / (real_shaped ? "big-real.txt" : "big.txt");
  const size_t bytes = static_cast<size_t>(state.range(0)) << 20;
  if (!std::filesystem::exists(path) || std::filesystem::file_size(path) < bytes) {
    bench::write_collected_data(path, bytes, 1, real_shaped);
  }
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  for (auto _ : state) {
    auto groups = NrReport::build_info(path.string());
    benchmark::DoNotOptimize(groups);
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_BuildInfo)->Args({50, 0})->Args({50, 1})->Unit(benchmark::kMillisecond)->MinTime(3);

// The page data of a typical collection run.
Json typical_info() {
  Json info = Json::object();
  info["tm_info"] = {{"start", "2025-12-07 09:00:00"}, {"stop", "2025-12-07 09:05:00"}};
  const std::string out = use_output(true);
  for (const char* key : {"cpu_info", "mem_info", "net_info", "io_info", "sys_param", "sys_msg"}) {
    info[key] = Json(*NrReport::build_info(out + "memInfo.txt"));
  }
  return info;
}

// Copy, four inlining passes, append: the rendering stage of nr_build.
void BM_Render(benchmark::State& state) {
  const Json info = typical_info();
  const NrReport report;
  const std::string outfile = (scratch() / "render.html").string();
  for (auto _ : state) {
    NrReportInternals::render(report, info, kShare + "nrreport/orvane_report.html", outfile);
  }
}
BENCHMARK(BM_Render)->Unit(benchmark::kMillisecond);

// The four inlining passes alone, with the located elements shifted after each splice (0) or the
// page parsed again before every pass (1).
void BM_InlineAssets(benchmark::State& state) {
  const std::string page = read_file(kShare + "nrreport/orvane_report.html");
  const std::string bcss = read_file(kShare + "third_party/bootstrap/bootstrap-3.3.7.min.css");
  const std::string acss = read_file(kShare + "third_party/Awesome/all.min.css");
  const std::string jq = read_file(kShare + "third_party/jquery/jquery-2.2.0.min.js");
  const std::string bjs = read_file(kShare + "third_party/bootstrap/bootstrap-3.3.7.min.js");
  for (auto _ : state) {
    ReportDocument doc(page);
    doc.set_always_reparse(state.range(0) != 0);
    doc.replace_text("style", "bootstrap-css", bcss);
    doc.replace_text("style", "awesome-css", acss);
    doc.replace_text("script", "jqueryjs()", jq);
    doc.replace_text("script", "bootstrapjs()", bjs);
    benchmark::DoNotOptimize(doc.html().data());
  }
}
BENCHMARK(BM_InlineAssets)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The shell commands that one nr_build runs, in its order.
void run_shell_commands_of_one_build() {
  for (size_t i = 0; i < report::kBaseCommands.size(); ++i) {
    if (i == report::kCommandsBeforeSummaries) {
      benchmark::DoNotOptimize(NrReport::build_netsum());
      benchmark::DoNotOptimize(NrReport::build_disksum());
    }
    benchmark::DoNotOptimize(Command::cmd_exec(std::string(report::kBaseCommands[i].line)));
  }
}

// Everything else nr_build does: the page data of the collected-data files and the page rendered.
// A build writes a report of a new name (one per minute), so the last iteration's page is removed
// (before the timing, with remove_rest_page) rather than replaced.
void remove_rest_page(const std::string& out) {
  std::filesystem::remove(out + "rest.html");
}

void run_rest_of_one_build(const NrReport& report, const std::string& out) {
  Json info = Json::object();
  report::add_collected_data(info, out);
  NrReportInternals::render(report, info, kShare + "nrreport/orvane_report.html",
                            out + "rest.html");
}

// The rest of one nr_build alone (the page data of a typical collection and the page rendered):
// the part of the build that is orvane's own work.
void BM_NrBuildRest(benchmark::State& state) {
  const std::string out = use_output(true);
  LogCapture quiet;
  const NrReport report;
  using Clock = std::chrono::steady_clock;
  double data = 0, page = 0;
  for (auto _ : state) {
    state.PauseTiming();
    remove_rest_page(out);
    state.ResumeTiming();
    const auto t0 = Clock::now();
    Json info = Json::object();
    report::add_collected_data(info, out);
    const auto t1 = Clock::now();
    NrReportInternals::render(report, info, kShare + "nrreport/orvane_report.html",
                              out + "rest.html");
    data += std::chrono::duration<double>(t1 - t0).count();
    page += std::chrono::duration<double>(Clock::now() - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["data_ms"] = data / n * 1e3;
  state.counters["render_ms"] = page / n * 1e3;
}
BENCHMARK(BM_NrBuildRest)->Unit(benchmark::kMillisecond);

// One whole report of this machine per iteration (the reported time), with the shell commands of
// a build and the rest of its work timed right after it, so that all three see the same load.
// Argument: 0 without collected-data files, 1 with those of a typical collection (1.35 MB).
void BM_NrBuild(benchmark::State& state) {
  const std::string out = use_output(state.range(0) != 0);
  LogCapture quiet;
  const NrReport report;
  using Clock = std::chrono::steady_clock;
  double total = 0, shell = 0, rest = 0;
  for (auto _ : state) {
    remove_rest_page(out);
    const auto t0 = Clock::now();
    NrReport().nr_build("col", Json{{"start", "s"}, {"stop", "e"}}, Json::array(), Json::array(),
                        Json::array(), Json::array(), Json::object());
    const auto t1 = Clock::now();
    run_shell_commands_of_one_build();
    const auto t2 = Clock::now();
    run_rest_of_one_build(report, out);
    const auto t3 = Clock::now();
    const double build_s = std::chrono::duration<double>(t1 - t0).count();
    state.SetIterationTime(build_s);
    total += build_s;
    shell += std::chrono::duration<double>(t2 - t1).count();
    rest += std::chrono::duration<double>(t3 - t2).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["shell_ms"] = shell / n * 1e3;
  state.counters["rest_ms"] = rest / n * 1e3;
  state.counters["rest_share_%"] = rest / total * 100;
}
BENCHMARK(BM_NrBuild)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(10);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
