// RepeatedBetaDraws against the plain loop of RNBET(1, ...) calls: the same deviates bit
// for bit, the generator left at the same seed, over many cycles of shapes.
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "random/beta_sequence.hpp"
#include "random/random.hpp"
#include "test_support.hpp"

namespace propbf::numlib {
namespace {

struct Cycle {
  std::string name;
  std::vector<float> pins, qins;
};

// The shapes of a replicated stage share: (1 + hits, 1 + (niter - hits)).
void add_share(Cycle& cycle, float hits, float niter) {
  cycle.pins.push_back(1.0f + hits);
  cycle.qins.push_back(1.0f + (niter - hits));
}

std::vector<Cycle> named_cycles() {
  std::vector<Cycle> cycles;
  const float above_one = std::nextafter(1.0f, 2.0f);
  const float below_one = std::nextafter(1.0f, 0.0f);
  auto shapes = [&](std::string name, std::vector<float> pins, std::vector<float> qins) {
    cycles.push_back({std::move(name), std::move(pins), std::move(qins)});
  };
  shapes("uniform (no sweeps)", {1.0f, 1.0f}, {1.0f, 1.0f});
  shapes("no hits, all hits", {1.0f, 10001.0f}, {10001.0f, 1.0f});
  shapes("example-like shares", {815.0f, 2758.0f, 5001.5f}, {9187.0f, 7244.0f, 5000.5f});
  shapes("shapes next to 1", {above_one, above_one, 2.0f}, {above_one, 3.0f, above_one});
  shapes("just above 1 from a float sum", {1.0f + 99.9999313f}, {1.0f + (100.0f - 99.9999313f)});
  shapes("one shape below 1 (switching)", {3.0f, 0.5f, 2.0f}, {0.5f, 3.0f, 2.0f});
  shapes("just below 1 (switching)", {below_one, 5.0f}, {5.0f, below_one});
  shapes("both below 1 (Johnk)", {0.4f, 2.0f}, {0.6f, 2.0f});
  shapes("power beside a shape below 1", {1.0f, 0.25f}, {0.25f, 1.0f});
  shapes("large and lopsided", {1e6f, 1.5f, 40.0f}, {2.0f, 1e6f, 1.5f});
  shapes("infinite shape", {INFINITY, 2.0f}, {2.0f, 2.0f});
  shapes("not a number", {2.0f, NAN}, {2.0f, 3.0f});
  Cycle hits{"hit counts of many sweep counts", {}, {}};
  for (float niter : {1.0f, 2.0f, 7.0f, 100.0f, 10000.0f, 20000.0f, 100000.0f}) {
    for (float share : {0.0f, 0.001f, 0.0814017f, 0.5f, 0.9999f, 1.0f}) add_share(hits, share * niter, niter);
  }
  cycles.push_back(hits);
  return cycles;
}

// Random cycles from a pool of shapes that every method can be reached from.
std::vector<Cycle> generated_cycles() {
  std::mt19937 gen(2024);
  std::vector<Cycle> cycles;
  for (int n = 0; n < 120; ++n) {
    Cycle cycle{"generated " + std::to_string(n), {}, {}};
    const int length = 1 + static_cast<int>(gen() % 12);
    for (int k = 0; k < length; ++k) {
      const float niter = static_cast<float>(1 + gen() % 30000);
      const uint32_t pick = gen() % 8;
      float hits = std::floor(static_cast<float>(gen() % 1000001) / 1e6f * niter);
      if (pick == 0) hits = 0.0f;
      if (pick == 1) hits = niter;
      if (pick == 2) hits += 0.5f;  // not a whole number
      if (pick == 3) hits = niter - 0.0001f * static_cast<float>(gen() % 10);
      add_share(cycle, hits, niter);
    }
    cycles.push_back(cycle);
  }
  return cycles;
}

struct Drawn {
  std::vector<uint32_t> bits;
  int32_t seed;
};

Drawn draw_with(const Cycle& cycle, int32_t seed, const std::vector<int32_t>& blocks, bool arranged) {
  const int32_t count = static_cast<int32_t>(cycle.pins.size());
  RNSET(seed);
  RepeatedBetaDraws draws(cycle.pins.data(), cycle.qins.data(), count);
  std::vector<float> out;
  for (int32_t cycles : blocks) {
    std::vector<float> block(static_cast<size_t>(cycles) * count);
    if (arranged) {
      draws.draw(cycles, block.data());
    } else {
      RepeatedBetaDraws::draw_plain(cycle.pins.data(), cycle.qins.data(), count, cycles, block.data());
    }
    out.insert(out.end(), block.begin(), block.end());
  }
  Drawn drawn{{}, random_state().seed};
  for (float x : out) drawn.bits.push_back(std::bit_cast<uint32_t>(x));
  EXPECT_EQ(random_state().work, static_cast<double>(random_state().seed));
  return drawn;
}

void expect_same_as_plain(const Cycle& cycle, int32_t seed, const std::vector<int32_t>& blocks) {
  const Drawn plain = draw_with(cycle, seed, blocks, false);
  const Drawn arranged = draw_with(cycle, seed, blocks, true);
  EXPECT_EQ(arranged.seed, plain.seed) << cycle.name << ", seed " << seed;
  ASSERT_EQ(arranged.bits.size(), plain.bits.size());
  for (size_t i = 0; i < plain.bits.size(); ++i) {
    ASSERT_EQ(arranged.bits[i], plain.bits[i]) << cycle.name << ", seed " << seed << ", deviate " << i;
  }
}

TEST(RepeatedBetaDraws, NamedCyclesMatchThePlainLoop) {
  for (const Cycle& cycle : named_cycles()) {
    for (int32_t seed : {1, 7, 1043618065, 2147483646}) expect_same_as_plain(cycle, seed, {1, 300, 7});
  }
}

TEST(RepeatedBetaDraws, GeneratedCyclesMatchThePlainLoop) {
  int32_t seed = 12345;
  for (const Cycle& cycle : generated_cycles()) {
    seed = advance_seed(seed, 1000003);
    expect_same_as_plain(cycle, seed, {400, 1, 2});
  }
}

TEST(RepeatedBetaDraws, OnlyValidFiniteShapesOfPowerOrLogLogisticAreArranged) {
  for (const Cycle& cycle : named_cycles()) {
    bool expected = true;
    for (size_t k = 0; k < cycle.pins.size(); ++k) {
      const float p = cycle.pins[k];
      const float q = cycle.qins[k];
      const bool finite = std::isfinite(p) && std::isfinite(q);
      expected = expected && finite && ((p == 1.0f || q == 1.0f) || (p > 1.0f && q > 1.0f));
    }
    EXPECT_EQ(RepeatedBetaDraws(cycle.pins.data(), cycle.qins.data(), static_cast<int32_t>(cycle.pins.size()))
                  .arranged(),
              expected)
        << cycle.name;
  }
}

TEST(RepeatedBetaDraws, FirstDrawOfAThreadSetsTheUniformFlagAsRNUNDoes) {
  reset_random_state_for_testing();
  RNSET(99);
  const float pins[] = {2.0f};
  const float qins[] = {3.0f};
  float x = 0.0f;
  RepeatedBetaDraws(pins, qins, 1).draw(1, &x);
  EXPECT_TRUE(random_state().rnun_called);
  float y = 0.0f;
  reset_random_state_for_testing();
  RNSET(99);
  RNBET(1, 2.0f, 3.0f, &y);
  EXPECT_EQ(std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y));
}

// Two cycles of a good shape and one that the beta generator rejects (a negative
// sweep count gives QIN = 1 + niter <= 0).
void draw_with_a_rejected_shape() {
  RNSET(1);
  const float pins[2] = {2.0f, 1.0f};
  const float qins[2] = {3.0f, -2.0f};
  float r[4];
  RepeatedBetaDraws(pins, qins, 2).draw(2, r);
}

TEST(RepeatedBetaDrawsDeathTest, RejectedShapeEndsAtTheSameCallWithRNBETsMessage) {
  testing::CapturedStdout out;
  EXPECT_EXIT(
      {
        out.redirect();
        draw_with_a_rejected_shape();
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(out.text(), "\r\n *** TERMINAL ERROR 3 from RNBET.  QIN = -2.000000E+00.  QIN must be positive.\r\n");
}

}  // namespace
}  // namespace propbf::numlib
