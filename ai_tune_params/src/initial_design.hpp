#pragma once
// The configurations the Bayesian strategy measures before it has a model.
#include <random>
#include <vector>

#include "model_coordinates.hpp"

namespace orvane::tuning {

// A Latin hypercube of n configurations: every numeric range is cut, in model coordinates, into
// n equal strata holding one point each, and enum options are dealt out as evenly. Of several
// random hypercubes the one whose closest pair of points is farthest apart is kept.
std::vector<Point> latin_hypercube(const ModelCoordinates& coords, int n, std::mt19937_64& rng);

}  // namespace orvane::tuning
