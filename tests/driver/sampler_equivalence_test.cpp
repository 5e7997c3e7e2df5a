// The fast sampler against the literal one, bit for bit: stage shares (and so c, f and
// the hit counts), the final state, the progress lines and the generator's final seed,
// on hundreds of generated problems, ordinary and hostile.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "concurrency/executor.hpp"
#include "driver/sampler.hpp"
#include "problem_builder.hpp"
#include "random/random.hpp"

namespace propbf::testing {
namespace {

using driver::Phase;
using driver::VectorWidth;

constexpr float kInf = std::numeric_limits<float>::infinity();

float nan_with_sign(bool negative) {
  return std::bit_cast<float>(negative ? 0xFFC00000u : 0x7FC00000u);
}

// How a phase is run.
enum class Mode {
  Literal,      // run_phase with the literal sampler, stage by stage
  Program,      // run_phase as the program calls it: fast, stages in groups
  SmallGroups,  // the same with little room for a group's storage: groups of 1 to 3 stages
  OneStage,     // the same with no room: every group a single stage
  Width2,     // every stage in one group, with each vector width
  Width4,
  Width8,
};

struct Outcome {
  std::vector<uint32_t> phase_product;  // c, then f
  std::vector<uint32_t> hits;           // chit, then fhit
  std::vector<uint32_t> pi;             // state after each phase
  std::vector<int32_t> seed;            // generator seed after each phase
  std::string console;
  bool rnun_called = false;
};

std::vector<uint32_t> bits(const std::vector<float>& values) {
  std::vector<uint32_t> out;
  for (float v : values) out.push_back(std::bit_cast<uint32_t>(v));
  return out;
}

// The state's bits, with every NaN written as one pattern. When both operands of a
// commutative operation are NaN, which one's sign and payload the result carries depends
// on the operand order the compiler picks (IEEE leaves the choice open); the literal
// sampler itself gives `low + feval` the other order than written. A NaN state never
// counts as a hit, so its sign never reaches a result; every other value must match to
// the bit.
std::vector<uint32_t> state_bits(const std::vector<float>& values) {
  std::vector<uint32_t> out = bits(values);
  for (uint32_t& b : out) {
    if (std::isnan(std::bit_cast<float>(b))) b = 0x7FC00000u;
  }
  return out;
}

float run_one_phase(const driver::Problem& problem, Phase phase, Mode mode, float* pi, float* hits) {
  const int32_t stages = problem.restrictions();
  switch (mode) {
    case Mode::Literal:
      return driver::run_phase(problem, phase, pi, hits, driver::SamplerChoice::Literal);
    case Mode::Program:
      return driver::run_phase(problem, phase, pi, hits);
    case Mode::SmallGroups:
      return driver::run_phase(problem, phase, pi, hits, driver::SamplerChoice::Fast,
                               driver::fast_group_bytes(problem.items(), 1, 3));
    case Mode::OneStage:
      return driver::run_phase(problem, phase, pi, hits, driver::SamplerChoice::Fast, 0);
    default: {
      const VectorWidth width = mode == Mode::Width2   ? VectorWidth::Two
                                : mode == Mode::Width4 ? VectorWidth::Four
                                                       : VectorWidth::Eight;
      std::vector<float> shares(static_cast<size_t>(stages) + 1);
      // A stream only where deviates are drawn: the first-call rule applies to draws.
      numlib::UniformStream stream;
      if (driver::phase_draws(problem)) stream = numlib::reserve_uniforms();
      EXPECT_TRUE(driver::fast_stage_shares(problem, phase, 1, stages, pi, shares.data(), width, stream));
      if (driver::phase_draws(problem)) numlib::commit_uniforms(stream);
      float product = 1.0f;
      for (int32_t t = 0; t < stages; ++t) {
        hits[t] = shares[static_cast<size_t>(t)] * static_cast<float>(problem.niter);
        product = shares[static_cast<size_t>(t)] * product;
      }
      return product;
    }
  }
}

// Both phases from a freshly seeded generator, as the program runs them.
Outcome run_both(const driver::Problem& problem, Mode mode, int32_t seed) {
  numlib::reset_random_state_for_testing();
  numlib::RNSET(seed);
  Outcome out;
  const size_t items = static_cast<size_t>(problem.items());
  const size_t stages = static_cast<size_t>(problem.restrictions());
  ::testing::internal::CaptureStdout();
  for (Phase phase : {Phase::Complexity, Phase::Fit}) {
    std::vector<float> pi(items + 1, 0.0f);
    std::vector<float> hits(stages + 1, 0.0f);
    const float product = run_one_phase(problem, phase, mode, pi.data(), hits.data());
    out.phase_product.push_back(std::bit_cast<uint32_t>(product));
    hits.resize(stages);
    for (uint32_t b : bits(hits)) out.hits.push_back(b);
    // The state is only defined when a stage ran.
    if (stages > 0) {
      pi.resize(items);
      for (uint32_t b : state_bits(pi)) out.pi.push_back(b);
    }
    out.seed.push_back(numlib::random_state().seed);
  }
  out.console = ::testing::internal::GetCapturedStdout();
  out.rnun_called = numlib::random_state().rnun_called;
  return out;
}

std::vector<Mode> fast_modes() {
  std::vector<Mode> modes = {Mode::Program, Mode::SmallGroups, Mode::OneStage, Mode::Width2};
  if (driver::vector_width_supported(VectorWidth::Four)) modes.push_back(Mode::Width4);
  if (driver::vector_width_supported(VectorWidth::Eight)) modes.push_back(Mode::Width8);
  return modes;
}

const char* mode_name(Mode mode) {
  switch (mode) {
    case Mode::Literal: return "literal";
    case Mode::Program: return "fast, as the program runs it";
    case Mode::SmallGroups: return "fast, groups within a small storage limit";
    case Mode::OneStage: return "fast, one stage per group";
    case Mode::Width2: return "fast, one group, 2 lanes";
    case Mode::Width4: return "fast, one group, 4 lanes";
    case Mode::Width8: return "fast, one group, 8 lanes";
  }
  return "?";
}

// Both phases through run_phases with one or two threads, from a fresh generator.
// Only what both ways define is kept: the fit's final state, the generator's final seed.
Outcome run_phases_on(const driver::Problem& problem, int threads, int32_t seed) {
  numlib::reset_random_state_for_testing();
  numlib::RNSET(seed);
  const size_t items = static_cast<size_t>(problem.items());
  const size_t stages = static_cast<size_t>(problem.restrictions());
  std::vector<float> pi(items + 1, 0.0f), chit(stages + 1, 0.0f), fhit(stages + 1, 0.0f);
  ::testing::internal::CaptureStdout();
  concurrency::Executor executor(threads);
  const driver::PhaseResults results =
      driver::run_phases(problem, pi.data(), chit.data(), fhit.data(), executor, threads >= 2);
  Outcome out;
  out.console = ::testing::internal::GetCapturedStdout();
  out.phase_product = bits({results.complexity, results.fit});
  chit.resize(stages);
  fhit.resize(stages);
  out.hits = bits(chit);
  for (uint32_t b : bits(fhit)) out.hits.push_back(b);
  if (stages > 0) {
    pi.resize(items);
    out.pi = state_bits(pi);
  }
  out.seed.push_back(numlib::random_state().seed);
  out.rnun_called = numlib::random_state().rnun_called;
  return out;
}

// Compares every fast mode with the literal sampler, and (with `two_threads`) both
// phases run side by side on two threads; returns the literal outcome. (One thread is
// the Program mode. Each two-thread run starts a parallel region, whose waiting thread
// spins for a while afterwards, so the generated problems check one in four.)
Outcome expect_same_bits(const driver::Problem& problem, int32_t seed, const std::string& what,
                         bool two_threads = true) {
  const Outcome literal = run_both(problem, Mode::Literal, seed);
  if (two_threads) {
    const Outcome phases = run_phases_on(problem, 2, seed);
    SCOPED_TRACE(what + ", run_phases on two threads");
    EXPECT_EQ(phases.phase_product, literal.phase_product);
    EXPECT_EQ(phases.hits, literal.hits);
    EXPECT_EQ(phases.console, literal.console);
    EXPECT_EQ(phases.seed.back(), literal.seed.back());
    EXPECT_EQ(phases.rnun_called, literal.rnun_called);
    if (!literal.pi.empty()) {
      const std::vector<uint32_t> fit_state(literal.pi.end() - static_cast<long>(phases.pi.size()), literal.pi.end());
      EXPECT_EQ(phases.pi, fit_state);
    }
  }
  for (Mode mode : fast_modes()) {
    const Outcome fast = run_both(problem, mode, seed);
    SCOPED_TRACE(what + ", " + mode_name(mode));
    EXPECT_EQ(fast.phase_product, literal.phase_product);
    EXPECT_EQ(fast.hits, literal.hits);
    EXPECT_EQ(fast.pi, literal.pi);
    EXPECT_EQ(fast.seed, literal.seed);
    EXPECT_EQ(fast.rnun_called, literal.rnun_called);
    if (mode != Mode::Width2 && mode != Mode::Width4 && mode != Mode::Width8) {
      EXPECT_EQ(fast.console, literal.console);
    }
  }
  return literal;
}

// Generated problems. "Ordinary" ones have a start inside every restriction, so stages
// see hits; "hostile" ones draw coefficients, constants and starts from a palette of
// awkward values.
class ProblemMaker {
 public:
  explicit ProblemMaker(uint32_t seed) : engine_(seed) {}

