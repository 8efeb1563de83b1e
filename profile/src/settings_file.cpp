// Reading and checking settings files, and the table of kinds.
#include <orvane/settings.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <orvane/util.hpp>

#include <orvane/profile/expression.hpp>
#include <orvane/profile/host_facts.hpp>

namespace orvane::settings {
namespace {

const std::vector<std::string> kCommonKeys = {"kind",    "target", "value",    "compute",
                                              "suffix",  "when",   "at_least", "effect",
                                              "service", "reason", "reference"};
const std::set<std::string> kEffects = {"live", "reload", "restart", "login"};

std::map<std::string, KindSpec, std::less<>>& kinds() {
  static std::map<std::string, KindSpec, std::less<>> table = [] {
    std::map<std::string, KindSpec, std::less<>> t;
    auto add = [&](KindSpec k) { t.emplace(k.name, std::move(k)); };
    add({"sysctl", {}, {"persist"}, true, false, [](const Setting& s) -> std::string {
           if (s.target.find('/') != std::string::npos) return "a sysctl key is written with dots";
           return "";
         }});
    add({"sysfs", {}, {"choices"}, true, false, [](const Setting& s) -> std::string {
           if (!s.target.starts_with("/sys/")) return "a sysfs target is a path under /sys/";
           if (s.target.find("..") != std::string::npos) return "'..' is not allowed in a path";
           return "";
         }});
    add({"limits", {}, {"user"}, true, false, [](const Setting& s) -> std::string {
           static const std::set<std::string> items = {"nofile", "nproc", "memlock", "core",
                                                       "stack"};
           if (!items.contains(s.target))
             return "target must be nofile, nproc, memlock, core or stack";
           if (s.key("user").empty() == s.service.empty()) {
             return "a limit is for either a service (a systemd drop-in) or a user "
                    "(/etc/security/limits.d)";
           }
           return "";
         }});
    add({"ini", {"file"}, {"section"}, true, true, {}});
    add({"properties", {"file"}, {}, true, true, {}});
    add({"records", {"file"}, {"type"}, true, true, [](const Setting& s) -> std::string {
           static const std::set<std::string> types = {"INT", "FLOAT", "STRING", "COUNTER"};
           if (!types.contains(s.key("type", "INT")))
             return "type must be INT, FLOAT, STRING or COUNTER";
           return "";
         }});
    add({"nginx", {"file", "section"}, {}, true, true, [](const Setting& s) -> std::string {
           static const std::set<std::string> contexts = {"main", "events", "http"};
           if (!contexts.contains(s.key("section"))) return "section must be main, events or http";
           return "";
         }});
    return t;
  }();
  return table;
}

class Reader {
 public:
  explicit Reader(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void fail(const YAML::Node& at, std::string_view key, std::string_view what) const {
    throw SettingsError(fmt::format("{}:{}: {}: {}", name_, at.Mark().line + 1, key, what));
  }
  std::string where(const YAML::Node& at) const {
    return fmt::format("{}:{}", name_, at.Mark().line + 1);
  }

  // The map's keys, each once and each allowed.
  void only_keys(const YAML::Node& map, std::string_view what,
                 const std::function<bool(const std::string&)>& allowed) const {
    if (!map.IsMap()) fail(map, what, "must be a mapping");
    std::set<std::string> seen;
    for (const auto& kv : map) {
      const auto key = kv.first.as<std::string>();
      if (!seen.insert(key).second) fail(kv.first, key, "given twice");
      if (!allowed(key)) fail(kv.first, key, fmt::format("unknown key in {}", what));
    }
  }

  std::string text(const YAML::Node& map, const char* key, bool required) const {
    const YAML::Node v = map[key];
    if (!v) {
      if (required) fail(map, key, "missing");
      return "";
    }
    if (!v.IsScalar()) fail(v, key, "must be a text");
    const auto s = v.as<std::string>();
    if (required && s.empty()) fail(v, key, "must not be empty");
    return s;
  }

  bool flag(const YAML::Node& map, const char* key) const {
    const YAML::Node v = map[key];
    if (!v) return false;
    try {
      return v.as<bool>();
    } catch (const YAML::Exception&) {
      fail(v, key, "must be true or false");
    }
  }

  std::vector<std::string> texts(const YAML::Node& map, const char* key) const {
    std::vector<std::string> out;
    const YAML::Node v = map[key];
    if (!v) return out;
    if (v.IsScalar()) return {v.as<std::string>()};
    if (!v.IsSequence()) fail(v, key, "must be a text or a list of texts");
    for (const auto& e : v) {
      if (!e.IsScalar()) fail(e, key, "must be a list of texts");
      out.push_back(e.as<std::string>());
    }
    return out;
  }

  void expression(const YAML::Node& map, const char* key, const std::string& text) const {
    if (text.empty()) return;
    try {
      profile::check_expression(text, profile::fact_names());
    } catch (const profile::ExpressionError& e) {
      fail(map[key], key, e.what());
    }
  }

  FileSpec file_spec(const std::string& name, const YAML::Node& node) const {
    only_keys(node, "a file", [](const std::string& k) {
      return k == "find" || k == "includes" || k == "groups" || k == "service";
    });
    FileSpec f;
    f.name = name;
    f.find = texts(node, "find");
    if (f.find.empty()) fail(node, "find", "missing");
    for (const auto& p : f.find) {
      if (p.empty() || p.front() == '/' || p.find("..") != std::string::npos) {
        fail(node["find"], "find",
             "paths are relative to the configuration directory, without '..'");
      }
    }
    f.includes = flag(node, "includes");
    f.groups = texts(node, "groups");
    f.service = text(node, "service", false);
    f.where = where(node);
    return f;
  }

  Setting setting(const YAML::Node& node, const SettingsFile& file) const {
    if (!node.IsMap()) fail(node, "settings", "each setting must be a mapping");
    const std::string kind_name = text(node, "kind", true);
    const KindSpec* kind = find_kind(kind_name);
    if (kind == nullptr) {
      fail(node["kind"], "kind", fmt::format("unknown kind '{}'", kind_name));
    }
    only_keys(node, fmt::format("a setting of kind {}", kind_name), [&](const std::string& k) {
      return std::find(kCommonKeys.begin(), kCommonKeys.end(), k) != kCommonKeys.end() ||
             std::find(kind->required.begin(), kind->required.end(), k) != kind->required.end() ||
             std::find(kind->optional.begin(), kind->optional.end(), k) != kind->optional.end();
    });
    Setting s;
    s.kind = kind_name;
    s.where = where(node);
    s.target = text(node, "target", true);
    s.value = text(node, "value", false);
    s.compute = text(node, "compute", false);
    s.suffix = text(node, "suffix", false);
    s.when = text(node, "when", false);
    s.at_least = flag(node, "at_least");
    s.effect = text(node, "effect", true);
    s.service = text(node, "service", false);
    s.reason = text(node, "reason", true);
    s.reference = text(node, "reference", true);
    if (node["value"] && node["compute"])
      fail(node["compute"], "compute", "give value or compute, not both");
    if (kind->needs_value && !node["value"] && !node["compute"])
      fail(node, "value", "missing (or compute)");
    if (!s.suffix.empty() && s.compute.empty()) fail(node["suffix"], "suffix", "only with compute");
    expression(node, "compute", s.compute);
    expression(node, "when", s.when);
    if (!kEffects.contains(s.effect))
      fail(node["effect"], "effect", "must be live, reload, restart or login");
    for (const auto& k : kind->required) {
      if (!node[k]) fail(node, k, "missing");
    }
    for (const auto& kv : node) {
      const auto key = kv.first.as<std::string>();
      if (std::find(kCommonKeys.begin(), kCommonKeys.end(), key) != kCommonKeys.end()) continue;
      if (!kv.second.IsScalar()) fail(kv.second, key, "must be a text");
      s.extra[key] = kv.second.as<std::string>();
    }
    if (kind->edits_file) {
      const FileSpec* f = file.file(s.key("file"));
      if (f == nullptr)
        fail(node["file"], "file", fmt::format("'{}' is not listed in files", s.key("file")));
      if (s.service.empty()) s.service = f->service;
    }
    if ((s.effect == "reload" || s.effect == "restart") && s.service.empty()) {
      fail(node["effect"], "service", fmt::format("missing: which service to {}?", s.effect));
    }
    if (kind->check) {
      const std::string why = kind->check(s);
      if (!why.empty()) fail(node, "target", why);
    }
    return s;
  }

  SettingsFile read(const YAML::Node& root) const {
    if (!root.IsMap()) fail(root, "settings file", "must be a mapping");
    only_keys(root, "a settings file", [](const std::string& k) {
      return k == "description" || k == "workload" || k == "files" || k == "settings";
    });
    SettingsFile file;
    file.path = name_;
    file.description = text(root, "description", true);
    file.workload = text(root, "workload", false);
    if (const YAML::Node files = root["files"]) {
      if (!files.IsMap()) fail(files, "files", "must be a mapping of names to files");
      std::set<std::string> seen;
      for (const auto& kv : files) {
        const auto key = kv.first.as<std::string>();
        if (!seen.insert(key).second) fail(kv.first, key, "given twice");
        file.files.push_back(file_spec(key, kv.second));
      }
    }
    const YAML::Node list = root["settings"];
    if (!list) fail(root, "settings", "missing");
    if (!list.IsSequence() || list.size() == 0) fail(list, "settings", "must be a non-empty list");
    for (const auto& node : list) file.settings.push_back(setting(node, file));
    return file;
  }

 private:
  std::string name_;
};

}  // namespace

std::string Setting::key(std::string_view name, std::string fallback) const {
  const auto it = extra.find(name);
  return it == extra.end() ? fallback : it->get<std::string>();
}

const FileSpec* SettingsFile::file(std::string_view name) const {
  for (const FileSpec& f : files) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

void register_kind(KindSpec kind) {
  std::string name = kind.name;
  kinds().insert_or_assign(std::move(name), std::move(kind));
}

const KindSpec* find_kind(std::string_view name) {
  const auto it = kinds().find(name);
  return it == kinds().end() ? nullptr : &it->second;
}

std::vector<std::string> kind_names() {
  std::vector<std::string> names;
  for (const auto& [name, kind] : kinds()) names.push_back(name);
  return names;
}

SettingsFile parse_settings(const std::string& text, const std::string& name) {
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::ParserException& e) {
    throw SettingsError(fmt::format("{}:{}: yaml: {}", name, e.mark.line + 1, e.msg));
  }
  return Reader(name).read(root);
}

SettingsFile load_settings(const std::filesystem::path& path) {
  std::string text;
  try {
    text = read_file(path);
  } catch (const std::system_error& e) {
    throw SettingsError(fmt::format("{}:0: file: {}", path.string(), e.what()));
  }
  return parse_settings(text, path.string());
}

}  // namespace orvane::settings
