// The project file reader: yaml-cpp, a strict key check per map, and the records handed to the
// scene scripts, the benchmark runner and the optimiser.
#include <orvane/readcfg.hpp>

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <orvane/decorator_wrap.hpp>
#include <orvane/pattern.hpp>
#include <orvane/util.hpp>

namespace orvane {
namespace {

struct Loaded {
  Json all;
  Json get_scripts;
  Json set_scripts;
  Json workload;
  Json optimizer;
  Json benchmark;
  std::string project;
  double script_timeout = 300;
};

// Limits of a project file: what a person writes is far smaller, and the numbers stay far from
// where arithmetic on them could overflow or a run could not be stopped.
constexpr long long kMaxFileBytes = 1 << 20;
constexpr size_t kMaxProjectName = 64;
constexpr size_t kMaxUnit = 32;
constexpr long long kMaxIterations = 1000;
constexpr long long kMaxConfirmRounds = 1000;
// The pairs an undecided confirmation may add are not limited by the iterations; each is two
// more benchmark runs, and past this many a change is too small to be worth them.
constexpr long long kMaxConfirmMaxRounds = 50;
constexpr long long kMaxRepeat = 1000;
constexpr double kMaxSeconds = 86400;

// The project file's text; only a regular file of at most kMaxFileBytes is read (a FIFO or a
// device would block or never end).
std::string read_project_file(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    throw CfgError("cannot read the project file " + file + ": " +
                   std::error_code(errno, std::generic_category()).message());
  }
  struct stat st {};
  const bool stat_ok = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!stat_ok || !S_ISREG(st.st_mode)) {
    throw CfgError("the project file " + file + " is not a regular file");
  }
  if (st.st_size > kMaxFileBytes) {
    throw CfgError("the project file " + file + " is larger than 1 MiB");
  }
  std::string text;
  try {
    text = read_file(file);
  } catch (const std::system_error& e) {
    throw CfgError("cannot read the project file " + file + ": " + e.code().message());
  }
  if (static_cast<long long>(text.size()) > kMaxFileBytes) {
    throw CfgError("the project file " + file + " is larger than 1 MiB");
  }
  return text;
}

// The configuration of the process, shared by every Cfg().
struct CfgState {
  std::optional<Loaded> loaded;
};

const Loaded& loaded() {
  const auto& state = DecoratorWrap::singleton<CfgState>();
  if (!state.loaded) throw std::logic_error("the tuning configuration has not been loaded");
  return *state.loaded;
}

bool all_of_chars(std::string_view s, std::string_view extra) {
  for (char c : s) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    extra.find(c) != std::string_view::npos;
    if (!ok) return false;
  }
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// One key and its value in a checked map.
struct Entry {
  YAML::Node key;
  YAML::Node value;
};

// Reads one project file; every refusal names the file, the line and the key.
class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  Loaded read() {
    const std::string text = read_project_file(file_);
    YAML::Node root;
    try {
      root = YAML::Load(text);
    } catch (const YAML::ParserException& e) {
      throw CfgError(file_ + ":" + std::to_string(e.mark.line + 1) + ": not valid YAML: " + e.msg);
    }
    if (!root.IsDefined() || root.IsNull()) throw CfgError(file_ + ": the project file is empty");
    if (!root.IsMap()) fail(root, "", "the project file must be a map of keys");

    auto top = check_map(
        root, "", {"project", "workload", "benchmark", "optimizer", "params", "script_timeout"});
    Loaded out;
    out.project = text_of(require(top, root, "", "project"), "project");
    if (out.project.size() > kMaxProjectName) {
      fail(top["project"].value, "project",
           "the name is longer than " + std::to_string(kMaxProjectName) + " characters");
    }
    if (!all_of_chars(out.project, "_.-")) {
      fail(top["project"].value, "project",
           "'" + out.project +
               "' may hold only letters, digits and _ . - (it names the backup file)");
    }
    if (const YAML::Node* t = optional(top, "script_timeout")) {
      out.script_timeout = seconds_of(*t, "script_timeout");
    }
    read_workload(top, out);
    read_benchmark(top, root, out);
    read_optimizer(top, out);
    read_params(top, root, out);

