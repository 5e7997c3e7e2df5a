// RNBET: method choice, clamping, the power method, Johnk, switching and log-logistic
// candidates, uniforms consumed per branch, and the error paths.
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "errors/errors.hpp"
#include "random/beta_methods.hpp"
#include "random/random.hpp"
#include "test_support.hpp"

namespace propbf::numlib {
namespace {

using beta::Method;
using testing::eight_digits;
using testing::seed_before;
using testing::uniforms_between;

constexpr float kFloor = 5.9604645e-08f;       // 2^-24, the smallest stored deviate
constexpr float kBelowOne = 0.99999988f;        // 1 - 2^-23, what 1 or more becomes
constexpr float kLargestBelowOne = 0.99999994f; // 1 - 2^-24, kept as it is

// The deviate of the generator for the seed reached after the draw: computed here
// from the definition, independently of the generator's code.
double uniform_of(int32_t seed) {
  const double sigma = std::ldexp(1.0, -31) - std::ldexp(1.0, -55);
  return static_cast<float>(static_cast<double>(seed) * sigma);
}

// The k-th uniform (1-based) drawn after seeding with `seed`.
double uniform_after(int32_t seed, int k) { return uniform_of(advance_seed(seed, k)); }

// Uniforms consumed by `action` on the current thread.
int64_t uniforms_used(const std::function<void()>& action) {
  const int32_t before = random_state().seed;
  action();
  return uniforms_between(before, random_state().seed);
}

// The first seed from 1 upwards whose first attempt satisfies `wanted`.
int32_t first_seed_where(const std::function<bool()>& wanted, int32_t limit = 5000000) {
  for (int32_t seed = 1; seed <= limit; ++seed) {
    RNSET(seed);
    if (wanted()) return seed;
  }
  return -1;
}

class BetaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_random_state_for_testing();
    reset_error_state_for_testing();
  }
  void TearDown() override { reset_error_state_for_testing(); }
};

// ---------------------------------------------------------------------------------
// Method choice
// ---------------------------------------------------------------------------------

struct ChoiceRow {
  int32_t nr;
  float pin, qin;
  Method method;
};
constexpr ChoiceRow kChoices[] = {
    {1, 0.4f, 0.6f, Method::Johnk},        {1, 0.5f, 0.5f, Method::Johnk},
    {1, 1.0f, 1.0f, Method::Power},        {1, 1.0f, 0.5f, Method::Power},
    {1, 2.0f, 1.0f, Method::Power},        {1, 1.0f, 100001.0f, Method::Power},
    {1, 100001.0f, 1.0f, Method::Power},   {1, 3.0f, 0.5f, Method::Switching},
    {1, 0.5f, 3.0f, Method::Switching},    {1, 0.99999994f, 100001.0f, Method::Switching},
    {1, 2.0f, 2.0f, Method::LogLogistic},  {4, 2.0f, 2.0f, Method::LogLogistic},
    {5, 2.0f, 2.0f, Method::Batch},        {1000, 10.0f, 10.0f, Method::Batch},
    {1, 50001.0f, 50001.0f, Method::LogLogistic},
};

TEST_F(BetaTest, MethodFollowsTheShapeRegionAndTheCount) {
  for (const ChoiceRow& row : kChoices) {
    EXPECT_EQ(beta::choose_method(row.nr, row.pin, row.qin), row.method)
        << "NR " << row.nr << " PIN " << row.pin << " QIN " << row.qin;
  }
}

TEST_F(BetaTest, NotANumberShapeFailsEveryComparison) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(beta::choose_method(1, nan, 0.5f), Method::Switching);
  EXPECT_EQ(beta::choose_method(1, nan, 2.0f), Method::LogLogistic);
  EXPECT_EQ(beta::choose_method(5, nan, nan), Method::Batch);
}

// ---------------------------------------------------------------------------------
// Clamp
// ---------------------------------------------------------------------------------

