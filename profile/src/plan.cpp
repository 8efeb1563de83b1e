// Planning a settings file: facts, current values, the value each setting gets.
#include <orvane/profile/plan.hpp>

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

#include <fmt/format.h>

#include <orvane/host_root.hpp>
#include <orvane/util.hpp>

#include <orvane/profile/apply.hpp>
#include <orvane/profile/expression.hpp>

namespace orvane::profile {
namespace {

namespace fs = std::filesystem;
using settings::FileSpec;
using settings::Setting;

constexpr const char* kNotSet = "(not set)";

std::string collapse(std::string_view v) {
  std::string out;
  bool blank = false;
  for (char c : v) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !out.empty();
    } else {
      if (blank) out += ' ';
      blank = false;
      out += c;
    }
  }
  if (out.size() >= 2 && (out.front() == '"' || out.front() == '\'') && out.back() == out.front()) {
    out = out.substr(1, out.size() - 2);
  }
  return out;
}

std::optional<double> number(std::string_view v) {
  std::string s(v);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  if (s == "unlimited" || s == "infinity") return HUGE_VAL;
  if (s.empty()) return std::nullopt;
  double scale = 1;
  static const std::string kSuffixes = "kmgt";
  if (const size_t i = kSuffixes.find(s.back()); i != std::string::npos) {
    scale = std::pow(1024.0, static_cast<double>(i + 1));
    s.pop_back();
  }
  char* end = nullptr;
  const double d = std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size()) return std::nullopt;
  return d * scale;
}

std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string format_number(double v) {
  if (std::fabs(v - std::round(v)) < 1e-9 && std::fabs(v) < 9e15) {
    return fmt::format("{}", static_cast<long long>(std::llround(v)));
  }
  return fmt::format("{}", v);
}

bool inside(const fs::path& path, const fs::path& dir) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(path, ec);
  const fs::path d = fs::weakly_canonical(dir, ec);
  const auto rel = p.lexically_relative(d);
  return !rel.empty() && *rel.begin() != "..";
}

// The text of a file orvane may edit, or "" when it does not exist. Not text: refused, since the
// original is kept in the journal as text.
std::optional<std::string> file_text(const fs::path& p) {
  std::error_code ec;
  if (!fs::exists(p, ec)) return std::nullopt;
  std::string text;
  try {
    text = read_file(p);
  } catch (const std::system_error& e) {
    throw PlanError(e.what());
  }
  if (!is_valid_utf8(text) || text.find('\0') != std::string::npos) {
    throw PlanError(
        fmt::format("{}: not a text file (not UTF-8); orvane edits text files only", p.string()));
  }
  return text;
}

// `p` itself when it lies inside `conf_dir`; else the longest tail of it that names an existing
// folder inside `conf_dir` (/etc/nginx/conf.d/x.conf in a copy at /tmp/c gives
// /tmp/c/conf.d/x.conf).
std::optional<fs::path> relocate(const fs::path& p, const fs::path& conf_dir) {
  if (inside(p, conf_dir)) return p;
  const fs::path rel = p.lexically_normal().relative_path();
  std::vector<fs::path> parts(rel.begin(), rel.end());
  for (size_t skip = 1; skip < parts.size(); ++skip) {
    fs::path tail;
    for (size_t i = skip; i < parts.size(); ++i) tail /= parts[i];
    std::error_code ec;
    const fs::path moved = conf_dir / tail;
    if (fs::is_directory(moved.parent_path(), ec)) return moved;
  }
  return std::nullopt;
}

// The files a pattern of an nginx include names, in name order as nginx reads them.
std::vector<fs::path> glob_files(const fs::path& pattern) {
  std::vector<fs::path> files;
  glob_t g{};
  if (::glob(pattern.c_str(), 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i) files.emplace_back(g.gl_pathv[i]);
  }
  ::globfree(&g);
  std::error_code ec;
  std::erase_if(files, [&](const fs::path& f) { return !fs::is_regular_file(f, ec); });
  return files;
}

// The files of a settings file found under CONF_DIR, each opened once in its format.
class Files {
 public:
  Files(const fs::path& conf_dir, const std::string& workload)
      : conf_dir_(conf_dir), workload_(workload) {}

