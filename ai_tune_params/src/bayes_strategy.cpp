// The Bayesian strategy: a space-filling start, then the configuration the acquisition optimiser
// picks under a model of everything told so far, within a trust region.
#include <orvane/bayes_strategy.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "acquisition_optimiser.hpp"
#include "candidates.hpp"
#include "initial_design.hpp"
#include "surrogate_model.hpp"
#include "trust_region.hpp"

namespace orvane::tuning {
namespace {

// Number of finite scores below which the model is not worth fitting.
constexpr size_t kMinModelPoints = 2;
// Tries at drawing an unmeasured configuration before falling back to the whole grid.
constexpr int kRandomTries = 2000;
// Best told configurations that local candidates are drawn around.
constexpr size_t kLocalCentres = 5;

class BayesStrategy final : public Strategy {
 public:
  BayesStrategy(const SearchSpace& space, std::uint64_t seed, int initial_points,
                const BayesOptions& options)
      : space_(space),
        options_(options),
        initial_points_(std::max(initial_points, static_cast<int>(kMinModelPoints))),
        rng_(seed),
        model_(space, options, seed),
        region_(model_.coords(), options.trust_region) {}

  std::optional<Point> ask() override {
    if (exhausted()) return std::nullopt;
    if (!design_made_) {
      design_ = latin_hypercube(model_.coords(), initial_points_, rng_);
      design_made_ = true;
    }
    while (design_next_ < design_.size()) {
      const Point& x = design_[design_next_++];
      if (is_new(space_.key(x))) return propose(x);
    }
    if (finite_count() >= kMinModelPoints) {
      ensure_model();
      warm_theta_ = model_.gp().theta();
      if (auto x = next_by_model()) return propose(*x);
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
    if (design_made_ && design_next_ >= design_.size()) region_.update(score, scores_);
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
    const Eigen::VectorXd mean = model_.fitted_mean();
    size_t best = finite.front();
    for (size_t i : finite) {
      if (mean(static_cast<long>(i)) > mean(static_cast<long>(best))) best = i;
    }
    return xs_[best];
  }

 private:
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

  // The model is refitted lazily, once per new observation; recommend() may be the first to need
  // it, hence const.
  void ensure_model() const {
    if (model_.size() != xs_.size()) model_.fit(xs_, scores_, warm_theta_);
  }

  // The unmeasured configuration with the largest log expected improvement over the best
  // posterior mean among the measured configurations: with noisy scores, the best single score
  // would overstate what is achieved. Small spaces are scored whole.
  std::optional<Point> next_by_model() {
    const Eigen::VectorXd train_mean = model_.fitted_mean();
    std::vector<size_t> order;
    for (size_t i = 0; i < scores_.size(); ++i) {
      if (std::isfinite(scores_[i])) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return train_mean(static_cast<long>(a)) > train_mean(static_cast<long>(b));
    });
    const double best = train_mean(static_cast<long>(order.front()));
    const bool whole = small_space();
    const Box box = region_.box(xs_[order.front()], model_.gp().theta());
    std::vector<Point> candidates;
    if (whole) {
      candidates = space_.enumerate(options_.enumerate_limit);
    } else {
      std::vector<Point> centres;
      for (size_t t = 0; t < std::min(order.size(), kLocalCentres); ++t) {
        centres.push_back(xs_[order[t]]);
      }
      candidates = sample_candidates(model_.coords(), box, centres, options_.random_candidates,
                                     options_.local_candidates, rng_);
    }
    const AcquisitionOptimiser optimiser(model_, options_.refine_starts, options_.refine_evals);
    return optimiser.choose(std::move(candidates), best, box, !whole,
                            [this](const Point& x) { return is_new(space_.key(x)); });
  }

  // An unmeasured configuration drawn uniformly; for a small space whose draws keep hitting
  // measured configurations, the first unmeasured one of the grid.
  std::optional<Point> random_new() {
    for (int i = 0; i < kRandomTries; ++i) {
      Point x = space_.random(rng_);
      if (is_new(space_.key(x))) return x;
    }
    if (small_space()) {
      for (const Point& x : space_.enumerate(options_.enumerate_limit)) {
        if (is_new(space_.key(x))) return x;
      }
    }
    return std::nullopt;
  }

  SearchSpace space_;
  BayesOptions options_;
  int initial_points_;
  std::mt19937_64 rng_;
  mutable SurrogateModel model_;
  TrustRegion region_;

  std::vector<Point> design_;
  size_t design_next_ = 0;
  bool design_made_ = false;

  std::vector<Point> xs_;
  std::vector<double> scores_;
  std::unordered_set<std::string> told_keys_;
  std::unordered_set<std::string> pending_;  // proposed, not yet told
  Eigen::VectorXd warm_theta_;  // hyperparameters of the model behind the last proposal
};

}  // namespace

std::unique_ptr<Strategy> make_bayes_strategy(const SearchSpace& space, std::uint64_t seed,
                                              int initial_points, const BayesOptions& options) {
  return std::make_unique<BayesStrategy>(space, seed, initial_points, options);
}

int default_initial_points(long long search_budget) {
  constexpr long long kMost = 8;
  const long long quarter = (std::max(search_budget, 0LL) + 3) / 4;
  return static_cast<int>(std::clamp(quarter, static_cast<long long>(kMinModelPoints), kMost));
}

}  // namespace orvane::tuning
