// The only file that includes Boost.Math. Double precision throughout: no promotion to
// long double (whose width differs between machines), errors reported through errno
// rather than exceptions (the arguments are checked before).
#include "sampling/beta_functions.hpp"

#include <algorithm>
#include <cmath>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <vector>

namespace propbf::evaluate {
namespace {

using Policy = boost::math::policies::policy<
    boost::math::policies::promote_double<false>, boost::math::policies::promote_float<false>,
    boost::math::policies::domain_error<boost::math::policies::errno_on_error>,
    boost::math::policies::overflow_error<boost::math::policies::errno_on_error>,
    boost::math::policies::evaluation_error<boost::math::policies::errno_on_error>>;

}  // namespace

double truncated_beta(double a, double b, double low, double up, double v) {
  if (!(low < up)) return low;
  double x;
  if (a == 1.0 && b == 1.0) {
    x = low + (up - low) * v;
  } else {
    const double lower_tail_low = boost::math::ibeta(a, b, low, Policy());
    if (lower_tail_low <= 0.5) {
      const double lower_tail_up = boost::math::ibeta(a, b, up, Policy());
      if (!(lower_tail_up > lower_tail_low)) {
        x = low + (up - low) * v;
      } else {
        x = boost::math::ibeta_inv(a, b, lower_tail_low + (lower_tail_up - lower_tail_low) * v, Policy());
      }
    } else {
      // Upper tail: Q(x) = 1 - F(x) falls from Q(low) to Q(up).
      const double upper_tail_low = boost::math::ibetac(a, b, low, Policy());
      const double upper_tail_up = boost::math::ibetac(a, b, up, Policy());
      if (!(upper_tail_low > upper_tail_up)) {
        x = low + (up - low) * v;
      } else {
        x = boost::math::ibetac_inv(a, b, upper_tail_low - (upper_tail_low - upper_tail_up) * v, Policy());
      }
    }
  }
  return std::clamp(x, low, up);
}

std::array<double, 2> beta_central_interval(double a, double b, double tail) {
  return {boost::math::ibeta_inv(a, b, tail, Policy()), boost::math::ibetac_inv(a, b, tail, Policy())};
}

double student_to_normal_ratio(double degrees_of_freedom) {
  const double t = boost::math::quantile(boost::math::students_t_distribution<double, Policy>(degrees_of_freedom), 0.975);
  const double z = boost::math::quantile(boost::math::normal_distribution<double, Policy>(), 0.975);
  return t / z;
}

TruncatedBeta::TruncatedBeta(double a, double b)
    : a_(a),
      b_(b),
      uniform_(a == 1.0 && b == 1.0),
      log_concave_(a >= 1.0 && b >= 1.0 && !uniform_ && a + b <= kLargestShapeSum) {
  if (!log_concave_) return;
  mode_ = (a - 1.0) / (a + b - 2.0);
  untruncated_ = BetaDeviate(a, b);
  const double mean = a / (a + b);
  const double sd = std::sqrt(a * b / ((a + b) * (a + b) * (a + b + 1.0)));
  grid_low_ = std::max(0.0, mean - 12.0 * sd);
  const double grid_up = std::min(1.0, mean + 12.0 * sd);
  grid_scale_ = kCells / (grid_up - grid_low_);
  // The trapezoid rule over the grid, the density scaled to 1 at the mode (enough to
  // choose a method; the mass beyond 12 standard deviations is left out).
  const double top = log_density(mode_);
  double previous = std::exp(log_density(grid_low_) - top);
  cdf_[0] = 0.0;
  for (std::size_t i = 1; i <= static_cast<std::size_t>(kCells); ++i) {
    const double next = std::exp(log_density(std::min(1.0, grid_low_ + static_cast<double>(i) / grid_scale_)) - top);
    cdf_[i] = cdf_[i - 1] + 0.5 * (previous + next);
    previous = next;
  }
  const double total = cdf_[kCells];
  for (double& value : cdf_) value = total > 0.0 ? value / total : 0.0;
}

double TruncatedBeta::approximate_cdf(double x) const {
  const double position = (x - grid_low_) * grid_scale_;
  if (!(position > 0.0)) return cdf_.front();
  if (!(position < kCells)) return cdf_.back();
  const auto cell = static_cast<std::size_t>(position);
  const double within = position - static_cast<double>(cell);
  return cdf_[cell] + (cdf_[cell + 1] - cdf_[cell]) * within;
}

double TruncatedBeta::approximate_mass(double low, double up) const {
  if (uniform_) return up - low;
  return approximate_cdf(up) - approximate_cdf(low);
}

TruncatedMethod TruncatedBeta::method(double low, double up) const {
  if (uniform_) return TruncatedMethod::Uniform;
  if (!log_concave_) return TruncatedMethod::Inversion;
  return approximate_mass(low, up) >= kRejectionMass ? TruncatedMethod::Rejection : TruncatedMethod::Envelope;
}

double TruncatedBeta::log_density(double x) const {
  double h = 0.0;
  if (a_ != 1.0) h += (a_ - 1.0) * std::log(x);
  if (b_ != 1.0) h += (b_ - 1.0) * std::log1p(-x);
  return h;
}

double TruncatedBeta::log_density_slope(double x) const {
  double slope = 0.0;
  if (a_ != 1.0) slope += (a_ - 1.0) / x;
  if (b_ != 1.0) slope -= (b_ - 1.0) / (1.0 - x);
  return slope;
}

// The proposal: v uniform on [low, up] when the slope s is 0; otherwise the distance
// t from p has density s exp(-s t) truncated to [0, up - low], drawn by inversion as
// t = -log1p(v expm1(-s w)) / s (s the slope's size, w = up - low).
double TruncatedBeta::envelope(double low, double up, CounterStream& stream) const {
  const double width = up - low;
  const double p = std::clamp(mode_, low, up);
  double slope = p == mode_ ? 0.0 : log_density_slope(p);
  // The flat envelope exp(h(p)) also lies above exp(h), p being the highest point.
  if (!(std::abs(slope) * width > 1e-9)) slope = 0.0;
  const double rate = std::abs(slope);
  const double shrink = std::expm1(-rate * width);
  const double top = log_density(p);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const double v = stream.next();
    double x;
    if (slope == 0.0) {
      x = low + width * v;
    } else {
      const double t = -std::log1p(v * shrink) / rate;
      x = slope > 0.0 ? up - t : low + t;
    }
    x = std::clamp(x, low, up);
    const double u = stream.next();
    if (std::log(u) <= log_density(x) - top - slope * (x - p)) return x;
  }
  return truncated_beta(a_, b_, low, up, stream.next());
}

