#pragma once
// The process-wide log: every Logger() writes to the same file, orvane.log under the output
// directory, one line per call with time stamp and level. Messages are recorded unchanged.
#include <memory>
#include <string>

namespace orvane {

class Logger {
 public:
  Logger() = default;
  void debug(const std::string& text) const;
  void info(const std::string& text) const;
  void warning(const std::string& text) const;
  void error(const std::string& text) const;
};

// While alive, the log goes to memory instead of the file; text() returns every line recorded
// since construction as "level|message\n" (levels: debug, info, warning, error).
// For tests; captures nest, the innermost one wins.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string text() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvane
