// The Bayesian strategy: a space-filling start, then a Gaussian-process model of the scores and
// the log expected improvement maximised over valid configurations inside a trust region.
#include <orvane/bayes_strategy.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include <nlopt.hpp>

#include "acquisition.hpp"
#include "gaussian_process.hpp"
#include "model_coordinates.hpp"

namespace orvane::tuning {
namespace {

// Number of finite scores below which the model is not worth fitting.
constexpr size_t kMinModelPoints = 2;
// Tries at drawing an unmeasured configuration before falling back to the whole grid.
constexpr int kRandomTries = 2000;
// Latin hypercubes drawn for the initial design; the most spread-out one is kept.
constexpr int kDesignTries = 32;
// Trust region: initial, largest and smallest side, and the runs that grow or shrink it.
constexpr double kRegionInitial = 0.8;
constexpr double kRegionMax = 1.6;
constexpr double kRegionMin = 0.0078125;  // 0.8 halved about seven times
constexpr int kRegionSuccesses = 3;
constexpr int kRegionMinFailures = 4;
// Best told configurations that local candidates are drawn around.
constexpr size_t kLocalCentres = 5;

Eigen::VectorXd to_eigen(const std::vector<double>& v) {
  return Eigen::Map<const Eigen::VectorXd>(v.data(), static_cast<long>(v.size()));
}

// The grid values of a parameter that has a finite number of them.
std::vector<double> grid_values(const ParamSpec& p) {
  std::vector<double> out;
  if (p.type == ParamType::Enum) {
    for (size_t k = 0; k < p.options.size(); ++k) out.push_back(static_cast<double>(k));
    return out;
  }
  const double step = p.step ? *p.step : 1.0;
  const double count = std::floor((p.max - p.min) / step + 1e-9) + 1;
  for (double k = 0; k < count; ++k) out.push_back(p.min + k * step);
  return out;
}

// Scores as the model sees them: the shortfall from the best score, on a log scale whose unit is
// the median shortfall, then standardised. The better half keeps its shape, while the tail of
// bad scores (a collapse, a failed run, an outlier) is compressed instead of flattening every
// other difference after standardisation.
Eigen::VectorXd model_scores(Eigen::VectorXd s, bool shortfall) {
  const long n = s.size();
  if (!shortfall) {
    const double mean = s.mean();
    const double sd = std::sqrt((s.array() - mean).square().sum() / static_cast<double>(n));
    return (s.array() - mean) / (sd > 0 ? sd : 1.0);
  }
  // The transform does not depend on the scale; scaling first keeps differences of huge
  // scores from overflowing.
  const double magnitude = s.cwiseAbs().maxCoeff();
  if (magnitude > 0) s /= magnitude;
  const double best = s.maxCoeff();
  std::vector<double> gaps(static_cast<size_t>(n));
  for (long i = 0; i < n; ++i) gaps[static_cast<size_t>(i)] = best - s(i);
  std::nth_element(gaps.begin(), gaps.begin() + n / 2, gaps.end());
  double unit = gaps[static_cast<size_t>(n / 2)];
  if (!(unit > 0)) unit = 1.0;
  Eigen::VectorXd y(n);
  for (long i = 0; i < n; ++i) y(i) = -std::log1p((best - s(i)) / unit);
  const double mean = y.mean();
  const double sd = std::sqrt((y.array() - mean).square().sum() / static_cast<double>(n));
  return (y.array() - mean) / (sd > 0 ? sd : 1.0);
}

class BayesStrategy final : public Strategy {
 public:
  BayesStrategy(const SearchSpace& space, std::uint64_t seed, int initial_points,
                const BayesOptions& options)
      : space_(space),
        coords_(space, options.log_scale_ratio, options.one_hot),
        options_(options),
        seed_(seed),
        initial_points_(std::max(initial_points, static_cast<int>(kMinModelPoints))),
        rng_(seed),
        gp_(model_bounds(options)) {}

  std::optional<Point> ask() override {
    if (exhausted()) return std::nullopt;
    if (!design_made_) {
      design_ = latin_hypercube(initial_points_);
      design_made_ = true;
    }
    while (design_next_ < design_.size()) {
      const Point& x = design_[design_next_++];
      if (is_new(space_.key(x))) return propose(x);
    }
    if (finite_count() >= kMinModelPoints) {
      ensure_model();
      warm_theta_ = gp_.theta();
      if (auto x = maximise_acquisition()) return propose(*x);
    }
    if (auto x = random_new()) return propose(*x);
    return std::nullopt;
  }

  void tell(const Point& x, double score) override {
    if (x.size() != space_.dims()) {
      throw std::invalid_argument("configuration has " + std::to_string(x.size()) +
                                  " values, the search space has " + std::to_string(space_.dims()) +
                                  " parameters");
    }
    const Point snapped = space_.snap(x);
    const std::string key = space_.key(snapped);
    pending_.erase(key);
    told_keys_.insert(key);
    if (design_made_ && design_next_ >= design_.size()) update_region(score);
    xs_.push_back(snapped);
    scores_.push_back(score);
  }

  Point recommend() const override {
    if (xs_.empty()) throw std::logic_error("no configuration has been measured yet");
    std::vector<size_t> finite;
    for (size_t i = 0; i < scores_.size(); ++i) {
      if (std::isfinite(scores_[i])) finite.push_back(i);
    }
    if (finite.empty()) return xs_.front();
    if (finite.size() < kMinModelPoints) return xs_[finite.front()];
    ensure_model();
    const Eigen::VectorXd mean = gp_.predict(train_x_).mean;
    size_t best = finite.front();
    for (size_t i : finite) {
      if (mean(static_cast<long>(i)) > mean(static_cast<long>(best))) best = i;
    }
    return xs_[best];
  }

 private:
  // The box of model coordinates proposals are drawn from: centred on the configuration with
  // the best posterior mean, its side region_ scaled per input by the input's length scale
  // relative to the others, so that inputs the score barely depends on get a wider side. Enum
  // coordinates are not bounded by it.
  struct Box {
    std::vector<double> centre, lo, hi;
  };

  // The hyperparameter box of the model: with the length-scale prior and its floors, or the
  // wide box of a plain fit.
  static GpBounds model_bounds(const BayesOptions& options) {
    GpBounds b;
    if (!options.lengthscale_prior) {
      b.prior_log_sigma = 0;
      b.min_lengthscale = 1e-3;
      b.max_lengthscale = 1e3;
      b.min_signal = 1e-2;
      b.min_noise = 1e-6;
    }
    return b;
  }

  bool is_new(const std::string& key) const {
    return !told_keys_.count(key) && !pending_.count(key);
  }

  Point propose(const Point& x) {
    pending_.insert(space_.key(x));
    return x;
  }

  bool exhausted() const {
    const auto card = space_.cardinality();
    return card && static_cast<double>(told_keys_.size() + pending_.size()) >= *card;
  }

  bool small_space() const {
    const auto card = space_.cardinality();
    return card && *card <= static_cast<double>(options_.enumerate_limit);
  }

  size_t finite_count() const {
    return static_cast<size_t>(
        std::count_if(scores_.begin(), scores_.end(), [](double s) { return std::isfinite(s); }));
  }

  // A Latin hypercube of n configurations in model coordinates: every numeric range is cut into
  // n equal strata holding one point each, and enum options are dealt out as evenly. Of several
  // random hypercubes the one whose closest pair of points is farthest apart is kept.
  std::vector<Point> latin_hypercube(int n) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<int> perm(static_cast<size_t>(n));
    std::vector<std::vector<double>> best;
    double best_gap = -1;
    // Comparing designs costs n² distances each; a large design keeps its first draw.
    const int tries = n <= 200 ? kDesignTries : 1;
    for (int t = 0; t < tries; ++t) {
      std::vector<std::vector<double>> design(static_cast<size_t>(n),
                                              std::vector<double>(coords_.dims(), 0.0));
      // Numeric ranges are stratified in model coordinates, enum options by index.
      std::vector<Point> options(design.size(), Point(space_.dims(), 0.0));
      size_t numeric_k = 0;
      for (size_t i = 0; i < space_.dims(); ++i) {
        const ParamSpec& p = space_.params()[i];
        std::iota(perm.begin(), perm.end(), 0);
        std::shuffle(perm.begin(), perm.end(), rng_);
        for (size_t j = 0; j < design.size(); ++j) {
          const double u = (perm[j] + unit(rng_)) / n;
          if (p.type == ParamType::Enum) {
            options[j][i] = static_cast<double>(
                std::min(static_cast<size_t>(u * static_cast<double>(p.options.size())),
                         p.options.size() - 1));
          } else {
            design[j][static_cast<size_t>(coords_.numeric()[numeric_k])] = u;
          }
        }
        if (p.type != ParamType::Enum) ++numeric_k;
      }
      for (size_t j = 0; j < design.size(); ++j) {
        Point x = coords_.decode(design[j]);
        for (size_t i = 0; i < space_.dims(); ++i) {
          if (space_.params()[i].type == ParamType::Enum) x[i] = options[j][i];
        }
        design[j] = coords_.encode(x);
      }
      double gap = std::numeric_limits<double>::infinity();
      for (size_t a = 0; a < design.size(); ++a) {
        for (size_t b = 0; b < a; ++b)
          gap = std::min(gap, (to_eigen(design[a]) - to_eigen(design[b])).squaredNorm());
      }
      if (gap > best_gap) {
        best_gap = gap;
        best = std::move(design);
      }
    }
    std::vector<Point> out;
    for (const auto& u : best) out.push_back(coords_.decode(u));
    return out;
  }

