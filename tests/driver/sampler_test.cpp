#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "driver/replications.hpp"
#include "driver/run.hpp"
#include "driver/sampler.hpp"
#include "driver/sampler_rules.hpp"
#include "problem_builder.hpp"
#include "random/random.hpp"

namespace propbf::testing {
namespace {

using driver::Phase;

// Runs a phase with the literal sampler from seed 1; returns the product and the hits.
struct PhaseRun {
  float product;
  std::vector<float> hits;
  int32_t seed_after;
};

PhaseRun run_literal(const driver::Problem& problem, Phase phase) {
  numlib::RNSET(1);
  std::vector<float> pi(static_cast<size_t>(problem.items()) + 1);
  PhaseRun run{0.0f, std::vector<float>(static_cast<size_t>(problem.restrictions()) + 1), 0};
  ::testing::internal::CaptureStdout();
  run.product = driver::run_phase(problem, phase, pi.data(), run.hits.data(), driver::SamplerChoice::Literal);
  ::testing::internal::GetCapturedStdout();
  run.seed_after = numlib::random_state().seed;
  return run;
}

TEST(StageSampler, OrderRestrictionHasHalfThePrior) {
  const auto problem = make_problem(2, 1, 100000, {{1, -1, 0}}, {0.6f, 0.4f}, {1, 0});
  EXPECT_NEAR(run_literal(problem, Phase::Complexity).product, 0.5, 0.01);
}

TEST(StageSampler, SecondStageIsConditionalOnTheFirst) {
  // p1 > p2, then p2 > 0.5: given p1 > p2 the second holds with probability 1/4.
  const auto problem = make_problem(2, 2, 100000, {{1, -1, 0}, {0, 1, 0.5f}}, {0.8f, 0.6f}, {1, 0});
  const PhaseRun run = run_literal(problem, Phase::Complexity);
  EXPECT_NEAR(run.hits[1] / 100000.0, 0.25, 0.01);
  EXPECT_NEAR(run.product, 0.125, 0.006);
}

TEST(StageSampler, FitFollowsThePosterior) {
  // After a success and a failure, P(p1 > p2) = 5/6; the other way round 1/6.
  const auto success_first = make_problem(2, 1, 100000, {{1, -1, 0}}, {0.6f, 0.4f}, {1, 0});
  EXPECT_NEAR(run_literal(success_first, Phase::Fit).product, 5.0 / 6.0, 0.01);
  const auto failure_first = make_problem(2, 1, 100000, {{1, -1, 0}}, {0.6f, 0.4f}, {0, 1});
  EXPECT_NEAR(run_literal(failure_first, Phase::Fit).product, 1.0 / 6.0, 0.01);
}

TEST(StageSampler, EachPhaseTakesStagesTimesSweepsTimesItemsDeviates) {
  const auto problem = make_problem(3, 2, 777, {{1, -1, 0, 0}, {0, 1, -1, 0}}, {0.9f, 0.5f, 0.1f}, {1, 2, 0});
  for (Phase phase : {Phase::Complexity, Phase::Fit}) {
    EXPECT_EQ(run_literal(problem, phase).seed_after, numlib::advance_seed(1, 2 * 777 * 3));
  }
}

TEST(StageSampler, AllHitStageSumsOneOverNiterInSinglePrecision) {
  // A restriction every state satisfies: every sweep is a hit.
  const struct {
    int niter;
    float share;
    float hits;
  } cases[] = {{3, 1.0f, 3.0f},
               {7, 1.0f, 7.0f},
               {10, 1.00000012f, 10.000001f},
               {100, 0.999999344f, 99.9999313f},
               {10000, 1.00005352f, 10000.53515625f},
               {100000, 1.00099015f, 100099.015625f}};
  for (const auto& c : cases) {
    const auto problem = make_problem(1, 1, c.niter, {{1, -1}}, {0.5f}, {1});
    const PhaseRun run = run_literal(problem, Phase::Complexity);
    EXPECT_EQ(run.product, c.share) << c.niter;
    EXPECT_EQ(run.hits[0], c.hits) << c.niter;
  }
}

TEST(StageSampler, ShareOfManySweepsIsTheHitCountOverNiter) {
  // One item, pi_1 > 0.9: in the complexity phase pi_1 is the deviate u itself and the
  // sweep hits when u - 0.9 > 0, so the hits can be replayed from the generator. Up to
  // 2^20 sweeps the share is the float sum of 1/niter over the hits; above, the count
  // over niter rounded once. Both samplers; the true share is 0.1.
  const int32_t limit = driver::kFloatSumSweepLimit;
  for (int32_t niter : {1000003, limit, limit + 1}) {
    numlib::RNSET(1);
    float sum = 0.0f;
    int64_t hits = 0;
    for (int32_t i = 0; i < niter; ++i) {
      const float u = numlib::RNUNF();
      if (u - 0.9f > 0.0f) {
        ++hits;
        sum = 1.0f / static_cast<float>(niter) + sum;
      }
    }
    const float expected = niter <= limit ? sum : static_cast<float>(static_cast<double>(hits) / niter);
    const auto problem = make_problem(1, 1, niter, {{1, 0.9f}}, {0.5f}, {1});
    const PhaseRun run = run_literal(problem, Phase::Complexity);
    EXPECT_EQ(run.product, expected) << niter;
    EXPECT_EQ(run.hits[0], expected * static_cast<float>(niter)) << niter;
    // Within five standard errors of the true share.
    EXPECT_NEAR(run.product, 0.1, 5 * std::sqrt(0.1 * 0.9 / niter)) << niter;
    numlib::RNSET(1);
    float pi = 0.0f;
    float fast_hits = 0.0f;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(driver::run_phase(problem, Phase::Complexity, &pi, &fast_hits), expected) << niter;
    ::testing::internal::GetCapturedStdout();
  }
  // With 3e8 sweeps a float sum would stop at 0.0625, where 1/niter falls below half the
  // spacing of floats; the count over niter gives the share.
  EXPECT_EQ(driver::HitTally::rounded_quotient(30000000, 300000000), 0.1f);
  EXPECT_EQ(driver::HitTally::rounded_quotient(1, 3), 1.0f / 3.0f);
  EXPECT_EQ(driver::HitTally::rounded_quotient(2147483646, 2147483647), 1.0f);
  EXPECT_EQ(driver::HitTally::rounded_quotient(0, 7), 0.0f);
}

TEST(StageSampler, StoragePlanCountsTheLargestSingleStageGroup) {
  // 3000000 items, 30 restrictions: the problem and workspace arrays (4 bytes per
  // element: r, 3 per item, 5 per restriction, 5 replication vectors) beside the
  // sampler's group for stage 30 alone, about 2 GB.
  const int64_t held = 4 * (int64_t{90000000} + 3 * 3000000 + 5 * 30 + 5 * int64_t{driver::kReplications});
  const int64_t stage30 = driver::fast_group_bytes(3000000, 30, 1);
  EXPECT_GT(stage30, int64_t{1900} << 20);
  EXPECT_GT(stage30, driver::literal_work_bytes(3000000, 30, 30));
  const int64_t gigabyte = int64_t{1} << 30;
  const driver::StoragePlan roomy = driver::plan_storage(3000000, 30, 64 * gigabyte);
  EXPECT_EQ(roomy.bytes, held + stage30);
  EXPECT_EQ(roomy.group_byte_limit, 64 * gigabyte - held);
  EXPECT_EQ(driver::plan_storage(3000000, 30, held + stage30).bytes, held + stage30);
  EXPECT_EQ(driver::plan_storage(3000000, 30, held + stage30 - 1).bytes, -1);
  // No restrictions: no sampler storage. Beyond 32-bit indices: refused whatever the room.
  EXPECT_EQ(driver::plan_storage(5, 0, gigabyte).bytes, 4 * (15 + 5 * int64_t{driver::kReplications}));
  EXPECT_EQ(driver::plan_storage(65536, 65536, INT64_MAX).bytes, -1);
}

TEST(StageSampler, NoSweepsGiveZeroHitsAndNoDraws) {
  for (int niter : {0, -5}) {
    const auto problem = make_problem(2, 2, niter, {{1, -1, 0}, {0, 1, 0.5f}}, {0.8f, 0.6f}, {1, 0});
    for (Phase phase : {Phase::Complexity, Phase::Fit}) {
      const PhaseRun run = run_literal(problem, phase);
      EXPECT_EQ(run.product, 0.0f);
      EXPECT_EQ(run.hits[0], 0.0f);
      EXPECT_EQ(run.hits[1], 0.0f);
      EXPECT_EQ(std::signbit(run.hits[0]), niter < 0);  // 0 x (negative niter) is -0
      EXPECT_EQ(run.seed_after, 1);
    }
  }
}

TEST(StageSampler, NoRestrictionsLeaveTheProductAtOne) {
  const auto problem = make_problem(3, 0, 100, {}, {0.5f, 0.5f, 0.5f}, {1, 0, 1});
  ::testing::internal::CaptureStdout();
  std::vector<float> pi(3), hits(1);
  EXPECT_EQ(driver::run_phase(problem, Phase::Fit, pi.data(), hits.data(), driver::SamplerChoice::Literal), 1.0f);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(StageSampler, ProgressLinesAfterEveryStage) {
  const auto problem = make_problem(1, 12, 1, std::vector<std::vector<float>>(12, {1, 0}), {0.5f}, {1});
  numlib::RNSET(1);
  std::vector<float> pi(1), hits(12);
  ::testing::internal::CaptureStdout();
  driver::run_phase(problem, Phase::Complexity, pi.data(), hits.data(), driver::SamplerChoice::Literal);
  driver::run_phase(problem, Phase::Fit, pi.data(), hits.data(), driver::SamplerChoice::Literal);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" Completed: Evaluation of Complexity Restriction    1\r\n"), std::string::npos);
  EXPECT_NE(out.find(" Completed: Evaluation of Complexity Restriction    12\r\n"), std::string::npos);
  EXPECT_NE(out.find(" Completed: Evaluation of Fit Restriction    12\r\n"), std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 24);
}

TEST(StageSampler, SingleItemUsesTheConstantAlone) {
  // p1 > 0.25 first; stage 2 draws p1 from (0.25, 1] and tests p1 > 0.75: share 1/3.
  const auto problem = make_problem(1, 2, 60000, {{1, 0.25f}, {1, 0.75f}}, {0.5f}, {1});
  const PhaseRun run = run_literal(problem, Phase::Complexity);
  EXPECT_NEAR(run.hits[0] / 60000.0, 0.75, 0.01);
  EXPECT_NEAR(run.hits[1] / 60000.0, 1.0 / 3.0, 0.01);
}

TEST(StageSampler, NoItemsTestOnlyTheConstants) {
  const auto problem = make_problem(0, 2, 10, {{-1.0f}, {1.0f}}, {}, {});
  const PhaseRun run = run_literal(problem, Phase::Complexity);
  EXPECT_EQ(run.hits[0], 10.000001f);  // 0 - (-1) > 0 in every sweep
  EXPECT_EQ(run.hits[1], 0.0f);        // 0 - 1 fails
  EXPECT_EQ(run.seed_after, 1);
}

TEST(StageSampler, ObservationOutsideZeroOneKeepsTheStart) {
  // Item 2 stays at 0.7 in the fit; p2 > 0.5 holds in every sweep, p2 > 0.9 in none.
  const auto problem = make_problem(2, 2, 50, {{0, 1, 0.5f}, {0, 1, 0.9f}}, {0.2f, 0.7f}, {1, 2});
  const PhaseRun run = run_literal(problem, Phase::Fit);
  float all_hits = 0.0f;
  for (int i = 0; i < 50; ++i) all_hits = 1.0f / 50.0f + all_hits;
  EXPECT_EQ(run.hits[0], all_hits * 50.0f);
  EXPECT_EQ(run.hits[1], 0.0f);
  EXPECT_EQ(run.seed_after, numlib::advance_seed(1, 2 * 50 * 2));
}

TEST(StageSampler, HostileValuesNeverStopTheRun) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Contradictory restrictions (empty intervals), infinite and NaN coefficients, zero
  // coefficients, a start outside [0, 1]: the phase runs to its end, no hit is counted
  // for NaN states, and the deviates taken are still T x niter x J.
  const std::vector<std::vector<std::vector<float>>> restriction_sets = {
      {{1, 0, 0.9f}, {-1, 0, -0.1f}, {0, 1, 0.5f}},
      {{inf, -1, 0}, {0, nan, 0}, {0, 0, 0}},
      {{1e38f, -1e38f, 0}, {1e-45f, 0, 0}, {-inf, inf, 0}},
  };
  for (const auto& rows : restriction_sets) {
    for (const std::vector<float>& start : {std::vector<float>{0.5f, 0.5f}, std::vector<float>{2.0f, -1.0f}}) {
      const auto problem = make_problem(2, 3, 200, rows, start, {0, 1});
      for (Phase phase : {Phase::Complexity, Phase::Fit}) {
        const PhaseRun run = run_literal(problem, phase);
        EXPECT_EQ(run.seed_after, numlib::advance_seed(1, 3 * 200 * 2));
        for (int t = 0; t < 3; ++t) EXPECT_FALSE(std::isnan(run.hits[t]));
      }
    }
  }
}

