// The five file formats: ini, Java properties, records.config, nginx and limits.conf.
#include <orvane/profile/config_text.hpp>

#include <algorithm>
#include <cctype>
#include <limits>

#include <fmt/format.h>

namespace orvane::profile {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// The blank-separated words of text[p, e) as [begin, end) offsets, at most `limit` of them;
// `p` is left just after the last word taken.
using Words = std::vector<std::pair<size_t, size_t>>;
Words words_of(std::string_view text, size_t& p, size_t e,
               size_t limit = std::numeric_limits<size_t>::max()) {
  Words words;
  while (words.size() < limit && p < e) {
    while (p < e && is_blank(text[p])) ++p;
    const size_t f = p;
    while (p < e && !is_blank(text[p])) ++p;
    if (p > f) words.emplace_back(f, p);
  }
  return words;
}

// Line number (1-based) of byte `pos`.
size_t line_of(std::string_view text, size_t pos) {
  return 1 + static_cast<size_t>(
                 std::count(text.begin(), text.begin() + std::min(pos, text.size()), '\n'));
}

// End of the line at `pos`, before its '\n' (and a '\r' before it).
size_t line_end(std::string_view text, size_t pos) {
  size_t e = text.find('\n', pos);
  if (e == std::string_view::npos) e = text.size();
  if (e > pos && text[e - 1] == '\r') --e;
  return e;
}

std::string indent_of(std::string_view text, size_t pos) {
  const size_t b = line_start(text, pos);
  size_t e = b;
  while (e < text.size() && (text[e] == ' ' || text[e] == '\t')) ++e;
  return std::string(text.substr(b, e - b));
}

// A new line at `at`: a line break first when `at` ends a last line without one.
std::string as_line(std::string_view text, size_t at, std::string line) {
  if (at > 0 && at == text.size() && text.back() != '\n') line.insert(0, "\n");
  return line + "\n";
}

// --- ini: [section], key = value, key alone, # and ; comments, !include lines -----------------

class IniText : public ConfigText {
 public:
  // `continued`: a line ending in a backslash goes on in the next (systemd unit files).
  IniText(std::string text, bool continued) : ConfigText(std::move(text)), continued_(continued) {}

 private:
  struct Section {
    std::string name;
    size_t end_of_entries = 0;  // after the header, or after the section's last entry
  };
  struct Layout {
    std::string indent, separator = " = ";
  };

  static std::string normal(std::string_view name) {
    std::string n(name);
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
  }

  static bool key_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
           c == '/' || c == '*' || c == '@' || c == ':';
  }