  // The files `wanted` stands for, in the order the server reads them (with includes, every file
  // they pull in); the first is the one found.
  const std::vector<fs::path>& resolve(const FileSpec& wanted) {
    if (const auto it = resolved_.find(wanted.name); it != resolved_.end()) return it->second;
    std::optional<fs::path> found;
    for (const auto& rel : wanted.find) {
      std::error_code ec;
      if (fs::is_regular_file(conf_dir_ / rel, ec)) {
        found = conf_dir_ / rel;
        break;
      }
    }
    if (!found) {
      std::vector<std::string> dirs;
      for (const auto& rel : wanted.find) {
        const fs::path d = (conf_dir_ / rel).parent_path();
        if (std::find(dirs.begin(), dirs.end(), d.string()) == dirs.end())
          dirs.push_back(d.string());
      }
      std::string where;
      for (size_t i = 0; i < dirs.size(); ++i)
        where += (i == 0 ? "" : i + 1 == dirs.size() ? " or " : ", ") + dirs[i];
      throw PlanError(fmt::format(
          "no {} in {}: is this a{} {} configuration directory?",
          fs::path(wanted.find.front()).filename().string(), where,
          std::string("AEIOU").find(workload_.empty() ? 'x' : workload_[0]) != std::string::npos
              ? "n"
              : "",
          workload_));
    }
    std::vector<fs::path> order;
    if (wanted.includes) {
      follow(*found, order, 0);
    } else {
      order.push_back(*found);
    }
    return resolved_[wanted.name] = order;
  }

  ConfigText& open(const fs::path& p, const std::string& format) {
    auto it = texts_.find(p.string());
    if (it != texts_.end()) return *it->second;
    const auto text = file_text(p);
    try {
      auto c = ConfigText::open(format, text.value_or(""));
      return *(texts_[p.string()] = std::move(c));
    } catch (const ConfigParseError& e) {
      throw PlanError(fmt::format("{}: {}: the file does not parse; nothing was changed",
                                  p.string(), e.what()));
    }
  }

  const fs::path& conf_dir() const { return conf_dir_; }

 private:
  // An include outside CONF_DIR (an absolute /etc/mysql/... in a copied directory) is read from
  // the same place inside CONF_DIR when there is one: orvane never reads or edits past CONF_DIR.
  std::optional<fs::path> place(const fs::path& including, const std::string& target) {
    return relocate(
        fs::path(target).is_absolute() ? fs::path(target) : including.parent_path() / target,
        conf_dir_);
  }

  void follow(const fs::path& file, std::vector<fs::path>& order, int depth) {
    if (depth > 10 || std::find(order.begin(), order.end(), file) != order.end()) return;
    order.push_back(file);
    const auto text = file_text(file);
    if (!text) return;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) {
      const std::string l = collapse(line);
      const bool dir = l.starts_with("!includedir ");
      if (!dir && !l.starts_with("!include ")) continue;
      const auto target = place(file, l.substr(l.find(' ') + 1));
      if (!target) continue;
      if (!dir) {
        follow(*target, order, depth + 1);
        continue;
      }
      // The server reads the .cnf files of a directory in name order.
      std::vector<fs::path> names;
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(*target, ec)) {
        if (e.path().extension() == ".cnf" && e.is_regular_file(ec)) names.push_back(e.path());
      }
      std::sort(names.begin(), names.end());
      for (const auto& n : names) follow(n, order, depth + 1);
    }
  }

  fs::path conf_dir_;
  std::string workload_;
  std::map<std::string, std::vector<fs::path>> resolved_;
  std::map<std::string, std::unique_ptr<ConfigText>> texts_;
};

std::string limit_key(const std::string& item) {
  static const std::map<std::string, std::string> keys = {{"nofile", "LimitNOFILE"},
                                                          {"nproc", "LimitNPROC"},
                                                          {"memlock", "LimitMEMLOCK"},
                                                          {"core", "LimitCORE"},
                                                          {"stack", "LimitSTACK"}};
  return keys.at(item);
}

