// orvane-objective NAME key=value... : measures one configuration of a synthetic objective and
// prints "value: FIGURE", so that a tuning project's benchmark command can call it. The same
// program describes the objectives and measures many configurations in one process, so that the
// reference optimisers in Python search exactly the objectives the C++ strategies search.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <orvane/json.hpp>

#include "objectives.hpp"

namespace {

using orvane::bench::Objective;

std::string fmt_number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void usage(FILE* out) {
  std::fprintf(out,
               "usage: orvane-objective NAME key=value... [--seed=N]\n"
               "       orvane-objective NAME --batch\n"
               "       orvane-objective --describe [NAME]\n"
               "Prints 'value: FIGURE' for the configuration. Noisy objectives draw fresh noise\n"
               "on each call unless --seed is given. --batch reads one 'SEED key=value...' a\n"
               "line and answers each with 'FIGURE REGRET' (nan: the configuration crashed).\n"
               "--describe prints the objectives' spaces as JSON.\n\nobjectives:\n");
  for (const auto& o : orvane::bench::objectives()) {
    std::fprintf(out, "  %s (%s, best %.6g):", o.name.c_str(), o.minimize ? "minimise" : "maximise",
                 o.optimum);
    for (const auto& p : o.params) std::fprintf(out, " %s", p.name.c_str());
    std::fprintf(out, "\n");
  }
}

// The objective as JSON: its space in the form of the optimiser settings' params.
orvane::Json describe(const Objective& o) {
  using orvane::tuning::ParamType;
  const orvane::tuning::SearchSpace space(o.params);
  orvane::Json params = orvane::Json::array();
  for (const auto& p : o.params) {
    orvane::Json j = {{"name", p.name}};
    if (p.type == ParamType::Enum) {
      j["type"] = "enum";
      j["options"] = p.options;
    } else {
      j["type"] = p.type == ParamType::Int ? "int" : "float";
      j["range"] = {p.min, p.max};
      if (p.step) j["step"] = *p.step;
    }
    params.push_back(std::move(j));
  }
  return {{"name", o.name},
          {"direction", o.minimize ? "minimize" : "maximize"},
          {"optimum", o.optimum},
          {"noise", o.relative_noise},
          {"stock", space.to_json(o.stock_point())},
          {"params", std::move(params)}};
}

// The configuration of key=value words, or a message naming what is wrong.
std::optional<orvane::tuning::Point> parse_point(const Objective& objective,
                                                 const std::vector<std::string>& words,
                                                 std::string& error) {
  orvane::Json values = orvane::Json::object();
  for (const auto& arg : words) {
    const auto eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "expected key=value, got '" + arg + "'";
      return std::nullopt;
    }
    values[arg.substr(0, eq)] = arg.substr(eq + 1);
  }
  for (const auto& [key, value] : values.items()) {
    bool known = false;
    for (const auto& p : objective.params) known = known || p.name == key;
    if (!known) {
      error = objective.name + " has no parameter '" + key + "'";
      return std::nullopt;
    }
  }
  orvane::tuning::Point x;
  for (const auto& p : objective.params) {
    if (!values.contains(p.name)) {
      error = "missing " + p.name + "=VALUE";
      return std::nullopt;
    }
    // Each value on its own, so that the message names the one that is wrong.
    const orvane::tuning::SearchSpace one({p});
    const auto v = one.from_json(orvane::Json{{p.name, values[p.name]}});
    // On the grid up to roundoff of the text (0.3 versus 3 * 0.1).
    if (!v || std::fabs(one.snap(*v)[0] - (*v)[0]) > 1e-9 * std::max(1.0, std::fabs((*v)[0]))) {
      std::string allowed;
      if (p.type == orvane::tuning::ParamType::Enum) {
        for (const auto& o : p.options) allowed += (allowed.empty() ? "" : ", ") + o;
      } else {
        allowed = (p.type == orvane::tuning::ParamType::Int ? "an integer" : "a number") +
                  std::string(" in [") + fmt_number(p.min) + ", " + fmt_number(p.max) + "]";
        if (p.step) allowed += " in steps of " + fmt_number(*p.step);
      }
      error =
          p.name + "=" + values[p.name].get<std::string>() + " is not valid: expected " + allowed;
      return std::nullopt;
    }
    x.push_back(one.snap(*v)[0]);
  }
  return x;
}

// One configuration a line; each line's noise comes from its own seed, so that a run is
// reproducible whatever else the process measured before.
int batch(const Objective& objective) {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    unsigned long long seed = 0;
    if (!(in >> seed)) {
      std::fprintf(stderr, "orvane-objective: expected 'SEED key=value...', got '%s'\n",
                   line.c_str());
      return 2;
    }
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    std::string error;
    const auto x = parse_point(objective, words, error);
    if (!x) {
      std::fprintf(stderr, "orvane-objective: %s\n", error.c_str());
      return 2;
    }
    std::mt19937_64 rng(seed);
    std::printf("%.10g %.10g\n", objective.measure(*x, rng), objective.regret(*x));
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using orvane::bench::find_objective;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--describe") == 0) {
    orvane::Json all = orvane::Json::array();
    for (const auto& o : orvane::bench::objectives()) {
      if (argc < 3 || o.name == argv[2]) all.push_back(describe(o));
    }
    if (all.empty()) {
      std::fprintf(stderr, "orvane-objective: unknown objective '%s'\n", argv[2]);
      return 2;
    }
    std::printf("%s\n", all.dump(1).c_str());
    return 0;
  }
  const auto* objective = find_objective(argv[1]);
  if (!objective) {
    std::fprintf(stderr, "orvane-objective: unknown objective '%s'\n", argv[1]);
    usage(stderr);
    return 2;
  }
  if (argc == 3 && std::strcmp(argv[2], "--batch") == 0) return batch(*objective);
  std::mt19937_64 rng(std::random_device{}());
  std::vector<std::string> words;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--seed=", 0) == 0) {
      try {
        rng.seed(std::stoull(arg.substr(7)));
      } catch (const std::exception&) {
        std::fprintf(stderr, "orvane-objective: bad seed '%s'\n", arg.c_str());
        return 2;
      }
      continue;
    }
    words.push_back(arg);
  }
  std::string error;
  const auto x = parse_point(*objective, words, error);
  if (!x) {
    std::fprintf(stderr, "orvane-objective: %s\n", error.c_str());
    return 2;
  }
  const double figure = objective->measure(*x, rng);
  // A crash gives no figure, as a benchmark of a server that did not come up.
  if (std::isnan(figure)) {
    std::fprintf(stderr, "orvane-objective: %s crashed with this configuration\n",
                 objective->name.c_str());
    return 1;
  }
  std::printf("value: %.10g\n", figure);
  return 0;
}