// The run's schedule, a table of (J, T, niter, CPU free) against what the second thread
// does: nothing without a free CPU or without draws; the replications' split and their
// logarithms from niter 2; the phases side by side from T x T x niter x J = 2^20.
TEST(RunSchedule, ASecondThreadOnlyWhereACpuIsFreeAndTheWorkPaysForIt) {
  struct Row {
    int32_t items, stages, niter;
    bool free;
    driver::Schedule expected;
  };
  const Row rows[] = {
      {4, 3, 10000, false, {false, false, false, false}},        // the bundled example, CPU busy
      {4, 3, 10000, true, {true, false, true, true}},            // the bundled example
      {10, 5, 20000, true, {true, true, true, true}},            // 5 x 5 x 20000 x 10 >= 2^20
      {10, 5, 20000, false, {false, false, false, false}},
      {4, 0, 10000, true, {false, false, false, false}},         // no restriction: no draws
      {0, 3, 10000, true, {false, false, false, false}},         // no item
      {4, 3, 0, true, {false, false, false, false}},             // no sweep
      {4, 3, 1, true, {false, false, false, false}},             // one sweep: powers of a uniform only
      {1, 1, 1 << 20, true, {true, true, true, true}},           // exactly 2^20
      {1, 1, (1 << 20) - 1, true, {true, false, true, true}},
      {1, driver::kArrangedStageLimit + 1, 2, true, {true, true, false, false}},
  };
  for (const Row& row : rows) {
    driver::Problem problem;
    problem.nitem = row.items;
    problem.nrestr = row.stages;
    problem.niter = row.niter;
    const driver::Schedule s = driver::plan_schedule(problem, row.free);
    const std::string where = std::to_string(row.items) + " items, " + std::to_string(row.stages) + " stages, niter " +
                              std::to_string(row.niter) + (row.free ? ", free" : ", busy");
    EXPECT_EQ(s.helper, row.expected.helper) << where;
    EXPECT_EQ(s.phases_side_by_side, row.expected.phases_side_by_side) << where;
    EXPECT_EQ(s.logs_ahead, row.expected.logs_ahead) << where;
    EXPECT_EQ(s.split_replications, row.expected.split_replications) << where;
  }
}

}  // namespace
}  // namespace propbf::testing
