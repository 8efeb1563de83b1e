// Input and output files of the apply and confuse commands.
#include "files.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <orvane/sealing.hpp>
#include <orvane/util.hpp>

namespace orvane::sealing {
namespace {

constexpr off_t kMaxInput = off_t{64} << 20;

[[noreturn]] void fail(const std::string& what, int err) {
  throw SealError(what + ": " + std::strerror(err));
}

}  // namespace

std::filesystem::path input_path(const std::string& file, const std::string& dir) {
  const std::filesystem::path p(file);
  return (p.is_absolute() ? p : std::filesystem::path(dir) / p).lexically_normal();
}

std::filesystem::path output_path(const std::string& file, const std::string& dir,
                                  std::string_view suffix) {
  std::string base = std::filesystem::path(file).filename().string();
  if (suffix.starts_with('-')) {
    const std::string_view drop = suffix.substr(1);
    if (!std::string_view(base).ends_with(drop) || base.size() == drop.size()) {
      throw SealError("the name " + base + " does not end with " + std::string(drop) +
                      ", so the name of the unpacked file is unknown");
    }
    base.resize(base.size() - drop.size());
  } else {
    base += suffix;
  }
  if (base.empty() || base == "." || base == "..") {
    throw SealError("the name " + file + " has no base name to write an output under");
  }
  return (std::filesystem::path(dir) / base).lexically_normal();
}

std::string read_input(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) fail("cannot read " + file.string(), errno);
  if (!S_ISREG(st.st_mode)) throw SealError(file.string() + " is not a regular file");
  if (st.st_size > kMaxInput) throw SealError(file.string() + " is larger than 64 MiB");
  try {
    return read_file(file);
  } catch (const std::system_error& e) {
    throw SealError(e.what());
  }
}

void check_output_free(const std::filesystem::path& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0) {
    throw SealError(file.string() + " exists; orvane never overwrites a file: move it away first");
  }
  const std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : ".";
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw SealError("the output directory " + dir.string() + " does not exist");
  }
}

void publish_new(const std::filesystem::path& file, std::string_view data) {
  check_output_free(file);
  std::string tmp = file.string() + ".tmp.XXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) fail("cannot write in " + file.parent_path().string(), errno);
  auto abandon = [&](const std::string& what, int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    fail(what, err);
  };
  for (size_t at = 0; at < data.size();) {
    const ssize_t n = ::write(fd, data.data() + at, data.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) abandon("cannot write " + file.string(), n < 0 ? errno : ENOSPC);
    at += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) abandon("cannot write " + file.string(), errno);
  ::close(fd);
  // RENAME_NOREPLACE: a file created meanwhile under that name is kept, not replaced.
  if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) == 0) return;
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // File systems without the flag: a hard link fails on an existing name just as well.
    err = ::link(tmp.c_str(), file.c_str()) == 0 ? 0 : errno;
  }
  ::unlink(tmp.c_str());
  if (err == EEXIST) {
    throw SealError(file.string() + " exists; orvane never overwrites a file: move it away first");
  }
  if (err != 0) fail("cannot write " + file.string(), err);
}

}  // namespace orvane::sealing
