#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "concurrency/executor.hpp"
#include "driver/problem.hpp"
#include "driver/report.hpp"
#include "random/random.hpp"

namespace propbf::testing {
namespace {

// The replications' beta shapes: hits + 1 and misses + 1. A hit count above the sweeps
// (an all-hit stage whose float sum of 1/niter ends above niter) is taken as the
// sweeps; one just below is kept, so the second shape stays just above 1. Negative
// sweeps are passed on to the beta generator's argument check.
TEST(ReplicationShapes, HitsAndMissesPlusOne) {
  struct Case {
    float hits;
    int32_t niter;
    float pin;
    float qin;
  };
  for (const Case c : {Case{2500.0f, 10000, 2501.0f, 7501.0f}, Case{0.0f, 10000, 1.0f, 10001.0f},
                       Case{100099.015625f, 100000, 100001.0f, 1.0f}, Case{10000.53515625f, 10000, 10001.0f, 1.0f},
                       Case{99.9999313f, 100, 1.0f + 99.9999313f, 1.0f + (100.0f - 99.9999313f)},
                       Case{-0.0f, -5, 1.0f, -4.0f}}) {
    float pin = 0, qin = 0;
    driver::replication_shapes(c.hits, c.niter, pin, qin);
    EXPECT_EQ(pin, c.pin) << c.hits << " hits of " << c.niter;
    EXPECT_EQ(qin, c.qin) << c.hits << " hits of " << c.niter;
  }
}

// The program's replications against the literal ones: the same factors bit for bit
// and the generator left at the same seed, for hit counts of every kind (none, all, a
// float sum just below or above niter, fractions), T from 0 to 9 and several niter.
TEST(Replications, ProgramPathGivesTheLiteralFactorsBitForBit) {
  std::mt19937 gen(77);
  struct Case {
    int32_t stages, niter;
  };
  concurrency::Executor executor(2);  // the program's replications split between two threads, as a run has them
  for (const Case k : {Case{0, 100}, Case{1, 0}, Case{1, 10000}, Case{3, 10000}, Case{5, 20000}, Case{9, 20000},
                       Case{2, 1}, Case{4, 7}}) {
    driver::Problem problem;
    problem.nrestr = k.stages;
    problem.niter = k.niter;
    driver::Workspace workspace;
    for (auto* hits : {&workspace.chit, &workspace.fhit, &workspace.csamp, &workspace.fsamp}) {
      hits->allocate(k.stages);
    }
    const float sweeps = static_cast<float>(k.niter);
    for (int32_t t = 0; t < k.stages; ++t) {
      for (float* hits : {&workspace.chit[t], &workspace.fhit[t]}) {
        const uint32_t pick = gen() % 6;
        *hits = pick == 0   ? 0.0f
                : pick == 1 ? sweeps
                : pick == 2 ? sweeps * 1.0049f                                   // all-hit float sum above niter
                : pick == 3 ? sweeps - 0.0000687f * sweeps                       // just below niter
                            : std::floor(static_cast<float>(gen() % 1000) / 1000.0f * sweeps) + 0.25f * (pick == 4);
      }
    }
    const float c = 0.08140175f;
    const float f = k.niter == 0 ? 0.0f : 0.2757161f;
    driver::BayesFactors literal{}, program{};
    numlib::RNSET(1043618065);
    driver::literal_replicate_factors(problem, workspace, c, f, literal);
    const int32_t literal_seed = numlib::random_state().seed;
    numlib::RNSET(1043618065);
    driver::replicate_factors(problem, workspace, c, f, program, nullptr, &executor);
    EXPECT_EQ(numlib::random_state().seed, literal_seed) << k.stages << " stages, niter " << k.niter;
    const auto bits = [](const driver::BayesFactors& b) {
      return std::vector<uint32_t>{std::bit_cast<uint32_t>(b.versus_unconstrained), std::bit_cast<uint32_t>(b.lu),
                                   std::bit_cast<uint32_t>(b.uu), std::bit_cast<uint32_t>(b.versus_complement),
                                   std::bit_cast<uint32_t>(b.lc), std::bit_cast<uint32_t>(b.uc)};
    };
    EXPECT_EQ(bits(program), bits(literal)) << k.stages << " stages, niter " << k.niter;
  }
}

TEST(StorageSizing, CountsBeyondTheIndexRangeOrMemoryAreRefused) {
  EXPECT_GT(driver::storage_bytes(4, 3), 0);
  EXPECT_GT(driver::storage_bytes(-4, -3), 0);  // negative counts size as 0
  EXPECT_GT(driver::storage_bytes(1000, 1000), 0);
  EXPECT_EQ(driver::storage_bytes(65536, 65536), -1);            // T x J = 2^32
  EXPECT_EQ(driver::storage_bytes(2147483647, 2147483647), -1);  // no overflow on the way
  EXPECT_EQ(driver::storage_bytes(46341, 46341), -1);            // just past 2^31 - 1
}

}  // namespace
}  // namespace propbf::testing
