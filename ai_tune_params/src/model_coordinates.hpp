#pragma once
// The coordinates the Bayesian strategy models a search space in.
#include <vector>

#include <orvane/search_space.hpp>

namespace orvane::tuning {

// Int and Float scaled to [0, 1], Enum one-hot (one coordinate per option) or integer-coded (one
// coordinate, the option's index scaled to [0, 1]). An Int or Float whose range is positive and
// spans a factor of at least log_ratio is scaled on a log scale: such ranges (connection counts,
// buffer and cache sizes, worker counts) are given that wide because the right order of
// magnitude is unknown, and the score depends on the ratio between values rather than on their
// difference.
class ModelCoordinates {
 public:
  // log_ratio <= 0 keeps every range linear.
  ModelCoordinates(const SearchSpace& space, double log_ratio, bool one_hot = true);

  const SearchSpace& space() const { return space_; }
  size_t dims() const { return dims_; }
  // Model coordinates of the Int and Float parameters, in the order of the space.
  const std::vector<long>& numeric() const { return numeric_; }
  bool is_log(size_t param) const { return log_[param]; }
  bool one_hot() const { return one_hot_; }

  std::vector<double> encode(const Point& x) const;
  // The valid configuration nearest to any vector of model coordinates (clamped into [0, 1];
  // a one-hot Enum: the largest coordinate of its block).
  Point decode(std::vector<double> u) const;

 private:
  SearchSpace space_;
  bool one_hot_;
  size_t dims_ = 0;
  std::vector<long> first_;  // first model coordinate of each parameter
  std::vector<long> numeric_;
  std::vector<bool> log_;
};

}  // namespace orvane::tuning
