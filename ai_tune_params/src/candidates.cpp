// Candidate generation: uniform draws, option switches, moves to the bounds and perturbations
// around the best.
#include "candidates.hpp"

#include <algorithm>
#include <iterator>

namespace orvane::tuning {

std::vector<Point> sample_candidates(const ModelCoordinates& coords, const Box& box,
                                     const std::vector<Point>& best, int uniform, int local,
                                     std::mt19937_64& rng) {
  const SearchSpace& space = coords.space();
  std::vector<Point> out;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  const double flip = 1.0 / static_cast<double>(space.dims());
  auto maybe_switch_enums = [&](Point& x) {
    for (size_t k = 0; k < space.dims(); ++k) {
      const ParamSpec& p = space.params()[k];
      if (p.type == ParamType::Enum && unit(rng) < flip) {
        std::uniform_int_distribution<size_t> pick(0, p.options.size() - 1);
        x[k] = static_cast<double>(pick(rng));
      }
    }
  };
  for (int i = 0; i < uniform; ++i) {
    std::vector<double> u = box.centre;
    for (long c : coords.numeric()) {
      const auto k = static_cast<size_t>(c);
      u[k] = box.lo[k] + unit(rng) * (box.hi[k] - box.lo[k]);
    }
    Point x = coords.decode(u);
    maybe_switch_enums(x);
    out.push_back(x);
  }
  for (const Point& centre : best) {
    for (size_t k = 0; k < space.dims(); ++k) {
      const ParamSpec& p = space.params()[k];
      if (p.type != ParamType::Enum) continue;
      for (size_t o = 0; o < p.options.size(); ++o) {
        Point x = centre;
        if (x[k] == static_cast<double>(o)) continue;
        x[k] = static_cast<double>(o);
        out.push_back(x);
      }
    }
  }
  // The best configuration with one numeric input moved to either end of the box: an optimum on
  // a bound, common for sizes and limits, is hit by no uniform draw, and by a clamped
  // perturbation only with every other input moved as well.
  const std::vector<double> incumbent = coords.encode(best.front());
  for (long c : coords.numeric()) {
    const auto k = static_cast<size_t>(c);
    for (double end : {box.lo[k], box.hi[k]}) {
      std::vector<double> u = incumbent;
      u[k] = end;
      out.push_back(coords.decode(u));
    }
  }
  // Perturbation scales relative to the box side.
  const double scales[] = {0.025, 0.0625, 0.125, 0.25};
  const size_t top = best.size();
  for (int i = 0; i < local; ++i) {
    const Point& base = best[static_cast<size_t>(i) % top];
    const double scale = scales[(static_cast<size_t>(i) / top) % std::size(scales)];
    std::vector<double> u = coords.encode(base);
    for (long c : coords.numeric()) {
      const auto k = static_cast<size_t>(c);
      const double side = box.hi[k] - box.lo[k] + 1e-3;
      u[k] = std::clamp(u[k] + scale * side * normal(rng), box.lo[k], box.hi[k]);
    }
    Point x = coords.decode(u);
    maybe_switch_enums(x);
    out.push_back(x);
  }
  return out;
}

}  // namespace orvane::tuning