  int pick(int n) { return static_cast<int>(engine_() % static_cast<uint32_t>(n)); }
  float unit() { return static_cast<float>(engine_() % 1000001u) / 1000000.0f; }

  float awkward() {
    static const float palette[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 2.0f, kInf, -kInf,
                                    nan_with_sign(false), nan_with_sign(true), 1e38f, -1e38f, 3e38f,
                                    1e-45f, -1e-45f, 1e-40f, 1e-38f, 0.1f, -0.3f};
    if (pick(3) == 0) return palette[pick(static_cast<int>(std::size(palette)))];
    return (unit() - 0.5f) * 4.0f;
  }

  driver::Problem make(bool hostile) {
    const int items = pick(13);         // 0 .. 12
    const int stages = pick(9);         // 0 .. 8
    int niter = 1 + pick(60);           // 1 .. 60
    if (pick(25) == 0) niter = -pick(3);  // no sweeps at all
    std::vector<float> start(static_cast<size_t>(items));
    for (float& v : start) v = unit();
    if (hostile) {
      for (float& v : start) {
        const int k = pick(10);
        if (k == 0) v = 0.0f;
        if (k == 1) v = 2.0f;
        if (k == 2) v = -1.0f;
        if (k == 3) v = nan_with_sign(pick(2) == 0);
        if (k == 4) v = 1.0f;
      }
    } else if (items > 0 && pick(4) == 0) {
      start[static_cast<size_t>(pick(items))] = 0.0f;  // a zero value the sums skip
    }
    std::vector<std::vector<float>> rows(static_cast<size_t>(stages));
    for (auto& row : rows) {
      row.assign(static_cast<size_t>(items) + 1, 0.0f);
      float sum = 0.0f;
      for (int j = 0; j < items; ++j) {
        float coefficient = 0.0f;
        if (hostile) {
          coefficient = awkward();
        } else {
          const int k = pick(5);
          coefficient = k == 0 ? 0.0f : k == 1 ? 1.0f : k == 2 ? -1.0f : (unit() - 0.5f) * 2.0f;
        }
        row[static_cast<size_t>(j)] = coefficient;
        sum += coefficient * start[static_cast<size_t>(j)];
      }
      // Ordinary: the start satisfies the restriction with a little room; sometimes
      // the constant makes it contradictory instead.
      row[static_cast<size_t>(items)] = hostile ? awkward() : (pick(8) == 0 ? sum + 1.0f : sum - 0.05f * unit());
    }
    std::vector<int> x(static_cast<size_t>(items));
    for (int& v : x) {
      const int k = pick(hostile ? 6 : 10);
      v = k == 0 ? 2 : k == 1 ? -1 : (k % 2);
    }
    return make_problem(items, stages, niter, rows, start, x);
  }