    out.all = Json::object();
    out.all["project"] = out.project;
    out.all["workload"] = out.workload;
    out.all["benchmark"] = out.benchmark;
    Json optimizer = out.optimizer;
    optimizer.erase("params");
    optimizer.erase("direction");
    optimizer.erase("repeat");
    out.all["optimizer"] = optimizer;
    out.all["params"] = params_all_;
    return out;
  }

 private:
  [[noreturn]] void fail(const YAML::Node& at, const std::string& key,
                         const std::string& message) const {
    std::string where = file_;
    const YAML::Mark mark = at.Mark();
    if (mark.line >= 0) where += ":" + std::to_string(mark.line + 1);
    throw CfgError(where + ": " + (key.empty() ? "" : key + ": ") + message);
  }

  static std::string join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  // The entries of a map, refusing keys outside `known` and keys given twice.
  std::map<std::string, Entry> check_map(const YAML::Node& node, const std::string& path,
                                         std::initializer_list<std::string_view> known) const {
    if (!node.IsMap()) fail(node, path, "expected a map of keys");
    std::map<std::string, Entry> entries;
    for (auto it = node.begin(); it != node.end(); ++it) {
      if (!it->first.IsScalar()) fail(it->first, path, "a key must be a plain word");
      const std::string key = it->first.Scalar();
      bool is_known = false;
      for (auto k : known) is_known = is_known || k == key;
      std::string allowed;
      for (auto k : known) allowed += (allowed.empty() ? "" : ", ") + std::string(k);
      if (!is_known)
        fail(it->first, join(path, key), "unknown key (expected one of " + allowed + ")");
      if (entries.count(key)) fail(it->first, join(path, key), "given twice");
      entries[key] = {it->first, it->second};
    }
    return entries;
  }

  const YAML::Node& require(std::map<std::string, Entry>& entries, const YAML::Node& map,
                            const std::string& path, const std::string& key) const {
    auto it = entries.find(key);
    if (it == entries.end()) {
      fail(map, path.empty() ? key : path, path.empty() ? "missing" : "missing key '" + key + "'");
    }
    return it->second.value;
  }

  static const YAML::Node* optional(std::map<std::string, Entry>& entries, const std::string& key) {
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : &it->second.value;
  }

  std::string text_of(const YAML::Node& node, const std::string& key,
                      bool allow_empty = false) const {
    if (node.IsNull()) fail(node, key, "has no value");
    if (!node.IsScalar()) fail(node, key, "expected a text");
    const std::string s = node.Scalar();
    if (s.empty() && !allow_empty) fail(node, key, "is empty");
    return s;
  }

  double number_of(const YAML::Node& node, const std::string& key) const {
    const std::string s = text_of(node, key);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !std::isfinite(v)) {
      fail(node, key, "'" + s + "' is not a number");
    }
    return v;
  }

  // A time limit: more than 0 and at most one day.
  double seconds_of(const YAML::Node& node, const std::string& key) const {
    const double seconds = number_of(node, key);
    if (!(seconds > 0)) fail(node, key, "must be more than 0 seconds");
    if (seconds > kMaxSeconds) fail(node, key, "must be at most 86400 seconds (one day)");
    return seconds;
  }

  long long integer_of(const YAML::Node& node, const std::string& key, long long min,
                       long long max = std::numeric_limits<long long>::max()) const {
    const std::string s = text_of(node, key);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (end == s.c_str() || *end != '\0' || errno == ERANGE) {
      fail(node, key, "'" + s + "' is not a whole number");
    }
    if (v < min) fail(node, key, "must be at least " + std::to_string(min));
    if (v > max) fail(node, key, "must be at most " + std::to_string(max));
    return v;
  }

  void read_workload(std::map<std::string, Entry>& top, Loaded& out) {
    out.workload = {{"stop", ""}, {"start", ""}};
    const YAML::Node* node = optional(top, "workload");
    if (!node) return;
    auto entries = check_map(*node, "workload", {"start", "stop"});
    for (const char* k : {"stop", "start"}) {
      if (const YAML::Node* v = optional(entries, k)) {
        out.workload[k] = text_of(*v, join("workload", k));
      }
    }
    has_workload_ = !out.workload["stop"].get<std::string>().empty() &&
                    !out.workload["start"].get<std::string>().empty();
  }

  void read_benchmark(std::map<std::string, Entry>& top, const YAML::Node& root, Loaded& out) {
    const YAML::Node& node = require(top, root, "", "benchmark");
    auto entries = check_map(node, "benchmark",
                             {"command", "metric", "unit", "direction", "repeat", "timeout"});
    Json b = Json::object();
    b["command"] = text_of(require(entries, node, "benchmark", "command"), "benchmark.command");
    const YAML::Node& metric_node = require(entries, node, "benchmark", "metric");
    const std::string metric = text_of(metric_node, "benchmark.metric");
    int groups = 0;
    try {
      groups = Pattern(metric).capture_count();
    } catch (const PatternError& e) {
      fail(metric_node, "benchmark.metric",
           "the pattern does not compile: " + std::string(e.what()));
    }
    if (groups == 0) {
      fail(metric_node, "benchmark.metric",
           "the pattern has no capture group: put the figure in parentheses, e.g. "
           "'Requests/sec:\\s+([0-9.]+)'");
    }
    b["metric"] = metric;
    // The figure's unit, for the labels of the tuning page only.
    if (const YAML::Node* u = optional(entries, "unit")) {
      const std::string unit = text_of(*u, "benchmark.unit");
      if (unit.size() > kMaxUnit) {
        fail(*u, "benchmark.unit", "is longer than " + std::to_string(kMaxUnit) + " characters");
      }
      for (const char c : unit) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
          fail(*u, "benchmark.unit", "holds a control character");
      }
      b["unit"] = unit;
    }
    direction_ = "maximize";
    if (const YAML::Node* d = optional(entries, "direction")) {
      direction_ = text_of(*d, "benchmark.direction");
      if (direction_ != "maximize" && direction_ != "minimize") {
        fail(*d, "benchmark.direction", "'" + direction_ + "' is neither maximize nor minimize");
      }
    }
    b["direction"] = direction_;
    repeat_ = 1;
    if (const YAML::Node* r = optional(entries, "repeat")) {
      repeat_ = integer_of(*r, "benchmark.repeat", 1, kMaxRepeat);
    }
    b["repeat"] = repeat_;
    b["timeout"] = nullptr;
    if (const YAML::Node* t = optional(entries, "timeout")) {
      b["timeout"] = seconds_of(*t, "benchmark.timeout");
    }
    out.benchmark = std::move(b);
  }

  void read_optimizer(std::map<std::string, Entry>& top, Loaded& out) {
    // initial_points stays out unless the file gives it: its default is the optimiser's, from
    // the evaluations the confirmation leaves to the search.
    Json o = {{"method", "bayes"}, {"iterations", 30},    {"initial_points", nullptr},
              {"seed", 42},        {"confirm_rounds", 3}, {"confirm_max_rounds", 8}};
    if (const YAML::Node* node = optional(top, "optimizer")) {
      auto entries = check_map(*node, "optimizer",
                               {"method", "iterations", "initial_points", "seed", "confirm_rounds",
                                "confirm_max_rounds"});
      if (const YAML::Node* m = optional(entries, "method")) {
        const std::string method = text_of(*m, "optimizer.method");
        if (method != "bayes" && method != "random")
          fail(*m, "optimizer.method", "'" + method + "' is not bayes or random");
        o["method"] = method;
      }
      if (const YAML::Node* v = optional(entries, "iterations")) {
        o["iterations"] = integer_of(*v, "optimizer.iterations", 1, kMaxIterations);
      }
      if (const YAML::Node* v = optional(entries, "initial_points")) {
        o["initial_points"] = integer_of(*v, "optimizer.initial_points", 1, kMaxIterations);
      }
      if (const YAML::Node* v = optional(entries, "seed")) {
        o["seed"] = integer_of(*v, "optimizer.seed", 0);
      }
      if (const YAML::Node* v = optional(entries, "confirm_rounds")) {
        o["confirm_rounds"] = integer_of(*v, "optimizer.confirm_rounds", 1, kMaxConfirmRounds);
      }
      if (const YAML::Node* v = optional(entries, "confirm_max_rounds")) {
        const long long most =
            integer_of(*v, "optimizer.confirm_max_rounds", 1, kMaxConfirmMaxRounds);
        if (most < o["confirm_rounds"].get<long long>()) {
          fail(*v, "optimizer.confirm_max_rounds",
               "must be at least confirm_rounds (" + o["confirm_rounds"].dump() +
                   "): it counts the confirmation's pairs in all, the extra ones included");
        }
        o["confirm_max_rounds"] = most;
      }
      // The confirmation measures the chosen and the original configuration once per round,
      // out of the same budget; the search needs at least one evaluation of its own.
      const long long iterations = o["iterations"].get<long long>();
      const long long rounds = o["confirm_rounds"].get<long long>();
      if (const YAML::Node* v = optional(entries, "initial_points");
          v && o["initial_points"].get<long long>() > iterations) {
        fail(*v, "optimizer.initial_points",
             "must be at most the iterations (" + std::to_string(iterations) + ")");
      }
      if (iterations <= 2 * rounds) {
        const YAML::Node* at = optional(entries, "iterations");
        fail(at ? *at : *node, "optimizer.iterations",
             std::to_string(iterations) +
                 " leaves no evaluation for the search: the confirmation " +
                 "takes 2 x confirm_rounds = " + std::to_string(2 * rounds) +
                 " of them (give more iterations or fewer confirm_rounds)");
      }
    }
    if (o["initial_points"].is_null()) o.erase("initial_points");
    o["direction"] = direction_;
    o["repeat"] = repeat_;
    out.optimizer = std::move(o);
  }

  void read_params(std::map<std::string, Entry>& top, const YAML::Node& root, Loaded& out) {
    const YAML::Node& list = require(top, root, "", "params");
    if (!list.IsSequence()) fail(list, "params", "expected a list of parameters");
    if (list.size() == 0) fail(list, "params", "no parameter is given");
    out.get_scripts = Json::object();
    out.set_scripts = Json::object();
    params_all_ = Json::array();
    Json specs = Json::array();
    std::set<std::string> names_seen;
    for (size_t i = 0; i < list.size(); ++i) {
      const YAML::Node& node = list[i];
      const std::string path = "params[" + std::to_string(i) + "]";
      auto e = check_map(node, path,
                         {"name", "type", "range", "step", "options", "get", "set", "needrestart"});
      const YAML::Node& name_node = require(e, node, path, "name");
      const std::string name = text_of(name_node, path + ".name");
      if (!all_of_chars(name, "_.-/")) {
        fail(name_node, path + ".name", "'" + name + "' may hold only letters, digits and _ . - /");
      }
      if (!names_seen.insert(lower(name)).second) {
        fail(name_node, path + ".name",
             "'" + name + "' is given twice (names are compared ignoring case)");
      }
      const YAML::Node& type_node = require(e, node, path, "type");
      const std::string type = text_of(type_node, path + ".type");
      if (type != "int" && type != "float" && type != "enum") {
        fail(type_node, path + ".type", "'" + type + "' is not int, float or enum");
      }
      Json entry = {{"name", name}, {"type", type}};
      if (type == "enum") {
        for (const char* k : {"range", "step"}) {
          if (e.count(k))
            fail(e[k].key, path + "." + k, "applies to int and float parameters only");
        }
        entry["options"] = read_options(require(e, node, path, "options"), path + ".options");
      } else {
        if (e.count("options")) {
          fail(e["options"].key, path + ".options", "applies to enum parameters only");
        }
        read_range(require(e, node, path, "range"), optional(e, "step"), path, type == "int",
                   entry);
      }
      const std::string get = text_of(require(e, node, path, "get"), path + ".get");
      const std::string set = text_of(require(e, node, path, "set"), path + ".set");
      std::string needrestart = "false";
      if (const YAML::Node* r = optional(e, "needrestart")) {
        needrestart = text_of(*r, path + ".needrestart", true);
        if (needrestart == "true" && !has_workload_) {
          fail(*r, path + ".needrestart",
               "the parameter needs a restart, but the project has no workload with both "
               "start and stop commands");
        }
      }
      out.get_scripts[name] = {{"get", get}};
      out.set_scripts[name] = {{"set", set}, {"needrestart", needrestart}};
      specs.push_back(entry);
      Json all = entry;
      all["get"] = get;
      all["set"] = set;
      all["needrestart"] = needrestart;
      params_all_.push_back(std::move(all));
    }
    out.optimizer["params"] = std::move(specs);
  }

  // Enum options are put into set scripts unquoted, so they are kept to characters that mean
  // nothing to the shell.
  Json read_options(const YAML::Node& node, const std::string& key) const {
    if (!node.IsSequence()) fail(node, key, "expected a list of texts");
    if (node.size() == 0) fail(node, key, "an enum parameter needs at least one option");
    Json options = Json::array();
    std::set<std::string> seen;
    for (size_t k = 0; k < node.size(); ++k) {
      const std::string item_key = key + "[" + std::to_string(k) + "]";
      const std::string option = text_of(node[k], item_key);
      if (!all_of_chars(option, " _.,:=+-/@%")) {
        fail(node[k], item_key,
             "'" + option +
                 "' holds characters that are not safe in a shell command (allowed: letters, "
                 "digits, blank and _ . , : = + - / @ %)");
      }
      if (!seen.insert(option).second) fail(node[k], item_key, "'" + option + "' is given twice");
      options.push_back(option);
    }
    return options;
  }

  void read_range(const YAML::Node& range, const YAML::Node* step, const std::string& path,
                  bool integer, Json& entry) const {
    const std::string key = path + ".range";
    if (!range.IsSequence() || range.size() != 2) fail(range, key, "expected [min, max]");
    const double lo = number_of(range[0], key + "[0]");
    const double hi = number_of(range[1], key + "[1]");
    constexpr double kExact = 9007199254740992.0;  // 2^53: larger integers are not exact
    if (integer) {
      for (int k = 0; k < 2; ++k) {
        const double v = k == 0 ? lo : hi;
        if (v != std::floor(v) || std::fabs(v) > kExact) {
          fail(range[k], key + "[" + std::to_string(k) + "]",
               "an int parameter needs whole-number bounds");
        }
      }
    }
    if (lo > hi)
      fail(range, key, "min " + range[0].Scalar() + " is greater than max " + range[1].Scalar());
    if (integer) {
      entry["range"] = {static_cast<long long>(lo), static_cast<long long>(hi)};
    } else {
      entry["range"] = {lo, hi};
    }
    if (step) {
      const double s = number_of(*step, path + ".step");
      if (!(s > 0)) fail(*step, path + ".step", "must be more than 0");
      if (integer) {
        if (s != std::floor(s) || s > kExact)
          fail(*step, path + ".step", "an int parameter needs a whole-number step");
        entry["step"] = static_cast<long long>(s);
      } else {
        entry["step"] = s;
      }
    }
  }

  std::string file_;
  std::string direction_ = "maximize";
  long long repeat_ = 1;
  bool has_workload_ = false;
  Json params_all_;
};

}  // namespace

Json Cfg::init(const std::string& config_file) {
  Loaded next = Reader(config_file).read();
  auto& state = DecoratorWrap::singleton<CfgState>();
  state.loaded = std::move(next);
  return state.loaded->all;
}

Json Cfg::get_params_get_script() const {
  return loaded().get_scripts;
}
Json Cfg::get_params_set_script() const {
  return loaded().set_scripts;
}
Json Cfg::get_workload_options() const {
  return loaded().workload;
}
std::string Cfg::get_project() const {
  return loaded().project;
}
Json Cfg::get_optimizer_info() const {
  return loaded().optimizer;
}
double Cfg::get_script_timeout() const {
  return loaded().script_timeout;
}
Json Cfg::get_benchmark_options() const {
  return loaded().benchmark;
}

}  // namespace orvane
