#include "sampling/estimates.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <memory>

#include "sampling/band_move.hpp"
#include "sampling/beta_functions.hpp"
#include "sampling/sampler.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

ItemEstimate beta_estimate(const std::string& name, double a, double b) {
  ItemEstimate estimate;
  estimate.name = name;
  const double sum = a + b;
  estimate.mean = a / sum;
  estimate.sd = std::sqrt(a * b / (sum * sum * (sum + 1.0)));
  const std::array<double, 2> interval = beta_central_interval(a, b, 0.025);
  estimate.lower = interval[0];
  estimate.upper = interval[1];
  return estimate;
}

std::int64_t kept_draws_per_coordinate(std::size_t coordinates) {
  const std::int64_t spread = coordinates > 0 ? kKeptDrawsPerChain / static_cast<std::int64_t>(coordinates)
                                              : kMostKeptDraws;
  return std::clamp(spread, kFewestKeptDraws, kMostKeptDraws);
}

namespace {

// The m-th smallest value, counted from 1 (1 <= m <= values.size()).
double order_statistic(std::vector<double>& values, std::int64_t m) {
  const auto at = values.begin() + (m - 1);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// ceil(share * m) for share in (0, 1), at least 1: by integers, share as per mille.
std::int64_t ceil_position(std::int64_t per_mille, std::int64_t m) {
  return std::max<std::int64_t>(1, (per_mille * m + 999) / 1000);
}

// The sectioning estimate of the error of the per_mille quantile `whole` of `kept`
// (estimates.hpp): sections of consecutive values, each's quantile against `whole`.
double sectioning_error(const std::vector<double>& kept, std::int64_t per_mille, double whole) {
  const auto m = static_cast<std::int64_t>(kept.size());
  const std::int64_t sections = batch_count(m);
  if (sections < 2) return std::numeric_limits<double>::quiet_NaN();
  const std::int64_t size = m / sections;
  double squares = 0.0;
  std::vector<double> section;
  for (std::int64_t b = 0; b < sections; ++b) {
    section.assign(kept.begin() + b * size, kept.begin() + (b + 1) * size);
    const double deviation = order_statistic(section, ceil_position(per_mille, size)) - whole;
    squares += deviation * deviation;
  }
  const auto count = static_cast<double>(sections);
  return std::sqrt(squares / (count * (count - 1.0)));
}

}  // namespace

void interval_from_kept(const std::vector<double>& kept, ItemEstimate& estimate) {
  std::vector<double> values = kept;
  const auto m = static_cast<std::int64_t>(values.size());
  estimate.upper = order_statistic(values, ceil_position(975, m));
  estimate.lower = order_statistic(values, ceil_position(25, m));
  estimate.lower_mcse = sectioning_error(kept, 25, estimate.lower);
  estimate.upper_mcse = sectioning_error(kept, 975, estimate.upper);
}

struct EstimateChain::State {
  State(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
        const std::vector<double>& shape_a, const std::vector<double>& shape_b, const EstimateChainSettings& settings,
        std::size_t drawn_count, const Simplex* simplex, std::shared_ptr<const SparseRestrictions> shared)
      : sparse(shared ? std::move(shared) : std::make_shared<const SparseRestrictions>(restrictions, start.size())),
        r(*sparse),
        restriction_count(restrictions.size()),
        draws(item_draws(shape_a, shape_b)),
        bands(band_moves(restrictions, shape_a, shape_b, simplex)),
        stream(settings.seed, settings.key, StreamKind::EstimateSweeps, 0),
        state(start),
        burn_in(settings.niter / 10),
        after(settings.niter - burn_in),
        kept(drawn_count),
        mean(drawn_count, 0.0),
        squares(drawn_count, 0.0),
        batch_sum(drawn_count, 0.0),
        batch_mean_mean(drawn_count, 0.0),
        batch_squares(drawn_count, 0.0) {
    batches = batch_count(after);
    batch_size = batches > 0 ? after / batches : 0;
    if (grouped && settings.truncated < restriction_count) {
      truncated = settings.truncated;
      for (std::size_t k = 0; k < restriction_count; ++k) {
        if (r.terms_end(k) - r.terms_begin(k) == 1) alone.push_back(k);
      }
    }
    for (std::size_t j = 0; j < start.size(); ++j) alone_bounds.push_back(r.alone(j, truncated).bounds);
    const std::int64_t cap = kept_draws_per_coordinate(drawn_count);
    step = (after + cap - 1) / cap;
    for (std::vector<double>& values : kept) values.reserve(static_cast<std::size_t>((after + step - 1) / step));
  }