double TruncatedBeta::draw_with(TruncatedMethod method, double low, double up, CounterStream& stream) const {
  switch (method) {
    case TruncatedMethod::Uniform:
      return std::clamp(low + (up - low) * stream.next(), low, up);
    case TruncatedMethod::Rejection:
      for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const double x = untruncated_(stream);
        if (low <= x && x <= up) return x;
      }
      break;
    case TruncatedMethod::Envelope:
      return envelope(low, up, stream);
    case TruncatedMethod::Inversion:
      break;
  }
  return truncated_beta(a_, b_, low, up, stream.next());
}

namespace {

// Vose's alias table of the areas: per entry the share it keeps of its slot and the
// entry the rest goes to.
struct AliasTable {
  std::vector<double> keep;
  std::vector<std::uint16_t> alias;
};

AliasTable alias_table(const std::vector<double>& area) {
  double total = 0.0;
  for (double value : area) total += value;
  const auto entries = static_cast<double>(area.size());
  std::vector<std::size_t> small;
  std::vector<std::size_t> large;
  std::vector<double> scaled(area.size());
  std::vector<double> keep(area.size(), 0.0);
  std::vector<std::uint16_t> alias(area.size());
  for (std::size_t k = 0; k < area.size(); ++k) {
    scaled[k] = area[k] * entries / total;
    (scaled[k] < 1.0 ? small : large).push_back(k);
    alias[k] = static_cast<std::uint16_t>(k);
  }
  while (!small.empty() && !large.empty()) {
    const std::size_t s = small.back();
    small.pop_back();
    const std::size_t l = large.back();
    keep[s] = scaled[s];
    alias[s] = static_cast<std::uint16_t>(l);
    scaled[l] = (scaled[l] + scaled[s]) - 1.0;
    if (scaled[l] < 1.0) {
      large.pop_back();
      small.push_back(l);
    }
  }
  for (std::size_t k : large) keep[k] = 1.0;
  for (std::size_t k : small) keep[k] = 1.0;  // left over by rounding only
  return {keep, alias};
}

}  // namespace

