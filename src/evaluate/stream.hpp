// Counter-based uniform streams (Philox4x64-10). Every stage chain and every block of
// replications has its own stream, keyed by (seed, hypothesis, phase, stage), so that
// the numbers a chain sees do not depend on what ran before it or on which thread runs it.
#pragma once

#include <array>
#include <cstdint>

namespace propbf::evaluate {

enum class Phase : std::uint64_t {
  ComplexitySweeps = 0,
  FitSweeps = 1,
  ComplexityReplications = 2,
  FitReplications = 3,
  ComplexityReplicationsCorrected = 4,
  FitReplicationsCorrected = 5,
};

class UniformStream {
 public:
  UniformStream(std::uint64_t seed, std::uint64_t hypothesis, Phase phase, std::uint64_t stage);

  // The next deviate, ((w >> 11) + 0.5) / 2^53 for the next 64-bit word w of the
  // stream: in the open interval (0, 1), never 0 or 1, on a grid of 2^-53.
  double next() {
    if (used_ == 4) refill();
    return (static_cast<double>(words_[used_++] >> 11) + 0.5) * 0x1p-53;
  }

 private:
  void refill();

  std::array<std::uint64_t, 2> key_;
  std::array<std::uint64_t, 4> counter_;  // {block, hypothesis, phase, stage}
  std::array<std::uint64_t, 4> words_{};
  int used_ = 4;
};

}  // namespace propbf::evaluate
