// The command grammar of orvane on CLI11: commands, scenes, option sets, checks applied as the
// words are met, help screens, and the error report. The only file that includes CLI11.
#include <CLI/CLI.hpp>

#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <utility>

#include "internals.hpp"

namespace orvane {
namespace {

constexpr size_t kWidth = 80;    // help screens fit in this many columns
constexpr size_t kHelpCol = 24;  // where option help texts start
const std::string kProgram = "orvane";

enum class Kind { Text, Integer, OptionalInteger, Flag, Positional };

// One destination of the options record, and how it is shown in help.
struct Field {
  std::string key{};    // record field
  std::string names{};  // "-o,--out_path", or the positional's name
  std::string help{};   // empty for hidden options
  std::string group{};  // help section title
  Kind kind = Kind::Text;
  Json fallback{};  // value when not given
  CLI::Option* opt = nullptr;
  std::optional<std::string> value{};  // last value met, after its check
};

// One parser of the grammar: the top level, a command, or a scene.
struct Level {
  CLI::App* app = nullptr;
  Level* parent = nullptr;
  std::string prog;         // "orvane collection"
  std::string description;  // shown verbatim under the usage
  std::string usage_text;   // replaces the generated usage when set
  std::string epilog;
  std::string list_line;  // this level's line in its parent's list
  std::string children_title;
  std::string children_placeholder;
  bool has_help = true;
  bool has_version = false;
  std::deque<Field> fields;  // stable addresses: the options' callbacks point into it
  std::vector<Level*> children;
  // Adds the level's help option and fields; run when the command line selects the level, so a
  // run builds only the options of its own command path.
  std::function<void()> fill;
};

struct HelpRequested {
  const Level* level;
};
struct VersionRequested {};

// A value check as a CLI11 validator: the check may rewrite the value or refuse it.
CLI::Validator checked(std::function<std::string(const std::string&)> check) {
  return CLI::Validator(
      [check = std::move(check)](std::string& value) -> std::string {
        try {
          value = check(value);
          return {};
        } catch (const CheckRefused& e) {
          return e.what();
        }
      },
      "", "check");
}

std::string to_upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Splits "-o,--out_path" into its names.
std::vector<std::string> split_names(const std::string& names) {
  std::vector<std::string> out;
  std::stringstream ss(names);
  for (std::string n; std::getline(ss, n, ',');) out.push_back(n);
  return out;
}

class Grammar {
 public:
  explicit Grammar(const std::vector<std::string>& words) : words_(words) { build(); }

  ParseOutcome parse();

 private:
  void build();
  Level& add_level(Level* parent, const std::string& name);
  void add_help(Level& level);
  Field& add_field(Level& level, Field field,
                   std::function<std::string(const std::string&)> check = {});
  void add_parent_set(Level& level);
  void add_perf_set(Level& level);
  void add_offcpu_set(Level& level);
  void add_func(Level& level, const std::string& code);

  Level* deepest() const;
  Json record_for(const Level& leaf) const;
  std::string usage(const Level& level) const;
  std::string help(const Level& level) const;
  ParseOutcome refuse(const Level& level, const std::string& message) const;