BetaTable::BetaTable(double a, double b, double core_sds) : a_(a), b_(b) {
  const double mode = (a - 1.0) / (a + b - 2.0);
  log_mode_density_ = (a - 1.0) * std::log(mode) + (b - 1.0) * std::log1p(-mode);
  const double mean = a / (a + b);
  const double sd = std::sqrt(a * b / ((a + b) * (a + b) * (a + b + 1.0)));
  const double core_low = std::max(0.0, mean - core_sds * sd);
  const double core_up = std::min(1.0, mean + core_sds * sd);
  if (core_low > 0.0) lower_tail_ = boost::math::ibeta(a, b, core_low, Policy());
  if (core_up < 1.0) upper_tail_ = boost::math::ibetac(a, b, core_up, Policy());
  const double width = (core_up - core_low) / kCells;
  for (int i = 0; i < kCells; ++i) edge_[static_cast<std::size_t>(i)] = core_low + i * width;
  edge_[kCells] = core_up;
  std::vector<double> area(2 * kCells + 2, 0.0);
  double previous = scaled_density(core_low);
  for (std::size_t i = 0; i < static_cast<std::size_t>(kCells); ++i) {
    const double next = scaled_density(edge_[i + 1]);
    low_[i] = std::min(previous, next);
    high_[i] = edge_[i] <= mode && mode <= edge_[i + 1] ? 1.0 : std::max(previous, next);
    constexpr double lowered = 1.0 - 0x1p-40;
    squeeze_[i] = {low_[i] * lowered, 0.0};
    if (high_[i] < 1.0 && low_[i] > 0.0 && high_[i] > low_[i]) {
      // The end with m at t = 0; slope m ln(M / m) per unit of t.
      const double from = previous <= next ? edge_[i] : edge_[i + 1];
      const double slope = low_[i] * std::log(high_[i] / low_[i]) / (edge_[i + 1] - edge_[i]) *
                           (previous <= next ? 1.0 : -1.0);
      if (std::isfinite(slope)) squeeze_[i] = {(low_[i] - slope * from) * lowered, slope * lowered};
    }
    const double cell_width = edge_[i + 1] - edge_[i];
    area[2 * i] = low_[i] * cell_width;
    area[2 * i + 1] = (high_[i] - low_[i]) * cell_width;
    previous = next;
  }
  // The area under f over [0, 1] is B(a, b) / f's unscaled value at the mode.
  const double log_beta = boost::math::lgamma(a, Policy()) + boost::math::lgamma(b, Policy()) -
                          boost::math::lgamma(a + b, Policy());
  area[2 * kCells] = (lower_tail_ + upper_tail_) * std::exp(log_beta - log_mode_density_);
  // Vose's alias table over the 2 kCells + 2 entries (the last has no area).
  const auto [keep, alias] = alias_table(area);
  constexpr double count = 0x1p23;  // 2^kFractionBits values of f
  static_assert(kFractionBits == 23);
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    Entry& e = entries_[k];
    const double q = keep[k] * count;
    const double whole = std::floor(q);
    e.threshold = static_cast<std::uint32_t>(whole);
    e.remainder = static_cast<std::uint32_t>((q - whole) * 0x1p32);
    e.piece[0] = static_cast<std::uint16_t>(k);
    e.piece[1] = alias[k];
    const std::size_t kept_cell = k / 2;
    if (kept_cell < static_cast<std::size_t>(kCells) && q > 0.0) {
      const double width = edge_[kept_cell + 1] - edge_[kept_cell];
      e.step[0] = width / q;
      e.origin[0] = edge_[kept_cell] + 0.5 * e.step[0];
    }
    const std::size_t alias_cell = e.piece[1] / 2u;
    if (alias_cell < static_cast<std::size_t>(kCells) && q < count) {
      const double width = edge_[alias_cell + 1] - edge_[alias_cell];
      e.step[1] = width / (count - q);
      e.origin[1] = edge_[alias_cell] + (0.5 - q) * e.step[1];
    }
  }
}

namespace {

// The halves of the stream's words with the pending one held here.
struct HeldHalves {
  CounterStream& stream;
  CounterStream::PendingHalf pending;
  std::uint32_t next() {
    if (pending.ready) {
      pending.ready = false;
      return static_cast<std::uint32_t>(pending.word);
    }
    pending.word = stream.next_word();
    pending.ready = true;
    return static_cast<std::uint32_t>(pending.word >> 32);
  }
};

}  // namespace

void BetaTable::multiply(double* values, std::size_t count, bool first, CounterStream& stream) const {
  HeldHalves halves{stream, stream.take_pending_half()};
  if (first) {
    for (std::size_t i = 0; i < count; ++i) values[i] = draw(halves, stream);
  } else {
    for (std::size_t i = 0; i < count; ++i) values[i] *= draw(halves, stream);
  }
  stream.put_pending_half(halves.pending);
}

std::vector<TruncatedBeta> dirichlet_sticks(const std::vector<double>& alpha) {
  std::vector<TruncatedBeta> sticks;
  for (std::size_t c = 0; c + 1 < alpha.size(); ++c) {
    double rest = 0.0;
    for (std::size_t d = c + 1; d < alpha.size(); ++d) rest += alpha[d];
    sticks.emplace_back(alpha[c], rest);
  }
  return sticks;
}

std::vector<double> draw_dirichlet(const std::vector<TruncatedBeta>& sticks, CounterStream& stream) {
  std::vector<double> x;
  double taken = 0.0;
  for (const TruncatedBeta& stick : sticks) {
    x.push_back((1.0 - taken) * stick.draw(0.0, 1.0, stream));
    taken += x.back();
  }
  x.push_back(1.0 - taken);
  return x;
}

double BetaTable::tail(CounterStream& stream) const {
  const double v = stream.next();
  const double low = edge_.front();
  const double up = edge_.back();
  if (v * (lower_tail_ + upper_tail_) < lower_tail_) return truncated_beta(a_, b_, 0.0, low, stream.next());
  return truncated_beta(a_, b_, up, 1.0, stream.next());
}

}  // namespace propbf::evaluate
