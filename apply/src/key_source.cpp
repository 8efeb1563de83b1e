// Where the administrator's secret comes from: a key file with strict ownership and mode, or a
// passphrase typed at the terminal without echo.
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <orvane/sealing.hpp>
#include <string>

#include "sodium_init.hpp"

namespace orvane::sealing {
namespace {

constexpr size_t kMaxPassphrase = 1024;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string octal_mode(mode_t mode) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
  return buf;
}

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void note_signal(int sig) {
  g_interrupted = sig;
}

// The terminal with echo off for as long as it lives. A signal while it is off interrupts the
// read (the handlers are installed without SA_RESTART) and the echo is switched back on before
// the signal is raised again, so a Ctrl-C never leaves the terminal silent.
class SilentTerminal {
 public:
  explicit SilentTerminal(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) throw SealError("cannot read the terminal's settings");
    struct sigaction sa {};
    sa.sa_handler = note_signal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &sa, &old_[i]);
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ICANON;
    // TCSANOW: what was typed ahead stays readable.
    if (::tcsetattr(fd_, TCSANOW, &quiet) != 0) {
      restore();
      throw SealError("cannot switch off the terminal's echo");
    }
  }
  ~SilentTerminal() {
    restore();
    if (g_interrupted != 0) {
      const int sig = g_interrupted;
      g_interrupted = 0;
      std::raise(sig);
    }
  }
  SilentTerminal(const SilentTerminal&) = delete;
  SilentTerminal& operator=(const SilentTerminal&) = delete;

 private:
  void restore() {
    ::tcsetattr(fd_, TCSANOW, &saved_);
    for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &old_[i], nullptr);
  }
  static constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  int fd_;
  termios saved_{};
  std::array<struct sigaction, 4> old_{};
};

// One line from the terminal, without its line break, in locked memory.
Secret read_line(int fd, const char* prompt) {
  write_all(fd, prompt);
  Secret line(kMaxPassphrase + 1);
  size_t len = 0;
  bool ended = false;
  {
    SilentTerminal silent(fd);
    while (true) {
      unsigned char c = 0;
      const ssize_t n = ::read(fd, &c, 1);
      if (n < 0 && errno == EINTR) {
        if (g_interrupted != 0) break;
        continue;
      }
      if (n <= 0) break;
      if (c == '\n') {
        ended = true;
        break;
      }
      if (len < line.size()) line.data()[len] = c;
      ++len;
    }
  }
  write_all(fd, "\n");
  if (!ended) throw SealError("no passphrase was given (the terminal input ended)");
  if (len > kMaxPassphrase) throw SealError("the passphrase is longer than 1024 bytes");
  line.resize(len);
  return line;
}

Secret ask_passphrase(bool confirm) {
  Fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.get() < 0) {
    throw SealError("ORVANE_KEY_FILE is not set and there is no terminal to ask for a passphrase");
  }
  Secret first = read_line(tty.get(), "Passphrase: ");
  if (first.size() == 0) throw SealError("an empty passphrase is refused");
  if (confirm) {
    Secret again = read_line(tty.get(), "Passphrase again: ");
    if (again.size() != first.size() || sodium_memcmp(again.data(), first.data(), first.size()))
      throw SealError("the two passphrases differ; nothing was written");
  }
  return first;
}

}  // namespace

Secret read_key_file(const std::string& path) {
  // O_NONBLOCK: a FIFO named as the key file must not hang the run.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    throw SealError("cannot open the key file " + path + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw SealError("the key file " + path + " is not a regular file");
  }
  if (st.st_uid != ::geteuid()) {
    throw SealError("the key file " + path + " is not owned by the user running orvane (uid " +
                    std::to_string(::geteuid()) + ")");
  }
  const mode_t mode = st.st_mode & 07777;
  if (mode != 0600 && mode != 0400) {
    throw SealError("the key file " + path + " has mode " + octal_mode(mode) +
                    "; it must be 0600 or 0400 (chmod 600 " + path + ")");
  }
  if (st.st_size != static_cast<off_t>(kKeyBytes)) {
    throw SealError("the key file " + path + " holds " + std::to_string(st.st_size) +
                    " bytes; it must hold exactly 32 raw bytes (head -c 32 /dev/urandom)");
  }
  Secret key(kKeyBytes);
  size_t got = 0;
  while (got < kKeyBytes) {
    const ssize_t n = ::read(fd.get(), key.data() + got, kKeyBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw SealError("cannot read the key file " + path);
    got += static_cast<size_t>(n);
  }
  return key;
}

KeySource key_source_from_environment() {
  KeySource source;
  const char* path = std::getenv("ORVANE_KEY_FILE");
  if (path != nullptr) {
    if (*path == '\0') throw SealError("ORVANE_KEY_FILE is set but empty");
    source.key = [file = std::string(path)] { return read_key_file(file); };
  }
  source.passphrase = ask_passphrase;
  return source;
}

}  // namespace orvane::sealing
