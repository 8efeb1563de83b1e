// The collection of the system's data into the six collected-data files.
#include <orvane/collector.hpp>

#include <charconv>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include <orvane/command.hpp>

#include <orvane/collected/writer.hpp>

#include "cpu_sampler.hpp"
#include "runner.hpp"
#include "system_commands.hpp"

namespace orvane {
namespace {

std::optional<int> whole_number(std::string_view text, int low, int high) {
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) {
    return std::nullopt;
  }
  return v;
}

std::string local_time() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  ::localtime_r(&now, &t);
  char buf[16];
  return std::string(buf, std::strftime(buf, sizeof buf, "%H:%M:%S", &t));
}

}  // namespace

CollectorSettings CollectorSettings::from_environment() {
  CollectorSettings s;
  if (const char* v = std::getenv("ORVANE_SAMPLING"); v != nullptr && *v != '\0') {
    const std::string_view text(v);
    const size_t comma = text.find(',');
    const auto interval =
        comma == std::string_view::npos ? std::nullopt : whole_number(text.substr(0, comma), 1, 60);
    const auto count = comma == std::string_view::npos
                           ? std::nullopt
                           : whole_number(text.substr(comma + 1), 1, 100);
    if (!interval || !count) {
      throw std::invalid_argument(fmt::format(
          "ORVANE_SAMPLING must be INTERVAL,COUNT (seconds 1-60, samples 1-100), not \"{}\"", v));
    }
    s.interval = *interval;
    s.cpu_samples = *count;
    s.stat_samples = *count;
  }
  if (const char* v = std::getenv("ORVANE_COMMAND_TIMEOUT"); v != nullptr && *v != '\0') {
    const auto limit = whole_number(v, 1, 86400);
    if (!limit) {
      throw std::invalid_argument(fmt::format(
          "ORVANE_COMMAND_TIMEOUT must be a number of seconds (1-86400), not \"{}\"", v));
    }
    s.command_limit = std::chrono::seconds(*limit);
  }
  return s;
}

Collector::Collector(std::string out_dir, CollectorSettings settings)
    : out_dir_(std::move(out_dir)), settings_(settings) {}

void Collector::collect_system() {
  using collect::PlannedCommand;
  collect::Runner runner(timing_, settings_.command_limit);
  const std::vector<collect::PlannedFile> plan = collect::system_files(settings_);

  // The counters of the window's start are read before anything else runs...
  std::vector<std::string> at_start;
  for (const auto& file : plan) {
    for (const auto& group : file.groups) {
      for (const PlannedCommand& c : group.commands) {
        if (c.window == PlannedCommand::Window::start) at_start.push_back(runner.run(c.line));
      }
    }
  }
  std::vector<collected::CollectedFile> out(plan.size());
  struct Deferred {
    size_t file;
    const collect::PlannedGroup* group;
    const PlannedCommand* command;
  };
  std::vector<Deferred> at_end;
  size_t next_start = 0;
  for (size_t f = 0; f < plan.size(); ++f) {
    for (const collect::PlannedGroup& group : plan[f].groups) {
      for (const PlannedCommand& c : group.commands) {
        const std::chrono::seconds sampling(c.sampling);
        if (c.window == PlannedCommand::Window::start) {
          out[f].add(group.name, c.line, at_start[next_start++]);
        } else if (c.window == PlannedCommand::Window::end) {
          at_end.push_back(Deferred{f, &group, &c});
        } else if (c.cpu_utilisation && !collect::tool_installed(c.tool)) {
          // The same layout from /proc/stat, so the report reads one layout.
          const std::string label = fmt::format("/proc/stat sampled every {} s, {} times",
                                                settings_.interval, settings_.cpu_samples);
          const std::string text = collect::sample_utilisation(
              settings_.interval, settings_.cpu_samples,
              [&] { return runner.run("cat /proc/stat"); },
              [&](int seconds) {
                std::this_thread::sleep_for(std::chrono::seconds(seconds));
                runner.add_sampling_wait(seconds);
              },
              local_time);
          out[f].add(group.name, label, c.tool + ": not installed\n\n" + text);
        } else if (!c.tool.empty() && !collect::tool_installed(c.tool)) {
          out[f].add(group.name, c.line, c.tool + ": not installed");
        } else {
          const std::string output = runner.run(c.line, sampling);
          out[f].add(group.name, c.line, output,
                     c.if_empty.empty() ? std::string_view("(no output)") : c.if_empty);
        }
      }
    }
  }
  // ... and those of its end after the last sampling command.
  for (const Deferred& d : at_end) {
    out[d.file].add(d.group->name, d.command->line, runner.run(d.command->line));
  }
  for (size_t f = 0; f < plan.size(); ++f) out[f].commit(out_dir_ + plan[f].name);
}

}  // namespace orvane