std::optional<std::string> system_text(const std::string& system_path) {
  std::error_code ec;
  const fs::path p = host_path(system_path);
  if (!fs::is_regular_file(p, ec)) return std::nullopt;
  try {
    return read_file(p);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

class Planner {
 public:
  Planner(const settings::SettingsFile& file, Plan& plan, const std::string& workload)
      : file_(file), plan_(plan), files_(plan.conf_dir, workload) {}

  void add(const Setting& s) {
    if (const KindHandler* h = find_kind_handler(s.kind)) return handled(s, *h);
    if (s.kind == "sysctl") return sysctl(s);
    if (s.kind == "sysfs") return sysfs(s);
    if (s.kind == "limits") return limits(s);
    if (s.kind == "ini" || s.kind == "properties" || s.kind == "records" || s.kind == "nginx")
      return workload_file(s);
    PlanItem item = base(s, s.target);
    skip(item, fmt::format("kind {} is not handled by profiles", s.kind));
  }

 private:
  PlanItem base(const Setting& s, std::string name) const {
    PlanItem item;
    item.setting = std::move(name);
    item.kind = s.kind;
    item.reason = s.reason;
    item.reference = s.reference;
    item.where = s.where;
    item.service = s.service;
    item.action = s.effect == "live" ? "" : s.effect;
    item.effect = s.effect == "live"    ? "live"
                  : s.effect == "login" ? fmt::format("next login of {}", s.key("user"))
                                        : fmt::format("{} {}", s.effect, s.service);
    return item;
  }

  // The setting's value with these facts, or nothing when its condition is false.
  std::optional<std::string> value(const Setting& s, const Facts& facts) const {
    try {
      if (!s.when.empty() && evaluate(s.when, facts) == 0) return std::nullopt;
      if (s.compute.empty()) return s.value;
      return format_number(evaluate(s.compute, facts)) + s.suffix;
    } catch (const ExpressionError& e) {
      throw PlanError(fmt::format("{}: {}", s.where, e.what()));
    }
  }

  void skip(PlanItem& item, std::string note) {
    item.status = PlanItem::Status::skipped;
    item.note = std::move(note);
    plan_.items.push_back(std::move(item));
  }

  void decide(PlanItem& item, bool at_least) {
    if (value_holds(item.current, item.wanted, at_least)) {
      item.status = PlanItem::Status::holds;
      if (collapse(item.current) != collapse(item.wanted)) item.note = "already at least this";
    }
    plan_.items.push_back(std::move(item));
  }

  void handled(const Setting& s, const KindHandler& handler) {
    PlanItem item = base(s, s.target);
    const auto wanted = value(s, facts_);
    if (!wanted) return skip(item, "applies only where " + s.when);
    item.wanted = *wanted;
    handler.plan(s, item);
    if (item.status == PlanItem::Status::skipped) {
      plan_.items.push_back(std::move(item));
      return;
    }
    decide(item, s.at_least);
  }

  void sysctl(const Setting& s) {
    PlanItem item = base(s, s.target);
    const auto wanted = value(s, facts_);
    std::string path = "/proc/sys/" + s.target;
    std::replace(path.begin() + 10, path.end(), '.', '/');
    item.paths = {path};
    item.persist = s.key("persist", "true") != "false";
    if (item.persist) item.effect = "live, and at boot";
    if (!wanted) return skip(item, "applies only where " + s.when);
    item.wanted = *wanted;
    const auto current = system_text(path);
    if (!current) return skip(item, "not on this host (no " + path + ")");
    item.current = collapse(*current);
    decide(item, s.at_least);
  }

  // A /sys path, once per disk with {disk}, or for all CPUs together with {cpu}.
  void sysfs(const Setting& s) {
    if (s.target.find("{disk}") != std::string::npos) {
      if (plan_.facts.disks.empty()) {
        PlanItem item = base(s, s.target);
        return skip(item, "no disk found in /sys/block");
      }
      for (const Disk& d : plan_.facts.disks) {
        Facts facts = facts_;
        facts["disk_rotational"] = d.rotational ? 1 : 0;
        sysfs_one(s, facts, {substitute(s.target, "{disk}", d.name)},
                  substitute(s.key("choices"), "{disk}", d.name));
      }
      return;
    }
    if (s.target.find("{cpu}") != std::string::npos) {
      std::vector<std::string> paths;
      for (int c : plan_.facts.cpus)
        paths.push_back(substitute(s.target, "{cpu}", std::to_string(c)));
      const std::string choices =
          plan_.facts.cpus.empty()
              ? ""
              : substitute(s.key("choices"), "{cpu}", std::to_string(plan_.facts.cpus.front()));
      PlanItem probe = base(s, substitute(s.target, "{cpu}", "*"));
      if (paths.empty()) return skip(probe, "no online CPU found");
      return sysfs_one(s, facts_, paths, choices, probe.setting);
    }
    sysfs_one(s, facts_, {s.target}, s.key("choices"));
  }

  static std::string substitute(std::string text, std::string_view what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
      text.replace(at, what.size(), with);
    }
    return text;
  }

  void sysfs_one(const Setting& s, const Facts& facts, const std::vector<std::string>& paths,
                 const std::string& choices_path, std::string name = "") {
    PlanItem item = base(s, name.empty() ? paths.front() : name);
    item.paths = paths;
    item.effect = "live, lost at reboot";
    const auto wanted = value(s, facts);
    if (!wanted) return skip(item, "applies only where " + s.when);
    item.wanted = *wanted;
    std::vector<std::string> currents;
    std::string offered;
    for (const auto& p : paths) {
      const auto text = system_text(p);
      if (!text) return skip(item, "not on this host (no " + p + ")");
      const std::string v = sysfs_choice(*text);
      if (std::find(currents.begin(), currents.end(), v) == currents.end()) currents.push_back(v);
      if (text->find('[') != std::string::npos) offered = *text;
    }
    if (!choices_path.empty()) {
      if (const auto list = system_text(choices_path)) offered = *list;
    }
    item.current = currents.front();
    for (size_t i = 1; i < currents.size(); ++i) item.current += ", " + currents[i];
    if (!offered.empty()) {
      std::string list = collapse(offered);
      list.erase(std::remove(list.begin(), list.end(), '['), list.end());
      list.erase(std::remove(list.begin(), list.end(), ']'), list.end());
      const auto options = words(list);
      if (std::find(options.begin(), options.end(), item.wanted) == options.end()) {
        return skip(item, fmt::format("{} is not offered here (offered: {})", item.wanted, list));
      }
    }
    if (currents.size() > 1) {
      plan_.items.push_back(std::move(item));
      return;
    }
    decide(item, s.at_least);
  }

  // A service's limit in a systemd drop-in, or a user's in /etc/security/limits.d.
  void limits(const Setting& s) {
    const std::string user = s.key("user");
    PlanItem item =
        base(s, user.empty() ? fmt::format("{}.service {}", s.service, limit_key(s.target))
                             : fmt::format("{} {} (soft and hard)", user, s.target));
    const auto wanted = value(s, facts_);
    if (!wanted) return skip(item, "applies only where " + s.when);
    item.wanted = *wanted;
    std::optional<std::string> current;
    if (user.empty()) {
      const std::string unit = s.service + ".service";
      std::vector<std::string> files;
      for (const char* dir :
           {"/lib/systemd/system/", "/usr/lib/systemd/system/", "/etc/systemd/system/"}) {
        if (system_text(dir + unit)) files.push_back(dir + unit);
      }
      if (files.empty()) return skip(item, "no " + unit + " on this host");
      for (const char* dir :
           {"/lib/systemd/system/", "/usr/lib/systemd/system/", "/etc/systemd/system/"}) {
        std::vector<std::string> dropins;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(host_path(dir + unit + ".d"), ec)) {
          if (e.path().extension() == ".conf")
            dropins.push_back(dir + unit + ".d/" + e.path().filename().string());
        }
        std::sort(dropins.begin(), dropins.end());
        files.insert(files.end(), dropins.begin(), dropins.end());
      }
      for (const auto& f : files) {
        if (auto v =
                files_.open(host_path(f), "systemd").get({"Service", limit_key(s.target), "", {}}))
          current = v;
      }
      const std::string dropin = "/etc/systemd/system/" + unit + ".d/90-orvane.conf";
      item.edits.push_back(
          {host_path(dropin), "ini", {"Service", limit_key(s.target), "", {}}, item.wanted});
      item.effect = fmt::format("systemctl daemon-reload, restart {}", s.service);
      item.action = "restart";
    } else {
      if (!user_exists(user)) return skip(item, "no user " + user + " on this host");
      std::vector<std::string> files = {"/etc/security/limits.conf"};
      std::vector<std::string> more;
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(host_path("/etc/security/limits.d"), ec)) {
        if (e.path().extension() == ".conf")
          more.push_back("/etc/security/limits.d/" + e.path().filename().string());
      }
      std::sort(more.begin(), more.end());
      files.insert(files.end(), more.begin(), more.end());
      // A line for the user wins over a '*' line, whatever the order.
      std::optional<std::string> any;
      for (const auto& f : files) {
        ConfigText& t = files_.open(host_path(f), "limits");
        for (const char* type : {"soft", "-"}) {
          if (auto v = t.get({"", fmt::format("{} {} {}", user, type, s.target), "", {}}))
            current = v;
          if (auto v = t.get({"", fmt::format("* {} {}", type, s.target), "", {}})) any = v;
        }
      }
      if (!current) current = any;
      const std::string file = fmt::format("/etc/security/limits.d/90-orvane-{}.conf", plan_.scene);
      for (const char* type : {"soft", "hard"}) {
        item.edits.push_back({host_path(file),
                              "limits",
                              {"", fmt::format("{} {} {}", user, type, s.target), "", {}},
                              item.wanted});
      }
    }
    item.current = current ? collapse(*current) : "(default)";
    decide(item, s.at_least);
  }

  static bool user_exists(const std::string& user) {
    const auto passwd = system_text("/etc/passwd");
    if (!passwd) return false;
    std::istringstream in(*passwd);
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with(user + ":")) return true;
    }
    return false;
  }

  void workload_file(const Setting& s) {
    const FileSpec& workload_file = *file_.file(s.key("file"));
    const auto& paths = files_.resolve(workload_file);
    const std::string format = s.kind;
    ConfigKey key{s.key("section"), s.target, s.key("type"), workload_file.groups};
    const std::string shown_section =
        key.section.empty() || (format == "nginx" && key.section == "main")
            ? ""
            : "[" + key.section + "] ";
    // The value in force is the last one read; a missing key goes into the last file that has
    // the section, else into the file found.
    std::optional<std::string> current;
    fs::path target = paths.front();
    bool placed = false;
    for (const auto& p : paths) {
      ConfigText& t = files_.open(p, format);
      if (auto v = t.get(key)) {
        current = v;
        target = p;
        placed = true;
      }
    }
    if (!placed && format == "nginx") {
      // A directive may live in a file included in its context (conf.d/*.conf inside http);
      // adding it to nginx.conf as well would make it a duplicate.
      for (const std::string& pattern :
           files_.open(paths.front(), format).all({key.section, "include", "", {}})) {
        const fs::path p = fs::path(collapse(pattern)).is_absolute()
                               ? fs::path(collapse(pattern))
                               : files_.conf_dir() / collapse(pattern);
        const auto moved = relocate(p, files_.conf_dir());
        if (!moved) continue;
        for (const fs::path& f : glob_files(*moved)) {
          if (auto v = files_.open(f, format).get({"main", key.name, "", {}})) {
            current = v;
            target = f;
            key.section = "main";
            placed = true;
          }
        }
      }
    }
    if (!placed && !key.section.empty()) {
      for (const auto& p : paths) {
        if (files_.open(p, format).has_section(key.section)) target = p;
      }
    }
    const std::string rel = target.lexically_relative(files_.conf_dir()).string();
    PlanItem item = base(s, fmt::format("{}{} ({})", shown_section, s.target, rel));
    const auto wanted = value(s, facts_);
    if (!wanted) return skip(item, "applies only where " + s.when);
    item.wanted = *wanted;
    item.current = current ? collapse(*current) : kNotSet;
    if (!inside(target, files_.conf_dir())) {
      return skip(item, fmt::format("{} leads outside {}; orvane edits only files inside it",
                                    target.string(), files_.conf_dir().string()));
    }
    item.edits.push_back({target, format, key, item.wanted});
    decide(item, s.at_least);
  }

  const settings::SettingsFile& file_;
  Plan& plan_;
  Files files_;
  Facts facts_ = plan_.facts.numbers();
};

