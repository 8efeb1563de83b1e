// perf and off-CPU traces of a process (or of the whole system) into the hotspot file.
#include <orvane/collector.hpp>

#include <sys/stat.h>

#include <filesystem>

#include <fmt/format.h>

#include <orvane/global_call.hpp>
#include <orvane/log.hpp>
#include <orvane/util.hpp>

#include <orvane/collected/writer.hpp>
#include "countdown.hpp"
#include "runner.hpp"

namespace orvane {
namespace {

// Sums the off-CPU time of the task's waits by the kernel call chain it waited in, from
// `perf sched timehist` lines: time, [cpu], task[tid/pid], wait time, sch delay, run time,
// call chain.
constexpr const char* kOffCpuSummary =
    R"awk(awk 'NR > 3 { for (i = 3; i <= NF; i++) if ($i ~ /\[[0-9\/]+\]$/) break; )awk"
    R"awk(if (i + 3 > NF) next; w = $(i + 1); n++; total += w; if (w > longest) longest = w; )awk"
    R"awk(s = ""; for (j = i + 4; j <= NF; j++) s = s (s == "" ? "" : " ") $j; )awk"
    R"awk(if (s == "") s = "(no call chain)"; by[s] += w; waits[s]++ } )awk"
    R"awk(END { printf "off-CPU time %.1f ms in %d waits; longest wait %.1f ms\n\n", )awk"
    R"awk(total, n, longest; printf "%12s %8s  %s\n", "off-CPU ms", "waits", )awk"
    R"awk("where the task waited (kernel call chain)"; )awk"
    R"awk(for (s in by) printf "%12.1f %8d  %s\n", by[s], waits[s], s | "sort -rn | head -n 20" }')awk";

bool file_has_data(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// The first line of perf's complaint; a bare "Error:" line is joined with the next one.
std::string reason(const std::string& text) {
  std::string found;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    if (!found.empty()) found += ' ';
    found += line;
    if (!found.ends_with(':')) return found;
  }
  return found.empty() ? "no message" : found;
}

// Only process-id lists reach a command line: the front end checked them, and this keeps any
// other text away from the shell.
bool pid_list(const std::string& text) {
  if (text.empty() || text.front() == ',' || text.back() == ',') return false;
  for (char c : text) {
    if ((c < '0' || c > '9') && c != ',') return false;
  }
  return text.find(",,") == std::string::npos;
}

std::string text_of(const Json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return std::to_string(v.get<long long>());
  return "";
}

int seconds_of(const Json& v) {
  return v.is_number_integer() ? static_cast<int>(v.get<long long>()) : 0;
}

struct Trace {
  std::string what;    // "perf trace", "off-CPU trace"
  std::string record;  // the perf record command line
  std::string data;    // the perf.data file it writes
  int seconds = 0;
};

// Runs the recording; nullopt and a note when perf could not record.
std::optional<std::string> record(collect::Runner& runner, const Trace& t,
                                  std::vector<std::string>& notes) {
  std::error_code ec;
  std::filesystem::remove(t.data, ec);
  std::string output;
  {
    collect::Countdown countdown(t.what, t.seconds);
    output = runner.run(t.record + " 2>&1", std::chrono::seconds(t.seconds));
  }
  if (!file_has_data(t.data) || output.find("perf record: Captured") == std::string::npos) {
    notes.push_back(fmt::format("perf could not record the {} ({}); the run goes on without it",
                                t.what, reason(output)));
    Logger().warning("perf record failed: " + output);
    return std::nullopt;
  }
  return output;
}

}  // namespace

std::vector<std::string> Collector::collect_hotspots(const Json& perf_args,
                                                     const Json& offcpu_args) {
  const std::string hotspot_file = out_dir_ + GlobalCall::output_hotspot_file;
  std::error_code ec;
  std::filesystem::remove(hotspot_file, ec);
  std::vector<std::string> notes;
  const bool want_perf = perf_args.is_object() && !perf_args.empty();
  const bool want_offcpu = offcpu_args.is_object() && !offcpu_args.empty();
  if (!want_perf && !want_offcpu) return notes;
  if (!collect::tool_installed("perf")) {
    notes.push_back("perf: not installed; the run goes on without the perf and off-CPU traces");
    return notes;
  }

  collect::Runner runner(timing_, settings_.command_limit);
  collected::CollectedFile out;
  if (want_perf) {
    const std::string pid = text_of(perf_args.value("perf_pid", Json()));
    const int seconds = seconds_of(perf_args.value("perf_duration", Json()));
    if ((pid != "-1" && !pid_list(pid)) || seconds <= 0) {
      notes.push_back("the perf trace needs --pid (-1 or process ids) and --duration");
    } else {
      const std::string data = out_dir_ + "perf.data";
      const std::string target = pid == "-1" ? "-a" : "-p " + pid;
      Trace t{"perf trace",
              fmt::format("perf record -F 99 -g {} -o {} -- sleep {}", target, shell_quote(data),
                          seconds),
              data, seconds};
      if (auto recorded = record(runner, t, notes)) {
        const std::string group = "perf hotspots";
        out.add(group, t.record, *recorded);
        const std::string report = fmt::format(
            "perf report -i {} --stdio --no-children -g none --sort comm,dso,symbol "
            "--percent-limit 0.5 2>&1 | grep -v -e '^$' -e '^#$' | sed -e 's/ *-  *-  *$//' "
            "-e 's/ *$//' | head -n 80",
            shell_quote(data));
        out.add(group, report, runner.run(report), "(perf found no samples)");
      }
    }
  }
  if (want_offcpu) {
    const std::string pid = text_of(offcpu_args.value("offcpu_pid", Json()));
    const int seconds = seconds_of(offcpu_args.value("offcpu_duration", Json()));
    if (!pid_list(pid) || pid.find(',') != std::string::npos || seconds <= 0) {
      notes.push_back(
          "the off-CPU trace needs --offcpu_pid (one process id) and --offcpu_duration");
    } else {
      const std::string data = out_dir_ + "offcpu.data";
      Trace t{"off-CPU trace",
              fmt::format("perf sched record -g -o {} -- sleep {}", shell_quote(data), seconds),
              data, seconds};
      if (auto recorded = record(runner, t, notes)) {
        const std::string group = "off-CPU time of process " + pid;
        out.add(group, t.record, *recorded);
        const std::string summary =
            fmt::format("perf sched timehist -i {} --pid {} 2>/dev/null | {}", shell_quote(data),
                        pid, kOffCpuSummary);
        out.add(group, summary, runner.run(summary), "(the process was never off the CPU)");
      }
    }
  }
  if (!out.empty()) out.commit(hotspot_file);
  return notes;
}

}  // namespace orvane
