// The optimisation manager: one tuning run from the backup to the restored parameters, and the
// confirmed application of its result.
#include <orvane/tunepilot.hpp>

#include <chrono>
#include <csignal>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <orvane/ask.hpp>
#include <orvane/benchmark.hpp>
#include <orvane/decorator_wrap.hpp>
#include <orvane/log.hpp>
#include <orvane/optimizer.hpp>
#include <orvane/phaseclock.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/scenevars.hpp>
#include <orvane/tuning_stop.hpp>

#include <orvane/value_text.hpp>

namespace orvane {
namespace {

double monotonic_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string signal_name(int signo) {
  return signo == SIGINT ? "SIGINT" : "SIGTERM";
}

// The tuning run's question: "y" or "n" as answered; throws when standard input ends.
std::string input_yon(const std::string& desc) {
  const std::optional<bool> yes = ask_yes_no(desc, std::cin, std::cout);
  if (!yes) throw std::runtime_error("standard input ended before Y or N was answered; nothing applied");
  return *yes ? "y" : "n";
}

// Puts the values read before tuning back after the optimiser failed; a failure of that is
// logged, since the optimiser's error is the one passed on.
void restore_after_failure(SceneVars& scene, const Json& oriparams, const std::string& why) {
  Logger().error("the tuning run failed (" + why + "); writing back the values read before tuning");
  try {
    scene.set_params(oriparams);
  } catch (const std::exception& e) {
    Logger().error(std::string("writing back the values read before tuning failed: ") + e.what());
  }
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

bool TunePilot::run() {
  tuning::StopOnSignals stop_on_signals;
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

  const std::vector<double> oriperformance = get_oriperformance();
  stop_unchanged();
  if (oriperformance.empty()) return false;

  // From here on trial values may be on the system: every way out writes oriparams back.
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
    restore_after_failure(params_handle, oriparams_, e.what());
    throw;
  } catch (...) {
    restore_after_failure(params_handle, oriparams_, "unknown error");
    throw;
  }

  const int stopped = tuning::stop_requested();
  if (stopped) {
    params_handle.set_params(oriparams_);
    Logger().warning("tuning interrupted by " + signal_name(stopped) +
                     "; the values read before tuning were written back");
    throw tuning::Interrupted(stopped);
  }
  if (result.is_null() || result.empty()) {
    params_handle.set_params(oriparams_);
    return false;
  }
  if (result["effective"].get<bool>()) {
    Logger().info("\n本次调优最佳参数组合: " + tuning::map_text(result["param"]));
  } else {
    Logger().info("\n本次调优未找到更优配置,保持初始配置: " + tuning::map_text(oriparams_));
  }
  params_handle.set_params(oriparams_);
  if (const int late = tuning::stop_requested()) {
    Logger().warning("tuning interrupted by " + signal_name(late) +
                     "; the values read before tuning were written back");
    throw tuning::Interrupted(late);
  }
  return true;
}

void TunePilot::set_optparams(const Json& opt_params) {
  const std::string set_f = input_yon("是否需要下发优化参数");
  if (set_f == "Y" || set_f == "y") SceneVars().set_params(opt_params);
}

}  // namespace orvane