  std::shared_ptr<const SparseRestrictions> sparse;
  const SparseRestrictions& r;
  std::size_t restriction_count;
  // Grouped restrictions (stage_ends) are read from kept values (kept_item_bounds): the
  // same bounds, refreshed every kRefreshSweeps sweeps.
  bool grouped = grouped_restrictions(r.restrictions(), r.items());
  std::size_t truncated = restriction_count;  // the restrictions a sweep's draws are truncated to
  std::vector<std::size_t> alone;  // with truncated < restriction_count: those on one item alone
  std::vector<double> accepted;    // the state after the last sweep
  std::vector<double> values;
  std::vector<TruncatedBeta> draws;
  std::shared_ptr<const BandMoves> bands;
  CounterStream stream;
  std::vector<double> state;
  std::vector<ItemBounds> alone_bounds;  // per coordinate, from the restrictions on it alone
  std::int64_t burn_in = 0;
  std::int64_t after = 0;  // sweeps counted after the burn-in
  std::int64_t step = 1;   // every step-th of them kept
  std::vector<std::vector<double>> kept;
  std::vector<double> mean;
  std::vector<double> squares;  // sum of squared deviations (Welford)
  // Batch means of the sweeps after the burn-in: `batches` of `batch_size`, the current
  // batch's sum, and over the batches done, the mean of their means and the sum of their
  // squared deviations (Welford).
  std::int64_t batches = 0;
  std::int64_t batch_size = 0;
  std::int64_t batches_done = 0;
  std::vector<double> batch_sum;
  std::vector<double> batch_mean_mean;
  std::vector<double> batch_squares;
};

EstimateChain::EstimateChain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                             const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                             const EstimateChainSettings& settings, const Simplex* simplex,
                             std::shared_ptr<const SparseRestrictions> sparse)
    : restrictions_(restrictions), start_(start), shape_a_(shape_a), shape_b_(shape_b), settings_(settings),
      simplex_(simplex), sparse_(std::move(sparse)), niter_(settings.niter) {
  assert(!sparse_ || (sparse_->items() == start.size() && sparse_->restrictions() == restrictions.size()));
  std::vector<bool> involved(start.size(), false);
  for (std::size_t j = 0; j < start.size(); ++j) {
    for (const Restriction& restriction : restrictions) involved[j] = involved[j] || restriction.coefficients[j] != 0.0;
  }
  if (simplex != nullptr) {
    // The coordinates of an item move together: one involved draws them all.
    for (std::size_t i = 0; i < simplex->items.size(); ++i) {
      const auto [begin, end] = simplex->items[i];
      if (!std::any_of(involved.begin() + static_cast<std::ptrdiff_t>(begin),
                       involved.begin() + static_cast<std::ptrdiff_t>(end), [](bool x) { return x; })) {
        continue;
      }
      std::fill(involved.begin() + static_cast<std::ptrdiff_t>(begin), involved.begin() + static_cast<std::ptrdiff_t>(end),
                true);
      remainders_.push_back(i);
    }
  }
  for (std::size_t j = 0; j < start.size(); ++j) {
    if (involved[j]) drawn_.push_back(j);
  }
  if (drawn_.empty()) sweeps_ = niter_;  // nothing to run
}

EstimateChain::~EstimateChain() = default;