  // Grows the trust region after a run of improvements on the best score and shrinks it after
  // a run of failures; once it has shrunk to nothing it starts again from its initial size.
  void update_region(double score) {
    double best = -std::numeric_limits<double>::infinity();
    double worst = std::numeric_limits<double>::infinity();
    for (double s : scores_) {
      if (!std::isfinite(s)) continue;
      best = std::max(best, s);
      worst = std::min(worst, s);
    }
    const bool improved =
        std::isfinite(score) && (!std::isfinite(best) || score > best + 1e-3 * (best - worst));
    region_successes_ = improved ? region_successes_ + 1 : 0;
    region_failures_ = improved ? 0 : region_failures_ + 1;
    const int failure_limit =
        std::max(kRegionMinFailures, static_cast<int>(coords_.numeric().size()));
    if (region_successes_ >= kRegionSuccesses) {
      region_ = std::min(2 * region_, kRegionMax);
      region_successes_ = 0;
    } else if (region_failures_ >= failure_limit) {
      region_ /= 2;
      region_failures_ = 0;
    }
    if (region_ < kRegionMin) region_ = kRegionInitial;
  }

  // Fits the model to everything told so far, once per new observation. A failed measurement
  // (a score that is not finite) enters as the worst finite score, so that the model learns to
  // avoid its neighbourhood.
  void ensure_model() const {
    if (model_size_ == xs_.size()) return;
    const long n = static_cast<long>(xs_.size());
    double worst = std::numeric_limits<double>::infinity();
    for (double s : scores_) {
      if (std::isfinite(s)) worst = std::min(worst, s);
    }
    Eigen::VectorXd s(n);
    for (long i = 0; i < n; ++i) {
      const double v = scores_[static_cast<size_t>(i)];
      s(i) = std::isfinite(v) ? v : worst;
    }
    train_x_.resize(n, static_cast<long>(coords_.dims()));
    for (long i = 0; i < n; ++i) {
      train_x_.row(i) = to_eigen(coords_.encode(xs_[static_cast<size_t>(i)]));
    }
    gp_.set_data(train_x_, model_scores(s, options_.shortfall_transform));
    // The fit starts from the hyperparameters of the last proposal's model and draws its other
    // starting points from its own generator, so that whether recommend() was called in
    // between does not change later proposals.
    gp_.set_theta(warm_theta_.size() == train_x_.cols() + 2 ? warm_theta_ : gp_.default_theta());
    std::mt19937_64 fit_rng(seed_ ^ (0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(n + 1)));
    gp_.fit(fit_rng, options_.fit_starts, options_.fit_evals);
    model_size_ = xs_.size();
  }

  Box trust_region(const Point& centre) const {
    Box box;
    box.centre = coords_.encode(centre);
    box.lo.assign(box.centre.size(), 0.0);
    box.hi.assign(box.centre.size(), 1.0);
    const auto& numeric = coords_.numeric();
    if (numeric.empty() || !options_.trust_region) return box;
    double log_mean = 0;
    for (long c : numeric) log_mean += gp_.theta()(c);
    log_mean /= static_cast<double>(numeric.size());
    for (long c : numeric) {
      const auto k = static_cast<size_t>(c);
      const double half = 0.5 * region_ * std::exp(gp_.theta()(c) - log_mean);
      box.lo[k] = std::max(0.0, box.centre[k] - half);
      box.hi[k] = std::min(1.0, box.centre[k] + half);
    }
    return box;
  }

