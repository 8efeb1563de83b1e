// The collector on this host: every file read back by the report's parser, tools that are
// missing, a command that hangs, the settings from the environment, and the traces with a fake
// perf.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include <orvane/collected/figures.hpp>
#include <orvane/collector.hpp>
#include <orvane/command.hpp>
#include <orvane/global_call.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"
#include "../support/tool_path.hpp"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// PATH is replaced by a directory of links to every program but those `without`, and fakes.
class ScopedPath {
 public:
  ScopedPath(const fs::path& dir, const std::set<std::string>& without,
             const std::vector<std::pair<std::string, std::string>>& fakes) {
    old_ = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    ::setenv("PATH", testing::tool_path(dir, without, fakes).c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

CollectorSettings quick() {
  CollectorSettings s;
  s.interval = 1;
  s.cpu_samples = 1;
  s.stat_samples = 1;
  s.command_limit = std::chrono::seconds(30);
  return s;
}

std::vector<CommandGroup> groups_of(const fs::path& file) {
  auto groups = NrReport::build_info(file.string());
  EXPECT_TRUE(groups.has_value()) << file;
  return groups.value_or(std::vector<CommandGroup>{});
}

const CommandResult* command(const std::vector<CommandGroup>& groups, const std::string& part) {
  return collected::find_output(groups, part);
}

TEST(CollectSystem, EveryFileParsesBackWithWellFormedGroups) {
  TempDir out;
  LogCapture log;
  Collector collector(out.dir(), quick());
  collector.collect_system();

  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"CPUInfo.txt", {"CPU information", "CPU utilisation", "Load and processes"}},
      {"memInfo.txt", {"Memory usage", "Memory activity"}},
      {"netInfo.txt",
       {"Network interfaces", "Counters over the sampling window", "Sockets", "Protocol counters"}},
      {"diskInfo.txt", {"Block devices", "Disk activity", "Counters over the sampling window"}},
      {"sysParamInfo.txt",
       {"System", "CPU and scheduler parameters", "Memory parameters", "Network parameters",
        "File and I/O parameters", "Open-file limits of long-running services",
        "Transparent huge pages", "CPU frequency governor", "I/O schedulers"}},
      {"systemMessage.txt", {"Kernel messages"}},
  };
  for (const auto& [file, names] : expected) {
    const auto groups = groups_of(out.path() / file);
    std::vector<std::string> got;
    for (const CommandGroup& g : groups) {
      got.push_back(g.group);
      EXPECT_FALSE(g.sub.empty()) << file << " " << g.group;
      for (const CommandResult& r : g.sub) {
        EXPECT_FALSE(r.cmd.empty()) << file;
        EXPECT_NE(r.res.find_first_not_of(" \n\t"), std::string::npos) << file << " " << r.cmd;
      }
    }
    EXPECT_EQ(got, names) << file;
  }

  // The figures the report and the analysis read are there.
  const auto cpu = groups_of(out.path() / "CPUInfo.txt");
  const CommandResult* util = command(cpu, "mpstat -P ALL");
  ASSERT_NE(util, nullptr);
  const auto u = collected::cpu_utilisation(util->res);
  EXPECT_EQ(u.series.size(), 1u);
  ASSERT_FALSE(u.average.empty());
  EXPECT_EQ(u.average.front().cpu, "all");
  EXPECT_TRUE(collected::load_average(command(cpu, "/proc/loadavg")->res).has_value());
  const auto mem = groups_of(out.path() / "memInfo.txt");
  EXPECT_TRUE(collected::meminfo_field(command(mem, "/proc/meminfo")->res, "MemTotal"));
  const auto net = groups_of(out.path() / "netInfo.txt");
  EXPECT_FALSE(collected::net_dev(command(net, "/proc/net/dev")->res).empty());
  EXPECT_FALSE(collected::ip_links(command(net, "ip -s link")->res).empty());
  const auto params = groups_of(out.path() / "sysParamInfo.txt");
  EXPECT_NE(command(params, "vm.swappiness")->res.find("vm.swappiness = "), std::string::npos);

  EXPECT_GT(collector.timing().count, 20);
  EXPECT_GT(collector.timing().sampling, 0.5) << "mpstat sampled for one second";
  EXPECT_EQ(log.text().find("error|"), std::string::npos) << log.text();
}

TEST(CollectSystem, MissingToolsAreNotedAndTheRunGoesOn) {
  TempDir out, bin;
  ScopedPath path(bin.path(), {"iostat", "mpstat", "perf"}, {});
  GlobalCall::output_hotspot_file = "hotspotInfo.txt";
  Collector collector(out.dir(), quick());
  collector.collect_system();

  const auto disk = groups_of(out.path() / "diskInfo.txt");
  ASSERT_NE(command(disk, "iostat"), nullptr);
  EXPECT_EQ(command(disk, "iostat")->res, "iostat: not installed");
  EXPECT_NE(command(disk, "/proc/diskstats"), nullptr) << "the group goes on";

  // Without mpstat the utilisation is sampled from /proc/stat, in the same layout.
  const auto cpu = groups_of(out.path() / "CPUInfo.txt");
  EXPECT_EQ(command(cpu, "mpstat -P ALL"), nullptr);
  const CommandResult* util = command(cpu, "/proc/stat sampled every 1 s, 1 times");
  ASSERT_NE(util, nullptr);
  EXPECT_TRUE(util->res.starts_with("mpstat: not installed\n")) << util->res;
  const auto u = collected::cpu_utilisation(util->res);
  EXPECT_EQ(u.series.size(), 1u);
  ASSERT_FALSE(u.average.empty());
  EXPECT_EQ(u.average.front().cpu, "all");
  // Eight shares printed to two decimals: their rounding may add up to 0.04.
  EXPECT_NEAR(u.average.front().busy() + u.average.front().iowait + u.average.front().idle, 100.0,
              0.041);

  AtomicFile stale(out.path() / "hotspotInfo.txt");
  stale.write("Command: old\nSubCommand: perf\nold trace\n");
  stale.commit();
  const Json perf = {{"perf_enable_type", 1}, {"perf_pid", "-1"}, {"perf_duration", 5}};
  const auto notes = collector.collect_hotspots(perf, Json::object());
  EXPECT_EQ(notes, std::vector<std::string>{
                       "perf: not installed; the run goes on without the perf and off-CPU traces"});
  EXPECT_FALSE(fs::exists(out.path() / "hotspotInfo.txt")) << "an old trace is not shown";
}

TEST(CollectSystem, AHangingCommandStopsTheCollectionWithoutAHalfWrittenFile) {
  TempDir out, bin;
  ScopedPath path(bin.path(), {}, {{"lscpu", "exec sleep 30"}});
  {
    AtomicFile earlier(out.path() / "CPUInfo.txt");
    earlier.write("earlier run\n");
    earlier.commit();
  }
  CollectorSettings settings = quick();
  settings.command_limit = std::chrono::seconds(1);
  Collector collector(out.dir(), settings);
  try {
    collector.collect_system();
    FAIL() << "no timeout";
  } catch (const CommandTimeout& e) {
    EXPECT_EQ(e.cmdline(), "lscpu");
  }
  EXPECT_EQ(read_file(out.path() / "CPUInfo.txt"), "earlier run\n");
  EXPECT_FALSE(fs::exists(out.path() / "memInfo.txt"));
}

struct EnvCase {
  const char* sampling;  // nullptr: unset
  const char* timeout;
  int interval, count, limit;  // expected; interval 0: refused
  std::string error;
};

TEST(CollectorSettings, FromTheEnvironment) {
  const EnvCase cases[] = {
      {nullptr, nullptr, 1, 5, 60, ""},
      {"2,3", "7", 2, 3, 7, ""},
      {"", "", 1, 5, 60, ""},
      {"1", nullptr, 0, 0, 0, "ORVANE_SAMPLING must be INTERVAL,COUNT"},
      {"0,5", nullptr, 0, 0, 0, "ORVANE_SAMPLING"},
      {"1,x", nullptr, 0, 0, 0, "not \"1,x\""},
      {"1,101", nullptr, 0, 0, 0, "samples 1-100"},
      {nullptr, "-3", 0, 0, 0, "ORVANE_COMMAND_TIMEOUT must be a number of seconds"},
      {nullptr, "5s", 0, 0, 0, "ORVANE_COMMAND_TIMEOUT"},
  };
  for (const EnvCase& c : cases) {
    SCOPED_TRACE(std::string(c.sampling ? c.sampling : "-") + " / " +
                 (c.timeout ? c.timeout : "-"));
    c.sampling ? ::setenv("ORVANE_SAMPLING", c.sampling, 1) : ::unsetenv("ORVANE_SAMPLING");
    c.timeout ? ::setenv("ORVANE_COMMAND_TIMEOUT", c.timeout, 1)
              : ::unsetenv("ORVANE_COMMAND_TIMEOUT");
    if (c.interval == 0) {
      try {
        CollectorSettings::from_environment();
        ADD_FAILURE() << "accepted";
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
      }
    } else {
      const auto s = CollectorSettings::from_environment();
      EXPECT_EQ(s.interval, c.interval);
      EXPECT_EQ(s.cpu_samples, c.count);
      EXPECT_EQ(s.stat_samples, c.sampling && *c.sampling ? c.count : 3);
      EXPECT_EQ(s.command_limit.count(), c.limit);
    }
  }
  ::unsetenv("ORVANE_SAMPLING");
  ::unsetenv("ORVANE_COMMAND_TIMEOUT");
}

// A stand-in for perf: `record` and `sched record` write the -o file and perf's summary line,
// unless perf.mode beside it says "denied"; `report` and `sched timehist` print what perf would.
const std::string kFakePerf = R"sh(echo "$*" >> "$(dirname "$0")/perf.calls"
out=""; prev=""
for a in "$@"; do [ "$prev" = "-o" ] && out="$a"; prev="$a"; done
case "$1" in
  record|sched)
    if [ "$1 $2" = "sched timehist" ]; then
      printf 'time cpu task\n[tid/pid] (msec)\n--- ---\n'
      printf '  1.000000 [0000]  app[42]  12.500  0.010  0.100  do_nanosleep <- hrtimer_nanosleep\n'
      printf '  2.000000 [0001]  app[42]   7.500  0.010  0.100  do_nanosleep <- hrtimer_nanosleep\n'
      exit 0
    fi
    if [ "$(cat "$(dirname "$0")/perf.mode")" = denied ]; then
      printf 'Error:\nAccess to performance monitoring and observability operations is limited.\n' >&2
      exit 255
    fi
    echo data > "$out"
    echo "[ perf record: Captured and wrote 0.1 MB $out (12 samples) ]" >&2 ;;
  report) printf '# Samples: 12\n    50.00%%  app  app  [.] hot_function\n' ;;
