// Child processes through posix_spawn, both pipes drained with poll, the child reaped.
#include <orvane/process.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;

// How long the pipes may stay open after the child itself ended (a background grandchild that
// inherited them), and how long a killed child gets between SIGTERM and SIGKILL.
constexpr auto kDrainGrace = std::chrono::milliseconds(200);
constexpr auto kKillGrace = std::chrono::milliseconds(2000);

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

[[noreturn]] void throw_errno(int err, const std::string& what) {
  throw std::system_error(err, std::generic_category(), what);
}

void make_pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw_errno(errno, "pipe");
  read_end.reset(fds[0]);
  write_end.reset(fds[1]);
}

// Spawn attributes and file actions, released on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup(int out_fd, int err_fd, bool own_group, const std::string& cwd) {
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    // Nothing the parent has open (the log file among them) leaks into the child or the
    // daemons a script may start.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (own_group) {
      posix_spawnattr_setpgroup(&attr, 0);
      flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr, flags);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

// Keeps reading pipes that a background grandchild still holds, in a detached process of its own
// session (a terminal's Ctrl-C does not reach it), until the grandchild closes them. Only
// async-signal-safe calls after fork(); nothing else the parent has open stays open in it.
void hand_over_pipes(int out_fd, int err_fd) {
  const pid_t child = ::fork();
  if (child < 0) return;  // the pipes are closed: the grandchild sees EPIPE, as before
  if (child == 0) {
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    int fds[2] = {out_fd, err_fd};
    for (int i = 0; i < 2; ++i) {
      if (fds[i] >= 0 && ::dup2(fds[i], i) < 0) ::_exit(1);
      if (fds[i] < 0) ::close(i);
    }
    ::syscall(SYS_close_range, 2u, ~0u, 0u);
    pollfd p[2] = {{fds[0] >= 0 ? 0 : -1, POLLIN, 0}, {fds[1] >= 0 ? 1 : -1, POLLIN, 0}};
    char buf[4096];
    while (p[0].fd >= 0 || p[1].fd >= 0) {
      if (::poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        ::_exit(1);
      }
      for (auto& one : p) {
        if (one.fd < 0 || one.revents == 0) continue;
        const ssize_t n = ::read(one.fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) one.fd = -1;
      }
    }
    ::_exit(0);
  }
  int st;
  while (::waitpid(child, &st, 0) < 0 && errno == EINTR) {
  }
}

void trim_front(std::string& s, size_t keep) {
  if (keep > 0 && s.size() > keep) s.erase(0, s.size() - keep);
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return status;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
  if (argv.empty()) throw std::invalid_argument("run_process: empty argument list");
  Fd out_r, out_w, err_r, err_w;
  make_pipe(out_r, out_w);
  make_pipe(err_r, err_w);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  {
    SpawnSetup setup(out_w.get(), err_w.get(), options.own_group, options.cwd);
    int rc = ::posix_spawn(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ);
    if (rc != 0) throw_errno(rc, "cannot start " + argv[0]);
  }
  out_w.reset();
  err_w.reset();

  // A pidfd tells when the child itself has ended even while a grandchild holds the pipes.
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

  ProcessResult result;
  const auto start = Clock::now();
  std::optional<Clock::time_point> exited_at, term_sent_at;
  bool kill_sent = false;
  char buf[65536];
  Fd* const pipes[2] = {&out_r, &err_r};
  std::string* const sinks[2] = {&result.out, &result.err};

  while (out_r.get() >= 0 || err_r.get() >= 0) {
    const auto now = Clock::now();
    if (!exited_at && pidfd.get() < 0) {
      // Without pidfd, notice the child's end by polling.
      int st;
      if (::waitpid(pid, &st, WNOHANG) == pid) {
        exited_at = now;
        result.status = decode_status(st);
        pid = -1;
      }
    }
    if (exited_at && now - *exited_at >= kDrainGrace) {
      // The child is gone, someone it started still holds a pipe. A killed run's group is
      // killed below; anything else is a daemon started on purpose.
      if (!(options.own_group && (result.timed_out || result.stopped))) {
        hand_over_pipes(out_r.get(), err_r.get());
      }
      break;
    }
    if (!exited_at && !term_sent_at) {
      const int stop_signal = options.stop ? options.stop->load() : 0;
      if (stop_signal != 0) {
        result.stopped = true;
        ::kill(options.own_group ? -pid : pid, stop_signal);
        term_sent_at = now;
      } else if (options.timeout && now - start >= *options.timeout) {
        result.timed_out = true;
        ::kill(options.own_group ? -pid : pid, SIGTERM);
        term_sent_at = now;
      }
    } else if (!exited_at && !kill_sent && now - *term_sent_at >= kKillGrace) {
      ::kill(options.own_group ? -pid : pid, SIGKILL);
      kill_sent = true;
    }

    pollfd fds[3];
    nfds_t n = 0;
    int index_of[3] = {-1, -1, -1};
    for (int i = 0; i < 2; ++i) {
      if (pipes[i]->get() >= 0) {
        index_of[n] = i;
        fds[n++] = {pipes[i]->get(), POLLIN, 0};
      }
    }
    const bool watch_pidfd = pidfd.get() >= 0 && !exited_at;
    if (watch_pidfd) fds[n++] = {pidfd.get(), POLLIN, 0};
    // A bounded wait whenever something must be noticed without an event on the descriptors
    // (a stop flag raised just before poll() is entered, for one).
    int wait_ms = (pidfd.get() < 0 || exited_at || options.timeout || options.stop) ? 50 : -1;
    int ready = ::poll(fds, n, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw_errno(errno, "poll");
    }
    for (nfds_t k = 0; k < n; ++k) {
      if (fds[k].revents == 0) continue;
      if (watch_pidfd && k == n - 1) {
        exited_at = Clock::now();
        continue;
      }
      const int i = index_of[k];
      ssize_t got = ::read(pipes[i]->get(), buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
        if (options.keep_tail > 0 && sinks[i]->size() > 2 * options.keep_tail) {
          trim_front(*sinks[i], options.keep_tail);
        }
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        pipes[i]->reset();
      }
    }
  }

  // The child is not reaped yet, so its process group id cannot have been reused.
  if (pid > 0 && options.own_group && (result.timed_out || result.stopped)) ::kill(-pid, SIGKILL);
  if (pid > 0) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0) {
      if (errno != EINTR) throw_errno(errno, "waitpid");
    }
    result.status = decode_status(st);
  }
  trim_front(result.out, options.keep_tail);
  trim_front(result.err, options.keep_tail);
  return result;
}

ProcessResult run_shell(const std::string& text, const RunOptions& options) {
  return run_process({"/bin/sh", "-c", text}, options);
}

}  // namespace orvane