  // Every configuration of a small finite space.
  std::vector<Point> all_configurations() const {
    std::vector<std::vector<double>> values;
    for (const auto& p : space_.params()) values.push_back(grid_values(p));
    std::vector<Point> out;
    std::vector<size_t> idx(values.size(), 0);
    while (true) {
      Point x(values.size());
      for (size_t i = 0; i < values.size(); ++i) x[i] = values[i][idx[i]];
      out.push_back(space_.snap(x));
      size_t i = 0;
      while (i < idx.size() && ++idx[i] == values[i].size()) idx[i++] = 0;
      if (i == idx.size()) break;
    }
    return out;
  }

  // Candidates in the box: uniform draws, every other option of each enum at the best
  // configurations (a switch of option is a jump small perturbations do not make), and
  // Gaussian perturbations of the best configurations at several scales. `order` lists the
  // told configurations by decreasing posterior mean.
  std::vector<Point> sample_candidates(const Box& box, const std::vector<size_t>& order) {
    std::vector<Point> out;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    const double flip = 1.0 / static_cast<double>(space_.dims());
    auto maybe_switch_enums = [&](Point& x) {
      for (size_t k = 0; k < space_.dims(); ++k) {
        const ParamSpec& p = space_.params()[k];
        if (p.type == ParamType::Enum && unit(rng_) < flip) {
          std::uniform_int_distribution<size_t> pick(0, p.options.size() - 1);
          x[k] = static_cast<double>(pick(rng_));
        }
      }
    };
    for (int i = 0; i < options_.random_candidates; ++i) {
      std::vector<double> u = box.centre;
      for (long c : coords_.numeric()) {
        const auto k = static_cast<size_t>(c);
        u[k] = box.lo[k] + unit(rng_) * (box.hi[k] - box.lo[k]);
      }
      Point x = coords_.decode(u);
      maybe_switch_enums(x);
      out.push_back(x);
    }
    const size_t top = std::min(order.size(), kLocalCentres);
    for (size_t t = 0; t < top; ++t) {
      for (size_t k = 0; k < space_.dims(); ++k) {
        const ParamSpec& p = space_.params()[k];
        if (p.type != ParamType::Enum) continue;
        for (size_t o = 0; o < p.options.size(); ++o) {
          Point x = xs_[order[t]];
          if (x[k] == static_cast<double>(o)) continue;
          x[k] = static_cast<double>(o);
          out.push_back(x);
        }
      }
    }
    // Perturbation scales relative to the box side.
    const double scales[] = {0.025, 0.0625, 0.125, 0.25};
    for (int i = 0; i < options_.local_candidates; ++i) {
      const Point& base = xs_[order[static_cast<size_t>(i) % top]];
      const double scale = scales[(static_cast<size_t>(i) / top) % std::size(scales)];
      std::vector<double> u = coords_.encode(base);
      for (long c : coords_.numeric()) {
        const auto k = static_cast<size_t>(c);
        const double side = box.hi[k] - box.lo[k] + 1e-3;
        u[k] = std::clamp(u[k] + scale * side * normal(rng_), box.lo[k], box.hi[k]);
      }
      Point x = coords_.decode(u);
      maybe_switch_enums(x);
      out.push_back(x);
    }
    return out;
  }

  // Refines a configuration by maximising the log expected improvement over its Int and Float
  // coordinates within the box (the enum options held), then snaps the result to the grid.
  Point refine(const Point& start, double best, const Box& box) const {
    const auto& numeric = coords_.numeric();
    const auto m = static_cast<unsigned>(numeric.size());
    if (m == 0) return start;
    const std::vector<double> base = coords_.encode(start);
    struct Context {
      const GaussianProcess* gp;
      const std::vector<long>* cols;
      Eigen::VectorXd u;
      double best;
    } ctx{&gp_, &numeric, to_eigen(base), best};
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
    opt.set_maxeval(options_.refine_evals);
    opt.set_xtol_rel(1e-4);
    double f = 0;
    try {
      opt.optimize(v, f);
    } catch (const std::exception&) {
      // A stalled line search leaves the best point found so far in v.
    }
    std::vector<double> u = base;
    for (size_t i = 0; i < v.size(); ++i) u[static_cast<size_t>(numeric[i])] = v[i];
    return coords_.decode(u);
  }

