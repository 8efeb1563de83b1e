#pragma once
// Putting a tuned scene back: the journal of the values read before tuning, written before the
// first change, and the one object that writes them back and verifies them on every way out of a
// run (success, failure, signal).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <orvane/change_journal.hpp>
#include <orvane/json.hpp>
#include <orvane/scenevars.hpp>

namespace orvane::tuning {

// Registers the restorer of the journal's "script" items (a parameter of a tuning project: set
// script with the original, workload restart when needed, get script to verify) for
// `orvane profile recover`.
void register_script_restorer();

// The change set of a tuning run of the loaded project (Cfg) over `originals`: one "script" item
// per parameter, carrying everything needed to restore it without the project file.
ChangeSet tuning_change_set(const Json& originals, const ScriptLimits& limits);

// Reads every parameter through its get script and compares it with `values` (texts alike after
// trimming, or the same number). One line per parameter that differs or cannot be read.
std::vector<std::string> verify_values(SceneVars& scene, const Json& values,
                                       const ScriptLimits& limits);

class RestoreGuard {
 public:
  struct Outcome {
    bool verified = false;
    std::vector<std::string> problems;  // one line per script or parameter at fault
  };

  // `limits` are those of the restore: a time limit, no stop flag, own process group.
  RestoreGuard(const ChangeJournal& journal, Json originals, ScriptLimits limits);
  // Restores when restore() was not called (an exception on the way out); failures are logged.
  ~RestoreGuard();
  RestoreGuard(const RestoreGuard&) = delete;
  RestoreGuard& operator=(const RestoreGuard&) = delete;

  // Writes the change set to the journal; call before the first change. Throws JournalError.
  void arm();

  // Writes every original back, reads each again and compares. When all match, the change set is
  // marked finished in the journal; otherwise it stays there as the record to recover from.
  // Runs once; later calls return the first outcome.
  const Outcome& restore();

  struct Applied {
    bool scripts_ok = false;            // every set script ran without a failure
    std::vector<std::string> problems;  // the failed scripts, else the values read back otherwise
    bool verified() const { return scripts_ok && problems.empty(); }
  };

  // After a verified restore: applies `values` through the set scripts, the change set kept in
  // the journal as an applied change first, then reads every value back when all scripts ran.
  Applied apply(const Json& values);

  std::filesystem::path journal_file() const { return journal_.file_of(set_.id); }

 private:
  const ChangeJournal& journal_;
  Json originals_;
  ScriptLimits limits_;
  ChangeSet set_;
  bool armed_ = false;
  std::optional<Outcome> outcome_;
};

}  // namespace orvane::tuning
