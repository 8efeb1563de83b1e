#pragma once
// The choice of the next configuration from scored candidates.
#include <functional>
#include <optional>
#include <vector>

#include "surrogate_model.hpp"
#include "trust_region.hpp"

namespace orvane::tuning {

// Maximises the log expected improvement over valid configurations: ranks candidates, refines
// the best few by a gradient-based local optimiser over their numeric coordinates within the
// box (their options held), and returns the best one still worth measuring.
class AcquisitionOptimiser {
 public:
  AcquisitionOptimiser(const SurrogateModel& model, int refine_starts, int refine_evals)
      : model_(model), refine_starts_(refine_starts), refine_evals_(refine_evals) {}

  // The candidate with the largest log expected improvement over `best` for which `is_new`
  // holds, after the refined points joined the candidates (no refinement when `refine` is
  // false: a whole small space is already every candidate there is); nullopt when none is new.
  std::optional<Point> choose(std::vector<Point> candidates, double best, const Box& box,
                              bool refine, const std::function<bool(const Point&)>& is_new) const;

  // The configuration a local optimiser reaches from `start` within the box, snapped to the
  // grid.
  Point refine(const Point& start, double best, const Box& box) const;

 private:
  const SurrogateModel& model_;
  int refine_starts_;
  int refine_evals_;
};

}  // namespace orvane::tuning
