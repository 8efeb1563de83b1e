// The acquisition optimiser: ranking, L-BFGS refinement with NLopt, and the pick.
#include "acquisition_optimiser.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <unordered_set>

#include <nlopt.hpp>

#include "acquisition.hpp"

namespace orvane::tuning {

Point AcquisitionOptimiser::refine(const Point& start, double best, const Box& box) const {
  const ModelCoordinates& coords = model_.coords();
  const auto& numeric = coords.numeric();
  const auto m = static_cast<unsigned>(numeric.size());
  if (m == 0) return start;
  const std::vector<double> base = coords.encode(start);
  struct Context {
    const GaussianProcess* gp;
    const std::vector<long>* cols;
    Eigen::VectorXd u;
    double best;
  } ctx{&model_.gp(), &numeric,
        Eigen::Map<const Eigen::VectorXd>(base.data(), static_cast<long>(base.size())), best};
  auto objective = [](unsigned n, const double* v, double* g, void* data) -> double {
    auto* c = static_cast<Context*>(data);
    const auto& cols = *c->cols;
    for (unsigned i = 0; i < n; ++i) c->u(cols[i]) = v[i];
    double mean = 0;
    double sd = 0;
    Eigen::VectorXd dmean;
    Eigen::VectorXd dsd;
    c->gp->predict_one(c->u, mean, sd, g ? &dmean : nullptr, g ? &dsd : nullptr);
    double d_mean = 0;
    double d_sd = 0;
    const double value = log_expected_improvement(mean, sd, c->best, &d_mean, &d_sd);
    if (g) {
      for (unsigned i = 0; i < n; ++i) g[i] = -(d_mean * dmean(cols[i]) + d_sd * dsd(cols[i]));
    }
    return std::isfinite(value) ? -value : 1e300;
  };
  std::vector<double> lo, hi, v;
  for (long c : numeric) {
    const auto k = static_cast<size_t>(c);
    lo.push_back(box.lo[k]);
    hi.push_back(box.hi[k]);
    v.push_back(std::clamp(base[k], box.lo[k], box.hi[k]));
  }
  nlopt::opt opt(nlopt::LD_LBFGS, m);
  opt.set_lower_bounds(lo);
  opt.set_upper_bounds(hi);
  opt.set_min_objective(objective, &ctx);
  opt.set_maxeval(refine_evals_);
  opt.set_xtol_rel(1e-4);
  double f = 0;
  try {
    opt.optimize(v, f);
  } catch (const std::exception&) {
    // A stalled line search leaves the best point found so far in v.
  }
  std::vector<double> u = base;
  for (size_t i = 0; i < v.size(); ++i) u[static_cast<size_t>(numeric[i])] = v[i];
  return coords.decode(u);
}

std::optional<Point> AcquisitionOptimiser::choose(
    std::vector<Point> cand, double best, const Box& box, bool refine,
    const std::function<bool(const Point&)>& is_new) const {
  const SearchSpace& space = model_.coords().space();
  std::vector<double> acq = log_expected_improvements(model_, cand, best);
  std::vector<size_t> rank(cand.size());
  std::iota(rank.begin(), rank.end(), 0);
  auto by_acquisition = [&](size_t a, size_t b) { return acq[a] > acq[b]; };
  std::stable_sort(rank.begin(), rank.end(), by_acquisition);
  if (refine) {
    // Refine the best few distinct candidates; the refined, snapped points join the pool.
    std::vector<Point> refined;
    std::unordered_set<std::string> seen;
    for (size_t i : rank) {
      if (static_cast<int>(refined.size()) >= refine_starts_) break;
      if (seen.insert(space.key(cand[i])).second)
        refined.push_back(this->refine(cand[i], best, box));
    }
    const std::vector<double> racq = log_expected_improvements(model_, refined, best);
    for (size_t i = 0; i < refined.size(); ++i) {
      cand.push_back(refined[i]);
      acq.push_back(racq[i]);
      rank.push_back(cand.size() - 1);
    }
    std::stable_sort(rank.begin(), rank.end(), by_acquisition);
  }
  for (size_t i : rank) {
    if (is_new(cand[i])) return cand[i];
  }
  return std::nullopt;
}

}  // namespace orvane::tuning
