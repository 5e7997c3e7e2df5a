// Effective sweeps by batch means, worked by hand.
#include <gtest/gtest.h>

#include <vector>

#include "evaluate/sampler.hpp"

namespace propbf::evaluate {
namespace {

struct BatchCase {
  const char* what;
  std::vector<std::int64_t> batch_hits;
  std::int64_t batch_size;
  std::int64_t niter;
  double expected;
};

TEST(BatchMeans, EffectiveSweeps) {
  // t_0.975 with 1 and 3 degrees of freedom over z_0.975, from the tables.
  const double ratio_1 = 12.706204736 / 1.959963985;
  const double ratio_3 = 3.182446305 / 1.959963985;
  const std::vector<BatchCase> cases{
      {"no variance: every sweep a hit", {10, 10, 10}, 10, 30, 30.0},
      {"no variance: no hit", {0, 0, 0}, 10, 30, 30.0},
      {"one batch cannot estimate a variance", {4}, 10, 12, 12.0},
      // p = 1/2, batch shares 0 and 1: sigma^2 = 10 * (1/4 + 1/4) / 1 = 5, p (1 - p) = 1/4.
      {"two opposite batches", {0, 10}, 10, 20, 20 * 0.25 / 5 / (ratio_1 * ratio_1)},
      // p = 1/2, batch shares 0.4, 0.6, 0.4, 0.6: sigma^2 = 10 * 4 * 0.01 / 3 = 2/15;
      // 40 * 0.25 / (2/15) = 75, shrunk by the t ratio and below niter = 40.
      {"mild correlation", {4, 6, 4, 6}, 10, 40, 40 * 0.25 / (2.0 / 15.0) / (ratio_3 * ratio_3)},
      // Batch shares exactly as independent draws would rarely give: capped at niter.
      {"less variance than independent draws", {5, 5, 5, 6}, 10, 40, 40.0},
  };
  for (const BatchCase& c : cases) {
    EXPECT_NEAR(batch_means_effective_sweeps(c.batch_hits, c.batch_size, c.niter), c.expected, 1e-6 * c.expected)
        << c.what;
  }
}

}  // namespace
}  // namespace propbf::evaluate