TEST_F(BetaTest, ClampKeepsDeviatesInsideTheStoredRange) {
  const beta::Clamp clamp = beta::Clamp::from_machine();
  EXPECT_EQ(clamp(1.0f), kBelowOne);
  EXPECT_EQ(clamp(2.5f), kBelowOne);
  EXPECT_EQ(clamp(kLargestBelowOne), kLargestBelowOne);
  EXPECT_EQ(clamp(kBelowOne), kBelowOne);
  EXPECT_EQ(clamp(0.5f), 0.5f);
  EXPECT_EQ(clamp(0.0f), kFloor);
  EXPECT_EQ(clamp(-1.0f), kFloor);
  EXPECT_EQ(clamp(1e-8f), kFloor);
  EXPECT_EQ(clamp(kFloor), kFloor);
  EXPECT_EQ(clamp(std::nextafter(kFloor, 1.0f)), std::nextafter(kFloor, 1.0f));
  EXPECT_TRUE(std::isnan(clamp(std::numeric_limits<float>::quiet_NaN())));
}

// ---------------------------------------------------------------------------------
// P: inversion by a power, one uniform per deviate
// ---------------------------------------------------------------------------------

TEST_F(BetaTest, FirstDeviateAfterSeedOneIsTheSquareRootOfTheFirstUniform) {
  RNSET(1);
  float r = 0.0f;
  RNBET(1, 2.0f, 1.0f, &r);
  EXPECT_EQ(eight_digits(r), "0.0027975647");
}

TEST_F(BetaTest, PowerMethodUsesOneUniformPerDeviate) {
  RNSET(1);
  float r[7];
  EXPECT_EQ(uniforms_used([&] { RNBET(7, 2.0f, 1.0f, r); }), 7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_NEAR(r[i], std::sqrt(uniform_after(1, i + 1)), 1e-6) << "element " << i;
  }
  RNSET(1);
  EXPECT_EQ(uniforms_used([&] { RNBET(5, 1.0f, 3.0f, r); }), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(r[i], 1.0 - std::cbrt(uniform_after(1, i + 1)), 1e-6) << "element " << i;
  }
}

TEST_F(BetaTest, BothShapesOneStoresTheUniformsThemselves) {
  RNSET(1);
  float expected[6];
  RNUN(6, expected);
  RNSET(1);
  float r[6];
  RNBET(6, 1.0f, 1.0f, r);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r[i], expected[i]) << "element " << i;

  // The largest uniform is stored unchanged.
  seed_before(2147483600);
  RNBET(1, 1.0f, 1.0f, r);
  EXPECT_EQ(r[0], kLargestBelowOne);
}

TEST_F(BetaTest, PowerResultsOfOneAndOfZeroAreClamped) {
  float r[2];
  // u^(1e-10) rounds to 1 for any uniform above about 1e-3.
  RNSET(1);
  RNUNF();  // skip 7.8e-06
  RNBET(2, 1e10f, 1.0f, r);
  EXPECT_EQ(r[0], kBelowOne);
  EXPECT_EQ(r[1], kBelowOne);
  // 1 - u^(1e-10) rounds to 0.
  RNSET(1);
  RNUNF();
  RNBET(2, 1.0f, 1e10f, r);
  EXPECT_EQ(r[0], kFloor);
  EXPECT_EQ(r[1], kFloor);
}

// ---------------------------------------------------------------------------------
// J: Johnk
// ---------------------------------------------------------------------------------

TEST_F(BetaTest, JohnkLogModeNeedsBothShapesBelowOneHalf) {
  EXPECT_TRUE(beta::make_johnk_setup(0.2f, 0.3f).log_mode);
  EXPECT_TRUE(beta::make_johnk_setup(0.49f, 0.49f).log_mode);
  EXPECT_FALSE(beta::make_johnk_setup(0.5f, 0.5f).log_mode);
  EXPECT_FALSE(beta::make_johnk_setup(0.4f, 0.6f).log_mode);
  EXPECT_FALSE(beta::make_johnk_setup(0.6f, 0.4f).log_mode);
}

