#pragma once
// Regular expressions over text orvane does not control (benchmark output, collected command
// output, values read from the system): PCRE2, JIT-compiled, with the matching work bounded so
// that no subject can exhaust the stack or run for minutes.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// A pattern that does not compile (the message gives the offset), or a match that was given up
// because it needed more work than the limit allows.
class PatternError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Pattern {
 public:
  // Compiles the pattern in byte mode (Perl syntax; any byte sequence is a valid subject).
  // Throws PatternError.
  explicit Pattern(std::string_view source);

  const std::string& source() const { return source_; }
  // The number of capture groups.
  int capture_count() const { return captures_; }

  // The first match in `subject`: element 0 is the whole match, element k group k (nullopt when
  // the group took no part). The views point into `subject`. Throws PatternError when the match
  // limit is reached. Copies of a pattern share its matching resources: use them from one thread.
  std::optional<std::vector<std::optional<std::string_view>>> search(
      std::string_view subject) const;

  // search() on each line of `subject` (without its line end) in turn; the first line that
  // matches. A line that reaches the match limit counts as not matching.
  std::optional<std::vector<std::optional<std::string_view>>> search_lines(
      std::string_view subject) const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
  std::string source_;
  int captures_ = 0;
};

}  // namespace orvane
