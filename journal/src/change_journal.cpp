// The change journal on disk: one JSON file per change set in a private directory, replaced
// atomically and flushed; flock(2) locks beside them.
#include <orvane/change_journal.hpp>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include <orvane/util.hpp>

namespace orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuffix = ".json";

[[noreturn]] void fail_errno(int err, const std::string& what) {
  throw JournalError(what + ": " + std::strerror(err));
}

// The journal directory and its files must belong to the running user and be writable by no
// one else: a journal planted by another user would be run as root by `profile recover`.
void check_trusted(const struct stat& st, const fs::path& path, const char* what) {
  if (st.st_uid != ::geteuid()) {
    throw JournalError("the " + std::string(what) + " " + path.string() +
                       " is not owned by the user running orvane (uid " +
                       std::to_string(::geteuid()) + "); refused");
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw JournalError("the " + std::string(what) + " " + path.string() +
                       " is writable by group or others; refused");
  }
}

// Keeps lock file names to one safe path component whatever the key holds.
std::string encode_key(const std::string& key) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : key) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

void write_all(int fd, const std::string& data, const fs::path& path) {
  size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail_errno(errno, "cannot write " + path.string());
    }
    off += static_cast<size_t>(n);
  }
}

std::string text_at(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end()) return "";
  if (!it->is_string()) throw JournalError(std::string("the field '") + key + "' is not a text");
  return it->get<std::string>();
}

std::map<std::string, Restorer>& restorers() {
  static std::map<std::string, Restorer> table;
  return table;
}
std::mutex& restorers_mutex() {
  static std::mutex m;
  return m;
}

}  // namespace

JournalLock::~JournalLock() {
  if (fd_ >= 0) ::close(fd_);
}

JournalLock& JournalLock::operator=(JournalLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

fs::path ChangeJournal::default_dir() {
  const char* env = std::getenv("ORVANE_STATE_DIR");
  return env && *env ? fs::path(env) : fs::path("/var/lib/orvane");
}

ChangeJournal::ChangeJournal(fs::path dir) : dir_(std::move(dir)) {
  if (dir_.empty()) throw JournalError("the state directory is an empty path");
  std::error_code ec;
  if (dir_.has_parent_path()) fs::create_directories(dir_.parent_path(), ec);
  if (::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) {
    fail_errno(errno, "cannot create the state directory " + dir_.string());
  }
  struct stat st {};
  if (::lstat(dir_.c_str(), &st) != 0) fail_errno(errno, "cannot inspect " + dir_.string());
  if (S_ISLNK(st.st_mode)) {
    throw JournalError("the state directory " + dir_.string() + " is a symbolic link; refused");
  }
  if (!S_ISDIR(st.st_mode)) {
    throw JournalError("the state directory " + dir_.string() + " is not a directory");
  }
  check_trusted(st, dir_, "state directory");
}

fs::path ChangeJournal::file_of(const std::string& id) const {
  return dir_ / (encode_key(id) + kSuffix);
}

JournalLock ChangeJournal::lock(const std::string& key) const {
  const fs::path path = dir_ / (encode_key(key) + ".lock");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) fail_errno(errno, "cannot open the lock " + path.string());
  JournalLock guard(fd);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err != EWOULDBLOCK) fail_errno(err, "cannot take the lock " + path.string());
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    const long holder = n > 0 ? std::strtol(buf, nullptr, 10) : 0;
    throw JournalError("another orvane run (pid " +
                       (holder > 0 ? std::to_string(holder) : std::string("unknown")) +
                       ") holds the lock '" + key + "'; wait for it to end");
  }
  // The holder's pid, for the message a second run gives.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    if (::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
      // The lock holds all the same; only the message of a second run loses the pid.
    }
  }
  return guard;
}

ChangeSet ChangeJournal::new_set(const std::string& source, const std::string& subject) {
  using namespace std::chrono;
  static std::atomic<unsigned> sequence{0};
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const long micros =
      static_cast<long>(duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000);
  std::tm tm{};
  ::gmtime_r(&secs, &tm);
  char stamp[32], compact[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
  std::strftime(compact, sizeof compact, "%Y%m%dT%H%M%S", &tm);
  char frac[16];
  std::snprintf(frac, sizeof frac, "%06ld", micros);

  ChangeSet set;
  set.source = source;
  set.subject = subject;
  set.pid = static_cast<long>(::getpid());
  set.started = std::string(stamp) + "." + frac + "Z";
  set.id = source + "-" + compact + frac + "-" + std::to_string(set.pid) + "-" +
           std::to_string(sequence++);
  const struct passwd* pw = ::getpwuid(::geteuid());
  set.user = pw ? pw->pw_name : std::to_string(::geteuid());
  return set;
}

void ChangeJournal::write(const ChangeSet& set) const {
  if (set.id.empty()) throw JournalError("a change set without an id cannot be written");
  const fs::path target = file_of(set.id);
  const std::string text = to_json(set).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  std::string tmpl = (dir_ / ("." + encode_key(set.id) + ".tmp.XXXXXX")).string();
  const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) fail_errno(errno, "cannot create a file in " + dir_.string());
  try {
    write_all(fd, text, target);
    if (::fsync(fd) != 0) fail_errno(errno, "cannot flush " + target.string());
  } catch (...) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    throw;
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmpl.c_str());
    fail_errno(err, "cannot write " + target.string());
  }
  if (::rename(tmpl.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmpl.c_str());
    fail_errno(err, "cannot write " + target.string());
  }
  // The rename itself is durable only once the directory is flushed.
  const int dfd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) fail_errno(errno, "cannot flush " + dir_.string());
  const int rc = ::fsync(dfd);
  const int err = errno;
  ::close(dfd);
  if (rc != 0) fail_errno(err, "cannot flush " + dir_.string());
}

std::vector<ChangeSet> ChangeJournal::unsettled() const {
  std::vector<ChangeSet> sets;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const fs::path& p = entry.path();
    const std::string name = p.filename().string();
    if (name.empty() || name[0] == '.' || p.extension() != kSuffix) continue;
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail_errno(errno, "cannot open the journal file " + p.string());
    struct stat st {};
    const int rc = ::fstat(fd, &st);
    ::close(fd);
    if (rc != 0 || !S_ISREG(st.st_mode)) {
      throw JournalError("the journal file " + p.string() + " is not a regular file; refused");
    }
    check_trusted(st, p, "journal file");
    ChangeSet set;
    try {
      set = change_set_from_json(Json::parse(read_file(p)));
    } catch (const std::exception& e) {
      throw JournalError("the journal file " + p.string() + " cannot be read: " + e.what());
    }
    if (set.state == "changing" || set.state == "applied") sets.push_back(std::move(set));
  }
  if (ec) fail_errno(ec.value(), "cannot list the state directory " + dir_.string());
  std::sort(sets.begin(), sets.end(), [](const ChangeSet& a, const ChangeSet& b) {
    return a.started != b.started ? a.started < b.started : a.id < b.id;
  });
  return sets;
}

void ChangeJournal::remove(const std::string& id) const {
  const fs::path p = file_of(id);
  if (::unlink(p.c_str()) != 0 && errno != ENOENT) fail_errno(errno, "cannot remove " + p.string());
}

Json to_json(const ChangeSet& set) {
  Json items = Json::array();
  for (const ChangeItem& item : set.items) {
    items.push_back({{"kind", item.kind},
                     {"name", item.name},
                     {"original", item.original},
                     {"applied", item.applied},
                     {"detail", item.detail}});
  }
  return Json{{"id", set.id},       {"source", set.source}, {"subject", set.subject},
              {"state", set.state}, {"pid", set.pid},       {"started", set.started},
              {"user", set.user},   {"detail", set.detail}, {"items", std::move(items)}};
}

ChangeSet change_set_from_json(const Json& j) {
  if (!j.is_object()) throw JournalError("a change set is not a JSON object");
  ChangeSet set;
  set.id = text_at(j, "id");
  if (set.id.empty()) throw JournalError("a change set has no id");
  set.source = text_at(j, "source");
  set.subject = text_at(j, "subject");
  set.state = text_at(j, "state");
  if (set.state != "changing" && set.state != "applied" && set.state != "finished") {
    throw JournalError("the change set " + set.id + " has the unknown state '" + set.state + "'");
  }
  if (auto it = j.find("pid"); it != j.end() && it->is_number_integer()) set.pid = it->get<long>();
  set.started = text_at(j, "started");
  set.user = text_at(j, "user");
  if (auto it = j.find("detail"); it != j.end()) set.detail = *it;
  auto items = j.find("items");
  if (items == j.end() || !items->is_array()) {
    throw JournalError("the change set " + set.id + " has no item list");
  }
  for (const Json& i : *items) {
    if (!i.is_object()) throw JournalError("an item of the change set " + set.id + " is malformed");
    ChangeItem item;
    item.kind = text_at(i, "kind");
    item.name = text_at(i, "name");
    item.original = text_at(i, "original");
    item.applied = text_at(i, "applied");
    if (auto it = i.find("detail"); it != i.end()) item.detail = *it;
    set.items.push_back(std::move(item));
  }
  return set;
}

void register_restorer(const std::string& kind, Restorer restorer) {
  std::lock_guard<std::mutex> hold(restorers_mutex());
  restorers()[kind] = std::move(restorer);
}

std::vector<ItemOutcome> restore_change_set(const ChangeSet& set) {
  std::vector<ItemOutcome> outcomes;
  for (auto it = set.items.rbegin(); it != set.items.rend(); ++it) {
    Restorer restorer;
    {
      std::lock_guard<std::mutex> hold(restorers_mutex());
      auto found = restorers().find(it->kind);
      if (found != restorers().end()) restorer = found->second;
    }
    RestoreOutcome outcome;
    if (!restorer) {
      outcome = {RestoreOutcome::Status::failed,
                 "this orvane cannot restore items of the kind '" + it->kind + "'"};
    } else {
      try {
        outcome = restorer(*it);
      } catch (const std::exception& e) {
        outcome = {RestoreOutcome::Status::failed, e.what()};
      }
    }
    outcomes.push_back({&*it, std::move(outcome)});
  }
  return outcomes;
}

}  // namespace orvane