TEST_F(BetaTest, JohnkAcceptedCandidateIsXOverTheSum) {
  const beta::JohnkSetup setup = beta::make_johnk_setup(0.4f, 0.6f);
  const int32_t seed = first_seed_where([&] {
    return beta::johnk_attempt(setup, kFloor).outcome == beta::JohnkOutcome::Accepted;
  });
  ASSERT_GT(seed, 0);
  RNSET(seed);
  beta::JohnkAttempt attempt{};
  EXPECT_EQ(uniforms_used([&] { attempt = beta::johnk_attempt(setup, kFloor); }), 2);
  const double x = std::pow(uniform_after(seed, 1), 1 / 0.4);
  const double y = std::pow(uniform_after(seed, 2), 1 / 0.6);
  ASSERT_LE(x + y, 1.0);
  EXPECT_NEAR(attempt.x, x / (x + y), 1e-5 * (x / (x + y)));
}

TEST_F(BetaTest, JohnkSumAboveOneIsRejectedWithTwoUniforms) {
  // x + y > 1: outside the simplex.
  const beta::JohnkSetup setup = beta::make_johnk_setup(0.4f, 0.6f);
  const int32_t seed = first_seed_where([&] {
    return beta::johnk_attempt(setup, kFloor).outcome == beta::JohnkOutcome::SumAboveOne;
  });
  ASSERT_GT(seed, 0);
  EXPECT_GT(std::pow(uniform_after(seed, 1), 1 / 0.4) + std::pow(uniform_after(seed, 2), 1 / 0.6),
            1.0);
  RNSET(seed);
  EXPECT_EQ(uniforms_used([&] { beta::johnk_attempt(setup, kFloor); }), 2);
  // The whole draw: two uniforms for every attempt, this one and at least one more.
  RNSET(seed);
  float r;
  const int64_t used = uniforms_used([&] { RNBET(1, 0.4f, 0.6f, &r); });
  EXPECT_GE(used, 4);
  EXPECT_EQ(used % 2, 0);
}

TEST_F(BetaTest, JohnkUnderflowInLogModeIsRejectedWithTwoUniforms) {
  // Log mode: x < 2^-24 or x + y < 2^-24.
  const beta::JohnkSetup setup = beta::make_johnk_setup(0.2f, 0.3f);
  const int32_t seed = first_seed_where([&] {
    return beta::johnk_attempt(setup, kFloor).outcome == beta::JohnkOutcome::Underflow;
  });
  ASSERT_GT(seed, 0);
  EXPECT_LT(std::pow(uniform_after(seed, 1), 1 / 0.2), kFloor);
  RNSET(seed);
  EXPECT_EQ(uniforms_used([&] { beta::johnk_attempt(setup, kFloor); }), 2);
  // The same candidate in plain mode is accepted.
  const beta::JohnkSetup plain{setup.pin_reciprocal, setup.qin_reciprocal, false};
  RNSET(seed);
  EXPECT_EQ(beta::johnk_attempt(plain, kFloor).outcome, beta::JohnkOutcome::Accepted);
}

TEST_F(BetaTest, JohnkGivesUpAfterAThousandCountedAttempts) {
  // Shapes 1e-8: a candidate passes only when u1 >= 1 - 1.7e-7 (u1^(1e8) >= 2^-24), so
  // practically always the first element fails after exactly 1000 counted rejections,
  // 2000 uniforms. (From seed 1 the 656th attempt happens to draw 0.99999988.)
  RNSET(7);
  const beta::JohnkSetup setup = beta::make_johnk_setup(1e-8f, 1e-8f);
  float r[3] = {0.25f, 0.25f, 0.25f};
  int32_t failed = -1;
  EXPECT_EQ(uniforms_used([&] {
              failed = beta::fill_johnk(setup, beta::Clamp::from_machine(), 3, r);
            }),
            2000);
  EXPECT_EQ(failed, 1);
}

