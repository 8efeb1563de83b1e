#pragma once
// The space a tuning run searches: typed, bounded parameters, and the strategies that propose
// configurations in it one at a time.
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane::tuning {

enum class ParamType { Int, Float, Enum };

struct ParamSpec {
  std::string name;
  ParamType type = ParamType::Int;
  double min = 0;  // Int, Float: inclusive bounds
  double max = 0;
  std::optional<double> step;        // Int, Float: values are min + k * step
  std::vector<std::string> options;  // Enum: the allowed texts
};

// One value per parameter, in the order of the space: Int and Float as numbers, Enum as the index
// of the option.
using Point = std::vector<double>;

class SearchSpace {
 public:
  explicit SearchSpace(std::vector<ParamSpec> params);

  const std::vector<ParamSpec>& params() const { return params_; }
  size_t dims() const { return params_.size(); }

  // The nearest valid configuration: within bounds, on the step grid, whole for Int and Enum.
  Point snap(const Point& p) const;
  // A uniformly drawn valid configuration.
  Point random(std::mt19937_64& rng) const;
  // Number of distinct configurations; nullopt when a Float has no step (unbounded count).
  std::optional<double> cardinality() const;
  // The values of one parameter in increasing order (Enum: the option indices); nullopt for a
  // Float without a step.
  std::optional<std::vector<double>> grid_values(size_t param) const;
  // The configuration of a finite space at a mixed-radix index in [0, cardinality()), the first
  // parameter varying fastest.
  Point at_index(unsigned long long index) const;
  // Every configuration of a finite space, in index order. Throws std::logic_error when the
  // space is not finite or has more than `limit` configurations.
  std::vector<Point> enumerate(std::size_t limit) const;

  // Model coordinates: Int and Float scaled to [0, 1], Enum one-hot. encoded_dims() long.
  size_t encoded_dims() const;
  std::vector<double> encode(const Point& p) const;
  // Inverse of encode for any vector of model coordinates (Enum: the largest coordinate), snapped.
  Point decode(const std::vector<double>& u) const;

  // {name: value} in order: Int as integer, Float as real number, Enum as its text.
  Json to_json(const Point& p) const;
  // The configuration of a {name: value} map whose values may be texts ("1024", "on"); nullopt
  // when a name is missing or a value does not belong to the space.
  std::optional<Point> from_json(const Json& values) const;
  // A text that is equal for two points exactly when they are the same configuration.
  std::string key(const Point& p) const;

 private:
  std::vector<ParamSpec> params_;
};

// Proposes configurations and learns from their scores. Scores are "higher is better": callers
// that minimise pass the negated figure.
class Strategy {
 public:
  virtual ~Strategy() = default;
  // The next configuration to measure, never one already told; nullopt when none is left.
  virtual std::optional<Point> ask() = 0;
  virtual void tell(const Point& x, double score) = 0;
  // The configuration believed best among those told.
  virtual Point recommend() const = 0;
};

std::unique_ptr<Strategy> make_random_strategy(const SearchSpace& space, std::uint64_t seed);

}  // namespace orvane::tuning
