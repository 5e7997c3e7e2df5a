// The per-draw and per-sweep rules of the stage sampler, written once for both
// implementations (sampler_literal.cpp and the fast kernel).
#pragma once

#include <cmath>
#include <cstdint>

namespace propbf::driver {

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