esac)sh";

struct TraceCase {
  std::string name;
  std::string mode;  // "ok" or "denied"
  Json perf, offcpu;
  std::vector<std::string> notes;
  std::vector<std::string> groups;  // of the hotspot file; empty: no file
  std::string in_file;              // text the hotspot file holds
  std::string call;                 // a perf call made, or "" for none at all
};

void PrintTo(const TraceCase& c, std::ostream* os) {
  *os << c.name;
}

class Traces : public ::testing::TestWithParam<TraceCase> {};

TEST_P(Traces, HotspotFileAndNotes) {
  const TraceCase& c = GetParam();
  TempDir out, bin;
  ScopedPath path(bin.path(), {"perf"}, {{"perf", kFakePerf}});
  std::ofstream(bin.path() / "perf.mode") << c.mode;
  GlobalCall::output_hotspot_file = "hotspotInfo.txt";
  std::ofstream(out.path() / "hotspotInfo.txt") << "Command: old\nSubCommand: x\nold\n";
  LogCapture log;

  Collector collector(out.dir(), quick());
  EXPECT_EQ(collector.collect_hotspots(c.perf, c.offcpu), c.notes);

  const fs::path file = out.path() / "hotspotInfo.txt";
  if (c.groups.empty()) {
    EXPECT_FALSE(fs::exists(file));
  } else {
    std::vector<std::string> names;
    for (const auto& g : groups_of(file)) {
      names.push_back(g.group);
      EXPECT_EQ(g.sub.size(), 2u) << g.group;
    }
    EXPECT_EQ(names, c.groups);
    EXPECT_NE(read_file(file).find(c.in_file), std::string::npos) << read_file(file);
  }
  std::string calls;
  if (fs::exists(bin.path() / "perf.calls")) calls = read_file(bin.path() / "perf.calls");
  if (c.call.empty()) {
    EXPECT_EQ(calls, "");
  } else {
    EXPECT_NE(calls.find(c.call), std::string::npos) << calls;
  }
}

