// The orvane program: the operating-system gate, the command line, then the command's handler.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

#include <orvane/cmdfront.hpp>

#include "dispatch.hpp"

namespace {

// A descriptor 0-2 that is closed at start would be taken by the first file orvane opens (the
// log, a journal), and what is meant for standard output would land there.
void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null < 0) std::abort();
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

// Output that could not be written (a full disk, a closed pipe) is a failure of the command,
// whichever way the program ends: the last buffered bytes are written here and checked.
void close_stdout() {
  std::cout.flush();
  const bool failed = std::cout.fail() || std::fflush(stdout) != 0 || std::ferror(stdout);
  const int err = errno;
  if (failed || std::fclose(stdout) != 0) {
    std::fprintf(stderr, "orvane: write error on standard output: %s\n",
                 std::strerror(failed ? err : errno));
    std::fflush(stderr);
    ::_exit(1);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  open_standard_descriptors();
  // A closed standard output must never end a run before it has put the system back: writes
  // then fail with EPIPE instead, and close_stdout() turns that into exit status 1.
  ::signal(SIGPIPE, SIG_IGN);
  std::atexit(close_stdout);
  try {
    orvane::CmdFront front;
    const orvane::Json options = front.args_help(argc, argv);
    return orvane::dispatch(options);
  } catch (const std::exception& e) {
    std::cerr << "orvane: error: " << e.what() << "\n";
    return orvane::kExitFailed;
  }
}
