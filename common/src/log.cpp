// The process-wide log on spdlog: created on first use, in the output directory.
#include <orvane/log.hpp>

#include <fcntl.h>
#include <spdlog/details/null_mutex.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/ostream_sink.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <orvane/config.hpp>
#include <orvane/util.hpp>

namespace orvane {
namespace {

// The log file, opened without following a symbolic link planted in its place, private to the
// owner, never inherited by a child. A write that fails (a full disk) gives one warning on
// standard error and the run goes on without its log: losing the log must not stop a run
// that has trial values in place before it can put them back.
class LogFileSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
 public:
  explicit LogFileSink(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      throw std::runtime_error("cannot open the log file " + path + ": " +
                               (errno == ELOOP ? std::string("it is a symbolic link")
                                               : std::string(std::strerror(errno))));
    }
  }
  ~LogFileSink() override {
    if (fd_ >= 0) ::close(fd_);
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t line;
    formatter_->format(msg, line);
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0 && !failed_) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = true;
        std::cerr << "orvane: warning: cannot write the log file " << path_ << ": "
                  << std::strerror(n < 0 ? errno : ENOSPC) << "; the run goes on without it\n";
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  void flush_() override {}

 private:
  std::string path_;
  int fd_ = -1;
  bool failed_ = false;
};

struct LogState {
  std::shared_ptr<spdlog::logger> file;                   // opened on first use
  std::string file_dir;                                   // the output directory it lies in
  std::vector<std::shared_ptr<spdlog::logger>> captures;  // innermost last
};

LogState& state() {
  static LogState s;
  return s;
}

spdlog::logger& current() {
  LogState& s = state();
  if (!s.captures.empty()) return *s.captures.back();
  // The log follows the output directory: a run that sets it after something was logged
  // (the options are known only after parsing) writes the rest of its log there.
  const std::string dir = Config::get_output_path();
  if (!s.file || s.file_dir != dir) {
    s.file.reset();
    create_private_directories(dir);
    check_own_directory(dir);
    auto sink = std::make_shared<LogFileSink>(dir + "orvane.log");
    auto lg = std::make_shared<spdlog::logger>("orvane", std::move(sink));
    lg->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] %v");
    lg->set_level(spdlog::level::debug);
    lg->flush_on(spdlog::level::debug);
    s.file = std::move(lg);
    s.file_dir = dir;
  }
  return *s.file;
}

}  // namespace

// One argument only: the text is written verbatim, braces included.
void Logger::debug(const std::string& text) const {
  current().debug(text);
}
void Logger::info(const std::string& text) const {
  current().info(text);
}
void Logger::warning(const std::string& text) const {
  current().warn(text);
}
void Logger::error(const std::string& text) const {
  current().error(text);
}

struct LogCapture::Impl {
  std::ostringstream stream;
  std::shared_ptr<spdlog::logger> logger;
};

LogCapture::LogCapture() : impl_(std::make_unique<Impl>()) {
  auto sink = std::make_shared<spdlog::sinks::ostream_sink_st>(impl_->stream);
  sink->set_pattern("%l|%v");
  impl_->logger = std::make_shared<spdlog::logger>("capture", std::move(sink));
  impl_->logger->set_level(spdlog::level::debug);
  state().captures.push_back(impl_->logger);
}

LogCapture::~LogCapture() {
  auto& caps = state().captures;
  std::erase(caps, impl_->logger);
}

// spdlog names the warning level "warning" already; nothing to translate.
std::string LogCapture::text() const {
  return impl_->stream.str();
}

}  // namespace orvane
