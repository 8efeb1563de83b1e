// The initial design: a maximin Latin hypercube in model coordinates, every other point on
// linear scales.
#include "initial_design.hpp"

#include <Eigen/Core>

#include <algorithm>
#include <limits>
#include <numeric>

namespace orvane::tuning {
namespace {

// Hypercubes drawn; the most spread-out one is kept.
constexpr int kTries = 32;

}  // namespace

std::vector<Point> latin_hypercube(const ModelCoordinates& coords, int n, std::mt19937_64& rng) {
  const SearchSpace& space = coords.space();
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<int> perm(static_cast<size_t>(n));
  // Every other point is placed on linear scales. A log-stratified design puts half its points
  // below the geometric mean of a wide range (below 32 of 1..1024, below 4 of 1..16); when the
  // score depends on differences rather than ratios, as with thread counts that saturate a device,
  // that half is wasted, and the few points of a short search's design cannot afford it. The
  // model keeps the log scale; it sees both kinds of point.
  const ModelCoordinates linear(space, 0.0, coords.one_hot());
  std::vector<std::vector<double>> best;
  double best_gap = -1;
  // Comparing designs costs n² distances each; a large design keeps its first draw.
  const int tries = n <= 200 ? kTries : 1;
  for (int t = 0; t < tries; ++t) {
    std::vector<std::vector<double>> design(static_cast<size_t>(n),
                                            std::vector<double>(coords.dims(), 0.0));
    // Numeric ranges are stratified in model coordinates, enum options by index.
    std::vector<Point> options(design.size(), Point(space.dims(), 0.0));
    size_t numeric_k = 0;
    for (size_t i = 0; i < space.dims(); ++i) {
      const ParamSpec& p = space.params()[i];
      std::iota(perm.begin(), perm.end(), 0);
      std::shuffle(perm.begin(), perm.end(), rng);
      for (size_t j = 0; j < design.size(); ++j) {
        const double u = (perm[j] + unit(rng)) / n;
        if (p.type == ParamType::Enum) {
          options[j][i] = static_cast<double>(
              std::min(static_cast<size_t>(u * static_cast<double>(p.options.size())),
                       p.options.size() - 1));
        } else {
          design[j][static_cast<size_t>(coords.numeric()[numeric_k])] = u;
        }
      }
      if (p.type != ParamType::Enum) ++numeric_k;
    }
    for (size_t j = 0; j < design.size(); ++j) {
      Point x = (j % 2 == 1 ? linear : coords).decode(design[j]);
      for (size_t i = 0; i < space.dims(); ++i) {
        if (space.params()[i].type == ParamType::Enum) x[i] = options[j][i];
      }
      design[j] = coords.encode(x);
    }
    double gap = std::numeric_limits<double>::infinity();
    for (size_t a = 0; a < design.size(); ++a) {
      const Eigen::Map<const Eigen::VectorXd> ua(design[a].data(),
                                                 static_cast<long>(design[a].size()));
      for (size_t b = 0; b < a; ++b) {
        const Eigen::Map<const Eigen::VectorXd> ub(design[b].data(),
                                                   static_cast<long>(design[b].size()));
        gap = std::min(gap, (ua - ub).squaredNorm());
      }
    }
    if (gap > best_gap) {
      best_gap = gap;
      best = std::move(design);
    }
  }
  std::vector<Point> out;
  for (const auto& u : best) out.push_back(coords.decode(u));
  return out;
}

}  // namespace orvane::tuning
