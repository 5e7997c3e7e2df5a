#include "sampling/sampler.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "sampling/band_move.hpp"
#include "sampling/beta_functions.hpp"

namespace propbf::evaluate {

double batch_means_effective_sweeps(const std::vector<std::int64_t>& batch_hits, std::int64_t batch_size,
                                    std::int64_t niter) {
  const double sweeps = static_cast<double>(niter);
  const std::size_t batches = batch_hits.size();
  if (batches < 2 || batch_size < 1) return sweeps;
  std::int64_t total = 0;
  for (std::int64_t hits : batch_hits) total += hits;
  const double m = static_cast<double>(batch_size);
  const double p = static_cast<double>(total) / (m * static_cast<double>(batches));
  double squares = 0.0;
  for (std::int64_t hits : batch_hits) {
    const double deviation = static_cast<double>(hits) / m - p;
    squares += deviation * deviation;
  }
  const double batch_variance = m * squares / static_cast<double>(batches - 1);
  const double sweep_variance = p * (1.0 - p);
  if (!(batch_variance > 0.0) || !(sweep_variance > 0.0)) return sweeps;
  // The batch variance is itself an estimate with B - 1 degrees of freedom: the effective
  // sweeps shrink by (z / t)^2 so that the normal-width interval has the t interval's width.
  const double widening = student_to_normal_ratio(static_cast<double>(batches - 1));
  return std::min(sweeps, sweeps * sweep_variance / batch_variance / (widening * widening));
}

double discounted_effective_sweeps(const StageCount& count, std::int64_t batches) {
  if (batches < 10 || !(count.batch_correlation > 0.0)) return count.effective_sweeps;
  const double rho = std::min(count.batch_correlation, 1.0);
  return count.effective_sweeps * (1.0 - rho) / (1.0 + rho);
}

bool error_measured(const StageCount& count, std::int64_t batches) {
  if (count.hits < kFewHits) return false;
  if (batches < 2) return true;
  return discounted_effective_sweeps(count, batches) >= kEffectivePerBatch * static_cast<double>(batches);
}

StageCount stage_count(std::int64_t hits, const std::vector<std::int64_t>& batch_hits, std::int64_t batch_size,
                       std::int64_t niter) {
  StageCount count;
  count.hits = hits;
  count.effective_sweeps = batch_means_effective_sweeps(batch_hits, batch_size, niter);
  const std::size_t batches = batch_hits.size();
  if (batches >= 3 && batch_size >= 1) {
    std::int64_t total = 0;
    for (std::int64_t h : batch_hits) total += h;
    const double m = static_cast<double>(batch_size);
    const double p = static_cast<double>(total) / (m * static_cast<double>(batches));
    double squares = 0.0;
    double products = 0.0;
    for (std::size_t b = 0; b < batches; ++b) {
      const double deviation = static_cast<double>(batch_hits[b]) / m - p;
      squares += deviation * deviation;
      if (b + 1 < batches) products += deviation * (static_cast<double>(batch_hits[b + 1]) / m - p);
    }
    if (squares > 0.0) count.batch_correlation = products / squares;
  }
  count.error_measured = error_measured(count, batches);
  return count;
}

namespace {

// After a sweep, both forms of it: one move along each band that stage `stage` holds
// (none when the hypothesis has no band or its first band starts later).
void move_along_stage_bands(const BandMoves* moves, std::size_t stage, std::vector<double>& state,
                            CounterStream& stream) {
  if (moves == nullptr || moves->bands.front().first_stage > stage) return;
  move_along_bands(moves->bands, moves->restrictions, stage, moves->shape_a, moves->shape_b, state, stream);
}

// One sweep of a stage that reads restrictions 1 ... checked and is truncated to
// 1 ... truncated (one restriction per stage: stage t truncated to t - 1, checking t):
// each item in turn from its beta distribution truncated to the interval restrictions
// 1 ... truncated leave it, given the other items. Then one move along each of the
// stage's bands (band_move.hpp). Returns whether restrictions 1 ... checked all hold
// (strictly) afterwards. Coupled coordinates of `simplex` take scaled_draw.
bool sweep(const std::vector<Restriction>& restrictions, std::size_t truncated, std::size_t checked,
           const std::vector<TruncatedBeta>& draws, const BandMoves* bands, const Simplex* simplex,
           std::vector<double>& state, CounterStream& stream) {
  const std::size_t items = state.size();
  for (std::size_t j = 0; j < items; ++j) {
    // Restriction k reads g_kj x_j + s_k > c_k with s_k = sum over i != j of g_ki x_i.
    double low = 0.0;
    double up = 1.0;
    for (std::size_t k = 0; k < truncated; ++k) {
      const std::vector<double>& g = restrictions[k].coefficients;
      if (g[j] == 0.0) continue;
      double rest = 0.0;
      for (std::size_t i = 0; i < items; ++i) {
        if (i != j) rest += g[i] * state[i];
      }
      const double bound = (restrictions[k].constant - rest) / g[j];
      if (g[j] > 0.0) {
        low = std::max(low, bound);
      } else {
        up = std::min(up, bound);
      }
    }
    if (simplex != nullptr && simplex->coupled(j)) {
      state[j] = scaled_draw(*simplex, j, {low, up}, draws[j], state, stream);
      continue;
    }
    // Rounding can leave an interval of width 0 (or just below) when the state sits on
    // a boundary; the item then takes the middle of the two bounds.
    state[j] = low < up ? draws[j].draw(low, up, stream) : 0.5 * (low + up);
  }
  move_along_stage_bands(bands, truncated + 1, state, stream);
  bool hit = true;
  for (std::size_t k = 0; k < checked && hit; ++k) {
    double value = 0.0;
    for (std::size_t i = 0; i < items; ++i) value += restrictions[k].coefficients[i] * state[i];
    hit = value > restrictions[k].constant;
  }
  return hit;
}

}  // namespace

std::vector<TruncatedBeta> item_draws(const std::vector<double>& shape_a, const std::vector<double>& shape_b) {
  std::vector<TruncatedBeta> draws;
  draws.reserve(shape_a.size());
  for (std::size_t j = 0; j < shape_a.size(); ++j) draws.emplace_back(shape_a[j], shape_b[j]);
  return draws;
}

std::vector<std::size_t> stage_ends(std::size_t restrictions, std::size_t coordinates) {
  const std::size_t most = std::max(kGroupedStages, 2 * coordinates);
  std::vector<std::size_t> ends;
  if (restrictions <= most) {
    for (std::size_t t = 1; t <= restrictions; ++t) ends.push_back(t);
    return ends;
  }
  // From the last stage back, each stage's end a third below the next's (at least one
  // restriction), and stage s ending after at least s restrictions: integers only.
  ends.assign(most, restrictions);
  for (std::size_t s = most - 1; s >= 1; --s) {
    const std::size_t next = ends[s];
    ends[s - 1] = std::max(s, next - std::max<std::size_t>(1, next / 3));
  }
  return ends;
}

std::shared_ptr<const BandMoves> band_moves(const std::vector<Restriction>& restrictions,
                                            const std::vector<double>& shape_a, const std::vector<double>& shape_b) {
  // Restrictions grouped into stages are sampled without the moves: finding the bands
  // compares every pair of restrictions that share an item.
  const std::size_t coordinates = restrictions.empty() ? 0 : restrictions.front().coefficients.size();
  if (grouped_restrictions(restrictions.size(), coordinates)) return nullptr;
  std::vector<Band> bands = find_bands(restrictions);
  if (bands.empty()) return nullptr;
  return std::make_shared<const BandMoves>(BandMoves{std::move(bands), restrictions, shape_a, shape_b});
}

std::shared_ptr<const BandMoves> band_moves(const std::vector<Restriction>& restrictions,
                                            const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                            const Simplex* simplex) {
  if (simplex == nullptr) return band_moves(restrictions, shape_a, shape_b);
  // Grouped restrictions have no moves here either (see above).
  const std::size_t coordinates = restrictions.empty() ? 0 : restrictions.front().coefficients.size();
  if (grouped_restrictions(restrictions.size(), coordinates)) return nullptr;
  std::vector<Band> bands = find_bands(restrictions);
  std::erase_if(bands, [&](const Band& band) {
    return std::any_of(band.items.begin(), band.items.end(), [&](std::size_t j) { return simplex->coupled(j); });
  });
  if (bands.empty()) return nullptr;
  return std::make_shared<const BandMoves>(BandMoves{std::move(bands), restrictions, shape_a, shape_b});
}

std::int64_t batch_count(std::int64_t niter) {
  std::int64_t batches = 0;
  while ((batches + 1) * (batches + 1) * (batches + 1) <= niter) ++batches;
  return batches;
}

std::vector<StageCount> run_stage_chain(const std::vector<Restriction>& restrictions, const std::vector<double>& start,
                                        const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                                        const ChainSettings& settings, const Simplex* simplex) {
  const std::vector<std::size_t> ends =
      stage_ends(restrictions.size(), restrictions.empty() ? 0 : restrictions.front().coefficients.size());
  const std::size_t stages = ends.size();
  const std::int64_t batches = batch_count(settings.niter);
  const std::int64_t batch_size = batches > 0 ? settings.niter / batches : 0;
  std::vector<StageCount> counts(stages);
  std::vector<double> state;
  std::vector<std::int64_t> batch_hits(static_cast<std::size_t>(batches));
  const std::vector<TruncatedBeta> draws = item_draws(shape_a, shape_b);
  const std::shared_ptr<const BandMoves> bands = band_moves(restrictions, shape_a, shape_b, simplex);
  for (std::size_t stage = 1; stage <= stages; ++stage) {
    CounterStream stream(settings.seed, settings.key, settings.phase, stage);
    state = start;
    std::fill(batch_hits.begin(), batch_hits.end(), 0);
    std::int64_t hits = 0;
    for (std::int64_t s = 0; s < settings.niter; ++s) {
      if (sweep(restrictions, stage == 1 ? 0 : ends[stage - 2], ends[stage - 1], draws, bands.get(), simplex, state, stream)) {
        ++hits;
        const std::int64_t batch = s / batch_size;
        if (batch < batches) ++batch_hits[static_cast<std::size_t>(batch)];
      }
    }
    counts[stage - 1] = stage_count(hits, batch_hits, batch_size, settings.niter);
  }
  return counts;
}

namespace {

// Order-preserving integer keys of the doubles that are not NaN.
std::uint64_t ordered_key(double x) {
  const auto bits = std::bit_cast<std::uint64_t>(x);
  constexpr std::uint64_t sign = std::uint64_t{1} << 63;
  return (bits & sign) != 0 ? ~bits : bits | sign;
}

double from_ordered_key(std::uint64_t key) {
  constexpr std::uint64_t sign = std::uint64_t{1} << 63;
  return std::bit_cast<double>((key & sign) != 0 ? key & ~sign : ~key);
}

// The least double on which `holds` is true, for a `holds` false below some double and
// true from it on (NaN: true on none), by bisection over the doubles in order.
template <class Holds>
double least_holding(const Holds& holds) {
  constexpr double infinity = std::numeric_limits<double>::infinity();
  if (!holds(infinity)) return std::numeric_limits<double>::quiet_NaN();
  if (holds(-infinity)) return -infinity;
  std::uint64_t below = ordered_key(-infinity);
  std::uint64_t from = ordered_key(infinity);
  while (from - below > 1) {
    const std::uint64_t middle = below + (from - below) / 2;
    (holds(from_ordered_key(middle)) ? from : below) = middle;
  }
  return from_ordered_key(from);
}

// The larger (smaller) of two thresholds, NaN (holding on none) when either is.
double both_least(double x, double y) { return std::isnan(x) || std::isnan(y) ? x + y : std::max(x, y); }
double both_most(double x, double y) { return std::isnan(x) || std::isnan(y) ? x + y : std::min(x, y); }

// What restriction g x > c on one item leaves it, added to what `left` the earlier ones
// left: the bound (c - 0) / g as the item's bounds compute it, and the threshold of
// 0 + g x > c as the hit check computes it.
SparseRestrictions::Alone add_alone(SparseRestrictions::Alone left, double g, double c) {
  const double bound = (c - 0.0) / g;
  if (g > 0.0) {
    left.bounds.low = std::max(left.bounds.low, bound);
    left.least = both_least(left.least, least_holding([&](double x) { return 0.0 + g * x > c; }));
  } else {
    left.bounds.up = std::min(left.bounds.up, bound);
    // The greatest x with 0 + g x > c is minus the least y with 0 + g (-y) > c.
    left.most = both_most(left.most, -least_holding([&](double y) { return 0.0 + g * -y > c; }));
  }
  left.any = true;
  return left;
}

constexpr SparseRestrictions::Alone kNothingAlone{{0.0, 1.0},
                                                  -std::numeric_limits<double>::infinity(),
                                                  std::numeric_limits<double>::infinity(),
                                                  false};

}  // namespace

SparseRestrictions::SparseRestrictions(const std::vector<Restriction>& restrictions, std::size_t items) {
  // Sized exactly first: a large matrix's rows would otherwise leave the vectors up to
  // twice their size.
  std::size_t nonzeros = 0;
  std::size_t shared_nonzeros = 0;
  for (const Restriction& r : restrictions) {
    const auto terms = static_cast<std::size_t>(
        std::count_if(r.coefficients.begin(), r.coefficients.begin() + static_cast<std::ptrdiff_t>(items),
                      [](double g) { return g != 0.0; }));
    nonzeros += terms;
    if (terms != 1) shared_nonzeros += terms;
  }
  constants_.reserve(restrictions.size());
  scales_.reserve(restrictions.size());
  term_begin_.reserve(restrictions.size() + 1);
  terms_.reserve(nonzeros);
  involvement_.reserve(nonzeros);
  shared_.reserve(shared_nonzeros);
  alone_.reserve(nonzeros - shared_nonzeros);
  involvement_begin_.reserve(items + 1);
  shared_begin_.reserve(items + 1);
  alone_begin_.reserve(items + 1);
  term_begin_.push_back(0);
  for (std::size_t k = 0; k < restrictions.size(); ++k) {
    const Restriction& r = restrictions[k];
    constants_.push_back(r.constant);
    double scale = std::abs(r.constant);
    for (std::size_t i = 0; i < items; ++i) {
      if (r.coefficients[i] != 0.0) terms_.push_back({i, r.coefficients[i]});
      scale += std::abs(r.coefficients[i]);
    }
    scales_.push_back(scale);
    term_begin_.push_back(terms_.size());
    if (term_begin_[k + 1] - term_begin_[k] != 1) shared_restrictions_.push_back(k);
  }
  involvement_begin_.push_back(0);
  shared_begin_.push_back(0);
  alone_begin_.push_back(0);
  for (std::size_t j = 0; j < items; ++j) {
    Alone left = kNothingAlone;
    for (std::size_t k = 0; k < restrictions.size(); ++k) {
      const double g = restrictions[k].coefficients[j];
      if (g == 0.0) continue;
      involvement_.push_back({k, g});
      if (term_begin_[k + 1] - term_begin_[k] != 1) {
        shared_.push_back({k, g});
      } else {
        left = add_alone(left, g, restrictions[k].constant);
        alone_.push_back({k, left});
      }
    }
    involvement_begin_.push_back(involvement_.size());
    shared_begin_.push_back(shared_.size());
    alone_begin_.push_back(alone_.size());
  }
  if (grouped_restrictions(restrictions.size(), items)) filter_ = RowFilter::make(*this);
}

SparseRestrictions::Alone SparseRestrictions::alone(std::size_t j, std::size_t limit) const {
  const auto first = alone_.begin() + static_cast<std::ptrdiff_t>(alone_begin_[j]);
  const auto last = alone_.begin() + static_cast<std::ptrdiff_t>(alone_begin_[j + 1]);
  const auto after = std::partition_point(first, last, [&](const AloneRun& run) { return run.restriction < limit; });
  return after == first ? kNothingAlone : (after - 1)->left;
}

StageChain::StageChain(const std::vector<Restriction>& restrictions, std::size_t stage, const std::vector<double>& start,
                       const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                       const ChainSettings& settings)
    : StageChain(std::make_shared<const SparseRestrictions>(restrictions, start.size()), stage, start,
                 std::make_shared<const std::vector<TruncatedBeta>>(item_draws(shape_a, shape_b)), settings,
                 band_moves(restrictions, shape_a, shape_b)) {}

StageChain::StageChain(std::shared_ptr<const SparseRestrictions> restrictions, std::size_t stage,
                       const std::vector<double>& start, std::shared_ptr<const std::vector<TruncatedBeta>> draws,
                       const ChainSettings& settings, std::shared_ptr<const BandMoves> bands,
                       std::shared_ptr<const Simplex> simplex, StageRange range)
    : restrictions_(std::move(restrictions)),
      range_(range.checked == 0 ? StageRange{stage - 1, stage} : range),
      draws_(std::move(draws)),
      stream_(settings.seed, settings.key, settings.phase, stage),
      bands_(std::move(bands)),
      simplex_(std::move(simplex)),
      state_(start) {
  const SparseRestrictions& r = *restrictions_;
  kept_ = grouped_restrictions(r.restrictions(), r.items());
  kept_limit_ = r.filter() != nullptr ? range_.truncated : range_.checked;
  for (std::size_t j = 0; j < r.items(); ++j) {
    alone_bounds_.push_back(r.alone(j, range_.truncated).bounds);
    const SparseRestrictions::Alone checked = r.alone(j, range_.checked);
    if (checked.any) alone_checks_.push_back({j, checked.least, checked.most});
  }
}

// The plain sweep's arithmetic, term for term: a sum that leaves out the zero
// coefficients' products (each +0 or -0) is the same number, since it starts at +0 and
// adding a zero to a number leaves it unchanged (and to +0 gives +0). The restrictions
// on one item alone are read from their bounds and thresholds (SparseRestrictions), the
// hit's restrictions in another order than the plain check's, which gives the same
// answer.
bool StageChain::sweep() {
  const SparseRestrictions& r = *restrictions_;
  const std::vector<TruncatedBeta>& draws = *draws_;
  const std::size_t items = state_.size();
  for (std::size_t j = 0; j < items; ++j) {
    const auto [low, up] = item_bounds(r, j, range_.truncated, state_, alone_bounds_[j]);  // the earlier stages'
    if (simplex_ != nullptr && simplex_->coupled(j)) {
      state_[j] = scaled_draw(*simplex_, j, {low, up}, draws[j], state_, stream_);
      continue;
    }
    state_[j] = low < up ? draws[j].draw(low, up, stream_) : 0.5 * (low + up);
  }
  // The bands' first stages count one restriction per stage (grouped stages have none).
  move_along_stage_bands(bands_.get(), range_.truncated + 1, state_, stream_);
  for (const AloneCheck& check : alone_checks_) {
    const double x = state_[check.item];
    if (!(x >= check.least && x <= check.most)) return false;
  }
  for (std::size_t k : r.shared_restrictions()) {
    if (k >= range_.checked) break;
    double value = 0.0;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      value += term->coefficient * state_[term->item];
    }
    if (!(value > r.constant(k))) return false;
  }
  return true;
}