std::string status_text(PlanItem::Status s) {
  return s == PlanItem::Status::change  ? "change"
         : s == PlanItem::Status::holds ? "holds"
                                        : "skipped";
}

}  // namespace

size_t Plan::count(PlanItem::Status status) const {
  return static_cast<size_t>(std::count_if(items.begin(), items.end(),
                                           [&](const PlanItem& i) { return i.status == status; }));
}

bool value_holds(std::string_view current, std::string_view wanted, bool at_least) {
  const std::string c = collapse(current), w = collapse(wanted);
  if (lower(c) == lower(w)) return true;
  const auto cw = words(c), ww = words(w);
  if (cw.size() != ww.size() || cw.empty()) return false;
  for (size_t i = 0; i < cw.size(); ++i) {
    const auto a = number(cw[i]), b = number(ww[i]);
    if (!a || !b) return false;
    if (at_least ? *a < *b : *a != *b) return false;
  }
  return true;
}

std::string sysfs_choice(std::string_view text) {
  const size_t open = text.find('[');
  const size_t close = text.find(']', open);
  if (open != std::string_view::npos && close != std::string_view::npos) {
    return std::string(text.substr(open + 1, close - open - 1));
  }
  return collapse(text);
}

std::string read_system_value(const std::string& system_path) {
  return sysfs_choice(read_file(host_path(system_path)));
}

