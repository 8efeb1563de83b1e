#pragma once
// The change journal: a durable record, in a private state directory, of every value orvane
// changes on a system (the original, what was written, how to put it back), so that a run that
// was killed can still be undone, and a lock per subject so that two runs never interleave.
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

// One value orvane changed. `kind` says how to read it and put it back ("script" for the tuning's
// get/set scripts; the profiles and `apply` add their own kinds), `name` is what the
// administrator sees, `detail` holds what the kind's restorer needs (scripts, paths, hashes).
struct ChangeItem {
  std::string kind;
  std::string name;
  std::string original;
  std::string applied;
  Json detail = Json::object();
};

// The values one run changes, written before the first change. `state` is "changing" while the
// run may have values of its own in place, "applied" when it left them on purpose (the
// administrator said yes) and "finished" once everything is back and verified.
struct ChangeSet {
  std::string id;       // unique; given by ChangeJournal::new_set when left empty
  std::string source;   // "tuning" | "profile" | "apply"
  std::string subject;  // the project, scene or settings file
  std::string state = "changing";
  long pid = 0;
  std::string started;  // UTC, "2026-12-07T14:05:01.123456Z"
  std::string user;
  Json detail = Json::object();
  std::vector<ChangeItem> items;
};

// A state directory or journal file that cannot be trusted or written, or a lock held by another
// run; the message names the path or the running process.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A held lock of the journal; released when destroyed (or when the process ends, however).
class JournalLock {
 public:
  JournalLock() = default;
  explicit JournalLock(int fd) : fd_(fd) {}
  ~JournalLock();
  JournalLock(JournalLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  JournalLock& operator=(JournalLock&& other) noexcept;
  JournalLock(const JournalLock&) = delete;
  JournalLock& operator=(const JournalLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class ChangeJournal {
 public:
  // $ORVANE_STATE_DIR when set and not empty, else /var/lib/orvane.
  static std::filesystem::path default_dir();

  // Opens the journal in `dir`, creating it 0700 (parents as needed). Throws JournalError when
  // the directory is a symlink, not a directory, not owned by the running user or writable by
  // group or others: the journal holds shell text that orvane runs as root.
  explicit ChangeJournal(std::filesystem::path dir = default_dir());

  const std::filesystem::path& dir() const { return dir_; }

  // Takes the lock of `key` ("tuning:<project>", "profile"). Throws JournalError naming the
  // process that holds it. Never waits.
  JournalLock lock(const std::string& key) const;

  // A set of `source` and `subject` owned by this process: a fresh id, pid, start time, user.
  static ChangeSet new_set(const std::string& source, const std::string& subject);

  // Writes the set under its id, replacing the previous version: atomically, flushed to disk
  // (file and directory) before it returns. Throws JournalError.
  void write(const ChangeSet& set) const;

  // The sets in state "changing" or "applied", oldest first. Throws JournalError naming a file
  // that cannot be read, parsed or trusted (not a regular file, foreign, writable by others).
  std::vector<ChangeSet> unsettled() const;

  // Removes the set's file; no error when there is none.
  void remove(const std::string& id) const;

  // Where the set of `id` is written.
  std::filesystem::path file_of(const std::string& id) const;

 private:
  std::filesystem::path dir_;
};

// What putting one item back gave: `restored` (written and read back equal), `set_aside` (the
// kind chose not to write, e.g. a file edited since; the message says where things are),
// `failed` (not put back, or read back different).
struct RestoreOutcome {
  enum class Status { restored, set_aside, failed };
  Status status = Status::failed;
  std::string message;
};

using Restorer = std::function<RestoreOutcome(const ChangeItem&)>;

// Sets the restorer of a kind, replacing any earlier one. Called explicitly by the code that
// owns the kind before a set is restored (no static initialisers).
void register_restorer(const std::string& kind, Restorer restorer);

// Puts every item of the set back, last item first, each through its kind's restorer. Outcomes
// are in the order tried; an item of a kind without a restorer, or whose restorer throws, fails.
struct ItemOutcome {
  const ChangeItem* item;
  RestoreOutcome outcome;
};
std::vector<ItemOutcome> restore_change_set(const ChangeSet& set);

Json to_json(const ChangeSet& set);
ChangeSet change_set_from_json(const Json& j);  // throws JournalError on a malformed record

}  // namespace orvane
