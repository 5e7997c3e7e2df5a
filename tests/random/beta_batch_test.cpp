// The batch method: its set-up values, and each region of the majorant with the
// uniforms it consumes.
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>

#include <gtest/gtest.h>

#include "random/beta_methods.hpp"
#include "random/random.hpp"
#include "test_support.hpp"

namespace propbf::numlib {
namespace {

using beta::BatchRegion;
using beta::BatchSetup;
using testing::uniforms_between;

double uniform_after(int32_t seed, int k) {
  const double sigma = std::ldexp(1.0, -31) - std::ldexp(1.0, -55);
  return static_cast<float>(static_cast<double>(advance_seed(seed, k)) * sigma);
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_random_state_for_testing(); }
};

TEST_F(BatchTest, MarginIsTwoToMinusTwentyAboveOne) {
  EXPECT_EQ(1.0f + beta::kInflectionMargin, 1.0f + std::ldexp(1.0f, -20));
}

// ---------------------------------------------------------------------------------
// Set-up values. Expectations are the method's reference values, to the digits they
// are given in.
// ---------------------------------------------------------------------------------

TEST_F(BatchTest, SetUpAtTenAndTen) {
  const BatchSetup z = beta::make_batch_setup(10.0f, 10.0f);
  EXPECT_EQ(z.m, 0.5f);
  EXPECT_NEAR(z.x1, 0.378732, 1.5e-6);
  EXPECT_NEAR(z.x0, 0.270939, 1.5e-6);
  EXPECT_NEAR(z.x4, 0.621268, 1.5e-6);
  EXPECT_NEAR(z.x5, 0.729061, 1.5e-6);
  EXPECT_NEAR(z.f1, 0.579481, 5e-6);
  EXPECT_NEAR(z.f4, 0.579481, 5e-6);
  EXPECT_NEAR(z.f0, 0.120020, 5e-6);
  EXPECT_NEAR(z.f5, 0.120020, 5e-6);
  EXPECT_NEAR(z.lambda0, 20.8732, 2e-4);
  EXPECT_NEAR(z.lambda5, 20.8732, 2e-4);
  const double areas[11] = {0,       0.07027, 0.14054, 0.15348, 0.16642, 0.21742,
                            0.26841, 0.29317, 0.31794, 0.32369, 0.32944};
  for (int k = 1; k <= 10; ++k) EXPECT_NEAR(z.A[k], areas[k], 1e-5) << "A" << k;
  // The scaled density is 1 at the mode.
  EXPECT_NEAR(z.g(z.m), 0.0f, 2e-6);
}

TEST_F(BatchTest, SetUpAtTwoAndFiveHasOnlyTheRightPieces) {
  // m = d = 0.2: the left inflection point would be 0.
  const BatchSetup z = beta::make_batch_setup(2.0f, 5.0f);
  EXPECT_NEAR(z.m, 0.2, 1e-7);
  EXPECT_EQ(z.x1, 0.0f);
  EXPECT_EQ(z.x0, 0.0f);
  EXPECT_EQ(z.f1, 0.0f);
  EXPECT_EQ(z.f0, 0.0f);
  EXPECT_NEAR(z.x4, 0.4, 1e-6);
  EXPECT_NEAR(z.x5, 0.64, 1e-6);
  EXPECT_NEAR(z.lambda5, 9.5486, 1e-4);
  EXPECT_GT(z.f4, 0.0f);
  EXPECT_GT(z.f5, 0.0f);
  // Left pieces add nothing.
  EXPECT_EQ(z.A[1], 0.0f);
  EXPECT_EQ(z.A[3], z.A[2]);
  EXPECT_EQ(z.A[7], z.A[6]);
  EXPECT_EQ(z.A[9], z.A[8]);
  EXPECT_GT(z.A[10], z.A[9]);
}

TEST_F(BatchTest, SetUpWithTheModeNearZeroHasOnlyTheRightPieces) {
  // 1.5 / 40: m = 0.5 / 39.5 = 0.01266 < d = sqrt(19.5 / 38.5) / 39.5 = 0.01802.
  const BatchSetup z = beta::make_batch_setup(1.5f, 40.0f);
  EXPECT_EQ(z.f1, 0.0f);
  EXPECT_EQ(z.f0, 0.0f);
  EXPECT_NEAR(z.x4, 0.5 / 39.5 + std::sqrt(19.5 / 38.5) / 39.5, 1e-6);
  EXPECT_GT(z.f5, 0.0f);
  EXPECT_GT(z.A[10], z.A[9]);
}

TEST_F(BatchTest, SetUpWithTheModeNearOneHasOnlyTheLeftPieces) {
  const BatchSetup z = beta::make_batch_setup(40.0f, 1.5f);
  EXPECT_EQ(z.f4, 0.0f);
  EXPECT_EQ(z.f5, 0.0f);
  EXPECT_EQ(z.x4, 1.0f);
  EXPECT_EQ(z.x5, 1.0f);
  EXPECT_GT(z.f0, 0.0f);
  EXPECT_EQ(z.A[10], z.A[9]);
}

struct ConstantMajorantRow {
  float pin, qin;
  double mode;
};
constexpr ConstantMajorantRow kConstantMajorant[] = {
    {1.5f, 1.5f, 0.5},             // s = 1
    {2.0f, 2.0f, 0.5},             // s = 2 but d = m = 0.5: neither piece fits
    {1.2f, 1.7f, 0.2 / 0.9},       // s = 0.9
};

TEST_F(BatchTest, ConstantMajorantWhenNoInflectionPieceExists) {
  for (const ConstantMajorantRow& row : kConstantMajorant) {
    SCOPED_TRACE(::testing::Message() << row.pin << " / " << row.qin);
    const BatchSetup z = beta::make_batch_setup(row.pin, row.qin);
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(z.A[k], 0.0f) << "A" << k;
    EXPECT_NEAR(z.A[5], row.mode, 1e-7);
    EXPECT_EQ(z.A[5], z.m);
    for (int k = 6; k <= 10; ++k) EXPECT_EQ(z.A[k], 1.0f) << "A" << k;
  }
}

// ---------------------------------------------------------------------------------
// Regions and uniforms per attempt, at 10/10 where every piece exists
// ---------------------------------------------------------------------------------

enum class Decision { AtOnce, FinalAccept, FinalReject, Outside };

struct RegionCase {
  const char* name;
  BatchRegion region;
  Decision decision;
  int uniforms;
};
constexpr RegionCase kRegionCases[] = {
    {"rectangle", BatchRegion::Rectangle, Decision::AtOnce, 1},
    {"left band under the chord", BatchRegion::LeftBand, Decision::AtOnce, 2},
    {"left band, final test accepts", BatchRegion::LeftBand, Decision::FinalAccept, 2},
    {"left band, final test rejects", BatchRegion::LeftBand, Decision::FinalReject, 2},
    {"right band under the chord", BatchRegion::RightBand, Decision::AtOnce, 2},
    {"right band, final test accepts", BatchRegion::RightBand, Decision::FinalAccept, 2},
    {"right band, final test rejects", BatchRegion::RightBand, Decision::FinalReject, 2},
    {"left triangle under the tangent", BatchRegion::LeftTriangle, Decision::AtOnce, 3},
    {"left triangle, final test accepts", BatchRegion::LeftTriangle, Decision::FinalAccept, 3},
    {"left triangle, final test rejects", BatchRegion::LeftTriangle, Decision::FinalReject, 3},
    {"right triangle under the tangent", BatchRegion::RightTriangle, Decision::AtOnce, 3},
    {"right triangle, final test accepts", BatchRegion::RightTriangle, Decision::FinalAccept, 3},
    {"right triangle, final test rejects", BatchRegion::RightTriangle, Decision::FinalReject, 3},
    {"left tail under the tangent", BatchRegion::LeftTail, Decision::AtOnce, 2},
    {"left tail, final test accepts", BatchRegion::LeftTail, Decision::FinalAccept, 2},
    {"left tail, final test rejects", BatchRegion::LeftTail, Decision::FinalReject, 2},
    {"left tail at or below 0", BatchRegion::LeftTail, Decision::Outside, 2},
    {"right tail under the tangent", BatchRegion::RightTail, Decision::AtOnce, 2},
    {"right tail, final test accepts", BatchRegion::RightTail, Decision::FinalAccept, 2},
    {"right tail, final test rejects", BatchRegion::RightTail, Decision::FinalReject, 2},
    {"right tail at or above 1", BatchRegion::RightTail, Decision::Outside, 2},
};

Decision decision_of(const beta::BatchAttempt& a) {
  if (a.final_test) return a.accepted ? Decision::FinalAccept : Decision::FinalReject;
  return a.accepted ? Decision::AtOnce : Decision::Outside;
}

// The region from the first uniform alone: v = A10 u against the cumulative areas.
BatchRegion region_of(const BatchSetup& z, double u) {
  const float v = z.A[10] * static_cast<float>(u);
  if (v <= z.A[4]) return BatchRegion::Rectangle;
  if (v <= z.A[5]) return BatchRegion::LeftBand;
  if (v <= z.A[6]) return BatchRegion::RightBand;
  if (v <= z.A[7]) return BatchRegion::LeftTriangle;
  if (v <= z.A[8]) return BatchRegion::RightTriangle;
  if (v <= z.A[9]) return BatchRegion::LeftTail;
  return BatchRegion::RightTail;
}

TEST_F(BatchTest, EachRegionConsumesItsUniforms) {
  const BatchSetup z = beta::make_batch_setup(10.0f, 10.0f);
  for (const RegionCase& c : kRegionCases) {
    SCOPED_TRACE(c.name);
    int32_t seed = -1;
    for (int32_t candidate = 1; candidate <= 5000000; ++candidate) {
      RNSET(candidate);
      const beta::BatchAttempt a = beta::batch_attempt(z);
      if (a.region == c.region && decision_of(a) == c.decision) {
        seed = candidate;
        break;
      }
    }
    ASSERT_GT(seed, 0);
    EXPECT_EQ(region_of(z, uniform_after(seed, 1)), c.region) << "seed " << seed;
    RNSET(seed);
    const beta::BatchAttempt a = beta::batch_attempt(z);
    EXPECT_EQ(uniforms_between(seed, random_state().seed), c.uniforms) << "seed " << seed;
    if (c.decision == Decision::Outside) {
      if (c.region == BatchRegion::LeftTail) {
        EXPECT_LE(a.x, 0.0f);
      } else {
        EXPECT_GE(a.x, 1.0f);
      }
    } else {
      EXPECT_GT(a.x, 0.0f);
      EXPECT_LT(a.x, 1.0f);
    }
  }
}

TEST_F(BatchTest, RectangleDeviateIsLinearInTheUniform) {
  // v <= A1: x = v / f1 + x1 with v = A10 u.
  const BatchSetup z = beta::make_batch_setup(10.0f, 10.0f);
  int32_t seed = 1;
  while (!(z.A[10] * static_cast<float>(uniform_after(seed, 1)) <= z.A[1])) ++seed;
  RNSET(seed);
  const beta::BatchAttempt a = beta::batch_attempt(z);
  const double v = static_cast<double>(z.A[10]) * uniform_after(seed, 1);
  EXPECT_EQ(a.region, BatchRegion::Rectangle);
  EXPECT_NEAR(a.x, v / z.f1 + z.x1, 1e-6);
}

TEST_F(BatchTest, BandsOnlyWhenTheMajorantIsConstant) {
  // At 1.5/1.5 and 2/2 every attempt goes through a band: two uniforms each.
  for (const float shape : {1.5f, 2.0f}) {
    RNSET(31);
    float r[8];
    const int32_t before = random_state().seed;
    RNBET(8, shape, shape, r);
    const int64_t used = uniforms_between(before, random_state().seed);
    EXPECT_EQ(used % 2, 0) << shape;
    EXPECT_GE(used, 16) << shape;
  }
}

TEST_F(BatchTest, WholeDrawConsumesWhatItsAttemptsConsume) {
  // Replaying the attempts one by one from the same seed: the draw takes exactly the
  // uniforms of its attempts (1, 2 or 3 each) and nothing else.
  const BatchSetup z = beta::make_batch_setup(10.0f, 10.0f);
  for (const int32_t seed : {1, 17, 4242}) {
    RNSET(seed);
    float r[20];
    RNBET(20, 10.0f, 10.0f, r);
    const int64_t used = uniforms_between(seed, random_state().seed);
    RNSET(seed);
    int64_t expected = 0;
    int accepted = 0;
    while (accepted < 20) {
      const beta::BatchAttempt a = beta::batch_attempt(z);
      expected += a.region == BatchRegion::Rectangle       ? 1
                  : a.region == BatchRegion::LeftTriangle  ? 3
                  : a.region == BatchRegion::RightTriangle ? 3
                                                           : 2;
      if (a.accepted) {
        EXPECT_EQ(r[accepted], a.x) << "seed " << seed << " element " << accepted;
        ++accepted;
      }
    }
    EXPECT_EQ(used, expected) << "seed " << seed;
  }
}

}  // namespace
}  // namespace propbf::numlib
