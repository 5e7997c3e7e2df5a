// The per-draw and per-sweep rules of the stage sampler, written once for both
// implementations (sampler_literal.cpp and the fast kernel, sampler_fast.cpp): the
// bounds an earlier restriction puts on the drawn item, the draw of the item within its
// interval, the hit test after a sweep and the hit tally. Each is the method's rule in
// its order of operations; the two samplers differ only in how they reach the operands.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "driver/sampler.hpp"

namespace propbf::driver {

// One addition of a matrix-vector sum: the float partial sum plus the exact product
// (a product of two floats is exact in double), rounded once to double and then to
// float. (The fast kernel does the same per vector lane.)
inline float add_product(float sum, float coefficient, float value) {
  return static_cast<float>(static_cast<double>(sum) + static_cast<double>(coefficient) * static_cast<double>(value));
}

// The interval of the drawn item: from [0, 1], each earlier restriction k with a
// positive coefficient r1 of the item raises `low` to its bound lowup(k), one with a
// negative coefficient lowers `up` to -lowup(k); a zero or NaN coefficient sets no
// bound. Restrictions are applied in ascending order, a bound replacing the running
// value only when it is strictly tighter (so a NaN bound replaces it, and the next
// restriction replaces the NaN).
struct ItemInterval {
  float low = 0.0f;
  float up = 1.0f;

  void raise_low(float lowup) { low = (low > lowup) ? low : lowup; }
  void lower_up(float lowup) {
    const float candidate = -lowup;
    up = (candidate < up) ? candidate : up;
  }
  void bound_by(float r1, float lowup) {
    if (r1 > 0.0f) {
      raise_low(lowup);
    } else if (r1 < 0.0f) {
      lower_up(lowup);
    }
  }
};

// The item's new value from the deviate u, by inversion within [low, up]:
//  - complexity (uniform prior): low + (up - low) u;
//  - fit after a success (density ~ pi): sqrt(low^2 + (up^2 - low^2) u);
//  - fit after a failure (density ~ 1 - pi, distribution 2 pi - pi^2):
//    1 - 0.5 sqrt(4 - 4 ((2 low - low^2) + (((low^2 - 2 low) + 2 up) - up^2) u));
//  - any other observation: the item keeps `current` and u is discarded.
inline float drawn_value(Phase phase, int32_t observation, const ItemInterval& interval, float u, float current) {
  const float low = interval.low;
  const float up = interval.up;
  if (phase == Phase::Complexity) {
    const float feval = (up - low) * u;
    return low + feval;
  }
  if (observation == 1) {
    const float a = up * up;
    const float b = low * low;
    const float d = (a - b) * u;
    return std::sqrt(low * low + d);
  }
  if (observation == 0) {
    const float a = 2.0f * up;
    float b = low * low - 2.0f * low;
    b = b + a;
    b = b - up * up;
    b = b * u;
    float c = 2.0f * low - low * low;
    c = c + b;
    const float e = 4.0f - 4.0f * c;
    return 1.0f - 0.5f * std::sqrt(e);
  }
  return current;
}

// The hit test after a sweep: the smallest slack of restrictions 1 .. t, taken in
// ascending order from +infinity, a slack replacing the running value unless the running
// value is less (so a NaN slack replaces it, and a later slack replaces the NaN); the
// sweep is a hit when the smallest slack is strictly positive (a NaN is no hit).
struct SmallestSlack {
  float small = std::numeric_limits<float>::infinity();

  void take(float slack) { small = (small < slack) ? small : slack; }
  bool hit() const { return small > 0.0f; }
};

// Up to this many sweeps a stage's share is the float sum of 1/niter over its hit
// sweeps, as the method states it. Below 1 the spacing of floats is at most 2^-24, so
// each rounded increment of 1/niter >= 2^-20 is within 2^-25 / 2^-20 = 1/32 of 1/niter
// relative, and every run size in use is covered. Above it the increments shrink
// towards the rounding of the sum (at 2^24 and more the sum stops growing at a few
// percent), so hits are counted as integers and the share is formed once, hits / niter
// rounded once to float.
inline constexpr int32_t kFloatSumSweepLimit = 1 << 20;

// The running share of one stage.
class HitTally {
 public:
  explicit HitTally(int32_t niter)
      : step_(1.0f / static_cast<float>(niter)), counted_(niter > kFloatSumSweepLimit), niter_(niter) {}

  // One hit sweep.
  void add_hit() {
    if (counted_) {
      ++hits_;
    } else {
      sum_ = step_ + sum_;
    }
  }

  float share() const { return counted_ ? rounded_quotient(hits_, niter_) : sum_; }

  // hits / niter for 0 <= hits <= niter, 0 < niter < 2^31, rounded once to the nearest
  // float (ties to even): the quotient's leading 24 bits by integer division, then the
  // remainder decides. (hits and niter have up to 31 bits, so a double quotient rounded
  // again to float could round twice.)
  static float rounded_quotient(int64_t hits, int64_t niter) {
    if (hits <= 0) return 0.0f;
    // Shift so that the integer quotient has exactly 24 bits: 2^23 <= q < 2^24.
    int shift = 0;
    unsigned __int128 numerator = static_cast<unsigned __int128>(hits);
    const unsigned __int128 divisor = static_cast<unsigned __int128>(niter);
    while (numerator < divisor * (1u << 23)) {
      numerator <<= 1;
      ++shift;
    }
    uint64_t quotient = static_cast<uint64_t>(numerator / divisor);
    const unsigned __int128 twice_remainder = 2 * (numerator % divisor);
    if (twice_remainder > divisor || (twice_remainder == divisor && (quotient & 1) != 0)) ++quotient;
    // quotient <= 2^24 is exact in float; the scaling by a power of two is exact too.
    return std::ldexp(static_cast<float>(quotient), -shift);
  }

 private:
  float step_;
  float sum_ = 0.0f;
  bool counted_;
  int32_t niter_;
  int64_t hits_ = 0;
};

}  // namespace propbf::driver
