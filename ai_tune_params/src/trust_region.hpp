#pragma once
// The region of the space the Bayesian strategy draws its proposals from.
#include <vector>

#include <Eigen/Core>

#include "model_coordinates.hpp"

namespace orvane::tuning {

// A box of model coordinates: its centre and, per coordinate, its bounds within [0, 1].
struct Box {
  std::vector<double> centre, lo, hi;
};

// A box around the best configuration whose side grows after a run of improvements on the best
// score and shrinks after a run of failures; once it has shrunk to nothing it starts again from
// its initial size. A disabled region is the whole space.
class TrustRegion {
 public:
  TrustRegion(const ModelCoordinates& coords, bool enabled);

  // Updates the side after the score of a model-based proposal; `before` are the scores told
  // before it.
  void update(double score, const std::vector<double>& before);

  // The box centred on `centre`, its side scaled per numeric input by the input's length scale
  // (from the model's log hyperparameters `theta`) relative to the others, so that inputs the
  // score barely depends on get a wider side. Enum coordinates are not bounded by it.
  Box box(const Point& centre, const Eigen::VectorXd& theta) const;

  double side() const { return side_; }

 private:
  const ModelCoordinates& coords_;
  bool enabled_;
  double side_;
  int successes_ = 0;
  int failures_ = 0;
};

}  // namespace orvane::tuning
