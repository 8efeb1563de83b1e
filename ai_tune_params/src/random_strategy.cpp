// Random search: uniform draws from the space, never a configuration proposed or told before.
#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include <orvane/search_space.hpp>

namespace orvane::tuning {
namespace {

class RandomStrategy : public Strategy {
 public:
  RandomStrategy(const SearchSpace& space, std::uint64_t seed) : space_(space), rng_(seed) {}

  std::optional<Point> ask() override {
    const std::optional<double> size = space_.cardinality();
    if (size && static_cast<double>(seen_.size()) >= *size) return std::nullopt;
    // Draws almost always find a new configuration; only a nearly used-up grid needs the scan.
    for (int attempt = 0; attempt < kDraws; ++attempt) {
      Point x = space_.random(rng_);
      if (seen_.insert(space_.key(x)).second) return x;
    }
    // A scan of a very large grid would take too long; 64 collisions in a row there mean the
    // draws are stuck, not that the grid is used up.
    if (!size || *size > kMaxScan) return std::nullopt;
    return scan(static_cast<unsigned long long>(*size));
  }

  void tell(const Point& x, double score) override {
    const Point snapped = space_.snap(x);
    seen_.insert(space_.key(snapped));
    if (std::isnan(score)) return;
    if (!best_ || score > best_score_) {
      best_ = snapped;
      best_score_ = score;
    }
  }

  Point recommend() const override {
    if (!best_) throw std::logic_error("no configuration has been scored yet");
    return *best_;
  }

 private:
  static constexpr int kDraws = 64;
  static constexpr double kMaxScan = 1e7;

  // Every grid point in turn from a random start, until one not seen yet.
  std::optional<Point> scan(unsigned long long size) {
    std::uniform_int_distribution<unsigned long long> start(0, size - 1);
    const unsigned long long first = start(rng_);
    for (unsigned long long k = 0; k < size; ++k) {
      Point x = space_.at_index((first + k) % size);
      if (seen_.insert(space_.key(x)).second) return x;
    }
    return std::nullopt;
  }

  SearchSpace space_;
  std::mt19937_64 rng_;
  std::unordered_set<std::string> seen_;  // proposed or told
  std::optional<Point> best_;
  double best_score_ = -std::numeric_limits<double>::infinity();
};

}  // namespace

std::unique_ptr<Strategy> make_random_strategy(const SearchSpace& space, std::uint64_t seed) {
  return std::make_unique<RandomStrategy>(space, seed);
}

}  // namespace orvane::tuning
