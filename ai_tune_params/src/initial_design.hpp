#pragma once
// The configurations the Bayesian strategy measures before it has a model.
#include <random>
#include <vector>

#include "model_coordinates.hpp"

namespace orvane::tuning {

// A Latin hypercube of n configurations: every numeric range is cut into n equal strata holding
// one point each, and enum options are dealt out as evenly. The strata are those of the model
// coordinates for the even points (the first, third, ...) and of linear scales for the odd ones,
// so that a range on a log scale is covered at both ends. Of several random hypercubes the one
// whose closest pair of points is farthest apart (in model coordinates) is kept.
std::vector<Point> latin_hypercube(const ModelCoordinates& coords, int n, std::mt19937_64& rng);

}  // namespace orvane::tuning
