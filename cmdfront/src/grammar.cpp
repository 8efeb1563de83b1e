// The command grammar of orvane on CLI11: commands, scenes, option sets, checks applied as the
// words are met, help screens, and the error report. The only file that includes CLI11.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
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

// "-1", "-5", "-0.5", "-.5": a word that reads as a negative number is a value, never an option.
bool looks_negative(const std::string& w) {
  if (w.size() < 2 || w[0] != '-') return false;
  const size_t dot = w.find('.');
  const std::string whole = w.substr(1, dot == std::string::npos ? std::string::npos : dot - 1);
  const std::string part = dot == std::string::npos ? "" : w.substr(dot + 1);
  auto digits = [](const std::string& t) {
    return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(whole) || !digits(part)) return false;
  return dot == std::string::npos ? !whole.empty() : !part.empty();
}

// Any other word that begins with "-" names an option ("--" alone ends the options).
bool looks_like_option(const std::string& w) {
  return w.size() > 1 && w[0] == '-' && !looks_negative(w);
}

// Whether CLI11 itself takes the word for an option. It does not for "-<digit>..." (no option of
// the grammar is a digit) nor for names it finds malformed ("-!x", "---x").
bool cli11_sees_option(const std::string& w) {
  std::string name, rest;
  if (CLI::detail::split_long(w, name, rest)) return true;
  return CLI::detail::split_short(w, name, rest) &&
         !std::isdigit(static_cast<unsigned char>(name[0]));
}

// Words whose meaning here differs from CLI11's are handed to CLI11 in disguise, so that it
// classifies them as this grammar does, and are revealed wherever a word comes back out of it
// (values, extras). A disguise begins with a character no command line of orvane contains; a
// word of the user's that begins with it is disguised too, so every such word is one of ours.
constexpr char kMark = '\x1f';
const std::string kOptionMark = std::string("--") + kMark;  // CLI11 sees an unknown option
const std::string kValueMark(1, kMark);                     // CLI11 sees a plain word

struct Disguised {
  std::string word;
  bool after_terminator;  // stood after "--"
};

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

  std::vector<std::string> disguised_args();
  std::string disguise(const std::string& word, const std::string& mark, bool after_terminator);
  const Disguised* disguised(const std::string& arg) const;
  std::string reveal(const std::string& arg) const;
  std::string extras_message(const Level& at, const Level*& where) const;

  std::vector<std::string> words_;
  std::vector<Disguised> disguised_;
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
    CLI::callback_t store = [this, fp](const CLI::results_t& r) {
      fp->value = r.empty() ? std::string() : r.back();
      // CLI11 runs no validator on a positional's value, so it is revealed here.
      if (fp->kind == Kind::Positional) fp->value = reveal(*fp->value);
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
    // Every value comes through here: a disguised word is revealed, and an option's value that is
    // itself an option ("-o --perf", "--duration -5.yaml") is refused. (--perf never meets one
    // as a separate word: its value is optional, so an option after it leaves it bare.)
    const bool takes_options = field.kind == Kind::Text || field.kind == Kind::Integer;
    check = [this, takes_options, then = std::move(check)](const std::string& given) {
      const std::string v = reveal(given);
      if (takes_options && looks_like_option(v)) throw CheckRefused("expected one argument");
      return then ? then(v) : v;
    };
    // transform(), not check(): CLI11 hands a check a copy, and the value stored is the one the
    // check returns.
    if (field.kind != Kind::Positional) field.opt->transform(checked(std::move(check)));
    field.opt->trigger_on_parse();
  }
  // CLI11 leaves an option of the unnamed group out of its error texts, so hidden options get a
  // group too; the help screens here show only options with a help text.
  field.opt->group(field.group.empty() ? "hidden" : field.group);
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

std::string Grammar::disguise(const std::string& word, const std::string& mark,
                              bool after_terminator) {
  disguised_.push_back({word, after_terminator});
  return mark + std::to_string(disguised_.size() - 1);
}

const Disguised* Grammar::disguised(const std::string& arg) const {
  size_t from = 0;
  if (arg.starts_with(kOptionMark)) {
    from = kOptionMark.size();
  } else if (arg.starts_with(kValueMark)) {
    from = kValueMark.size();
  } else {
    return nullptr;
  }
  size_t index = 0;
  auto [end, ec] = std::from_chars(arg.data() + from, arg.data() + arg.size(), index);
  if (ec != std::errc() || end != arg.data() + arg.size() || index >= disguised_.size()) {
    return nullptr;
  }
  return &disguised_[index];
}

