// The search space: snapping, drawing, encoding for models, and conversion to parameter maps.
#include <orvane/search_space.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace orvane::tuning {
namespace {

// Number of grid values of a stepped or integer range.
double grid_size(const ParamSpec& p) {
  if (p.type == ParamType::Enum) return static_cast<double>(p.options.size());
  double step = p.step ? *p.step : 1.0;
  return std::floor((p.max - p.min) / step + 1e-9) + 1;
}

bool on_grid(const ParamSpec& p) {
  return p.type != ParamType::Float || p.step.has_value();
}

double snap_one(const ParamSpec& p, double v) {
  if (p.type == ParamType::Enum) {
    const double last = static_cast<double>(p.options.size()) - 1;
    return std::clamp(std::round(v), 0.0, std::max(last, 0.0));
  }
  if (std::isnan(v)) v = p.min;
  v = std::clamp(v, p.min, p.max);
  if (on_grid(p)) {
    const double step = p.step ? *p.step : 1.0;
    const double k = std::min(std::round((v - p.min) / step), grid_size(p) - 1);
    v = p.min + k * step;
    if (p.type == ParamType::Int) v = std::round(v);
  }
  return v;
}

// A stepped value as the decimal it stands for: min + k * step gives 0.30000000000000004 for
// 0.1 + 2 * 0.1, which would reach set scripts and logs in that form.
double decimal_clean(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.12g", v);
  return std::strtod(buf, nullptr);
}

}  // namespace

SearchSpace::SearchSpace(std::vector<ParamSpec> params) : params_(std::move(params)) {
  for (const auto& p : params_) {
    if (p.type == ParamType::Enum ? p.options.empty() : p.min > p.max) {
      throw std::invalid_argument("parameter '" + p.name + "' has an empty range");
    }
    if (p.step && !(*p.step > 0)) {
      throw std::invalid_argument("parameter '" + p.name + "' has a step that is not positive");
    }
  }
}

Point SearchSpace::snap(const Point& x) const {
  Point out(params_.size());
  for (size_t i = 0; i < params_.size(); ++i) out[i] = snap_one(params_[i], x.at(i));
  return out;
}

Point SearchSpace::random(std::mt19937_64& rng) const {
  Point out(params_.size());
  for (size_t i = 0; i < params_.size(); ++i) {
    const ParamSpec& p = params_[i];
    if (on_grid(p)) {
      std::uniform_int_distribution<long long> k(0, static_cast<long long>(grid_size(p)) - 1);
      const double idx = static_cast<double>(k(rng));
      out[i] =
          p.type == ParamType::Enum ? idx : snap_one(p, p.min + idx * (p.step ? *p.step : 1.0));
    } else {
      std::uniform_real_distribution<double> u(p.min, p.max);
      out[i] = u(rng);
    }
  }
  return out;
}

std::optional<double> SearchSpace::cardinality() const {
  double n = 1;
  for (const auto& p : params_) {
    if (!on_grid(p)) return std::nullopt;
    n *= grid_size(p);
  }
  return n;
}

std::optional<std::vector<double>> SearchSpace::grid_values(size_t param) const {
  const ParamSpec& p = params_.at(param);
  if (!on_grid(p)) return std::nullopt;
  const double count = grid_size(p);
  std::vector<double> out;
  out.reserve(static_cast<size_t>(count));
  for (double k = 0; k < count; ++k) {
    out.push_back(p.type == ParamType::Enum ? k
                                            : snap_one(p, p.min + k * (p.step ? *p.step : 1.0)));
  }
  return out;
}

Point SearchSpace::at_index(unsigned long long index) const {
  Point x(params_.size());
  for (size_t i = 0; i < params_.size(); ++i) {
    const ParamSpec& p = params_[i];
    if (!on_grid(p)) throw std::logic_error("parameter '" + p.name + "' has no finite grid");
    const auto n = static_cast<unsigned long long>(grid_size(p));
    const double k = static_cast<double>(index % n);
    index /= n;
    x[i] = p.type == ParamType::Enum ? k : snap_one(p, p.min + k * (p.step ? *p.step : 1.0));
  }
  return x;
}

std::vector<Point> SearchSpace::enumerate(std::size_t limit) const {
  const auto card = cardinality();
  if (!card || *card > static_cast<double>(limit)) {
    throw std::logic_error("the search space is too large to enumerate");
  }
  std::vector<Point> out;
  out.reserve(static_cast<size_t>(*card));
  for (unsigned long long k = 0; k < static_cast<unsigned long long>(*card); ++k) {
    out.push_back(at_index(k));
  }
  return out;
}

size_t SearchSpace::encoded_dims() const {
  size_t n = 0;
  for (const auto& p : params_) n += p.type == ParamType::Enum ? p.options.size() : 1;
  return n;
}

std::vector<double> SearchSpace::encode(const Point& x) const {
  std::vector<double> u;
  u.reserve(encoded_dims());
  for (size_t i = 0; i < params_.size(); ++i) {
    const ParamSpec& p = params_[i];
    if (p.type == ParamType::Enum) {
      for (size_t k = 0; k < p.options.size(); ++k) u.push_back(k == x.at(i) ? 1.0 : 0.0);
    } else {
      u.push_back(p.max > p.min ? (x.at(i) - p.min) / (p.max - p.min) : 0.0);
    }
  }
  return u;
}

Point SearchSpace::decode(const std::vector<double>& u) const {
  Point x(params_.size());
  size_t j = 0;
  for (size_t i = 0; i < params_.size(); ++i) {
    const ParamSpec& p = params_[i];
    if (p.type == ParamType::Enum) {
      const auto first = u.begin() + static_cast<long>(j);
      const auto last = first + static_cast<long>(p.options.size());
      x[i] = static_cast<double>(std::max_element(first, last) - first);
      j += p.options.size();
    } else {
      x[i] = p.min + u.at(j++) * (p.max - p.min);
    }
  }
  return snap(x);
}

Json SearchSpace::to_json(const Point& x) const {
  Json out = Json::object();
  for (size_t i = 0; i < params_.size(); ++i) {
    const ParamSpec& p = params_[i];
    switch (p.type) {
      case ParamType::Int:
        out[p.name] = static_cast<long long>(std::llround(x.at(i)));
        break;
      case ParamType::Float:
        out[p.name] = p.step ? decimal_clean(x.at(i)) : x.at(i);
        break;
      case ParamType::Enum:
        out[p.name] = p.options.at(static_cast<size_t>(x.at(i)));
        break;
    }
  }
  return out;
}

std::optional<Point> SearchSpace::from_json(const Json& values) const {
  Point x(params_.size());
  for (size_t i = 0; i < params_.size(); ++i) {
    const ParamSpec& p = params_[i];
    auto it = values.find(p.name);
    if (it == values.end()) return std::nullopt;
    std::string text = it->is_string() ? it->get<std::string>() : it->dump();
    if (p.type == ParamType::Enum) {
      auto o = std::find(p.options.begin(), p.options.end(), text);
      if (o == p.options.end()) return std::nullopt;
      x[i] = static_cast<double>(o - p.options.begin());
      continue;
    }
    try {
      size_t used = 0;
      double v = std::stod(text, &used);
      if (used != text.size() || v < p.min || v > p.max) return std::nullopt;
      x[i] = v;
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return x;
}

std::string SearchSpace::key(const Point& x) const {
  return to_json(snap(x)).dump();
}

}  // namespace orvane::tuning
