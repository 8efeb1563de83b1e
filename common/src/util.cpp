// File and text helpers.
#include <orvane/util.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace orvane {
namespace {

[[noreturn]] void fail(int err, const std::string& what, const std::filesystem::path& p) {
  throw std::system_error(err, std::generic_category(), what + " " + p.string());
}

}  // namespace

std::string read_file(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(errno, "cannot open", path);
  std::string data;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      data.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      int err = errno;
      ::close(fd);
      fail(err, "cannot read", path);
    }
  }
  ::close(fd);
  return data;
}

void create_private_directories(const std::filesystem::path& dir) {
  // Without a trailing slash, which would make lstat() follow a symbolic link.
  std::filesystem::path target = dir.lexically_normal();
  if (!target.has_filename() && target.has_relative_path()) target = target.parent_path();
  std::filesystem::path so_far;
  for (const auto& part : target) {
    if (part.empty()) continue;
    so_far /= part;
    if (::mkdir(so_far.c_str(), 0700) != 0 && errno != EEXIST) {
      throw std::system_error(errno, std::generic_category(),
                              "cannot create the directory " + so_far.string());
    }
  }
}

void check_own_directory(const std::filesystem::path& dir) {
  std::filesystem::path target = dir.lexically_normal();
  if (!target.has_filename() && target.has_relative_path()) target = target.parent_path();
  const std::string shown = dir.string();
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) {
    throw std::runtime_error("cannot inspect the directory " + shown + ": " + std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode)) {
    throw std::runtime_error("the directory " + shown + " is a symbolic link; refused");
  }
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error(shown + " is not a directory");
  if (st.st_uid != ::geteuid()) {
    throw std::runtime_error("the directory " + shown +
                             " belongs to another user; refused (orvane writes only into "
                             "directories of the user running it)");
  }
}

AtomicFile::AtomicFile(std::filesystem::path path, bool sync)
    : path_(std::move(path)), sync_(sync) {}

AtomicFile::~AtomicFile() = default;

void AtomicFile::write(std::string_view data) {
  data_.append(data);
}

void AtomicFile::write_owned(std::string&& data) {
  if (data_.empty()) {
    data_ = std::move(data);
  } else {
    data_.append(data);
  }
}

void AtomicFile::keep_attributes_of(const std::filesystem::path& model) {
  model_ = model;
}

void AtomicFile::commit() {
  if (committed_) return;
  std::string tmpl = path_.string() + ".tmp.XXXXXX";
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) fail(errno, "cannot create a temporary file for", path_);
  auto abandon = [&](int err, const char* what) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    fail(err, what, path_);
  };
  size_t off = 0;
  while (off < data_.size()) {
    ssize_t n = ::write(fd, data_.data() + off, data_.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon(errno, "cannot write");
    }
    off += static_cast<size_t>(n);
  }
  // mkstemp creates the file 0600, which a new file keeps; a file that replaces another takes
  // that one's owner and mode.
  struct stat model {};
  if (!model_.empty() && ::stat(model_.c_str(), &model) == 0) {
    // Owner first: changing it may clear the set-id bits that the mode then puts back.
    if (::fchown(fd, model.st_uid, model.st_gid) != 0 && errno != EPERM) {
      abandon(errno, "cannot set the owner of");
    }
    if (::fchmod(fd, model.st_mode & 07777) != 0) abandon(errno, "cannot set the mode of");
  }
  if (sync_ && ::fsync(fd) != 0) abandon(errno, "cannot write");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    fail(err, "cannot write", path_);
  }
  if (::rename(tmpl.c_str(), path_.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    fail(err, "cannot replace", path_);
  }
  committed_ = true;
}

std::string shell_quote(std::string_view word) {
  auto safe = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == ':' || c == '@' || c == '-';
  };
  bool plain = !word.empty();
  for (char c : word) plain = plain && safe(c);
  if (plain) return std::string(word);
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  q += '\'';
  return q;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

size_t utf8_sequence_length(std::string_view s, size_t i, size_t* ill_formed) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    if (ill_formed) *ill_formed = 1;
    return 0;
  }
  // The bytes that could still begin a well-formed sequence form one ill-formed part together.
  for (size_t k = 1; k < n; ++k) {
    const bool fits =
        i + k < s.size() && (k == 1 ? b(i + k) >= lo && b(i + k) <= hi : (b(i + k) & 0xC0) == 0x80);
    if (!fits) {
      if (ill_formed) *ill_formed = k;
      return 0;
    }
  }
  return n;
}

bool is_valid_utf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8_sequence_length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_with_replacement(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t bad = 0;
    const size_t n = utf8_sequence_length(text, i, &bad);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      i += bad;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace orvane