  void parse() override {
    entries_.clear();
    sections_.clear();
    layouts_.clear();
    global_end_ = 0;
    const std::string_view t = text_;
    std::string section;
    for (size_t b = 0; b < t.size(); b = next_line(t, b)) {
      size_t e = line_end(t, b);
      const std::string_view raw = t.substr(b, e - b);
      const std::string_view line = trim(raw);
      if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '!')
        continue;
      if (continued_) {
        while (e > b && t[e - 1] == '\\' && next_line(t, e) < t.size()) {
          e = line_end(t, next_line(t, e));
        }
      }
      if (line.front() == '[') {
        const size_t close = line.find(']');
        if (close == std::string_view::npos) {
          throw ConfigParseError(line_of(t, b), "a section header without ']'");
        }
        const std::string_view after = trim(line.substr(close + 1));
        if (!after.empty() && after.front() != '#' && after.front() != ';') {
          throw ConfigParseError(line_of(t, b), "text after a section header");
        }
        section = std::string(trim(line.substr(1, close - 1)));
        sections_.push_back({section, next_line(t, b)});
        continue;
      }
      const size_t key_begin = b + static_cast<size_t>(line.data() - raw.data());
      size_t k = key_begin;
      while (k < e && key_char(t[k])) ++k;
      const std::string name(t.substr(key_begin, k - key_begin));
      size_t p = k;
      while (p < e && is_blank(t[p])) ++p;
      Entry entry{section, name, "", 0, 0};
      Layout layout{indent_of(t, b), " = "};
      if (name.empty() || (p < e && t[p] != '=' && t[p] != '#' && t[p] != ';')) {
        throw ConfigParseError(
            line_of(t, b), fmt::format("cannot read '{}'", trim(t.substr(b, line_end(t, b) - b))));
      }
      if (p < e && t[p] == '=') {
        layout.separator = std::string(t.substr(k, p + 1 - k));
        size_t v = p + 1;
        const size_t sep_end = v;
        while (v < e && is_blank(t[v])) ++v;
        layout.separator += std::string(t.substr(sep_end, v - sep_end));
        size_t ve = v;
        if (v < e && (t[v] == '"' || t[v] == '\'')) {
          const size_t q = t.find(t[v], v + 1);
          ve = (q != std::string_view::npos && q < e) ? q + 1 : e;
        }
        // An inline comment starts with # after a blank.
        size_t c = ve;
        while (c < e && !(t[c] == '#' && c > v && is_blank(t[c - 1]))) ++c;
        ve = c;
        while (ve > v && is_blank(t[ve - 1])) --ve;
        entry.value_begin = v;
        entry.value_end = ve;
        entry.value = std::string(t.substr(v, ve - v));
      } else {
        entry.value_begin = entry.value_end = k;  // a key alone: "= value" goes right after it
      }
      if (layout.separator.empty() || layout.separator.find('=') == std::string::npos)
        layout.separator = " = ";
      entries_.push_back(entry);
      layouts_.push_back(layout);
      if (sections_.empty()) {
        global_end_ = next_line(t, e);
      } else {
        sections_.back().end_of_entries = next_line(t, e);
      }
      b = line_start(t, e);
    }
  }

  bool has_section(std::string_view name) const override {
    return std::any_of(sections_.begin(), sections_.end(),
                       [&](const Section& s) { return s.name == name; });
  }

  bool matches(const Entry& e, const ConfigKey& key) const override {
    if (normal(e.name) != normal(key.name)) return false;
    if (key.section.empty()) return true;
    return e.section == key.section ||
           std::find(key.groups.begin(), key.groups.end(), e.section) != key.groups.end();
  }

  std::string replacement(const Entry& e, const std::string& value) const override {
    if (e.value_begin == e.value_end && e.value.empty()) {
      // A key alone ("skip-name-resolve") or "key =" with nothing after it.
      const size_t after = e.value_end;
      if (after >= text_.size() || text_[after] != '=') return " = " + value;
    }
    return value;
  }

  Insertion insertion(const ConfigKey& key, const std::string& value) const override {
    // Copy the look of the last entry of the section it goes into.
    auto line_like = [&](size_t entry_index) {
      const Layout& l = layouts_[entry_index];
      return l.indent + key.name + l.separator + value;
    };
    std::optional<size_t> last_entry;
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (key.section.empty() || entries_[i].section == key.section) last_entry = i;
    }
    if (key.section.empty()) {
      const size_t at = sections_.empty() ? text_.size() : global_end_;
      const std::string line = last_entry ? line_like(*last_entry) : key.name + " = " + value;
      return {at, as_line(text_, at, line)};
    }
    for (auto s = sections_.rbegin(); s != sections_.rend(); ++s) {
      if (s->name != key.section) continue;
      const size_t at = s->end_of_entries;
      const std::string line = last_entry ? line_like(*last_entry) : key.name + " = " + value;
      return {at, as_line(text_, at, line)};
    }
    std::string block = fmt::format("[{}]\n{} = {}\n", key.section, key.name, value);
    if (!text_.empty()) block.insert(0, text_.back() == '\n' ? "\n" : "\n\n");
    return {text_.size(), block};
  }

  bool continued_ = false;
  std::vector<Section> sections_;
  std::vector<Layout> layouts_;
  size_t global_end_ = 0;
};

// --- Java properties: key=value, key: value, key value, continuation lines ------------------

class PropertiesText : public ConfigText {
 public:
  explicit PropertiesText(std::string text) : ConfigText(std::move(text)) {}

 private:
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\f'; }

