// Beta distribution functions in double precision (regularized incomplete beta and its
// inverses) and the draws built on them.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sampling/stream.hpp"

namespace propbf::evaluate {

// A draw from Beta(a, b) truncated to [low, up] (0 <= low <= up <= 1) by inversion with
// the uniform v in (0, 1): u between F(low) and F(up), then F^-1(u). When F(low) is
// above one half the complementary functions are used (1 - F and its inverse), so that
// the draw keeps its accuracy in both tails. For a = b = 1 it is low + (up - low) v.
// The result lies in [low, up]; an interval whose probability underflows to 0 is
// drawn from uniformly.
double truncated_beta(double a, double b, double low, double up, double v);

// The equal-tailed interval of Beta(a, b) holding 1 - 2 tail of its probability: the
// tail quantile and the 1 - tail one, each from the tail it bounds (I_x(a, b) = tail and
// 1 - I_x(a, b) = tail), so that both keep their accuracy.
std::array<double, 2> beta_central_interval(double a, double b, double tail);

// t_{0.975}(df) / z_{0.975}: how much wider a 95% interval is when its variance is
// estimated with df degrees of freedom than when it is known (> 1, tends to 1).
double student_to_normal_ratio(double degrees_of_freedom);

}  // namespace propbf::evaluate

#include "sampling/beta_deviate.ipp"

namespace propbf::evaluate {

// How TruncatedBeta draws from [low, up].
enum class TruncatedMethod {
  Uniform,    // a = b = 1: low + (up - low) v
  Rejection,  // Beta(a, b) deviates until one falls in [low, up]
  Envelope,   // rejection from the tangent of the log density at its highest point in [low, up]
  Inversion,  // truncated_beta
};

// Beyond this sum of the shapes, the log density is not formed: the draws that need it
// give way to the inversion (truncated draws) or the gamma ratio (replications).
inline constexpr double kLargestShapeSum = 1e9;

// Draws from one item's Beta(a, b) truncated to intervals [low, up], 0 <= low < up <= 1,
// choosing the method per interval; every method gives the truncated distribution
// exactly (up to rounding), so the choice changes the numbers drawn, not their law.
//
// - a = b = 1: Uniform.
// - a, b >= 1 (a log-concave density): Rejection when the interval holds at least
//   kRejectionMass of the distribution by the table below, else Envelope: with p the
//   point of [low, up] nearest the mode and h the log density, the proposal has density
//   proportional to exp(h(p) + h'(p) (x - p)) on [low, up] (h'(p) taken as 0 when p is
//   the mode or the slope is negligible), which lies above exp(h) since h is concave;
//   it is accepted with probability exp(h(x) - h(p) - h'(p) (x - p)).
//   Either gives up after kAttempts proposals and inverts: the result still has the
//   truncated law, since the inversion's draw is independent of the failures.
// - otherwise (a density unbounded at an end, or a + b above kLargestShapeSum, where the
//   log density's rounding, about 1e-16 (a + b), would bias the envelope): Inversion.
//
// The distribution function is tabulated at kCells + 1 points spanning the mean plus and
// minus 12 standard deviations (within [0, 1]) by the trapezoid rule over the density;
// the mass of an interval is read from it by linear interpolation, only to choose the
// method.
class TruncatedBeta {
 public:
  static constexpr int kCells = 128;
  static constexpr int kAttempts = 32;
  static constexpr double kRejectionMass = 0.3;

  TruncatedBeta(double a, double b);

  TruncatedMethod method(double low, double up) const;
  double draw(double low, double up, CounterStream& stream) const { return draw_with(method(low, up), low, up, stream); }
  // The draw by a given method (Rejection and Envelope only for a, b >= 1).
  double draw_with(TruncatedMethod method, double low, double up, CounterStream& stream) const;
  // The interval's probability, approximately, from the table.
  double approximate_mass(double low, double up) const;

 private:
  double approximate_cdf(double x) const;
  double log_density(double x) const;  // up to a constant
  double log_density_slope(double x) const;
  double envelope(double low, double up, CounterStream& stream) const;

  double a_;
  double b_;
  bool uniform_;
  bool log_concave_;
  double mode_ = 0.0;
  BetaDeviate untruncated_;
  double grid_low_ = 0.0;
  double grid_scale_ = 0.0;  // cells per unit of x
  std::array<double, kCells + 1> cdf_{};
};

// Beta(a, b) deviates for fixed shapes a, b > 1 (a + b <= kLargestShapeSum), many from
// one set-up (the replicated stage shares). The density's core, [L, U] = the mean plus
// and minus 10 standard deviations within [0, 1], is cut into kCells cells of equal
// width; on each, the density f (scaled to 1 at the mode) lies between m, its smaller
// value at the cell's ends, and M, its larger one (or 1 where the mode is inside): f is
// unimodal. An alias table picks, in proportion to their areas, either a cell's lower
// part (width x m: taken at once, x uniform on the cell), or its upper part (width x (M
// - m): x uniform on the cell and y uniform on [m, M], taken when y <= f(x), else the
// pick starts over), or the tails outside [L, U] (area: their probability times the area
// under f; drawn by inversion, the lower or upper tail in proportion to its
// probability). The result has the Beta(a, b) law; most draws take half a word of the
// stream.
class BetaTable {
 public:
  static constexpr int kCells = 255;  // 2 kCells + 2 alias entries: a power of two
  static constexpr int kEntryBits = 9;
  static constexpr int kFractionBits = 32 - kEntryBits;
  static constexpr std::uint32_t kFractionMask = (std::uint32_t{1} << kFractionBits) - 1;