void form_values(const SparseRestrictions& r, std::size_t restriction_limit, const std::vector<double>& state,
                 std::vector<double>& values) {
  values.assign(restriction_limit, 0.0);
  for (std::size_t k : r.shared_restrictions()) {
    if (k >= restriction_limit) break;
    double value = 0.0;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      value += term->coefficient * state[term->item];
    }
    values[k] = value;
  }
}

void StageChain::refresh_values() { form_values(*restrictions_, kept_limit_, state_, values_); }

// The kept values differ from the term-by-term sums by rounding only: at most a few
// hundred roundings of numbers no larger than the restriction's scale since the last
// refresh, far below kKeptMargin times the scale. A restriction whose kept bound lies
// that far below the lower bound found so far (above the upper one) gives a bound that
// the plain sweep's max (min) also discards, and one whose kept value lies that far from
// its constant holds or fails as its term-by-term sum does; every other restriction is
// read term by term, in the plain sweep's order. So the draws, states and hits are those
// of sweep(), number for number.
bool StageChain::kept_sweep() {
  const SparseRestrictions& r = *restrictions_;
  const std::vector<TruncatedBeta>& draws = *draws_;
  const std::size_t items = state_.size();
  for (std::size_t j = 0; j < items; ++j) {
    const double x = state_[j];
    const auto [low, up] = kept_item_bounds(r, j, range_.truncated, state_, alone_bounds_[j], values_);
    if (simplex_ != nullptr && simplex_->coupled(j)) {
      state_[j] = scaled_draw(*simplex_, j, {low, up}, draws[j], state_, stream_);
    } else {
      state_[j] = low < up ? draws[j].draw(low, up, stream_) : 0.5 * (low + up);
    }
    add_moved(r, j, state_[j] - x, kept_limit_, values_);
  }
  if (bands_ != nullptr) {
    move_along_stage_bands(bands_.get(), range_.truncated + 1, state_, stream_);
    refresh_values();
  }
  for (const AloneCheck& check : alone_checks_) {
    const double x = state_[check.item];
    if (!(x >= check.least && x <= check.most)) return false;
  }
  if (r.filter() != nullptr) return r.filter()->holds(r, 0, range_.checked, state_);
  for (std::size_t k : r.shared_restrictions()) {
    if (k >= range_.checked) break;
    const double margin = kKeptMargin * r.scale(k);
    if (values_[k] - margin > r.constant(k)) continue;
    if (values_[k] + margin <= r.constant(k)) return false;
    double value = 0.0;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      value += term->coefficient * state_[term->item];
    }
    if (!(value > r.constant(k))) return false;
  }
  return true;
}

