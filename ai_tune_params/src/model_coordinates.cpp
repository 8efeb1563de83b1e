// Model coordinates: linear or logarithmic scaling of numeric ranges, one-hot enums.
#include "model_coordinates.hpp"

#include <algorithm>
#include <cmath>

namespace orvane::tuning {

ModelCoordinates::ModelCoordinates(const SearchSpace& space, double log_ratio)
    : space_(space), dims_(space.encoded_dims()) {
  long col = 0;
  for (const auto& p : space.params()) {
    if (p.type == ParamType::Enum) {
      col += static_cast<long>(p.options.size());
      log_.push_back(false);
    } else {
      numeric_.push_back(col++);
      log_.push_back(log_ratio > 0 && p.min > 0 && p.max >= log_ratio * p.min);
    }
  }
}

std::vector<double> ModelCoordinates::encode(const Point& x) const {
  std::vector<double> u = space_.encode(x);
  for (size_t i = 0, k = 0; i < log_.size(); ++i) {
    const ParamSpec& p = space_.params()[i];
    if (p.type == ParamType::Enum) continue;
    const auto col = static_cast<size_t>(numeric_[k++]);
    if (log_[i]) u[col] = std::log(x[i] / p.min) / std::log(p.max / p.min);
  }
  return u;
}

Point ModelCoordinates::decode(std::vector<double> u) const {
  for (size_t i = 0, k = 0; i < log_.size(); ++i) {
    const ParamSpec& p = space_.params()[i];
    if (p.type == ParamType::Enum) continue;
    const auto col = static_cast<size_t>(numeric_[k++]);
    double v = std::clamp(u[col], 0.0, 1.0);
    if (log_[i]) v = (p.min * std::exp(v * std::log(p.max / p.min)) - p.min) / (p.max - p.min);
    u[col] = v;
  }
  return space_.decode(u);
}

}  // namespace orvane::tuning
