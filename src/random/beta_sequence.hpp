// Single beta deviates drawn over and over through a fixed cycle of shapes, as the loop
//
//   for each cycle:  for k = 1 .. K:  RNBET(1, PIN(k), QIN(k), R);  out(k) := R(1)
//
// draws them: the same deviates bit for bit, the same uniforms consumed in the same
// order, the generator left at the same place, and the same terminal error at the same
// call when a shape is rejected. Only the arithmetic around the draws is arranged for
// speed: the method, its set-up and the clamp are fixed once per shape instead of once
// per call, the generator's seed stays in a register, and the uniforms are made in
// blocks ahead of their use.
//
// Shapes taken this way: both finite, and either a shape equal to 1 with the other
// positive (method P: one uniform per deviate) or both above 1 (method C: two uniforms
// per attempt). A cycle with any other shape is drawn by the plain RNBET loop above.
#pragma once

#include <cstdint>
#include <vector>

#include "random/beta_methods.hpp"

namespace propbf::numlib {

class RepeatedBetaDraws {
 public:
  // pins[k], qins[k], k = 0 .. count - 1: the shapes of one cycle, in draw order.
  RepeatedBetaDraws(const float* pins, const float* qins, int32_t count);

  // Draws `cycles` whole cycles from the calling thread's generator into
  // out[c * count + k]. Posts what RNBET posts, at the same draw.
  void draw(int32_t cycles, float* out);

  // Whether every shape of the cycle takes the arranged path (otherwise the plain loop).
  bool arranged() const { return arranged_; }

  // The plain loop: one RNBET(1, ...) call per deviate. The reference for the above.
  static void draw_plain(const float* pins, const float* qins, int32_t count, int32_t cycles,
                         float* out);

 private:
  enum class Kind : uint8_t { PowerOfUniform, OneMinusPower, LogLogistic };
  struct Shape {
    Kind kind;
    float exponent;                  // P: 1/PIN when QIN = 1, else 1/QIN
    beta::LogLogisticSetup setup;    // C
  };

  std::vector<float> pins_, qins_;
  std::vector<Shape> shapes_;
  bool arranged_ = true;
};

}  // namespace propbf::numlib