TEST_F(BetaTest, JohnkAtOneHundredthRarelyUnderflows) {
  // About 15 per cent of candidates pass at 0.01, far from the limit.
  RNSET(12345);
  float r[50];
  RNBET(50, 0.01f, 0.01f, r);
  for (float x : r) {
    EXPECT_GE(x, kFloor);
    EXPECT_LT(x, 1.0f);
  }
}

// ---------------------------------------------------------------------------------
// S: switching
// ---------------------------------------------------------------------------------

TEST_F(BetaTest, SwitchingSetUpForAHalfAndThree) {
  // a = 0.5, b = 3: t = 0.5 / 3.5 = 1/7, k = t^-0.5 = sqrt 7,
  // p = b t / (a (1 - t)^b + b t) = (3/7) / (0.5 (6/7)^3 + 3/7).
  const beta::SwitchingSetup s = beta::make_switching_setup(0.5f, 3.0f);
  EXPECT_FALSE(s.swapped);
  EXPECT_EQ(s.a, 0.5f);
  EXPECT_EQ(s.b, 3.0f);
  EXPECT_NEAR(s.t, 1.0 / 7.0, 1e-7);
  EXPECT_NEAR(s.k, std::sqrt(7.0), 1e-6);
  const double p = (3.0 / 7.0) / (0.5 * std::pow(6.0 / 7.0, 3.0) + 3.0 / 7.0);
  EXPECT_NEAR(s.p, p, 1e-6);
  EXPECT_TRUE(s.usable());

  const beta::SwitchingSetup swapped = beta::make_switching_setup(3.0f, 0.5f);
  EXPECT_TRUE(swapped.swapped);
  EXPECT_EQ(swapped.a, 0.5f);
  EXPECT_EQ(swapped.b, 3.0f);
  EXPECT_EQ(swapped.p, s.p);
}

struct SwitchingBranch {
  const char* name;
  bool left_piece;
  bool accepted;
};
constexpr SwitchingBranch kSwitchingBranches[] = {
    {"left piece accepted", true, true},   // u1 <= p, u2 <= (1 - x)^(b-1)
    {"left piece rejected", true, false},  // u1 <= p, u2 > (1 - x)^(b-1)
    {"right piece accepted", false, true}, // u1 > p, k u2 <= x^(a-1)
    {"right piece rejected", false, false},// u1 > p, k u2 > x^(a-1)
};

TEST_F(BetaTest, SwitchingEachBranchTakesTwoUniforms) {
  for (const bool swapped_order : {false, true}) {
    const beta::SwitchingSetup setup =
        swapped_order ? beta::make_switching_setup(3.0f, 0.5f) : beta::make_switching_setup(0.5f, 3.0f);
    for (const SwitchingBranch& branch : kSwitchingBranches) {
      SCOPED_TRACE(branch.name);
      const int32_t seed = first_seed_where([&] {
        const beta::SwitchingAttempt a = beta::switching_attempt(setup);
        return a.left_piece == branch.left_piece && a.accepted == branch.accepted;
      });
      ASSERT_GT(seed, 0);
      // The piece follows from the first uniform alone.
      EXPECT_EQ(uniform_after(seed, 1) <= setup.p, branch.left_piece) << "seed " << seed;
      RNSET(seed);
      beta::SwitchingAttempt attempt{};
      EXPECT_EQ(uniforms_used([&] { attempt = beta::switching_attempt(setup); }), 2);
      // The candidate from its piece's inverse, reflected when swapped.
      const double u1 = uniform_after(seed, 1);
      const double t = 1.0 / 7.0;
      const double x = branch.left_piece
                           ? t * std::pow(u1 / setup.p, 2.0)
                           : 1.0 - (1.0 - t) * std::pow((1.0 - u1) / (1.0 - setup.p), 1.0 / 3.0);
      EXPECT_NEAR(attempt.x, swapped_order ? 1.0 - x : x, 2e-6) << "seed " << seed;
      if (branch.accepted) {
        RNSET(seed);
        float r;
        EXPECT_EQ(uniforms_used([&] {
                    RNBET(1, swapped_order ? 3.0f : 0.5f, swapped_order ? 0.5f : 3.0f, &r);
                  }),
                  2);
        EXPECT_EQ(r, beta::Clamp::from_machine()(attempt.x));
      }
    }
  }
}