 private:
  std::mt19937 engine_;
};

TEST(SamplerEquivalence, OrdinaryProblems) {
  ProblemMaker maker(20240601u);
  int hit_stages = 0;
  for (int n = 0; n < 250; ++n) {
    const driver::Problem problem = maker.make(false);
    const Outcome literal = expect_same_bits(problem, 1, "ordinary problem " + std::to_string(n), n % 4 == 0);
    for (uint32_t h : literal.hits) hit_stages += std::bit_cast<float>(h) > 0.0f;
  }
  // Not a vacuous comparison: many stages do count hits.
  EXPECT_GT(hit_stages, 300);
}

TEST(SamplerEquivalence, HostileProblems) {
  ProblemMaker maker(777u);
  int nan_states = 0;
  for (int n = 0; n < 250; ++n) {
    const driver::Problem problem = maker.make(true);
    const Outcome literal = expect_same_bits(problem, 1, "hostile problem " + std::to_string(n), n % 4 == 0);
    for (uint32_t p : literal.pi) nan_states += std::isnan(std::bit_cast<float>(p));
  }
  EXPECT_GT(nan_states, 50);  // NaN states really occur, at the same places
}

TEST(SamplerEquivalence, GeneratorSeedsNearTheEnds) {
  // The inlined generator step against RNUN from seeds where the remainder by the
  // modulus is at its edges.
  ProblemMaker maker(99u);
  const int32_t seeds[] = {1, 2, 16807, 127773, 2147483646, 2147483645, 2147483584, 1043618065};
  for (int32_t seed : seeds) {
    const driver::Problem problem = maker.make(false);
    expect_same_bits(problem, seed, "seed " + std::to_string(seed));
  }
}

TEST(SamplerEquivalence, SingleItemSingleStageAndObservationTwo) {
  const float nan = nan_with_sign(false);
  // J = 1 (no other items: the bound is rc / |r| alone), T = 1 (no bounds at all),
  // x = 2 (the item keeps its start, a zero start is skipped in every sum).
  const driver::Problem cases[] = {
      make_problem(1, 3, 40, {{1, 0.25f}, {-1, -0.75f}, {2, 1}}, {0.5f}, {1}),
      make_problem(1, 3, 40, {{1, 0.25f}, {-1, -0.75f}, {2, 1}}, {0.5f}, {0}),
      make_problem(4, 1, 50, {{1, -1, 0.5f, 0, 0.1f}}, {0.3f, 0.2f, 0.1f, 0.0f}, {1, 0, 2, 2}),
      make_problem(3, 4, 30, {{1, -1, 0, 0}, {0, 1, -1, 0}, {0, 0, 1, 0.2f}, {1, 1, 1, 1}}, {0.0f, 0.0f, 0.7f},
                   {2, 2, 1}),
      make_problem(2, 3, 30, {{1, 1, 0}, {1, -1, 0}, {nan, 1, 0}}, {-0.0f, 0.5f}, {2, 0}),
      make_problem(0, 3, 30, {{1.0f}, {-1.0f}, {0.0f}}, {}, {}),
  };
  int n = 0;
  for (const auto& problem : cases) expect_same_bits(problem, 1, "case " + std::to_string(n++));
}

TEST(SamplerEquivalence, EmptyIntervalsAndExtremeCoefficients) {
  const float nan = nan_with_sign(true);
  // Contradictory bounds (low > up), infinite bounds, bounds from huge and subnormal
  // coefficients, NaN constants.
  const driver::Problem cases[] = {
      make_problem(3, 4, 25, {{1, 0, 0, 0.9f}, {-1, 0, 0, -0.1f}, {1, 1, 1, 1}, {0, 1, -1, 0}}, {0.5f, 0.5f, 0.5f},
                   {1, 0, 1}),
      make_problem(3, 4, 25, {{1e38f, -1e38f, 3e38f, 0}, {1e-45f, 1e-45f, 0, 1e-45f}, {-kInf, 1, 1, 0}, {1, 1, 1, nan}},
                   {0.9f, 0.1f, 0.5f}, {0, 1, 0}),
      make_problem(2, 3, 25, {{kInf, -kInf, 0}, {1, 1, kInf}, {1, 1, -kInf}}, {0.5f, 0.5f}, {1, 1}),
      make_problem(2, 3, 25, {{1, -1, 0}, {1, 1, 1.5f}, {1, 0, 0.5f}}, {2.0f, -1.0f}, {0, 0}),
  };
  int n = 0;
  for (const auto& problem : cases) expect_same_bits(problem, 1, "case " + std::to_string(n++));
}

TEST(SamplerEquivalence, LargerProblemInGroups) {
  // J = 20, T = 20: the program's grouping, every vector width and several blocks of
  // rows per item.
  ProblemMaker maker(4242u);
  std::vector<std::vector<float>> rows(20, std::vector<float>(21));
  std::vector<float> start(20);
  for (float& v : start) v = 0.2f + 0.6f * maker.unit();
  for (auto& row : rows) {
    float sum = 0.0f;
    for (int j = 0; j < 20; ++j) {
      row[static_cast<size_t>(j)] = (maker.unit() - 0.5f) * 2.0f;
      sum += row[static_cast<size_t>(j)] * start[static_cast<size_t>(j)];
    }
    row[20] = sum - 0.1f;
  }
  std::vector<int> x(20);
  for (int& v : x) v = maker.pick(2);
  const auto problem = make_problem(20, 20, 200, rows, start, x);
  const Outcome literal = expect_same_bits(problem, 1, "J = T = 20");
  EXPECT_EQ(literal.seed[1], numlib::advance_seed(1, 2 * 20 * 200 * 20));
}

TEST(SamplerEquivalence, ManyStagesSplitIntoGroups) {
  // More bounding rows than one group holds: the phase runs in several groups, each
  // continuing the generator where the previous one stopped.
  const int stages = 30;  // 435 bounding rows
  std::vector<std::vector<float>> rows;
  for (int t = 0; t < stages; ++t) rows.push_back({1.0f, -0.5f, 0.25f * static_cast<float>(t % 3), -0.1f});
  const auto problem = make_problem(3, stages, 12, rows, {0.6f, 0.4f, 0.5f}, {1, 0, 1});
  EXPECT_LT(driver::fast_group_size(problem, 1), stages);
  // A storage limit shrinks the groups, down to one stage.
  EXPECT_EQ(driver::fast_group_size(problem, 10, driver::fast_group_bytes(3, 10, 2)), 2);
  EXPECT_EQ(driver::fast_group_size(problem, 10, 0), 1);
  int32_t covered = 0;
  for (int32_t t = 1; t <= stages; t += driver::fast_group_size(problem, t)) covered = t;
  EXPECT_GT(covered, 1);
  expect_same_bits(problem, 1, "30 stages");
}

TEST(SamplerEquivalence, FreshGeneratorIsInitialisedAsByRnun) {
  // No RNSET before the first draw: both samplers seed from the clock on the first
  // draw. The clock seed changes once a second, so retry when it ticked in between.
  const auto problem = make_problem(2, 2, 10, {{1, -1, 0}, {0, 1, 0.5f}}, {0.8f, 0.6f}, {1, 0});
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::vector<float> pi(2), hits(2);
    numlib::reset_random_state_for_testing();
    ::testing::internal::CaptureStdout();
    driver::run_phase(problem, Phase::Complexity, pi.data(), hits.data(), driver::SamplerChoice::Literal);
    const int32_t literal_seed = numlib::random_state().seed;
    const std::vector<float> literal_hits = hits;
    numlib::reset_random_state_for_testing();
    driver::run_phase(problem, Phase::Complexity, pi.data(), hits.data());
    ::testing::internal::GetCapturedStdout();
    const numlib::RandomState& state = numlib::random_state();
    EXPECT_TRUE(state.rnun_called);
    EXPECT_TRUE(state.seeded);
    if (state.seed != literal_seed) continue;  // the second changed
    EXPECT_EQ(bits(hits), bits(literal_hits));
    EXPECT_EQ(state.work, static_cast<double>(state.seed));
    return;
  }
  ADD_FAILURE() << "the clock seed never matched";
}

TEST(SamplerEquivalence, NoDrawsLeaveTheGeneratorUntouched) {
  // No sweeps, or no items: no deviate, so not even the first-call initialisation.
  for (const auto& problem : {make_problem(2, 2, 0, {{1, -1, 0}, {0, 1, 0.5f}}, {0.8f, 0.6f}, {1, 0}),
                              make_problem(0, 2, 5, {{-1.0f}, {1.0f}}, {}, {})}) {
    numlib::reset_random_state_for_testing();
    numlib::RNSET(5);
    std::vector<float> pi(3), hits(2);
    ::testing::internal::CaptureStdout();
    driver::run_phase(problem, Phase::Fit, pi.data(), hits.data());
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(numlib::random_state().rnun_called);
    EXPECT_EQ(numlib::random_state().seed, 5);
  }
}

}  // namespace
}  // namespace propbf::testing
