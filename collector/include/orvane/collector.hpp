#pragma once
// The data collector of the collection and analysis runs: it runs well-known system commands and
// leaves what they print in the output directory as collected-data files, which the report and
// the analysis read. A tool that is not installed is noted in its group ("<tool>: not
// installed") and the collection goes on.
#include <chrono>
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

// How long the collector samples, and how long one command may run.
struct CollectorSettings {
  int interval = 1;      // seconds between two samples
  int cpu_samples = 5;   // CPU utilisation (mpstat, or /proc/stat)
  int stat_samples = 3;  // vmstat and iostat reports
  // The time limit of one command, on top of the time it samples for.
  std::chrono::seconds command_limit{60};

  // The defaults, changed by the environment: ORVANE_SAMPLING="INTERVAL,COUNT" (seconds between
  // samples, and the number of samples of every sampler) and ORVANE_COMMAND_TIMEOUT=SECONDS.
  // Throws std::invalid_argument naming the variable when a value is malformed.
  static CollectorSettings from_environment();
};

// Where the time of a collection went, for the run's log.
struct CollectorTiming {
  double sampling = 0;  // seconds spent in commands that sample over an interval
  double commands = 0;  // seconds spent in every other command
  int count = 0;        // commands run
};

class Collector {
 public:
  // `out_dir` ends with a separator; it must exist.
  Collector(std::string out_dir, CollectorSettings settings);

  // Writes memInfo.txt, netInfo.txt, diskInfo.txt, sysParamInfo.txt, systemMessage.txt and
  // CPUInfo.txt, each replaced whole once its commands have run. Throws CommandTimeout when a
  // command hangs, std::system_error when a file cannot be written.
  void collect_system();

  // The perf and off-CPU traces that the maps of the command line ask for (empty maps: none),
  // written to the hotspot file; an earlier hotspot file is removed first, so the report never
  // shows a trace of another run. Returns one line for the administrator for every trace that
  // could not be taken (perf not installed, not permitted, no samples).
  std::vector<std::string> collect_hotspots(const Json& perf_args, const Json& offcpu_args);

  const CollectorTiming& timing() const { return timing_; }

 private:
  std::string out_dir_;
  CollectorSettings settings_;
  CollectorTiming timing_;
};

}  // namespace orvane