  void parse() override {
    entries_.clear();
    last_end_ = 0;
    const std::string_view t = text_;
    for (size_t b = 0; b < t.size();) {
      size_t p = b;
      while (p < t.size() && blank(t[p])) ++p;
      size_t e = line_end(t, p);
      if (p >= e || t[p] == '#' || t[p] == '!') {
        b = next_line(t, b);
        continue;
      }
      std::string key;
      for (; p < e && !blank(t[p]) && t[p] != '=' && t[p] != ':'; ++p) {
        if (t[p] == '\\' && p + 1 < e) {
          if (t[p + 1] == 'u') check_unicode(t, p, b);
          key += t[++p];
        } else {
          key += t[p];
        }
      }
      while (p < e && blank(t[p])) ++p;
      if (p < e && (t[p] == '=' || t[p] == ':')) ++p;
      while (p < e && blank(t[p])) ++p;
      const size_t value_begin = p;
      // A line ending in an odd number of backslashes continues on the next.
      while (true) {
        for (size_t q = p; q < e; ++q) {
          if (t[q] == '\\' && q + 1 < e && t[q + 1] == 'u') check_unicode(t, q, b);
          if (t[q] == '\\') ++q;
        }
        size_t slashes = 0;
        while (slashes < e - value_begin && t[e - 1 - slashes] == '\\') ++slashes;
        if (slashes % 2 == 0) break;
        const size_t n = next_line(t, e);
        if (n >= t.size()) {
          throw ConfigParseError(line_of(t, e), "the last line ends with '\\' but nothing follows");
        }
        p = n;
        e = line_end(t, n);
      }
      entries_.push_back(
          {"", key, std::string(t.substr(value_begin, e - value_begin)), value_begin, e});
      last_end_ = next_line(t, e);
      b = last_end_;
    }
  }

  static void check_unicode(std::string_view t, size_t at, size_t) {
    const std::string_view hex = t.substr(at + 2, 4);
    if (hex.size() != 4 || !std::all_of(hex.begin(), hex.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c));
        })) {
      throw ConfigParseError(line_of(t, at), "malformed \\uxxxx escape");
    }
  }

  Insertion insertion(const ConfigKey& key, const std::string& value) const override {
    const size_t at = entries_.empty() ? text_.size() : last_end_;
    return {at, as_line(text_, at, key.name + "=" + value)};
  }

  size_t last_end_ = 0;
};

// Calls f(begin, end, line) for every line of `t` that is neither blank nor a '#' comment: [begin,
// end) is the line without its line break, `line` the same trimmed.
template <class F>
void for_each_setting_line(std::string_view t, F&& f) {
  for (size_t b = 0; b < t.size(); b = next_line(t, b)) {
    const size_t e = line_end(t, b);
    const std::string_view line = trim(t.substr(b, e - b));
    if (!line.empty() && line.front() != '#') f(b, e, line);
  }
}

// --- records.config: CONFIG name TYPE value ------------------------------------------------

class RecordsText : public ConfigText {
 public:
  explicit RecordsText(std::string text) : ConfigText(std::move(text)) {}

 private:
  void parse() override {
    entries_.clear();
    const std::string_view t = text_;
    for_each_setting_line(t, [&](size_t b, size_t e, std::string_view line) {
      // Fields: scope, name, type, then the value as the rest of the line.
      size_t p = static_cast<size_t>(line.data() - t.data());
      const Words fields = words_of(t, p, e, 3);
      while (p < e && is_blank(t[p])) ++p;
      auto field = [&](size_t i) {
        return t.substr(fields[i].first, fields[i].second - fields[i].first);
      };
      const size_t ve = static_cast<size_t>(line.data() - t.data()) + line.size();
      static const char* const kTypes[] = {"INT", "FLOAT", "STRING", "COUNTER"};
      if (fields.size() < 3 || (field(0) != "CONFIG" && field(0) != "LOCAL") ||
          std::find(std::begin(kTypes), std::end(kTypes), field(2)) == std::end(kTypes) ||
          (p >= ve && field(2) != "STRING")) {
        throw ConfigParseError(line_of(t, b),
                               fmt::format("expected 'CONFIG name TYPE value', found '{}'", line));
      }
      entries_.push_back(
          {"", std::string(field(1)), std::string(t.substr(p, ve - p)), p, std::max(p, ve)});
    });
  }

  Insertion insertion(const ConfigKey& key, const std::string& value) const override {
    const std::string type = key.type.empty() ? "INT" : key.type;
    return {text_.size(),
            as_line(text_, text_.size(), fmt::format("CONFIG {} {} {}", key.name, type, value))};
  }
};