// ---------------------------------------------------------------------------------
// C: log-logistic candidates
// ---------------------------------------------------------------------------------

TEST_F(BetaTest, LogLogisticConstantsAreTheSevenDigitLiterals) {
  EXPECT_EQ(std::bit_cast<uint32_t>(beta::kLogFour), 0x3FB17215u);
  EXPECT_EQ(std::bit_cast<uint32_t>(beta::kOnePlusLogFive), 0x40270108u);
}

TEST_F(BetaTest, LogLogisticSetUpOrdersTheShapes) {
  // a = 2, b = 5: alpha = 7, beta = sqrt(5 / 13), gamma = 2 + 1/beta.
  const beta::LogLogisticSetup c = beta::make_log_logistic_setup(2.0f, 5.0f);
  EXPECT_TRUE(c.small_is_first);
  EXPECT_EQ(c.a, 2.0f);
  EXPECT_EQ(c.b, 5.0f);
  EXPECT_EQ(c.alpha, 7.0f);
  EXPECT_NEAR(c.beta, std::sqrt(5.0 / 13.0), 1e-7);
  EXPECT_NEAR(c.gamma, 2.0 + std::sqrt(13.0 / 5.0), 1e-6);

  const beta::LogLogisticSetup reversed = beta::make_log_logistic_setup(5.0f, 2.0f);
  EXPECT_FALSE(reversed.small_is_first);
  EXPECT_EQ(reversed.a, 2.0f);
  EXPECT_EQ(reversed.b, 5.0f);

  const beta::LogLogisticSetup equal = beta::make_log_logistic_setup(3.0f, 3.0f);
  EXPECT_TRUE(equal.small_is_first);
}

struct LogLogisticBranch {
  const char* name;
  beta::LogLogisticOutcome outcome;
};
constexpr LogLogisticBranch kLogLogisticBranches[] = {
    {"quick acceptance s + 2.609438 >= 5z", beta::LogLogisticOutcome::QuickAccept},
    {"acceptance s >= ln z", beta::LogLogisticOutcome::LogAccept},
    {"acceptance r + alpha ln(alpha/(b+w)) >= ln z", beta::LogLogisticOutcome::BoundAccept},
    {"rejection r + alpha ln(alpha/(b+w)) < ln z", beta::LogLogisticOutcome::Rejected},
};

TEST_F(BetaTest, LogLogisticEachBranchTakesTwoUniforms) {
  for (const bool small_first : {true, false}) {
    const float pin = small_first ? 2.0f : 5.0f;
    const float qin = small_first ? 5.0f : 2.0f;
    const beta::LogLogisticSetup setup = beta::make_log_logistic_setup(pin, qin);
    for (const LogLogisticBranch& branch : kLogLogisticBranches) {
      SCOPED_TRACE(branch.name);
      const int32_t seed = first_seed_where(
          [&] { return beta::log_logistic_attempt(setup).outcome == branch.outcome; });
      ASSERT_GT(seed, 0);
      RNSET(seed);
      beta::LogLogisticAttempt attempt{};
      EXPECT_EQ(uniforms_used([&] { attempt = beta::log_logistic_attempt(setup); }), 2);
      // The candidate: w = a (u1 / (1 - u1))^beta, x = w / (b + w) or b / (b + w).
      const double u1 = uniform_after(seed, 1);
      const double w = 2.0 * std::pow(u1 / (1.0 - u1), std::sqrt(5.0 / 13.0));
      const double x = small_first ? w / (5.0 + w) : 5.0 / (5.0 + w);
      EXPECT_NEAR(attempt.x, x, 1e-5) << "seed " << seed;
      RNSET(seed);
      float r;
      const int64_t used = uniforms_used([&] { RNBET(1, pin, qin, &r); });
      if (branch.outcome == beta::LogLogisticOutcome::Rejected) {
        EXPECT_GE(used, 4);
        EXPECT_EQ(used % 2, 0);
      } else {
        EXPECT_EQ(used, 2);
        EXPECT_EQ(r, beta::Clamp::from_machine()(attempt.x));
      }
    }
  }
}