  std::vector<std::string> words_;
  std::deque<Level> levels_;
  CLI::App top_{"", kProgram};
  long perf_duration_default_ = 0;
  long offcpu_duration_default_ = 0;
};

Level& Grammar::add_level(Level* parent, const std::string& name) {
  Level& level = levels_.emplace_back();
  level.parent = parent;
  if (parent == nullptr) {
    level.app = &top_;
    level.prog = kProgram;
  } else {
    level.app = parent->app->add_subcommand(name);
    level.prog = parent->prog + " " + name;
    parent->children.push_back(&level);
  }
  CLI::App* app = level.app;
  app->set_help_flag();  // help is added by add_help where a level has it
  app->require_subcommand(0, 1);
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->allow_extras(false);
  Level* lp = &level;
  app->preparse_callback([lp](size_t) {
    if (lp->fill) std::exchange(lp->fill, nullptr)();
  });
  return level;
}

void Grammar::add_help(Level& level) {
  const Level* lp = &level;
  level.app
      ->add_flag_callback(
          "-h,--help", [lp] { throw HelpRequested{lp}; }, "show this help message and exit")
      ->trigger_on_parse();
}

Field& Grammar::add_field(Level& level, Field f,
                          std::function<std::string(const std::string&)> check) {
  Field& field = level.fields.emplace_back(std::move(f));
  Field* fp = &field;
  if (field.kind == Kind::Flag) {
    field.opt = level.app->add_flag(field.names, field.help)->disable_flag_override();
  } else {
    CLI::callback_t store = [fp](const CLI::results_t& r) {
      fp->value = r.empty() ? std::string() : r.back();
      // CLI11 runs no check on an empty value: a bare optional value stores its substitute.
      if (fp->kind == Kind::OptionalInteger && fp->value->empty()) fp->value = "1";
      return true;
    };
    field.opt = level.app->add_option(field.names, store, field.help);
    if (field.kind == Kind::Positional) {
      field.opt->required();
    } else {
      field.opt->type_name(to_upper(field.key));
    }
    if (field.kind == Kind::OptionalInteger) field.opt->expected(0, 1);
    if (field.kind == Kind::Text) {
      // A word that looks like an option is not taken as a value ("-o --perf").
      check = [then = std::move(check)](const std::string& v) {
        if (v.size() > 1 && v[0] == '-' && !std::isdigit(static_cast<unsigned char>(v[1]))) {
          throw CheckRefused("expected one argument");
        }
        return then ? then(v) : v;
      };
    }
    if (check) field.opt->check(checked(std::move(check)));
    field.opt->trigger_on_parse();
  }
  field.opt->group(field.help.empty() ? "" : field.group);
  return field;
}

void Grammar::add_parent_set(Level& level) {
  add_field(level, {.key = "work_path", .names = "--work_path", .fallback = "."});
  add_field(level, {.key = "inst_path", .names = "--inst_path", .fallback = "."});
  add_field(level, {.key = "out_path",
                    .names = "-o,--out_path",
                    .help = "Generate orvaneData/, include log and reports,  default path in "
                            "/usr/share/orvane/orvaneData",
                    .group = "options",
                    .fallback = "."});
}

void Grammar::add_perf_set(Level& level) {
  add_field(level,
            {.key = "perf_enable_type",
             .names = "--perf",
             .help = "collect perf data. \ndefault is disabled.",
             .group = "options",
             .kind = Kind::OptionalInteger,
             .fallback = 0},
            [](const std::string& v) {
              return std::to_string(CmdFrontInternals::check_perf_enable_value(v));
            });
  add_field(level,
            {.key = "perf_pid",
             .names = "--pid",
             .help = "process id to profile. -1 to profile the whole system",
             .group = "perf required parameters",
             .fallback = nullptr},
            [](const std::string& v) { return CmdFrontInternals::check_perf_pid(v); });
  add_field(level,
            {.key = "perf_duration",
             .names = "--duration",
             .help = "duration of perf trace, in seconds",
             .group = "perf required parameters",
             .kind = Kind::Integer,
             .fallback = perf_duration_default_},
            [](const std::string& v) {
              return std::to_string(CmdFrontInternals::check_duration_value(v));
            });
  add_field(
      level,
      {.key = "offcpu_pid",
       .names = "--offcpu_pid",
       .help = "process id to profile.",
       .group = "offcpu required parameters",
       .kind = Kind::Integer,
       .fallback = nullptr},
      [](const std::string& v) { return std::to_string(CmdFrontInternals::check_offcpu_pid(v)); });
  add_field(level,
            {.key = "offcpu_duration",
             .names = "--offcpu_duration",
             .help = "duration of offcpu trace, in seconds",
             .group = "offcpu required parameters",
             .kind = Kind::Integer,
             .fallback = offcpu_duration_default_},
            [](const std::string& v) {
              return std::to_string(CmdFrontInternals::check_duration_value(v));
            });
}

void Grammar::add_offcpu_set(Level& level) {
  add_field(level, {.key = "offcpu",
                    .names = "--offcpu",
                    .help = "collect offcpu data, default is disabled.",
                    .group = "options",
                    .kind = Kind::Flag,
                    .fallback = false});
}

void Grammar::add_func(Level& level, const std::string& code) {
  add_field(level, {.key = "func", .names = "--func", .fallback = code});
}

void Grammar::build() {
  // The duration defaults follow the raw words, program name included. A joined "--perf=V"
  // enables perf as well, so it gets the same default as a bare "--perf".
  for (const auto& w : words_) {
    if (w == "--perf" || w.rfind("--perf=", 0) == 0) perf_duration_default_ = 15;
    if (w == "--offcpu") offcpu_duration_default_ = 15;
  }

  Level& top = add_level(nullptr, "");
  top.usage_text = " \n  orvane COMMAND [options] ";
  top.description = "description:\n  orvane is an expert tuning tool for Nerith system";
  top.epilog = "examples:\n    orvane collection --perf --pid -1";
  top.children_title = "commands";
  top.children_placeholder = " ";
  top.has_version = true;
  add_help(top);
  top.app
      ->add_flag_callback(
          "-v,--version", [] { throw VersionRequested{}; }, "version")
      ->trigger_on_parse()
      ->group("options");

  auto framed = [](const std::string& s) { return "description:\n  " + s; };
  struct CommandSpec {
    const char* name;
    const char* summary;
    bool framed;
  };

  // A command with its help option and the parent set, then its own fields.
  auto command = [&](const CommandSpec& cmd, std::function<void(Level&)> own) -> Level& {
    Level& level = add_level(&top, cmd.name);
    level.list_line = std::string("* ") + cmd.summary;
    level.description = cmd.framed ? framed(cmd.summary) : cmd.summary;
    level.fill = [this, &level, own = std::move(own)] {
      add_help(level);
      add_parent_set(level);
      if (own) own(level);
    };
    return level;
  };

  command({"collection", "collect the system data ,such as CPU/MEM/NET/IO", true},
          [this](Level& level) {
            add_perf_set(level);
            add_offcpu_set(level);
            add_func(level, "col");
          });
  command({"analysis", "analysis system performance and provide tuning advice", false},
          [this](Level& level) {
            add_perf_set(level);
            add_offcpu_set(level);
            add_func(level, "ana");
            add_field(level, {.key = "test",
                              .names = "--test",
                              .help = "test mode.default is False.only developer use",
                              .group = "options",
                              .kind = Kind::Flag,
                              .fallback = false});
          });

  Level& profile = command({"profile", "activate the preset scene profile", false}, {});
  profile.children_title = "Commands";
  struct SceneSpec {
    const char* name;
    const char* code;
    const char* what;
  };
  for (const SceneSpec& s :
       {SceneSpec{"kafka_config", "pro_kafka", "kafka"},
        SceneSpec{"mysql_config", "pro_mysql", "mysql"}, SceneSpec{"ats_config", "pro_ats", "ats"},
        SceneSpec{"specweb_config", "pro_specweb", "specweb"},
        SceneSpec{"dm_config", "pro_dm", "dm"}}) {
    Level& scene = add_level(&profile, s.name);
    scene.has_help = false;
    scene.list_line = std::string(s.what) + " scene set";
    scene.fill = [this, &scene, s] {
      add_parent_set(scene);
      add_func(scene, s.code);
      add_field(scene, {.key = "CONF_DIR",
                        .names = "CONF_DIR",
                        .help = std::string(s.what) + " config path",
                        .group = "positional arguments",
                        .kind = Kind::Positional});
    };
  }
  Level& recover = add_level(&profile, "recover");
  recover.has_help = false;
  recover.list_line = "recover";
  recover.fill = [this, &recover] { add_func(recover, "pro_rec"); };

  auto script_command = [&](const CommandSpec& cmd, const char* code,
                            std::vector<const char*> flags) {
    command(cmd, [this, code, flags](Level& level) {
      add_func(level, code);
      add_field(level, {.key = "SCRIPT",
                        .names = "SCRIPT",
                        .help = "tuned script",
                        .group = "positional arguments",
                        .kind = Kind::Positional});
      add_field(level, {.key = "PATH", .names = "--PATH", .fallback = "."});
      for (const char* flag : flags) {
        add_field(level, {.key = flag,
                          .names = std::string("--") + flag,
                          .kind = Kind::Flag,
                          .fallback = false});
      }
    });
  };
  script_command({"apply", "apply tuned script, TBD", false}, "app", {"enc", "de"});

  command({"tuning", "AI tune optimize params", true}, [this](Level& level) {
    add_func(level, "tuning");
    add_field(level, {.key = "tuning_outpath", .names = "--tuning_outpath", .fallback = "."});
    add_field(level, {.key = "PROJECT_YAML",
                      .names = "PROJECT_YAML",
                      .help = "project yaml file",
                      .group = "positional arguments",
                      .kind = Kind::Positional});
  });

  script_command({"confuse", "obfuscated tuned script", false}, "con", {"cnf", "un"});
}

Level* Grammar::deepest() const {
  const CLI::App* app = &top_;
  while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
  for (auto& l : levels_) {
    if (l.app == app) return const_cast<Level*>(&l);
  }
  return const_cast<Level*>(&levels_.front());
}

// The record of the path from the top to `leaf`: what a deeper level was given wins over a
// shallower one, and a level's default never replaces a value given before.
Json Grammar::record_for(const Level& leaf) const {
  std::vector<const Level*> path;
  for (const Level* l = &leaf; l != nullptr; l = l->parent) path.insert(path.begin(), l);
  Json record = Json::object();
  for (const Level* l : path) {
    for (const Field& f : l->fields) {
      Json value;
      if (f.kind == Kind::Flag) {
        if (f.opt->count() == 0 && record.contains(f.key)) continue;
        value = f.opt->count() > 0;
      } else if (f.value) {
        if (f.kind == Kind::Integer || f.kind == Kind::OptionalInteger) {
          value = std::stol(*f.value);  // the check has made it a decimal integer
        } else {
          value = *f.value;
        }
      } else {
        if (record.contains(f.key)) continue;
        value = f.fallback;
      }
      record[f.key] = std::move(value);
    }
  }
  return record;
}

// Texts wrapped at blanks to `width` columns, continuation lines indented by `indent`.
std::string wrap(const std::string& text, size_t first_col, size_t indent) {
  std::string out;
  size_t col = first_col;
  std::stringstream ss(text);
  std::string word;
  bool first = true;
  for (size_t pos = 0; pos <= text.size();) {
    size_t blank = text.find(' ', pos);
    if (blank == std::string::npos) blank = text.size();
    word = text.substr(pos, blank - pos);
    if (!first && col + 1 + word.size() > kWidth) {
      out += "\n" + std::string(indent, ' ');
      col = indent;
    } else if (!first) {
      out += ' ';
      ++col;
    }
    out += word;
    col += word.size();
    first = false;
    pos = blank + 1;
  }
  return out;
}

std::string option_usage(const Field& f) {
  const std::string name = split_names(f.names).front();
  switch (f.kind) {
    case Kind::Flag:
      return "[" + name + "]";
    case Kind::OptionalInteger:
      return "[" + name + " [" + to_upper(f.key) + "]]";
    case Kind::Positional:
      return f.key;
    default:
      return "[" + name + " " + to_upper(f.key) + "]";
  }
}

std::string Grammar::usage(const Level& level) const {
  if (!level.usage_text.empty()) return "usage: " + level.usage_text + "\n";
  std::vector<std::string> parts;
  if (level.has_help) parts.push_back("[-h]");
  for (const Field& f : level.fields) {
    if (!f.help.empty() && f.kind != Kind::Positional) parts.push_back(option_usage(f));
  }
  for (const Field& f : level.fields) {
    if (f.kind == Kind::Positional) parts.push_back(f.key);
  }
  if (!level.children.empty()) parts.push_back(level.children_placeholder + " ...");
  const std::string head = "usage: " + level.prog + " ";
  std::string out = head;
  size_t col = head.size();
  const size_t indent = head.size() <= kWidth / 2 ? head.size() : 4;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && col + 1 + parts[i].size() > kWidth) {
      out += "\n" + std::string(indent, ' ');
      col = indent;
    } else if (i > 0) {
      out += ' ';
      ++col;
    }
    out += parts[i];
    col += parts[i].size();
  }
  return out + "\n";
}