  // Log expected improvement of each configuration over `best`, in model units.
  std::vector<double> acquisition(const std::vector<Point>& cand, double best) const {
    if (cand.empty()) return {};
    Eigen::MatrixXd c(static_cast<long>(cand.size()), static_cast<long>(coords_.dims()));
    for (size_t i = 0; i < cand.size(); ++i) {
      c.row(static_cast<long>(i)) = to_eigen(coords_.encode(cand[i]));
    }
    const GaussianProcess::Prediction pred = gp_.predict(c);
    std::vector<double> out(cand.size());
    for (size_t i = 0; i < cand.size(); ++i) {
      const double sd = std::sqrt(std::max(pred.variance(static_cast<long>(i)), 1e-18));
      out[i] = log_expected_improvement(pred.mean(static_cast<long>(i)), sd, best);
      if (!std::isfinite(out[i])) out[i] = -std::numeric_limits<double>::infinity();
    }
    return out;
  }

  // The unmeasured candidate with the largest log expected improvement over the best posterior
  // mean among the measured configurations: with noisy scores, the best single score would
  // overstate what is achieved. Small spaces are scored whole.
  std::optional<Point> maximise_acquisition() {
    const Eigen::VectorXd train_mean = gp_.predict(train_x_).mean;
    std::vector<size_t> order;
    for (size_t i = 0; i < scores_.size(); ++i) {
      if (std::isfinite(scores_[i])) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return train_mean(static_cast<long>(a)) > train_mean(static_cast<long>(b));
    });
    const double best = train_mean(static_cast<long>(order.front()));

    const bool whole = small_space();
    const Box box = trust_region(xs_[order.front()]);
    std::vector<Point> cand = whole ? all_configurations() : sample_candidates(box, order);
    std::vector<double> acq = acquisition(cand, best);
    std::vector<size_t> rank(cand.size());
    std::iota(rank.begin(), rank.end(), 0);
    auto by_acquisition = [&](size_t a, size_t b) { return acq[a] > acq[b]; };
    std::stable_sort(rank.begin(), rank.end(), by_acquisition);
    if (!whole) {
      // Refine the best few distinct candidates; the refined, snapped points join the pool.
      std::vector<Point> refined;
      std::unordered_set<std::string> seen;
      for (size_t i : rank) {
        if (static_cast<int>(refined.size()) >= options_.refine_starts) break;
        if (seen.insert(space_.key(cand[i])).second) refined.push_back(refine(cand[i], best, box));
      }
      const std::vector<double> racq = acquisition(refined, best);
      for (size_t i = 0; i < refined.size(); ++i) {
        cand.push_back(refined[i]);
        acq.push_back(racq[i]);
        rank.push_back(cand.size() - 1);
      }
      std::stable_sort(rank.begin(), rank.end(), by_acquisition);
    }
    for (size_t i : rank) {
      if (is_new(space_.key(cand[i]))) return cand[i];
    }
    return std::nullopt;
  }

  // An unmeasured configuration drawn uniformly; for a small space whose draws keep hitting
  // measured configurations, the first unmeasured one of the grid.
  std::optional<Point> random_new() {
    for (int i = 0; i < kRandomTries; ++i) {
      Point x = space_.random(rng_);
      if (is_new(space_.key(x))) return x;
    }
    if (small_space()) {
      for (const Point& x : all_configurations()) {
        if (is_new(space_.key(x))) return x;
      }
    }
    return std::nullopt;
  }

  SearchSpace space_;
  ModelCoordinates coords_;
  BayesOptions options_;
  std::uint64_t seed_;
  int initial_points_;
  std::mt19937_64 rng_;

  std::vector<Point> design_;
  size_t design_next_ = 0;
  bool design_made_ = false;

  double region_ = kRegionInitial;
  int region_successes_ = 0;
  int region_failures_ = 0;

  std::vector<Point> xs_;
  std::vector<double> scores_;
  std::unordered_set<std::string> told_keys_;
  std::unordered_set<std::string> pending_;  // proposed, not yet told

  // The model of what was told, refitted lazily after something new was told.
  mutable GaussianProcess gp_;
  mutable Eigen::MatrixXd train_x_;
  mutable size_t model_size_ = 0;
  Eigen::VectorXd warm_theta_;  // hyperparameters of the model behind the last proposal
};

}  // namespace

std::unique_ptr<Strategy> make_bayes_strategy(const SearchSpace& space, std::uint64_t seed,
                                              int initial_points, const BayesOptions& options) {
  return std::make_unique<BayesStrategy>(space, seed, initial_points, options);
}

}  // namespace orvane::tuning