TEST_F(BetaTest, FourDeviatesAreFourSingleDraws) {
  RNSET(99);
  float four[4];
  RNBET(4, 2.0f, 2.0f, four);
  RNSET(99);
  for (int i = 0; i < 4; ++i) {
    float one;
    RNBET(1, 2.0f, 2.0f, &one);
    EXPECT_EQ(one, four[i]) << "element " << i;
  }
}

TEST_F(BetaTest, FourAndFiveDeviatesTakeDifferentMethods) {
  // NR = 4 at 2/2: two uniforms per attempt (C). NR = 5: the batch method, whose
  // majorant at 2/2 is the constant 1, so every attempt goes through a band: also two
  // uniforms, but different deviates from the same seed.
  RNSET(1);
  float four[4];
  const int64_t used_four = uniforms_used([&] { RNBET(4, 2.0f, 2.0f, four); });
  RNSET(1);
  float five[5];
  const int64_t used_five = uniforms_used([&] { RNBET(5, 2.0f, 2.0f, five); });
  EXPECT_EQ(used_four % 2, 0);
  EXPECT_GE(used_four, 8);
  EXPECT_EQ(used_five % 2, 0);
  EXPECT_GE(used_five, 10);
  EXPECT_NE(four[0], five[0]);
}

TEST_F(BetaTest, InfiniteShapeBesideOneIsAPowerOfZero) {
  const float inf = std::numeric_limits<float>::infinity();
  RNSET(5);
  float r;
  RNBET(1, inf, 1.0f, &r);  // u^(1/inf) = 1
  EXPECT_EQ(r, kBelowOne);
  RNBET(1, 1.0f, inf, &r);  // 1 - u^0 = 0
  EXPECT_EQ(r, kFloor);
  RNBET(1, inf, 2.0f, &r);  // C with alpha = inf: beta is not a number
  EXPECT_TRUE(std::isnan(r));
}

TEST_F(BetaTest, SwitchingWithANotANumberShapeGivesNotANumber) {
  // The switching set-up has no number to compare u1 with; nothing is drawn.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(beta::make_switching_setup(nan, 0.5f).usable());
  RNSET(3);
  float r[2];
  EXPECT_EQ(uniforms_used([&] { RNBET(2, nan, 0.5f, r); }), 0);
  EXPECT_TRUE(std::isnan(r[0]));
  EXPECT_TRUE(std::isnan(r[1]));
}

// ---------------------------------------------------------------------------------
// Errors, with the stop switched off so that the state after the call can be seen
// ---------------------------------------------------------------------------------

class BetaErrorTest : public BetaTest {
 protected:
  void SetUp() override {
    BetaTest::SetUp();
    E1INIT();
    error_state().print_on[5] = 0;
    error_state().stop_on[5] = 0;
  }
};

TEST_F(BetaErrorTest, BadArgumentsDrawNothingAndLeaveR) {
  RNSET(77);
  float r[2] = {0.25f, 0.75f};
  EXPECT_EQ(uniforms_used([&] { RNBET(0, -1.0f, 0.0f, r); }), 0);
  EXPECT_EQ(N1RCD(1), 3);  // the last code posted at RNBET's level
  EXPECT_EQ(r[0], 0.25f);
  EXPECT_EQ(r[1], 0.75f);
  EXPECT_EQ(random_state().seed, 77);

  EXPECT_EQ(uniforms_used([&] { RNBET(2, 0.0f, 1.0f, r); }), 0);
  EXPECT_EQ(N1RCD(1), 2);
  EXPECT_EQ(uniforms_used([&] { RNBET(0, 1.0f, 1.0f, r); }), 0);
  EXPECT_EQ(N1RCD(1), 1);
  EXPECT_EQ(r[0], 0.25f);
}

