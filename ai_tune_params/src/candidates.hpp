#pragma once
// The configurations the Bayesian strategy scores its acquisition on.
#include <random>
#include <vector>

#include "model_coordinates.hpp"
#include "trust_region.hpp"

namespace orvane::tuning {

// Candidates in the box: `uniform` uniform draws, every other option of each enum at the best
// configurations (a switch of option is a jump small perturbations do not make), the best
// configuration with each numeric input alone moved to either end of the box, and `local`
// Gaussian perturbations of the best configurations at several scales; enums of the draws and
// perturbations switch at random, one per configuration on average. `best` lists the centres of
// the local candidates, best first (at least one).
std::vector<Point> sample_candidates(const ModelCoordinates& coords, const Box& box,
                                     const std::vector<Point>& best, int uniform, int local,
                                     std::mt19937_64& rng);

}  // namespace orvane::tuning
