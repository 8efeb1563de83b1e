// The optimisation manager: one tuning run from the backup to the restored parameters, and the
// confirmed application of its result.
#include <orvane/tunepilot.hpp>

#include <chrono>
#include <cmath>
#include <csignal>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <orvane/ask.hpp>
#include <orvane/benchmark.hpp>
#include <orvane/change_journal.hpp>
#include <orvane/decorator_wrap.hpp>
#include <orvane/log.hpp>
#include <orvane/optimizer.hpp>
#include <orvane/phaseclock.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/restore_guard.hpp>
#include <orvane/scenevars.hpp>
#include <orvane/tuning_stop.hpp>
#include <orvane/util.hpp>
#include <orvane/value_text.hpp>

namespace orvane {
namespace {

double monotonic_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string signal_name(int signo) {
  return signo == SIGINT ? "SIGINT" : signo == SIGTERM ? "SIGTERM" : "SIGHUP";
}

// The tuning run's question: "y" or "n" as answered; throws when standard input ends.
std::string input_yon(const std::string& desc) {
  const std::optional<bool> yes = ask_yes_no(desc, std::cin, std::cout);
  if (!yes)
    throw std::runtime_error("standard input ended before Y or N was answered; nothing applied");
  return *yes ? "y" : "n";
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : "; ") + l;
  return out;
}

// A run of a project whose last run was killed would take that run's trial values for the
// originals; the journal still has the real ones.
void refuse_unfinished(const ChangeJournal& journal, const std::string& project) {
  for (const ChangeSet& set : journal.unsettled()) {
    if (set.source != "tuning" || set.subject != project || set.state != "changing") continue;
    throw std::runtime_error("the run of project " + project + " started at " + set.started +
                             " (pid " + std::to_string(set.pid) +
                             ") did not finish and may have left trial values in place; its "
                             "originals are in " +
                             journal.file_of(set.id).string() +
                             ": restore them with `orvane profile recover`, then tune again");
  }
}

// Every original value must be there, non-empty and safe to put into a set script's text
// before anything changes.
void check_originals(const Json& oriparams) {
  std::vector<std::string> problems;
  for (const ParamReading& p : SceneVars::last_read_problems()) {
    problems.push_back(p.name + ": " + p.problem);
  }
  for (const auto& [name, value] : oriparams.items()) {
    const std::string text = value.get<std::string>();
    if (const std::string why = shell_unsafe_reason(text); !why.empty()) {
      problems.push_back(name + ": the value read, " + shell_quote(utf8_with_replacement(text)) +
                         ", cannot be written back safely: " + why +
                         " (make the get script print just the value)");
    }
  }
  if (!problems.empty()) {
    throw std::runtime_error("nothing was changed: the original values are not all usable: " +
                             join_lines(problems));
  }
}

// The restore's scripts: a time limit, no stop flag (they must finish), and their own process
// group, so a terminal's Ctrl-C does not reach them.
ScriptLimits restore_limits() {
  ScriptLimits limits;
  limits.timeout = std::chrono::milliseconds(
      static_cast<long long>(std::ceil(Cfg().get_script_timeout() * 1000)));
  limits.own_group = true;
  return limits;
}

}  // namespace

Json TunePilot::init(const std::string& config_file) {
  return Cfg().init(config_file);
}

std::vector<double> TunePilot::get_oriperformance() {
  const double t1 = monotonic_seconds();
  std::vector<double> oriperformance = Benchmark().run();
  const double t2 = monotonic_seconds();
  DecoratorWrap::singleton<Timer>().set_benchmark_time(t2 - t1);
  return oriperformance;
}

struct TunePilot::RunState {
  std::unique_ptr<ChangeJournal> journal;
  JournalLock lock;
  std::unique_ptr<tuning::RestoreGuard> guard;
};

TunePilot::TunePilot() = default;
TunePilot::~TunePilot() = default;

std::string TunePilot::journal_file() const {
  return state_ && state_->guard ? state_->guard->journal_file().string() : "";
}