// --- nginx: directives in the main, events and http contexts ----------------------------------

class NginxText : public ConfigText {
 public:
  explicit NginxText(std::string text) : ConfigText(std::move(text)) {}

 private:
  struct Block {
    size_t open = 0;                 // after '{'
    std::optional<size_t> last_end;  // after the line of its last directive
    std::string child_indent;
    bool seen = false;
  };

  void parse() override {
    entries_.clear();
    main_ = events_ = http_ = Block{};
    const std::string_view t = text_;
    std::vector<std::pair<std::string, size_t>> stack;  // block name, line of '{'
    std::vector<std::pair<size_t, size_t>> words;
    auto context = [&]() -> std::string {
      if (stack.empty()) return "main";
      if (stack.size() == 1 && (stack[0].first == "events" || stack[0].first == "http"))
        return stack[0].first;
      return "";
    };
    auto block_of = [&](const std::string& c) -> Block* {
      return c == "main" ? &main_ : c == "events" ? &events_ : c == "http" ? &http_ : nullptr;
    };
    size_t p = 0;
    while (p < t.size()) {
      const char c = t[p];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++p;
      } else if (c == '#' && words.empty()) {
        p = next_line(t, p);
      } else if (c == '#') {
        p = next_line(t, p);
      } else if (c == '{') {
        if (words.empty()) throw ConfigParseError(line_of(t, p), "'{' without a block name");
        const std::string name(t.substr(words[0].first, words[0].second - words[0].first));
        stack.emplace_back(name, line_of(t, p));
        if (Block* b = block_of(context()); b != nullptr && b != &main_) {
          b->open = next_line(t, p);
          b->seen = true;
          b->child_indent = indent_of(t, words[0].first) + "\t";
        }
        words.clear();
        ++p;
      } else if (c == '}') {
        if (!words.empty())
          throw ConfigParseError(line_of(t, p), "a directive without ';' before '}'");
        if (stack.empty()) throw ConfigParseError(line_of(t, p), "'}' without '{'");
        stack.pop_back();
        ++p;
      } else if (c == ';') {
        if (words.empty()) throw ConfigParseError(line_of(t, p), "';' without a directive");
        const std::string ctx = context();
        if (!ctx.empty()) {
          const size_t vb = words.size() > 1 ? words[1].first : words[0].second;
          const size_t ve = words.back().second;
          entries_.push_back(
              {ctx, std::string(t.substr(words[0].first, words[0].second - words[0].first)),
               std::string(t.substr(vb, ve - vb)), vb, ve});
          Block* b = block_of(ctx);
          b->last_end = next_line(t, p);
          b->child_indent = indent_of(t, words[0].first);
        }
        words.clear();
        ++p;
      } else if (c == '"' || c == '\'') {
        size_t q = p + 1;
        while (q < t.size() && t[q] != c) q += t[q] == '\\' ? 2 : 1;
        if (q >= t.size()) throw ConfigParseError(line_of(t, p), "a quoted text is not closed");
        words.emplace_back(p, q + 1);
        p = q + 1;
      } else {
        const size_t b = p;
        while (p < t.size() && !std::isspace(static_cast<unsigned char>(t[p])) && t[p] != ';' &&
               t[p] != '{' && t[p] != '}') {
          if (t[p] == '$' && p + 1 < t.size() && t[p + 1] == '{') {
            const size_t close = t.find('}', p);
            p = close == std::string_view::npos ? t.size() : close + 1;
          } else {
            ++p;
          }
        }
        words.emplace_back(b, p);
      }
    }
    if (!stack.empty()) {
      throw ConfigParseError(stack.back().second,
                             fmt::format("the block '{}' is not closed", stack.back().first));
    }
    if (!words.empty())
      throw ConfigParseError(line_of(t, words.back().first), "a directive without ';'");
  }

  bool has_section(std::string_view name) const override {
    return name == "main" || (name == "events" && events_.seen) || (name == "http" && http_.seen);
  }

  Insertion insertion(const ConfigKey& key, const std::string& value) const override {
    const Block& b = key.section == "main" ? main_ : key.section == "events" ? events_ : http_;
    if (key.section != "main" && !b.seen) {
      throw std::runtime_error(
          fmt::format("the file has no {} {{ }} block for {}", key.section, key.name));
    }
    const size_t at = b.last_end ? *b.last_end : (key.section == "main" ? 0 : b.open);
    const std::string indent = key.section == "main" ? "" : b.child_indent;
    return {at, as_line(text_, at, fmt::format("{}{} {};", indent, key.name, value))};
  }

  Block main_, events_, http_;
};