std::string Grammar::reveal(const std::string& arg) const {
  const Disguised* d = disguised(arg);
  return d ? d->word : arg;
}

// The words after the program name as CLI11 is to see them.
std::vector<std::string> Grammar::disguised_args() {
  std::vector<std::string> args;
  bool after_terminator = false;
  for (size_t i = 1; i < words_.size(); ++i) {
    const std::string& w = words_[i];
    const bool marked = w.starts_with(kValueMark) || w.starts_with(kOptionMark);
    if (after_terminator) {
      args.push_back(disguise(w, kValueMark, true));  // a value, whatever it looks like
    } else if (w == "--") {
      after_terminator = true;
      args.push_back(w);
    } else if (looks_like_option(w)) {
      // "-5.yaml" is an option, unknown to every parser.
      args.push_back(cli11_sees_option(w) && !marked ? w : disguise(w, kOptionMark, false));
    } else if (w.empty() || w == "++" || marked || cli11_sees_option(w)) {
      // An empty word is a value that was given; "++" is a word like any other, not CLI11's
      // end of a command's words; "-.5" is a negative number.
      args.push_back(disguise(w, kValueMark, false));
    } else {
      args.push_back(w);
    }
  }
  return args;
}

// The report of words no parser took. At a level that expects a command or scene word, a word
// standing where that word belongs is an invalid choice; any other is an unrecognized argument.
// `where` is set to the level whose usage goes with the report.
std::string Grammar::extras_message(const Level& deepest, const Level*& where) const {
  std::vector<const Level*> path;
  for (const Level* l = &deepest; l != nullptr; l = l->parent) path.insert(path.begin(), l);
  where = &deepest;
  for (const Level* l : path) {
    const auto extras = l->app->remaining(false);
    if (extras.empty()) continue;
    const Disguised* d = disguised(extras.front());
    const std::string word = reveal(extras.front());
    if (!l->children.empty() && !(d && d->after_terminator) && !looks_like_option(word)) {
      std::string choices;
      for (const Level* c : l->children) {
        choices += (choices.empty() ? "" : ", ") + c->prog.substr(l->prog.size() + 1);
      }
      where = l;
      return "invalid choice: '" + word + "' (choose from " + choices + ")";
    }
    break;
  }
  // Words before "--" were left by the level they stood in, in command-line order; the words
  // after it go back up from the deepest level to the first one with room for them.
  std::vector<std::string> before, after;
  for (const Level* l : path) {
    for (const auto& arg : l->app->remaining(false)) {
      const Disguised* d = disguised(arg);
      (d && d->after_terminator ? after : before).push_back(reveal(arg));
    }
  }
  std::string list;
  for (const auto& w : before) list += (list.empty() ? "" : " ") + w;
  for (const auto& w : after) list += (list.empty() ? "" : " ") + w;
  return "unrecognized arguments: " + list;
}

// The message of any other CLI11 error, worded for the user.
std::string message_of(const CLI::ParseError& e, const std::vector<std::string>& words) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ValidationError*>(&e)) return "argument " + what;
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    std::string name = what.substr(0, what.find_first_of(": "));
    if (what.ends_with("was given a disallowed flag override")) {
      if (!name.starts_with("-")) name = "--" + name;  // CLI11 gives a flag's name bare
      // "--offcpu=yes": name the value the flag cannot take.
      for (const auto& w : words) {
        if (w.starts_with(name + "=")) {
          return "argument " + name + ": ignored explicit argument '" + w.substr(name.size() + 1) +
                 "'";
        }
      }
    }
    return "argument " + name + ": expected one argument";
  }
  return what;
}

ParseOutcome Grammar::parse() {
  std::vector<std::string> args = disguised_args();
  std::reverse(args.begin(), args.end());  // CLI11 wants them reversed
  try {
    top_.parse(args);
  } catch (const HelpRequested& h) {
    return {std::nullopt, 0, help(*h.level), ""};
  } catch (const VersionRequested&) {
    return {std::nullopt, 0, CmdFrontInternals::version() + "\n", ""};
  } catch (const CLI::ExtrasError&) {
    const Level* where = nullptr;
    const std::string message = extras_message(*deepest(), where);
    return refuse(*where, message);
  } catch (const CLI::ParseError& e) {
    return refuse(*deepest(), message_of(e, words_));
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