const Json kPerfAll = {{"perf_enable_type", 1}, {"perf_pid", "-1"}, {"perf_duration", 1}};
const Json kOffcpu = {{"offcpu_enable", true}, {"offcpu_pid", 42}, {"offcpu_duration", 1}};

INSTANTIATE_TEST_SUITE_P(
    Perf, Traces,
    ::testing::Values(
        TraceCase{"nothing_asked", "ok", Json::object(), Json::object(), {}, {}, "", ""},
        TraceCase{"whole_system",
                  "ok",
                  kPerfAll,
                  Json::object(),
                  {},
                  {"perf hotspots"},
                  "50.00%  app  app  [.] hot_function",
                  "record -F 99 -g -a -o"},
        TraceCase{"process_list",
                  "ok",
                  {{"perf_enable_type", 1}, {"perf_pid", "42,43"}, {"perf_duration", 1}},
                  Json::object(),
                  {},
                  {"perf hotspots"},
                  "Captured and wrote",
                  "record -F 99 -g -p 42,43 -o"},
        TraceCase{"off_cpu",
                  "ok",
                  Json::object(),
                  kOffcpu,
                  {},
                  {"off-CPU time of process 42"},
                  "off-CPU time 20.0 ms in 2 waits; longest wait 12.5 ms",
                  "sched timehist -i"},
        TraceCase{"both",
                  "ok",
                  kPerfAll,
                  kOffcpu,
                  {},
                  {"perf hotspots", "off-CPU time of process 42"},
                  "20.0        2  do_nanosleep <- hrtimer_nanosleep",
                  "sched record -g -o"},
        TraceCase{"not_permitted",
                  "denied",
                  kPerfAll,
                  kOffcpu,
                  {"perf could not record the perf trace (Error: Access to performance monitoring "
                   "and observability operations is limited.); the run goes on without it",
                   "perf could not record the off-CPU trace (Error: Access to performance "
                   "monitoring and observability operations is limited.); the run goes on "
                   "without it"},
                  {},
                  "",
                  "record"},
        TraceCase{"pid_that_is_not_a_list",
                  "ok",
                  {{"perf_enable_type", 1}, {"perf_pid", "1;reboot"}, {"perf_duration", 1}},
                  Json::object(),
                  {"the perf trace needs --pid (-1 or process ids) and --duration"},
                  {},
                  "",
                  ""}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orvane