void EstimateChain::run_to(std::int64_t sweeps) {
  if (drawn_.empty() || sweeps_ >= std::min(sweeps, niter_)) return;
  if (!state_) {
    state_ = std::make_unique<State>(restrictions_, start_, shape_a_, shape_b_, settings_,
                                     drawn_.size() + remainders_.size(), simplex_, sparse_);
  }
  State& c = *state_;
  const std::vector<std::size_t>& drawn = drawn_;
  const std::vector<double>& shape_a = shape_a_;
  const std::vector<double>& shape_b = shape_b_;
  const std::size_t stage = c.restriction_count + 1;  // truncated by every restriction
  for (; sweeps_ < std::min(sweeps, niter_); ++sweeps_) {
    // The stage chains' sweep (StageChain::sweep) with every restriction in the truncation.
    if (c.truncated < c.restriction_count) {
      grouped_sweep(c);
    } else {
      if (c.grouped && (sweeps_ % kRefreshSweeps == 0 || c.values.size() < c.restriction_count)) {
        form_values(c.r, c.restriction_count, c.state, c.values);
      }
      for (std::size_t j : drawn) {
        const double was = c.state[j];
        const auto [low, up] = c.grouped ? kept_item_bounds(c.r, j, c.restriction_count, c.state, c.alone_bounds[j], c.values)
                                         : item_bounds(c.r, j, c.restriction_count, c.state, c.alone_bounds[j]);
        if (simplex_ != nullptr && simplex_->coupled(j)) {
          c.state[j] = scaled_draw(*simplex_, j, {low, up}, c.draws[j], c.state, c.stream);
        } else {
          c.state[j] = low < up ? c.draws[j].draw(low, up, c.stream) : 0.5 * (low + up);
        }
        if (c.grouped) add_moved(c.r, j, c.state[j] - was, c.restriction_count, c.values);
      }
      if (c.bands) {
        move_along_bands(c.bands->bands, c.bands->restrictions, stage, shape_a, shape_b, c.state, c.stream);
      }
    }
    if (sweeps_ < c.burn_in) continue;
    const std::int64_t counted = sweeps_ - c.burn_in;  // sweeps after the burn-in before this one
    if (observer_) observer_(counted, c.state);
    const double n = static_cast<double>(counted + 1);
    const bool keep = counted % c.step == 0;
    const bool batching = c.batches_done < c.batches;
    for (std::size_t i = 0; i < drawn.size() + remainders_.size(); ++i) {
      double x;
      if (i < drawn.size()) {
        x = c.state[drawn[i]];
      } else {
        const auto [begin, end] = simplex_->items[remainders_[i - drawn.size()]];
        double sum = 0.0;
        for (std::size_t k = begin; k < end; ++k) sum += c.state[k];
        x = 1.0 - sum;
      }
      const double deviation = x - c.mean[i];
      c.mean[i] += deviation / n;
      c.squares[i] += deviation * (x - c.mean[i]);
      if (keep) c.kept[i].push_back(x);
      if (batching) c.batch_sum[i] += x;
    }
    if (!batching) continue;
    if ((counted + 1) % c.batch_size != 0) continue;
    ++c.batches_done;
    const double done = static_cast<double>(c.batches_done);
    for (std::size_t i = 0; i < drawn.size() + remainders_.size(); ++i) {
      const double batch_mean = c.batch_sum[i] / static_cast<double>(c.batch_size);
      const double deviation = batch_mean - c.batch_mean_mean[i];
      c.batch_mean_mean[i] += deviation / done;
      c.batch_squares[i] += deviation * (batch_mean - c.batch_mean_mean[i]);
      c.batch_sum[i] = 0.0;
    }
  }
}

