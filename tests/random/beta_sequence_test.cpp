// RepeatedBetaDraws against the plain loop of RNBET(1, ...) calls: the same deviates bit
// for bit, the generator left at the same seed, over many cycles of shapes.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "concurrency/job_handoff.hpp"
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

// `count` cycles named `name` n, of 1 .. max_length shapes, each shape added by
// add_shape(gen, cycle).
template <typename AddShape>
std::vector<Cycle> random_cycles(uint32_t seed, int count, int max_length, const std::string& name,
                                 AddShape add_shape) {
  std::mt19937 gen(seed);
  std::vector<Cycle> cycles;
  for (int n = 0; n < count; ++n) {
    Cycle cycle{name + " " + std::to_string(n), {}, {}};
    const int length = 1 + static_cast<int>(gen() % static_cast<uint32_t>(max_length));
    for (int k = 0; k < length; ++k) add_shape(gen, cycle);
    cycles.push_back(cycle);
  }
  return cycles;
}

// Random cycles from a pool of shapes that every method can be reached from.
std::vector<Cycle> generated_cycles() {
  return random_cycles(2024, 120, 12, "generated", [](std::mt19937& gen, Cycle& cycle) {
    const float niter = static_cast<float>(1 + gen() % 30000);
    const uint32_t pick = gen() % 8;
    float hits = std::floor(static_cast<float>(gen() % 1000001) / 1e6f * niter);
    if (pick == 0) hits = 0.0f;
    if (pick == 1) hits = niter;
    if (pick == 2) hits += 0.5f;  // not a whole number
    if (pick == 3) hits = niter - 0.0001f * static_cast<float>(gen() % 10);
    add_share(cycle, hits, niter);
  });
}

// Cycles of shapes that all take the log-logistic method (both above 1), from shapes
// next to 1 to shapes of a hundred thousand sweeps.
std::vector<Cycle> log_logistic_cycles() {
  return random_cycles(77, 40, 10, "log-logistic", [](std::mt19937& gen, Cycle& cycle) {
    const float niter = static_cast<float>(2 + gen() % 100000);
    const float hits = 0.5f + std::floor(static_cast<float>(gen() % 1000001) / 1e6f * (niter - 1.0f));
    if (gen() % 5 == 0) {
      cycle.pins.push_back(std::nextafter(1.0f, 2.0f) + static_cast<float>(gen() % 3));
      cycle.qins.push_back(std::nextafter(1.0f, 2.0f));
    } else {
      add_share(cycle, hits, niter);
    }
  });
}

struct Drawn {
  std::vector<uint32_t> bits;
  int32_t seed;
};

// How the deviates are drawn: the plain RNBET loop, RepeatedBetaDraws::draw per block,
// or draw_in_blocks with one or two threads; with two, also with some attempts' logarithms
// made ahead (and with some made from another seed, which must be ignored), with a
// second thread that never comes (every part taken back) and with one that comes late
// (the first thread takes over the tail of its part).
enum class Way {
  Plain,
  Draw,
  OneThread,
  TwoThreads,
  TwoThreadsLogsAhead,
  TwoThreadsWrongLogsAhead,
  NoSecondThread,
  LateSecondThread
};

Drawn draw_with(const Cycle& cycle, int32_t seed, const std::vector<int32_t>& blocks, Way way) {
  const int32_t count = static_cast<int32_t>(cycle.pins.size());
  RNSET(seed);
  RepeatedBetaDraws draws(cycle.pins.data(), cycle.qins.data(), count);
  std::vector<float> out;
  for (int32_t cycles : blocks) {
    std::vector<float> block(static_cast<size_t>(cycles) * count);
    if (way == Way::Draw) {
      draws.draw(cycles, block.data());
    } else if (way == Way::Plain) {
      RepeatedBetaDraws::draw_plain(cycle.pins.data(), cycle.qins.data(), count, cycles, block.data());
    } else {
      // Blocks of a few cycles, so that calls continue in the middle of a chunk.
      size_t at = 0;
      std::unique_ptr<AttemptLogsAhead> ahead;
      if (way == Way::TwoThreadsLogsAhead || way == Way::TwoThreadsWrongLogsAhead) {
        const int32_t origin = random_state().seed + (way == Way::TwoThreadsWrongLogsAhead ? 1 : 0);
        ahead = std::make_unique<AttemptLogsAhead>(origin, random_state().scale, 40000);
        int chunks = 0;
        ahead->make_until([&] { return ++chunks > 7; });
      }
      // The second thread: the executor's own helper, one that comes late (served by a
      // thread started here), or none.
      concurrency::JobHandoff other;
      std::thread late;
      if (way == Way::LateSecondThread) {
        late = std::thread([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(3));
          other.serve();
        });
      }
      std::optional<concurrency::Executor> executor;
      if (way == Way::TwoThreads || way == Way::TwoThreadsLogsAhead || way == Way::TwoThreadsWrongLogsAhead) {
        executor.emplace(2);
      } else if (way == Way::NoSecondThread || way == Way::LateSecondThread) {
        executor.emplace(other);
      }
      draws.draw_in_blocks(
          cycles, 7,
          [&](const float* part, int32_t n) {
            std::copy(part, part + static_cast<size_t>(n) * count, block.begin() + static_cast<std::ptrdiff_t>(at));
            at += static_cast<size_t>(n) * count;
          },
          ahead.get(), executor ? &*executor : nullptr);
      if (late.joinable()) {
        other.close();
        late.join();
      }
      EXPECT_EQ(at, block.size());
    }
    out.insert(out.end(), block.begin(), block.end());
  }
  Drawn drawn{{}, random_state().seed};
  for (float x : out) drawn.bits.push_back(std::bit_cast<uint32_t>(x));
  EXPECT_EQ(random_state().work, static_cast<double>(random_state().seed));
  return drawn;
}

