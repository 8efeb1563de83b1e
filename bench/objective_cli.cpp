// orvane-objective NAME key=value... : measures one configuration of a synthetic objective and
// prints "value: FIGURE", so that a tuning project's benchmark command can call it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <orvane/json.hpp>

#include "objectives.hpp"

namespace {

std::string fmt_number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void usage(FILE* out) {
  std::fprintf(out,
               "usage: orvane-objective NAME key=value... [--seed=N]\n"
               "Prints 'value: FIGURE' for the configuration. Noisy objectives draw fresh noise\n"
               "on each call unless --seed is given.\n\nobjectives:\n");
  for (const auto& o : orvane::bench::objectives()) {
    std::fprintf(out, "  %s (%s, best %.6g):", o.name.c_str(), o.minimize ? "minimise" : "maximise",
                 o.optimum);
    for (const auto& p : o.params) std::fprintf(out, " %s", p.name.c_str());
    std::fprintf(out, "\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  using orvane::bench::find_objective;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const auto* objective = find_objective(argv[1]);
  if (!objective) {
    std::fprintf(stderr, "orvane-objective: unknown objective '%s'\n", argv[1]);
    usage(stderr);
    return 2;
  }
  orvane::Json values = orvane::Json::object();
  std::mt19937_64 rng(std::random_device{}());
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
    const auto eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "orvane-objective: expected key=value, got '%s'\n", arg.c_str());
      return 2;
    }
    values[arg.substr(0, eq)] = arg.substr(eq + 1);
  }
  for (const auto& [key, value] : values.items()) {
    bool known = false;
    for (const auto& p : objective->params) known = known || p.name == key;
    if (!known) {
      std::fprintf(stderr, "orvane-objective: %s has no parameter '%s'\n", objective->name.c_str(),
                   key.c_str());
      return 2;
    }
  }
  orvane::tuning::Point x;
  for (const auto& p : objective->params) {
    if (!values.contains(p.name)) {
      std::fprintf(stderr, "orvane-objective: missing %s=VALUE\n", p.name.c_str());
      return 2;
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
      std::fprintf(stderr, "orvane-objective: %s=%s is not valid: expected %s\n", p.name.c_str(),
                   values[p.name].get<std::string>().c_str(), allowed.c_str());
      return 2;
    }
    x.push_back((*v)[0]);
  }
  std::printf("value: %.10g\n", objective->measure(x, rng));
  return 0;
}