Plan make_plan(const settings::SettingsFile& file, const std::string& scene,
               const fs::path& conf_dir, const HostFacts& facts) {
  Plan plan;
  plan.scene = scene;
  plan.conf_dir = conf_dir;
  plan.facts = facts;
  std::error_code ec;
  if (conf_dir.empty()) {
    for (const Setting& s : file.settings) {
      const settings::KindSpec* kind = settings::find_kind(s.kind);
      if (kind != nullptr && kind->edits_file)
        throw PlanError(s.where + ": kind " + s.kind + " needs a configuration directory");
    }
  } else if (!fs::is_directory(conf_dir, ec)) {
    throw PlanError(conf_dir.string() + " is not a directory");
  }
  Planner planner(file, plan, file.workload);
  for (const Setting& s : file.settings) planner.add(s);
  std::set<std::string> seen;
  for (const auto& item : plan.items) {
    for (const auto& e : item.edits) {
      if (seen.insert(e.path.string()).second) plan.files.push_back(e.path.string());
    }
  }
  return plan;
}

std::string plan_table(const Plan& plan) {
  struct Row {
    std::string cells[5];
    std::string note = {};  // on a line of its own under the row
  };
  auto table = [](const std::vector<Row>& rows) {
    size_t w[4] = {0, 0, 0, 0};
    for (const auto& r : rows) {
      for (size_t i = 0; i < 4; ++i) w[i] = std::max(w[i], r.cells[i].size());
    }
    std::string out;
    for (const auto& r : rows) {
      std::string line =
          fmt::format("  {:<{}}  {:<{}}  {:<{}}  {:<{}}  {}", r.cells[0], w[0], r.cells[1], w[1],
                      r.cells[2], w[2], r.cells[3], w[3], r.cells[4]);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
      if (!r.note.empty()) out += "      " + r.note + "\n";
    }
    return out;
  };
  std::string out =
      fmt::format("Plan of {}{} (host: memory {} MiB, {} CPUs, {} disks, {} rotating)\n",
                  plan.scene, plan.conf_dir.empty() ? "" : " for " + plan.conf_dir.string(),
                  static_cast<long long>(plan.facts.memory / 1048576), plan.facts.cpus.size(),
                  plan.facts.disks.size(),
                  std::count_if(plan.facts.disks.begin(), plan.facts.disks.end(),
                                [](const Disk& d) { return d.rotational; }));
  std::vector<Row> changes = {{{"setting", "current", "new", "takes effect", "reason"}}};
  std::vector<Row> holds, skipped;
  for (const auto& i : plan.items) {
    if (i.status == PlanItem::Status::change) {
      changes.push_back({{i.setting, i.current, i.wanted, i.effect, i.reason}, i.note});
    }
    if (i.status == PlanItem::Status::holds)
      holds.push_back({{i.setting, i.current, i.note, "", ""}});
    if (i.status == PlanItem::Status::skipped) skipped.push_back({{i.setting, i.note, "", "", ""}});
  }
  if (changes.size() > 1) {
    const size_t n = plan.count(PlanItem::Status::change);
    out += fmt::format("\n{} change{}:\n", n, n == 1 ? "" : "s") + table(changes);
  } else {
    out += "\nNothing to change: every setting holds already.\n";
  }
  if (!holds.empty()) out += fmt::format("\nAlready in place ({}):\n", holds.size()) + table(holds);
  if (!skipped.empty()) out += fmt::format("\nSkipped ({}):\n", skipped.size()) + table(skipped);
  return out;
}

Json plan_json(const Plan& plan) {
  Json j = Json::object();
  j["scene"] = plan.scene;
  j["conf_dir"] = plan.conf_dir.string();
  Json host = Json::object();
  host["memory"] = plan.facts.memory;
  host["cpus"] = plan.facts.cpus.size();
  Json disks = Json::array();
  for (const auto& d : plan.facts.disks)
    disks.push_back({{"name", d.name}, {"rotational", d.rotational}});
  host["disks"] = disks;
  j["host"] = host;
  Json items = Json::array();
  for (const auto& i : plan.items) {
    Json o = Json::object();
    o["setting"] = i.setting;
    o["kind"] = i.kind;
    o["status"] = status_text(i.status);
    o["current"] = i.current;
    o["new"] = i.wanted;
    o["takes_effect"] = i.effect;
    if (!i.note.empty()) o["note"] = i.note;
    o["reason"] = i.reason;
    o["reference"] = i.reference;
    o["defined_at"] = i.where;
    items.push_back(o);
  }
  j["settings"] = items;
  j["files"] = plan.files;
  return j;
}

}  // namespace orvane::profile
