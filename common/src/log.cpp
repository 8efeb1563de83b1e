// The process-wide log on spdlog: created on first use, in the output directory.
#include <orvane/log.hpp>

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/ostream_sink.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <orvane/config.hpp>

namespace orvane {
namespace {

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
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
      throw std::runtime_error("cannot create the output directory " + dir + ": " + ec.message());
    }
    std::shared_ptr<spdlog::sinks::basic_file_sink_st> sink;
    try {
      sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(dir + "orvane.log", false);
    } catch (const spdlog::spdlog_ex& e) {
      throw std::runtime_error("cannot open the log file " + dir + "orvane.log: " + e.what());
    }
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