// One help row: the invocation, then the help text at the help column (or on the next line).
std::string help_row(const std::string& invocation, const std::string& text) {
  std::string row = "  " + invocation;
  if (row.size() + 2 > kHelpCol) {
    row += "\n" + std::string(kHelpCol, ' ');
  } else {
    row += std::string(kHelpCol - row.size(), ' ');
  }
  std::stringstream lines(text);
  bool first = true;
  for (std::string line; std::getline(lines, line);) {
    if (!first) row += "\n" + std::string(kHelpCol, ' ');
    row += wrap(line, kHelpCol, kHelpCol);
    first = false;
  }
  return row + "\n";
}

std::string invocation(const Field& f) {
  if (f.kind == Kind::Positional) return f.key;
  std::string inv;
  for (const auto& n : split_names(f.names)) inv += (inv.empty() ? "" : ", ") + n;
  if (f.kind == Kind::OptionalInteger) return inv + " [" + to_upper(f.key) + "]";
  if (f.kind != Kind::Flag) return inv + " " + to_upper(f.key);
  return inv;
}

std::string Grammar::help(const Level& level) const {
  std::string out = usage(level);
  if (!level.description.empty()) out += "\n" + level.description + "\n";

  // Sections in order of first appearance; positionals first, then the options.
  std::vector<std::pair<std::string, std::string>> sections;
  auto section = [&](const std::string& title) -> std::string& {
    for (auto& s : sections) {
      if (s.first == title) return s.second;
    }
    return sections.emplace_back(title, "").second;
  };
  for (const Field& f : level.fields) {
    if (f.kind == Kind::Positional) section(f.group) += help_row(invocation(f), f.help);
  }
  if (level.has_help)
    section("options") += help_row("-h, --help", "show this help message and exit");
  if (level.has_version) section("options") += help_row("-v, --version", "version");
  for (const Field& f : level.fields) {
    if (!f.help.empty() && f.kind != Kind::Positional) {
      section(f.group) += help_row(invocation(f), f.help);
    }
  }
  if (!level.children.empty()) {
    std::string& list = section(level.children_title);
    for (const Level* child : level.children) {
      list += help_row(child->prog.substr(level.prog.size() + 1), child->list_line);
    }
  }
  for (const auto& [title, body] : sections) out += "\n" + title + ":\n" + body;
  if (!level.epilog.empty()) out += "\n" + level.epilog + "\n";
  return out;
}