void expect_same_as_plain(const Cycle& cycle, int32_t seed, const std::vector<int32_t>& blocks,
                          std::initializer_list<Way> ways = {Way::Draw}) {
  const Drawn plain = draw_with(cycle, seed, blocks, Way::Plain);
  for (Way way : ways) {
    const Drawn arranged = draw_with(cycle, seed, blocks, way);
    const std::string where = cycle.name + ", seed " + std::to_string(seed) + ", way " +
                              std::to_string(static_cast<int>(way));
    EXPECT_EQ(arranged.seed, plain.seed) << where;
    ASSERT_EQ(arranged.bits.size(), plain.bits.size()) << where;
    for (size_t i = 0; i < plain.bits.size(); ++i) {
      ASSERT_EQ(arranged.bits[i], plain.bits[i]) << where << ", deviate " << i;
    }
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

// Every way of drawing, on cycles that make the attempts' logarithms ahead and on cycles
// that cannot (a shape of another method), in short and in long runs (30000 cycles take
// several chunks of logarithms made ahead and, split between two threads, a round whose
// second part starts from a guessed shape). Cycles whose shapes repeat with a period
// shorter than the cycle, and long cycles, where the two threads' paths join late or
// not at all within a round.
TEST(RepeatedBetaDraws, AttemptLogsAheadOnOneAndTwoThreadsMatchThePlainLoop) {
  const auto all = {Way::Draw,
                    Way::OneThread,
                    Way::TwoThreads,
                    Way::TwoThreadsLogsAhead,
                    Way::TwoThreadsWrongLogsAhead,
                    Way::NoSecondThread,
                    Way::LateSecondThread};
  int32_t seed = 4242;
  for (const Cycle& cycle : log_logistic_cycles()) {
    seed = advance_seed(seed, 7000003);
    expect_same_as_plain(cycle, seed, {1, 3000, 5}, all);
  }
  for (const Cycle& cycle : named_cycles()) expect_same_as_plain(cycle, 1043618065, {2, 200}, all);
  for (const Cycle& cycle : generated_cycles()) {
    seed = advance_seed(seed, 1000003);
    expect_same_as_plain(cycle, seed, {300}, all);
  }
  const Cycle example{"example-like, long", {815.0f, 2758.0f, 5001.5f}, {9187.0f, 7244.0f, 5000.5f}};
  for (int32_t start : {1, 2147483646}) expect_same_as_plain(example, start, {30000, 1}, all);
  expect_same_as_plain(example, 5, {200000}, {Way::TwoThreads, Way::LateSecondThread});
  Cycle same{"one shape six times", {}, {}};
  Cycle pair{"a pair of shapes three times", {}, {}};
  Cycle ordering{"38 shares of an ordering", {}, {}};
  for (int k = 0; k < 6; ++k) add_share(same, 3001.0f, 20000.0f);
  for (int k = 0; k < 6; ++k) add_share(pair, k % 2 == 0 ? 815.0f : 9000.0f, 10000.0f);
  for (int k = 0; k < 38; ++k) add_share(ordering, static_cast<float>(1000 + 487 * k % 18000), 20000.0f);
  for (const Cycle& cycle : {same, pair}) expect_same_as_plain(cycle, 99991, {5000, 3}, all);
  expect_same_as_plain(ordering, 4242, {3000}, all);
  // Rounds of 8192 attempts: many rounds, each joined, joined late or not joined at all.
  set_split_round_attempts_for_testing(8192);
  expect_same_as_plain(example, 7, {20000}, all);
  expect_same_as_plain(ordering, 4242, {1000}, all);
  set_split_round_attempts_for_testing(0);
}

// A draw that does not start where the last one ended (something else took uniforms in
// between) counts its attempts from the new place.
TEST(RepeatedBetaDraws, DrawsWithOtherUniformsBetweenMatchThePlainLoop) {
  const float pins[] = {3.5f, 120.0f};
  const float qins[] = {2.0f, 80.0f};
  std::vector<uint32_t> bits[2];
  for (int way = 0; way < 2; ++way) {
    RNSET(31337);
    RepeatedBetaDraws draws(pins, qins, 2);
    for (int32_t cycles : {1, 600, 3, 1000}) {
      std::vector<float> block(2 * static_cast<size_t>(cycles));
      if (way == 0) {
        RepeatedBetaDraws::draw_plain(pins, qins, 2, cycles, block.data());
      } else {
        draws.draw(cycles, block.data());
      }
      float u = 0.0f;
      RNUN(1, &u);
      block.push_back(u);
      for (float x : block) bits[way].push_back(std::bit_cast<uint32_t>(x));
    }
    bits[way].push_back(static_cast<uint32_t>(random_state().seed));
  }
  EXPECT_EQ(bits[1], bits[0]);
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
    const RepeatedBetaDraws draws(cycle.pins.data(), cycle.qins.data(), static_cast<int32_t>(cycle.pins.size()));
    EXPECT_EQ(draws.arranged(), expected) << cycle.name;
    bool log_logistic = true;
    for (size_t k = 0; k < cycle.pins.size(); ++k) {
      log_logistic = log_logistic && std::isfinite(cycle.pins[k]) && std::isfinite(cycle.qins[k]) &&
                     cycle.pins[k] > 1.0f && cycle.qins[k] > 1.0f;
    }
    EXPECT_EQ(draws.all_log_logistic(), log_logistic) << cycle.name;
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
