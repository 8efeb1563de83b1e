// Model coordinates: linear or logarithmic scaling of numeric ranges, one-hot or integer-coded
// enums.
#include "model_coordinates.hpp"

#include <algorithm>
#include <cmath>

namespace orvane::tuning {

ModelCoordinates::ModelCoordinates(const SearchSpace& space, double log_ratio, bool one_hot)
    : space_(space), one_hot_(one_hot) {
  long col = 0;
  for (const auto& p : space.params()) {
    first_.push_back(col);
    if (p.type == ParamType::Enum) {
      col += one_hot ? static_cast<long>(p.options.size()) : 1;
      log_.push_back(false);
    } else {
      numeric_.push_back(col++);
      log_.push_back(log_ratio > 0 && p.min > 0 && p.max >= log_ratio * p.min);
    }
  }
  dims_ = static_cast<size_t>(col);
}

std::vector<double> ModelCoordinates::encode(const Point& x) const {
  std::vector<double> u(dims_, 0.0);
  for (size_t i = 0; i < log_.size(); ++i) {
    const ParamSpec& p = space_.params()[i];
    const auto col = static_cast<size_t>(first_[i]);
    const double v = x.at(i);
    if (p.type == ParamType::Enum) {
      const double last = static_cast<double>(p.options.size() - 1);
      if (one_hot_) {
        u[col + static_cast<size_t>(v)] = 1.0;
      } else {
        u[col] = last > 0 ? v / last : 0.0;
      }
    } else if (log_[i]) {
      u[col] = std::log(v / p.min) / std::log(p.max / p.min);
    } else {
      u[col] = p.max > p.min ? (v - p.min) / (p.max - p.min) : 0.0;
    }
  }
  return u;
}

Point ModelCoordinates::decode(std::vector<double> u) const {
  Point x(log_.size());
  for (size_t i = 0; i < log_.size(); ++i) {
    const ParamSpec& p = space_.params()[i];
    const auto col = static_cast<size_t>(first_[i]);
    if (p.type == ParamType::Enum) {
      const auto first = u.begin() + static_cast<long>(col);
      if (one_hot_) {
        x[i] = static_cast<double>(
            std::max_element(first, first + static_cast<long>(p.options.size())) - first);
      } else {
        x[i] = std::round(std::clamp(u[col], 0.0, 1.0) * static_cast<double>(p.options.size() - 1));
      }
      continue;
    }
    const double v = std::clamp(u[col], 0.0, 1.0);
    x[i] = log_[i] ? p.min * std::exp(v * std::log(p.max / p.min)) : p.min + v * (p.max - p.min);
  }
  return space_.snap(x);
}

}  // namespace orvane::tuning