void StageChain::run_to(std::int64_t niter) { run_to(niter, nullptr); }

void StageChain::run_to(std::int64_t niter, const std::function<void(const std::vector<double>&)>& after_sweep) {
  if (niter <= sweeps_) return;
  for (; sweeps_ < niter; ++sweeps_) {
    // The hit bits grow as the chain runs: memory follows the sweeps run, not those asked.
    if (sweeps_ % 64 == 0) hit_bits_.push_back(0);
    if (kept_ && (values_.empty() || sweeps_ % kRefreshSweeps == 0)) refresh_values();
    if (kept_ ? kept_sweep() : sweep()) {
      ++hits_;
      hit_bits_[static_cast<std::size_t>(sweeps_ / 64)] |= std::uint64_t{1} << (sweeps_ % 64);
    }
    if (after_sweep) after_sweep(state_);
  }
  // The kept values are formed again when the chain continues: memory only while it runs.
  std::vector<double>().swap(values_);
}

StageCount StageChain::count() const {
  const std::int64_t batches = batch_count(sweeps_);
  const std::int64_t batch_size = batches > 0 ? sweeps_ / batches : 0;
  std::vector<std::int64_t> batch_hits(static_cast<std::size_t>(batches), 0);
  for (std::int64_t b = 0; b < batches; ++b) {
    std::int64_t hits = 0;
    for (std::int64_t s = b * batch_size; s < (b + 1) * batch_size; ++s) {
      hits += static_cast<std::int64_t>((hit_bits_[static_cast<std::size_t>(s / 64)] >> (s % 64)) & 1u);
    }
    batch_hits[static_cast<std::size_t>(b)] = hits;
  }
  return stage_count(hits_, batch_hits, batch_size, sweeps_);
}

}  // namespace propbf::evaluate
