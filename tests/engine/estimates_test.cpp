// Estimates of the proportions: exact ones of beta posteriors with known quantiles, and
// the restricted chain on a > b with uniform priors and no data (a is the larger and b the
// smaller of two uniforms), within its Monte Carlo error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "sampling/estimates.hpp"
#include "sampling/sampler.hpp"
#include "problem/language.hpp"
#include "engine/start_point.hpp"

namespace propbf::evaluate {
namespace {

struct ExactCase {
  double a, b;
  double mean, sd, lower, upper;
};

TEST(Estimates, ExactFromTheBetaPosterior) {
  // Beta(a, 1) has quantile p^(1/a); Beta(1, b) has 1 - (1 - p)^(1/b).
  const double n = 1000002.0;  // a + b of Beta(500001, 500001): sd sqrt(1 / (4 (n + 1)))
  const std::vector<ExactCase> cases{
      {1, 1, 0.5, std::sqrt(1.0 / 12.0), 0.025, 0.975},
      {2, 1, 2.0 / 3.0, std::sqrt(1.0 / 18.0), std::sqrt(0.025), std::sqrt(0.975)},
      {1, 2, 1.0 / 3.0, std::sqrt(1.0 / 18.0), 1.0 - std::sqrt(0.975), 1.0 - std::sqrt(0.025)},
      {4, 1, 0.8, std::sqrt(4.0 / 150.0), std::pow(0.025, 0.25), std::pow(0.975, 0.25)},
      // The normal limit: 0.5 -+ 1.959964 sd, to the digits it leaves.
      {500001, 500001, 0.5, std::sqrt(1.0 / (4.0 * (n + 1.0))), 0.5 - 1.959964 * std::sqrt(1.0 / (4.0 * (n + 1.0))),
       0.5 + 1.959964 * std::sqrt(1.0 / (4.0 * (n + 1.0)))},
  };
  for (const ExactCase& c : cases) {
    const ItemEstimate e = beta_estimate("x", c.a, c.b);
    EXPECT_EQ(e.name, "x");
    EXPECT_NEAR(e.mean, c.mean, 1e-15) << c.a << " " << c.b;
    EXPECT_NEAR(e.sd, c.sd, 1e-15) << c.a << " " << c.b;
    EXPECT_NEAR(e.lower, c.lower, c.a > 100 ? 1e-7 : 1e-14) << c.a << " " << c.b;
    EXPECT_NEAR(e.upper, c.upper, c.a > 100 ? 1e-7 : 1e-14) << c.a << " " << c.b;
  }
}

// 200000 sweeps: the chain of a > b mixes in a few sweeps, so the mean's error is about
// 0.24 / sqrt(200000 / 3) < 0.001 and the quantiles' (from 20000 kept draws) under 0.004.
TEST(Estimates, RestrictedChainOnTheOrderOfTwoUniforms) {
  const ParsedHypothesis parsed = parse_hypothesis("a > b", {"a", "b", "c"});
  ASSERT_TRUE(parsed.ok);
  const StartPoint start = find_start_point(parsed.restrictions, 3);
  const std::vector<double> ones(3, 1.0);
  const std::vector<double> c_b{1.0, 1.0, 3.0};
  const std::vector<ItemEstimate> e =
      restricted_estimates(parsed.restrictions, start.centre, ones, c_b, {200000, 7, 0});
  ASSERT_EQ(e.size(), 3u);
  const double sd = std::sqrt(1.0 / 18.0);
  EXPECT_NEAR(e[0].mean, 2.0 / 3.0, 0.004);
  EXPECT_NEAR(e[0].sd, sd, 0.004);
  EXPECT_NEAR(e[0].lower, std::sqrt(0.025), 0.012);
  EXPECT_NEAR(e[0].upper, std::sqrt(0.975), 0.004);
  EXPECT_NEAR(e[1].mean, 1.0 / 3.0, 0.004);
  EXPECT_NEAR(e[1].sd, sd, 0.004);
  EXPECT_NEAR(e[1].lower, 1.0 - std::sqrt(0.975), 0.004);
  EXPECT_NEAR(e[1].upper, 1.0 - std::sqrt(0.025), 0.012);
  // c is in no restriction: its estimate is the exact Beta(1, 3) one, as with no
  // restriction at all.
  const ItemEstimate exact = beta_estimate("", 1.0, 3.0);
  const std::vector<ItemEstimate> free = restricted_estimates({}, start.centre, ones, c_b, {200000, 7, 0});
  for (const ItemEstimate& c : {e[2], free[2]}) {
    EXPECT_EQ(c.mean, exact.mean);
    EXPECT_EQ(c.sd, exact.sd);
    EXPECT_EQ(c.lower, exact.lower);
    EXPECT_EQ(c.upper, exact.upper);
  }
  EXPECT_EQ(free[0].mean, 0.5);
}

// A grouped hypothesis (more than 64 rows) draws truncated to its first rows and keeps
// the states at which every row holds: a > b > c over three uniforms given as 70 rows
// (each of the two written 35 times, scaled), truncated to the first 10 rows (a > b), to
// none, and to all: the same estimates as the exact ones of the largest and the middle
// of three uniforms (means 3/4, 1/2; sds sqrt(3/80), sqrt(1/20)), within their errors.
TEST(Estimates, GroupedChainKeepsTheVisitsToTheHypothesis) {
  std::vector<Restriction> rows;
  for (int k = 0; k < 70; ++k) {
    const double scale = 1.0 + 0.25 * (k / 2);
    rows.push_back(k % 2 == 0 ? Restriction{{scale, -scale, 0.0}, 0.0, ""} : Restriction{{0.0, scale, -scale}, 0.0, ""});
  }
  std::sort(rows.begin(), rows.end(), [](const Restriction& x, const Restriction& y) {
    return x.coefficients[0] > y.coefficients[0];  // the a > b rows first
  });
  const StartPoint start = find_start_point(rows, 3);
  ASSERT_TRUE(start.interior);
  const std::vector<double> ones(3, 1.0);
  for (const std::size_t truncated : {std::size_t{10}, std::size_t{0}, std::size_t{70}}) {
    SCOPED_TRACE(truncated);
    EstimateChainSettings settings{100000, 11, 0};
    settings.truncated = truncated;
    const std::vector<ItemEstimate> e = restricted_estimates(rows, start.centre, ones, ones, settings);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_NEAR(e[0].mean, 0.75, 0.005);
    EXPECT_NEAR(e[1].mean, 0.5, 0.005);
    EXPECT_NEAR(e[2].mean, 0.25, 0.005);
    EXPECT_NEAR(e[0].sd, std::sqrt(3.0 / 80.0), 0.005);
    EXPECT_NEAR(e[1].sd, std::sqrt(1.0 / 20.0), 0.005);
    // Reading the stage chains' copy of the rows instead of its own changes no bit.
    EstimateChain shared(rows, start.centre, ones, ones, settings, nullptr,
                         std::make_shared<const SparseRestrictions>(rows, 3));
    shared.run_to(settings.niter);
    const std::vector<ItemEstimate> f = shared.estimates();
    for (std::size_t j = 0; j < 3; ++j) {
      EXPECT_EQ(std::vector<double>({e[j].mean, e[j].sd, e[j].lower, e[j].upper, e[j].mean_mcse}),
                std::vector<double>({f[j].mean, f[j].sd, f[j].lower, f[j].upper, f[j].mean_mcse}));
    }
  }
  // Rows after the first ten that almost nothing meets (a - c > 0.9995: a share of 2.5e-7
  // of what a > b leaves): after kGroupedTries sweeps outside, the chain draws truncated
  // to every row from its last state, and stays inside.
  std::vector<Restriction> thin(rows.begin(), rows.begin() + 10);
  for (int k = 0; k < 60; ++k) thin.push_back({{1.0, 0.0, -1.0}, 0.9995 - 1e-6 * k, ""});
  const StartPoint thin_start = find_start_point(thin, 3);
  ASSERT_TRUE(thin_start.interior);
  EstimateChainSettings settings{2000, 11, 0};
  settings.truncated = 10;
  const std::vector<ItemEstimate> e = restricted_estimates(thin, thin_start.centre, ones, ones, settings);
  EXPECT_GT(e[0].lower, 0.9995);
  EXPECT_LT(e[2].upper, 0.0005);
}

// The Monte Carlo standard errors against the spread of the estimates over 100 seeds, on
// a > b > c with uniform priors (a the largest of three uniforms): for the mean, and for
// the ends of the interval, each the average reported error over the seeds' standard
// deviation, which a correct error puts near 1 (its own error over 100 seeds is about
// 0.07). Exact items have none.
TEST(Estimates, MonteCarloErrorsMatchTheSpreadOverSeeds) {
  const ParsedHypothesis parsed = parse_hypothesis("a > b > c", {"a", "b", "c", "d"});
  ASSERT_TRUE(parsed.ok);
  const StartPoint start = find_start_point(parsed.restrictions, 4);
  const std::vector<double> ones(4, 1.0);
  constexpr int kSeeds = 100;
  // Per item a, c and per figure mean, lower, upper: sums of value, value^2, mcse.
  double sum[2][3][3] = {};
  for (int seed = 1; seed <= kSeeds; ++seed) {
    const std::vector<ItemEstimate> e =
        restricted_estimates(parsed.restrictions, start.centre, ones, ones, {4000, static_cast<std::uint64_t>(seed), 0});
    EXPECT_EQ(e[3].mean_mcse, 0.0);
    EXPECT_EQ(e[3].upper_mcse, 0.0);
    for (int i = 0; i < 2; ++i) {
      const ItemEstimate& x = e[i == 0 ? 0 : 2];
      const double figures[3][2] = {{x.mean, x.mean_mcse}, {x.lower, x.lower_mcse}, {x.upper, x.upper_mcse}};
      for (int f = 0; f < 3; ++f) {
        sum[i][f][0] += figures[f][0];
        sum[i][f][1] += figures[f][0] * figures[f][0];
        sum[i][f][2] += figures[f][1];
      }
    }
  }
  for (int i = 0; i < 2; ++i) {
    for (int f = 0; f < 3; ++f) {
      const double mean = sum[i][f][0] / kSeeds;
      const double spread = std::sqrt((sum[i][f][1] / kSeeds - mean * mean) * kSeeds / (kSeeds - 1));
      const double ratio = sum[i][f][2] / kSeeds / spread;
      EXPECT_GT(ratio, 0.75) << "item " << i << ", figure " << f;
      EXPECT_LT(ratio, 1.35) << "item " << i << ", figure " << f;
    }
  }
}

}  // namespace
}  // namespace propbf::evaluate