// --- limits.conf: domain type item value ------------------------------------------------------

class LimitsText : public ConfigText {
 public:
  explicit LimitsText(std::string text) : ConfigText(std::move(text)) {}

 private:
  void parse() override {
    entries_.clear();
    const std::string_view t = text_;
    for_each_setting_line(t, [&](size_t b, size_t e, std::string_view line) {
      size_t p = b;
      const Words fields = words_of(t, p, e);
      if (fields.size() != 4) {
        throw ConfigParseError(line_of(t, b),
                               fmt::format("expected 'domain type item value', found '{}'", line));
      }
      auto field = [&](size_t i) {
        return std::string(t.substr(fields[i].first, fields[i].second - fields[i].first));
      };
      entries_.push_back({"", field(0) + " " + field(1) + " " + field(2), field(3), fields[3].first,
                          fields[3].second});
    });
  }

  Insertion insertion(const ConfigKey& key, const std::string& value) const override {
    std::string line = key.name;
    std::replace(line.begin(), line.end(), ' ', '\t');
    return {text_.size(), as_line(text_, text_.size(), line + "\t" + value)};
  }
};

}  // namespace

ConfigParseError::ConfigParseError(size_t line_number, const std::string& what)
    : std::runtime_error(fmt::format("line {}: {}", line_number, what)), line(line_number) {}

size_t line_start(std::string_view text, size_t pos) {
  const size_t nl = text.rfind('\n', pos == 0 ? 0 : pos - 1);
  return (nl == std::string_view::npos || pos == 0) ? 0 : nl + 1;
}

size_t next_line(std::string_view text, size_t pos) {
  const size_t nl = text.find('\n', pos);
  return nl == std::string_view::npos ? text.size() : nl + 1;
}

bool ConfigText::matches(const Entry& e, const ConfigKey& key) const {
  return e.name == key.name && (key.section.empty() || e.section == key.section);
}

bool ConfigText::has_section(std::string_view) const {
  return false;
}

std::string ConfigText::replacement(const Entry&, const std::string& value) const {
  return value;
}

std::optional<std::string> ConfigText::get(const ConfigKey& key) const {
  for (auto e = entries_.rbegin(); e != entries_.rend(); ++e) {
    if (matches(*e, key)) return e->value;
  }
  return std::nullopt;
}

std::vector<std::string> ConfigText::all(const ConfigKey& key) const {
  std::vector<std::string> values;
  for (const Entry& e : entries_) {
    if (matches(e, key)) values.push_back(e.value);
  }
  return values;
}

void ConfigText::set(const ConfigKey& key, const std::string& value) {
  for (auto e = entries_.rbegin(); e != entries_.rend(); ++e) {
    if (!matches(*e, key)) continue;
    text_.replace(e->value_begin, e->value_end - e->value_begin, replacement(*e, value));
    parse();
    return;
  }
  const Insertion ins = insertion(key, value);
  text_.insert(ins.at, ins.text);
  parse();
}

std::unique_ptr<ConfigText> ConfigText::open(std::string_view format, std::string text) {
  std::unique_ptr<ConfigText> c;
  if (format == "ini") c = std::make_unique<IniText>(std::move(text), false);
  if (format == "systemd") c = std::make_unique<IniText>(std::move(text), true);
  if (format == "properties") c = std::make_unique<PropertiesText>(std::move(text));
  if (format == "records") c = std::make_unique<RecordsText>(std::move(text));
  if (format == "nginx") c = std::make_unique<NginxText>(std::move(text));
  if (format == "limits") c = std::make_unique<LimitsText>(std::move(text));
  if (!c) throw std::invalid_argument("unknown configuration format " + std::string(format));
  c->parse();
  return c;
}

}  // namespace orvane::profile
