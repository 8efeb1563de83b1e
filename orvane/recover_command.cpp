// `orvane profile recover`: the one way back for whatever orvane changed, from the journal.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <orvane/change_journal.hpp>
#include <orvane/log.hpp>
#include <orvane/profile.hpp>
#include <orvane/restore_guard.hpp>

#include "command_module.hpp"
#include "dispatch.hpp"

namespace orvane {
namespace {

// Every kind of change this program makes and can put back.
void register_restorers() {
  tuning::register_script_restorer();
  profile::register_profile_restorers();
}

std::string lock_key(const ChangeSet& set) {
  return set.source == "tuning" ? "tuning:" + set.subject : "profile";
}

// True on y or Y; false on n or N; nullopt when standard input ends first.
std::optional<bool> ask_yes(const std::string& question) {
  while (true) {
    std::cout << question << "(Y/N):" << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (line == "Y" || line == "y") return true;
    if (line == "N" || line == "n") return false;
  }
}

const char* status_word(RestoreOutcome::Status s) {
  switch (s) {
    case RestoreOutcome::Status::restored:
      return "restored";
    case RestoreOutcome::Status::set_aside:
      return "set aside";
    case RestoreOutcome::Status::failed:
      break;
  }
  return "FAILED";
}

}  // namespace
}  // namespace orvane

// Restores the latest unfinished or applied change set of the journal, after a Y answer: every
// item put back, last first, and read again. Returns 0 when all were verified (the set is then
// removed), when there was nothing to restore or the answer was N; 1 otherwise, keeping the set.
ORVANE_COMMAND(pro_rec) {
  using namespace orvane;
  (void)options;
  register_restorers();
  std::vector<ChangeSet> sets;
  std::unique_ptr<ChangeJournal> journal;
  try {
    journal = std::make_unique<ChangeJournal>();
    sets = journal->unsettled();
  } catch (const std::exception& e) {
    std::cerr << "orvane: recover: " << e.what() << "\n";
    return kExitFailed;
  }
  if (sets.empty()) {
    std::cout << "nothing to restore: the journal in " << journal->dir().string()
              << " holds no unfinished or applied change\n";
    return kExitOk;
  }
  const ChangeSet set = sets.back();
  JournalLock lock;
  try {
    lock = journal->lock(lock_key(set));
  } catch (const std::exception& e) {
    std::cerr << "orvane: recover: " << e.what() << "\n";
    return kExitFailed;
  }

  std::cout << "change set " << set.id << " (" << set.source << " " << set.subject << ", "
            << set.state << ", started " << set.started << " by pid " << set.pid << "):\n";
  for (auto it = set.items.rbegin(); it != set.items.rend(); ++it) {
    std::cout << "  " << it->name << " <- '" << it->original << "'\n";
  }
  const std::optional<bool> yes = ask_yes("restore these values");
  if (!yes) {
    std::cout << "\n";
    std::cerr << "orvane: recover: standard input ended before Y or N was answered; nothing "
                 "restored\n";
    return kExitFailed;
  }
  if (!*yes) {
    std::cout << "nothing restored\n";
    return kExitOk;
  }

  bool all = true;
  for (const ItemOutcome& o : restore_change_set(set)) {
    all = all && o.outcome.status == RestoreOutcome::Status::restored;
    std::cout << "  " << o.item->name << ": " << status_word(o.outcome.status) << ": "
              << o.outcome.message << "\n";
    Logger().info("recover " + set.id + " " + o.item->name + ": " + o.outcome.message);
  }
  if (!all) {
    std::cerr << "orvane: recover: not every value was restored and verified; the change set "
                 "stays in "
              << journal->file_of(set.id).string() << "\n";
    return kExitFailed;
  }
  try {
    journal->remove(set.id);
  } catch (const std::exception& e) {
    std::cerr << "orvane: recover: the values are back, but " << e.what() << "\n";
    return kExitFailed;
  }
  std::cout << "restored and verified; the change set was removed from the journal\n";
  return kExitOk;
}
