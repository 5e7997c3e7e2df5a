// Repeated single beta draws through a fixed cycle of shapes, arranged for speed.
//
// What stays exactly as RNBET does it, draw by draw: the method chosen by the shapes
// (and NR = 1), every operation of its attempt in the written order and precision, the
// acceptance tests in order, the clamp, and the uniforms one after another from the
// same sequence (one per power draw, two per log-logistic attempt, rejected attempts
// included). What changes: the method, set-up and clamp are found once per shape; the
// uniforms come from a block made ahead with the generator's own integer step; the
// seed is written back once per call, at the last uniform used.
#include "random/beta_sequence.hpp"

#include <cmath>
#include <cstdint>

#include "numeric/machine.hpp"
#include "random/random.hpp"

namespace propbf::numlib {

namespace {

constexpr uint32_t power_mod(uint32_t base, int exponent) {
  uint32_t result = 1;
  for (int i = 0; i < exponent; ++i) result = multiply_mod(result, base);
  return result;
}

// The uniforms after a given seed, made in blocks: lanes of eight seeds step by 16807^8.
class UniformBlock {
 public:
  static constexpr int kLanes = 8;
  static constexpr int kSize = 512;  // a multiple of kLanes

  UniformBlock(uint32_t seed, float scale) : last_seed_(seed), scale_(scale) {}

  // Makes sure at least `needed` (at most kLanes) unread uniforms are in the block.
  void ensure(int needed) {
    if (end_ - next_ >= needed) return;
    refill();
  }
  float take() { return uniforms_[next_++]; }
  // The seed after the last uniform taken.
  uint32_t seed_after_taken() const { return next_ == 0 ? last_seed_ : seeds_[next_ - 1]; }
  // Uniforms taken since the block was made.
  int64_t taken() const { return taken_before_ + next_; }

 private:
  void refill() {
    const uint32_t before = seed_after_taken();
    // The seed of the last uniform made (before itself when none is left unread).
    uint32_t seed = end_ > next_ ? seeds_[end_ - 1] : before;
    int kept = 0;
    for (int i = next_; i < end_; ++i, ++kept) {
      seeds_[kept] = seeds_[i];
      uniforms_[kept] = uniforms_[i];
    }
    last_seed_ = before;
    taken_before_ += next_;
    // The next kLanes seeds one step at a time, then each lane jumps kLanes steps.
    for (int i = kept; i < kept + kLanes; ++i) {
      seed = multiply_mod(seed, static_cast<uint32_t>(kMultiplier));
      seeds_[i] = seed;
    }
    constexpr uint32_t jump = power_mod(static_cast<uint32_t>(kMultiplier), kLanes);
    for (int i = kept + kLanes; i < kSize; ++i) seeds_[i] = multiply_mod(seeds_[i - kLanes], jump);
    const double scale = static_cast<double>(scale_);
    for (int i = kept; i < kSize; ++i) {
      uniforms_[i] = static_cast<float>(static_cast<double>(seeds_[i]) * scale);
    }
    next_ = 0;
    end_ = kSize;
  }

  uint32_t seeds_[kSize];
  float uniforms_[kSize];
  int next_ = 0;
  int end_ = 0;
  int64_t taken_before_ = 0;  // uniforms taken before uniforms_[0]
  uint32_t last_seed_;        // the seed before uniforms_[0]
  float scale_;
};

}  // namespace

RepeatedBetaDraws::RepeatedBetaDraws(const float* pins, const float* qins, int32_t count)
    : pins_(pins, pins + (count > 0 ? count : 0)), qins_(qins, qins + (count > 0 ? count : 0)) {
  shapes_.reserve(pins_.size());
  for (size_t k = 0; k < pins_.size(); ++k) {
    const float pin = pins_[k];
    const float qin = qins_[k];
    Shape shape{};
    if (!std::isfinite(pin) || !std::isfinite(qin) || !(pin > 0.0f) || !(qin > 0.0f)) {
      arranged_ = false;  // rejected, or not a number: the plain loop
    } else if (beta::choose_method(1, pin, qin) == beta::Method::Power) {
      // As fill_power: QIN = 1 takes u^(1/PIN), otherwise 1 - u^(1/QIN).
      shape.kind = qin == 1.0f ? Kind::PowerOfUniform : Kind::OneMinusPower;
      shape.exponent = qin == 1.0f ? 1.0f / pin : 1.0f / qin;
    } else if (beta::choose_method(1, pin, qin) == beta::Method::LogLogistic) {
      shape.kind = Kind::LogLogistic;
      shape.setup = beta::make_log_logistic_setup(pin, qin);
    } else {
      arranged_ = false;  // Johnk or switching: the plain loop
    }
    shapes_.push_back(shape);
  }
}

void RepeatedBetaDraws::draw_plain(const float* pins, const float* qins, int32_t count,
                                   int32_t cycles, float* out) {
  float r[1] = {0.0f};
  for (int32_t c = 0; c < cycles; ++c) {
    for (int32_t k = 0; k < count; ++k) {
      RNBET(1, pins[k], qins[k], r);
      out[static_cast<int64_t>(c) * count + k] = r[0];
    }
  }
}

void RepeatedBetaDraws::draw(int32_t cycles, float* out) {
  const int32_t count = static_cast<int32_t>(shapes_.size());
  if (cycles < 1 || count < 1) return;
  if (!arranged_) {
    draw_plain(pins_.data(), qins_.data(), count, cycles, out);
    return;
  }
  // Every shape here draws through RNUN, whose first-call rule the reservation applies.
  const UniformStream start = reserve_uniforms();
  const beta::Clamp clamp = beta::Clamp::from_machine();
  UniformBlock uniforms(static_cast<uint32_t>(start.seed()), random_state().scale);

  for (int32_t c = 0; c < cycles; ++c) {
    float* row = out + static_cast<int64_t>(c) * count;
    for (int32_t k = 0; k < count; ++k) {
      const Shape& shape = shapes_[static_cast<size_t>(k)];
      float x;
      if (shape.kind == Kind::LogLogistic) {
        const beta::LogLogisticSetup& z = shape.setup;
        for (;;) {
          uniforms.ensure(2);
          const float u1 = uniforms.take();
          const float u2 = uniforms.take();
          const beta::LogLogisticTerms terms = beta::log_logistic_terms(z, u1, u2);
          // The three tests of log_logistic_attempt are pure, so forming all of them
          // without a branch gives the written decision and lets attempts overlap: quick
          // (s + 1 + ln 5 >= 5z), s >= ln z, and not (r + alpha ln(alpha/(b + w)) < ln z).
          const float t = std::log(terms.z);
          const float bound = beta::log_logistic_bound(z, terms);
          const bool accepted =
              (terms.s + beta::kOnePlusLogFive >= 5.0f * terms.z) | (terms.s >= t) | !(bound < t);
          if (accepted) {
            x = terms.x;
            break;
          }
        }
      } else {
        uniforms.ensure(1);
        const float u = uniforms.take();
        x = shape.kind == Kind::PowerOfUniform ? std::pow(u, shape.exponent)
                                               : 1.0f - std::pow(u, shape.exponent);
      }
      row[k] = clamp(x);
    }
  }
  // The generator is left after the last uniform read, as RNUN leaves it.
  commit_uniforms(start.ahead(uniforms.taken()));
}

}  // namespace propbf::numlib
