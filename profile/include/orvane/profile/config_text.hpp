#pragma once
// Editors of the workloads' configuration files. Each keeps every byte it does not change
// (comments, order, spacing), replaces only a value's own bytes, adds a missing key where the
// format wants it, and refuses a file it cannot parse, naming the line.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::profile {

// A file that does not parse; what() is "line N: what".
struct ConfigParseError : std::runtime_error {
  ConfigParseError(size_t line, const std::string& what);
  size_t line;
};

// Where a value lives: `section` is an ini section or an nginx context (main, events, http);
// `type` is a records.config type, used when the line is added.
struct ConfigKey {
  std::string section;
  std::string name;
  std::string type;
  // ini: sections read as one with `section` (a key in any of them counts).
  std::vector<std::string> groups;
};

class ConfigText {
 public:
  virtual ~ConfigText() = default;

  // The value in force (the last occurrence where the format lets a later one win), or nothing.
  std::optional<std::string> get(const ConfigKey& key) const;
  // Every value of the key, in file order.
  std::vector<std::string> all(const ConfigKey& key) const;
  // Replaces the value in force, or adds the key. The text is parsed again afterwards.
  void set(const ConfigKey& key, const std::string& value);
  const std::string& text() const { return text_; }
  // Whether the file has this section (ini) or block (nginx); always false for flat formats.
  virtual bool has_section(std::string_view name) const;

  // Formats: "ini" (my.cnf, dm.ini, sysctl.d), "systemd" (ini with backslash continuation
  // lines), "properties", "records", "nginx",
  // "limits" (/etc/security/limits.conf lines; the key name is "domain type item").
  static std::unique_ptr<ConfigText> open(std::string_view format, std::string text);

 protected:
  struct Entry {
    std::string section;
    std::string name;
    std::string value;
    size_t value_begin = 0, value_end = 0;  // the bytes of the value
  };
  // Where a new key goes and how its line is written.
  struct Insertion {
    size_t at = 0;
    std::string text;
  };

  explicit ConfigText(std::string text) : text_(std::move(text)) {}
  // Fills entries_ (and the format's own positions) from text_; throws ConfigParseError.
  virtual void parse() = 0;
  virtual bool matches(const Entry& e, const ConfigKey& key) const;
  virtual Insertion insertion(const ConfigKey& key, const std::string& value) const = 0;
  // A value placed in an existing entry; ini turns "key" alone into "key = value".
  virtual std::string replacement(const Entry& e, const std::string& value) const;

  std::string text_;
  std::vector<Entry> entries_;
};

// Start of the line holding `pos`, and the start of the line after it.
size_t line_start(std::string_view text, size_t pos);
size_t next_line(std::string_view text, size_t pos);

}  // namespace orvane::profile