ParseOutcome Grammar::refuse(const Level& level, const std::string& message) const {
  ParseOutcome o;
  o.exit_status = 2;
  o.err = usage(level) + level.prog + ": error: " + message + "\n";
  return o;
}

// The message of a CLI11 error, worded for the user.
std::string message_of(const CLI::ParseError& e, const Level& level) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ValidationError*>(&e)) return "argument " + what;
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    return "argument " + what.substr(0, what.find(':')) + ": expected one argument";
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&e) && level.app->get_subcommands().empty()) {
    std::string extras;
    for (const auto& w : level.app->remaining(true)) extras += (extras.empty() ? "" : " ") + w;
    if (level.children.empty()) return "unrecognized arguments: " + extras;
    std::string choices;
    for (const Level* c : level.children) {
      choices += (choices.empty() ? "" : ", ") + c->prog.substr(level.prog.size() + 1);
    }
    const auto extra = level.app->remaining(true);
    return "invalid choice: '" + (extra.empty() ? std::string() : extra.front()) +
           "' (choose from " + choices + ")";
  }
  return what;
}

ParseOutcome Grammar::parse() {
  std::vector<std::string> args(words_.rbegin(), words_.rend() - 1);  // CLI11 wants them reversed
  try {
    top_.parse(args);
  } catch (const HelpRequested& h) {
    return {std::nullopt, 0, help(*h.level), ""};
  } catch (const VersionRequested&) {
    return {std::nullopt, 0, CmdFrontInternals::version() + "\n", ""};
  } catch (const CLI::ParseError& e) {
    const Level& at = *deepest();
    return refuse(at, message_of(e, at));
  }

  const Level& leaf = *deepest();
  if (!leaf.children.empty()) {
    return refuse(leaf, leaf.parent == nullptr ? "a command is required" : "a scene is required");
  }
  Json record = record_for(leaf);
  const std::string func = record.value("func", std::string());
  if (func == "col" || func == "ana") {
    auto message = CmdFrontInternals::check_perf_cmdline(record);
    if (!message) message = CmdFrontInternals::check_offcpu_cmdline(record);
    if (message) return refuse(leaf, *message);
  }
  return {std::move(record), 0, "", ""};
}

}  // namespace

ParseOutcome CmdFrontInternals::parse(const std::vector<std::string>& words) {
  return Grammar(words).parse();
}

}  // namespace orvane