bool TunePilot::run() {
  // Installed before anything can change, so no signal can end the run with trial values left.
  tuning::StopOnSignals stop_on_signals;
  state_.reset();
  auto state = std::make_unique<RunState>();
  const std::string project = Cfg().get_project();
  state->journal = std::make_unique<ChangeJournal>();
  state->lock = state->journal->lock("tuning:" + project);
  refuse_unfinished(*state->journal, project);

  // The search's scripts honour the stop flag; all have the project's time limit.
  const ScriptLimits restore = restore_limits();
  ScriptLimits search = restore;
  search.stop = &tuning::stop_flag();
  SceneVars::set_default_limits(search);
  struct DefaultLimits {
    ~DefaultLimits() { SceneVars::set_default_limits({}); }
  } reset_limits;

  // Before the optimiser starts nothing has been changed, so a stop then needs no writing back.
  auto stop_unchanged = [] {
    if (const int signo = tuning::stop_requested()) {
      Logger().warning("tuning interrupted by " + signal_name(signo) +
                       " before any parameter was changed");
      throw tuning::Interrupted(signo);
    }
  };

  SceneVars params_handle;
  oriparams_ = params_handle.backup_params();
  Logger().debug("oriparams:" + tuning::map_text(oriparams_));
  stop_unchanged();
  if (oriparams_.empty()) return false;
  check_originals(oriparams_);

  const std::vector<double> oriperformance = get_oriperformance();
  stop_unchanged();
  if (oriperformance.empty()) return false;

  state->guard = std::make_unique<tuning::RestoreGuard>(*state->journal, oriparams_, restore);
  tuning::RestoreGuard& guard = *state->guard;
  guard.arm();
  state_ = std::move(state);

  // From here on trial values may be on the system: every way out goes through the guard.
  auto restore_or_throw = [&](const std::string& why) {
    Logger().info("writing back the values read before tuning (" + why + ")");
    const tuning::RestoreGuard::Outcome& o = guard.restore();
    if (!o.verified) {
      for (const std::string& p : o.problems) Logger().error("restore: " + p);
      throw tuning::RestoreFailed(
          "the values read before tuning could not all be put back: " + join_lines(o.problems) +
          "; the journal " + guard.journal_file().string() +
          " still holds the originals (orvane profile recover)");
    }
  };

  Json result;
  try {
    const Json args = Cfg().get_optimizer_info();
    Optimizer engine(oriperformance, args, std::nullopt, std::nullopt);
    result = engine.run();
    opt_params_value_ = result;
    if (!result.is_null() && !result.empty()) {
      auto effective = result.find("effective");
      if (effective == result.end() || !effective->is_boolean()) {
        throw std::runtime_error("the optimiser result has no 'effective' flag");
      }
      if (effective->get<bool>() && !result.contains("param")) {
        throw std::runtime_error("the optimiser result is effective but has no 'param'");
      }
    }
  } catch (const std::exception& e) {
    Logger().error(std::string("the tuning run failed (") + e.what() +
                   "); writing back the values read before tuning");
    restore_or_throw("failure");
    throw;
  }

  const int stopped = tuning::stop_requested();
  if (stopped) {
    restore_or_throw(signal_name(stopped));
    Logger().warning("tuning interrupted by " + signal_name(stopped) +
                     "; the values read before tuning were written back");
    throw tuning::Interrupted(stopped);
  }
  if (result.is_null() || result.empty()) {
    restore_or_throw("no result");
    return false;
  }
  if (result["effective"].get<bool>()) {
    Logger().info("\n本次调优最佳参数组合: " + tuning::map_text(result["param"]));
  } else {
    Logger().info("\n本次调优未找到更优配置,保持初始配置: " + tuning::map_text(oriparams_));
  }
  restore_or_throw("end of the run");
  if (const int late = tuning::stop_requested()) {
    Logger().warning("tuning interrupted by " + signal_name(late) +
                     "; the values read before tuning were written back");
    throw tuning::Interrupted(late);
  }
  return true;
}

void TunePilot::set_optparams(const Json& opt_params) {
  answer_ = Answer{};
  const std::string set_f = input_yon("是否需要下发优化参数");
  answer_->answer = set_f;
  if (set_f != "Y" && set_f != "y") return;
  if (!state_ || !state_->guard) {
    SceneVars scene;
    scene.set_params(opt_params);
    answer_->applied = true;
    answer_->problems = tuning::verify_values(scene, opt_params, ScriptLimits{});
    answer_->verified = answer_->problems.empty();
    return;
  }
  const tuning::RestoreGuard::Applied applied = state_->guard->apply(opt_params);
  answer_->applied = applied.scripts_ok;
  answer_->verified = applied.verified();
  answer_->problems = applied.problems;
  if (!answer_->problems.empty()) {
    throw std::runtime_error(
        std::string(answer_->applied ? "the result was applied but does not read back as set: "
                                     : "applying the result failed: ") +
        join_lines(answer_->problems) + "; the journal " + state_->guard->journal_file().string() +
        " holds the originals (orvane profile recover)");
  }
}

}  // namespace orvane