TEST_F(BetaErrorTest, ExhaustedAttemptsFillTheRestWithNotANumber) {
  RNSET(7);
  float r[3] = {0.25f, 0.25f, 0.25f};
  EXPECT_EQ(uniforms_used([&] { RNBET(3, 1e-8f, 1e-8f, r); }), 2000);
  EXPECT_EQ(N1RCD(1), 4);
  for (float x : r) EXPECT_TRUE(std::isnan(x));
}

// ---------------------------------------------------------------------------------
// Shapes that are not numbers or are extreme: every call ends, every result is in the
// stored range or NaN (Johnk giving up on tiny shapes posts code 4 and goes on here,
// the stop being off).
// ---------------------------------------------------------------------------------

TEST_F(BetaErrorTest, ExtremeAndNotANumberShapesEnd) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float big = std::numeric_limits<float>::max();
  const float tiny = std::numeric_limits<float>::denorm_min();
  const float shapes[] = {nan,   inf,   big,  1e30f, 1e10f, 100001.0f,     1.0000001f,
                          1.0f,  0.99999994f, 0.5f, 0.49f, 1e-10f, 1e-30f, tiny};
  RNSET(2024);
  float r[6];
  for (const float pin : shapes) {
    for (const float qin : shapes) {
      for (const int32_t nr : {1, 6}) {
        RNBET(nr, pin, qin, r);
        for (int i = 0; i < nr; ++i) {
          EXPECT_TRUE(std::isnan(r[i]) || (r[i] >= kFloor && r[i] < 1.0f))
              << "PIN " << pin << " QIN " << qin << " NR " << nr << ": " << r[i];
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------
// Errors as the run sees them: printed at once, then the end with status 1
// ---------------------------------------------------------------------------------

TEST(BetaDeathTest, ThreeBadArgumentsGiveThreeMessagesInOrder) {
  testing::CapturedStdout out;
  EXPECT_EXIT(
      {
        out.redirect();
        float r = 0.0f;
        RNBET(0, -1.0f, 0.0f, &r);
      },
      ::testing::ExitedWithCode(1), "");
  // Header room 59 - 13: the count message breaks before "to 1.", the others fit.
  EXPECT_EQ(out.text(),
            "\r\n *** TERMINAL ERROR 1 from RNBET.  NR = 0.  NR must be greater than or equal\r\n"
            " ***          to 1.\r\n"
            "\r\n *** TERMINAL ERROR 2 from RNBET.  PIN = -1.000000E+00.  PIN must be positive.\r\n"
            "\r\n *** TERMINAL ERROR 3 from RNBET.  QIN = 0.000000E+00.  QIN must be positive.\r\n");
}

TEST(BetaDeathTest, OneBadShapeGivesItsOwnCode) {
  testing::CapturedStdout out;
  EXPECT_EXIT(
      {
        out.redirect();
        float r = 0.0f;
        RNBET(1, 2.0f, -4.0f, &r);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(out.text(),
            "\r\n *** TERMINAL ERROR 3 from RNBET.  QIN = -4.000000E+00.  QIN must be positive.\r\n");
}

TEST(BetaDeathTest, TinyShapesExhaustTheAttempts) {
  testing::CapturedStdout out;
  EXPECT_EXIT(
      {
        out.redirect();
        RNSET(7);
        float r[2];
        RNBET(2, 1e-8f, 1e-8f, r);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(out.text(),
            "\r\n *** TERMINAL ERROR 4 from RNBET.  1000 unsuccessful attempts were made to\r\n"
            " ***          assign a beta random deviate to R(1), since PIN and QIN are so \r\n"
            " ***          small.  All elements of R beyond 1 are set to not-a-number.\r\n");
}

}  // namespace
}  // namespace propbf::numlib