  // core_sds: the core's half-width in standard deviations (10; smaller in tests, to draw
  // from the tails often).
  explicit BetaTable(double a, double b, double core_sds = 10.0);

  // 32 bits of the stream pick the entry (the top kEntryBits) and, from the other
  // kFractionBits, f, the position within the entry's cell: the entry's keep share q
  // (times 2^kFractionBits) keeps f < floor(q), sends f > floor(q) to the alias, and
  // decides f = floor(q) by 32 more bits against the fraction of q, so that the keep
  // probability is q's to 2^-55. Given the piece, f is uniform over its values, which
  // are spread evenly over the cell (f + 1/2 in units of the piece's width over its
  // count). The wedge above a cell's lower bound takes 32 more bits for its rejection
  // test.
  double operator()(CounterStream& stream) const {
    StreamHalves halves{stream};
    return draw(halves, stream);
  }

  // values[i] = values[i] times the i-th deviate (or the deviate itself when `first`),
  // the deviates those of count calls of operator().
  void multiply(double* values, std::size_t count, bool first, CounterStream& stream) const;

 private:
  struct StreamHalves {
    CounterStream& stream;
    std::uint32_t next() { return stream.next_half(); }
  };

  template <class Halves>
  double draw(Halves& halves, CounterStream& stream) const {
    while (true) {
      const std::uint32_t half = halves.next();
      const Entry& e = entries_[half >> kFractionBits];
      const std::uint32_t f = half & kFractionMask;
      std::size_t side = f < e.threshold ? 0 : 1;  // 0: the kept piece, 1: the alias
      const bool border = f == e.threshold;
      if (border) [[unlikely]] side = halves.next() < e.remainder ? 0 : 1;
      const std::uint16_t piece = e.piece[side];
      const std::size_t cell = piece / 2;
      if (cell == static_cast<std::size_t>(kCells)) [[unlikely]] return tail(stream);
      double x = e.origin[side] + e.step[side] * f;
      if (border) [[unlikely]] x = std::min(std::max(x, edge_[cell]), edge_[cell + 1]);
      if (piece % 2 == 0) return x;
      const double u = (static_cast<double>(halves.next()) + 0.5) * 0x1p-32;
      const double y = low_[cell] + (high_[cell] - low_[cell]) * u;
      if (y <= squeeze_[cell][0] + squeeze_[cell][1] * x || y <= scaled_density(x)) return x;
    }
  }

  double scaled_density(double x) const {
    return std::exp((a_ - 1.0) * std::log(x) + (b_ - 1.0) * std::log1p(-x) - log_mode_density_);
  }
  double tail(CounterStream& stream) const;

  double a_;
  double b_;
  double log_mode_density_;
  double lower_tail_ = 0.0;  // F(L)
  double upper_tail_ = 0.0;  // 1 - F(U)
  std::array<double, kCells + 1> edge_{};
  std::array<double, kCells> low_{};
  std::array<double, kCells> high_{};
  // Per cell, c0 + c1 x <= f(x) on the cell: the tangent, at the cell's lower end, of
  // m (M / m)^t (t the share of the way from the end with m to the one with M), which
  // lies below f as log f is concave and which, being convex, lies above its tangent;
  // just m in the mode's cell. Slightly lowered against rounding.
  std::array<std::array<double, 2>, kCells> squeeze_{};
  // One alias table entry: side 0, the kept piece (2 cell, or 2 cell + 1 for the wedge;
  // cell kCells for the tails), for f < threshold, else side 1, the alias piece; the
  // position in the piece's cell is origin[side] + step[side] f.
  struct Entry {
    std::array<double, 2> origin{};
    std::array<double, 2> step{};
    std::uint32_t threshold = 0;
    std::uint32_t remainder = 0;
    std::array<std::uint16_t, 2> piece{};
  };
  std::array<Entry, 2 * kCells + 2> entries_{};
};

// Dirichlet(alpha) by successive betas: the sticks Beta(alpha_c, alpha_{c+1} + ... +
// alpha_K) for c < K (each sum formed in category order; none for K < 2), and a draw from
// them: x_c = (1 - t_c) B_c with t_c the sum of the x before it, the last x_K = 1 - t_K.
std::vector<TruncatedBeta> dirichlet_sticks(const std::vector<double>& alpha);
std::vector<double> draw_dirichlet(const std::vector<TruncatedBeta>& sticks, CounterStream& stream);

}  // namespace propbf::evaluate