// One sweep of a grouped hypothesis's chain truncated to its first c.truncated
// restrictions, read from kept values; repeated until every restriction holds (the
// filter checks those on two or more items), so that the states kept are those of the
// chain at its visits to the hypothesis: a chain whose distribution is the posterior
// restricted by every restriction. After kGroupedTries sweeps in a row outside, the
// chain goes back to its last state and draws truncated to every restriction from then on.
void EstimateChain::grouped_sweep(State& c) const {
  const std::size_t limit = c.truncated;  // the hit is checked term by term or by the filter
  if (c.accepted.empty()) c.accepted = c.state;
  for (std::int64_t tries = 0; tries < kGroupedTries; ++tries) {
    form_values(c.r, limit, c.state, c.values);
    for (std::size_t j : drawn_) {
      const double was = c.state[j];
      const auto [low, up] = kept_item_bounds(c.r, j, c.truncated, c.state, c.alone_bounds[j], c.values);
      if (simplex_ != nullptr && simplex_->coupled(j)) {
        c.state[j] = scaled_draw(*simplex_, j, {low, up}, c.draws[j], c.state, c.stream);
      } else {
        c.state[j] = low < up ? c.draws[j].draw(low, up, c.stream) : 0.5 * (low + up);
      }
      add_moved(c.r, j, c.state[j] - was, limit, c.values);
    }
    bool holds = true;
    for (std::size_t k : c.alone) {
      const SparseRestrictions::Term& term = *c.r.terms_begin(k);
      holds = holds && 0.0 + term.coefficient * c.state[term.item] > c.r.constant(k);
    }
    if (holds && c.r.filter() != nullptr) holds = c.r.filter()->holds(c.r, 0, c.restriction_count, c.state);
    if (holds && c.r.filter() == nullptr) {
      for (std::size_t k : c.r.shared_restrictions()) {
        double value = 0.0;
        for (const SparseRestrictions::Term* term = c.r.terms_begin(k); term != c.r.terms_end(k); ++term) {
          value += term->coefficient * c.state[term->item];
        }
        if (!(value > c.r.constant(k))) {
          holds = false;
          break;
        }
      }
    }
    if (holds) {
      c.accepted = c.state;
      return;
    }
  }
  c.state = c.accepted;
  c.truncated = c.restriction_count;
  for (std::size_t j = 0; j < c.state.size(); ++j) c.alone_bounds[j] = c.r.alone(j, c.truncated).bounds;
  form_values(c.r, c.restriction_count, c.state, c.values);  // the kept values of every row from now on
}

std::vector<ItemEstimate> EstimateChain::estimates() const {
  std::vector<ItemEstimate> estimates(start_.size() + (simplex_ != nullptr ? simplex_->items.size() : 0));
  std::size_t next = 0;  // in drawn_
  for (std::size_t j = 0; j < start_.size(); ++j) {
    if (next < drawn_.size() && drawn_[next] == j) {
      ++next;
    } else {
      estimates[j] = beta_estimate("", shape_a_[j], shape_b_[j]);
    }
  }
  if (niter_ < 1 || drawn_.empty()) return estimates;
  const State& c = *state_;
  for (std::size_t i = 0; i < drawn_.size() + remainders_.size(); ++i) {
    ItemEstimate& estimate =
        estimates[i < drawn_.size() ? drawn_[i] : start_.size() + remainders_[i - drawn_.size()]];
    estimate.mean = c.mean[i];
    estimate.sd = std::sqrt(c.squares[i] / static_cast<double>(c.after));
    interval_from_kept(c.kept[i], estimate);
    const auto batches = static_cast<double>(c.batches_done);
    estimate.mean_mcse = c.batches_done >= 2 ? std::sqrt(c.batch_squares[i] / (batches * (batches - 1.0)))
                                             : std::numeric_limits<double>::quiet_NaN();
  }
  return estimates;
}

void EstimateChain::release() { state_.reset(); }

std::vector<ItemEstimate> restricted_estimates(const std::vector<Restriction>& restrictions,
                                               const std::vector<double>& start, const std::vector<double>& shape_a,
                                               const std::vector<double>& shape_b,
                                               const EstimateChainSettings& settings) {
  EstimateChain chain(restrictions, start, shape_a, shape_b, settings);
  chain.run_to(settings.niter);
  return chain.estimates();
}

}  // namespace propbf::evaluate
