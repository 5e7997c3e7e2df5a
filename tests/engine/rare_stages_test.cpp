// Rare stages split into levels (engine/rare_stages.hpp): the choice of the levels on
// tables of pilot values, the trust rule on tables of stage summaries, and whole runs of a
// thin tube against its exact factor.
#include <gtest/gtest.h>

#include <boost/math/distributions/beta.hpp>
#include <boost/math/quadrature/gauss.hpp>
#include <boost/math/special_functions/beta.hpp>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "engine/evaluation.hpp"
#include "engine/rare_stages.hpp"

namespace propbf::evaluate {
namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();

// 1000 values 0.0005, 0.0015, ..., 0.9995 (a uniform pilot), or those above `from`
// spread evenly over (from, 1).
std::vector<double> uniform_values(double from = 0.0) {
  std::vector<double> values;
  for (int i = 0; i < 1000; ++i) values.push_back(from + (1.0 - from) * (i + 0.5) / 1000.0);
  return values;
}

struct LevelCase {
  const char* what;
  std::vector<double> values;
  double current;
  double constant;
  std::optional<double> bound;
};

TEST(RareStages, NextLevelBound) {
  const std::vector<LevelCase> cases{
      // The stage's own pilot: 9 of 1000 values above 0.991 (below 1 %): split, the first
      // bound the 800th smallest value, exceeded by 200.
      {"rare stage", uniform_values(), kNone, 0.991, 0.7995},
      // 10 of 1000 (1 %): not rare, not split.
      {"1 % of the pilot", uniform_values(), kNone, 0.99, std::nullopt},
      // A level's pilot: 100 of 1000 above 0.9 (below 20 %): another level.
      {"a level below 20 %", uniform_values(), 0.5, 0.9, 0.7995},
      // 200 of 1000 above 0.8 (20 %): the next level is the constant itself.
      {"a level at 20 %", uniform_values(), 0.5, 0.8, std::nullopt},
      // The bound must rise above the current one and stay below the constant.
      {"no rise", std::vector<double>(1000, 0.5), 0.5, 0.9, std::nullopt},
      {"ties at the constant", std::vector<double>(1000, 0.9), 0.5, 0.9, std::nullopt},
      {"not finite", {0.1, std::nan(""), 0.2}, kNone, 0.9, std::nullopt},
      {"no values", {}, kNone, 0.9, std::nullopt},
  };
  for (const LevelCase& c : cases) {
    const std::optional<double> bound = next_level_bound(c.values, c.current, c.constant);
    ASSERT_EQ(bound.has_value(), c.bound.has_value()) << c.what;
    if (bound) {
      EXPECT_DOUBLE_EQ(*bound, *c.bound) << c.what;
    }
  }
}

// Pilots that see g x uniform on (bound, 1): each level keeps a fifth of the one before,
// 1 - b_l = 0.2^l (up to the grid), until 0.0005 above c = 0.9995 is at least a fifth
// of what is left: b_1 ... b_4 (1 - b_4 = 0.0016) and c, five levels.
TEST(RareStages, LevelBoundsFromPilots) {
  std::vector<std::size_t> levels_run;
  const std::vector<double> bounds = choose_level_bounds(0.9995, [&](std::size_t level, double bound) {
    levels_run.push_back(level);
    return uniform_values(level == 0 ? 0.0 : bound);
  });
  ASSERT_EQ(bounds.size(), 5u);
  EXPECT_EQ(levels_run, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(bounds.back(), 0.9995);
  for (std::size_t l = 0; l + 1 < bounds.size(); ++l) {
    EXPECT_LT(bounds[l], bounds[l + 1]);
    EXPECT_NEAR((1.0 - bounds[l]) / std::pow(0.2, static_cast<double>(l + 1)), 1.0, 0.02) << l;
  }
  // A stage that is not rare runs its own pilot only.
  levels_run.clear();
  EXPECT_TRUE(choose_level_bounds(0.5, [&](std::size_t level, double) {
                levels_run.push_back(level);
                return uniform_values();
              }).empty());
  EXPECT_EQ(levels_run, std::vector<std::size_t>{0});
}

struct TrustCase {
  const char* what;
  std::int64_t hits;
  double effective_sweeps;
  double batch_correlation;
  std::int64_t batches;
  bool trusted;
};

// The trust rule on stage summaries (sampler.hpp, error_measured): at least 10 hits and
// at least 4 effective sweeps per batch once discounted by (1 - rho) / (1 + rho).
TEST(RareStages, TrustRuleOnStageSummaries) {
  const std::vector<TrustCase> cases{
      {"an ordinary stage", 9000, 17000.0, 0.1, 27, true},
      // The five-item ordering that used to be marked: 18319 / 5.67 = 3232, far above 108.
      {"moderate correlation, thousands of effective sweeps", 11521, 18319.0, 0.70, 27, true},
      {"no hit", 0, 20000.0, 0.0, 27, false},
      {"9 hits", 9, 20000.0, 0.0, 27, false},
      {"10 hits", 10, 20000.0, 0.0, 27, true},
      // The creeping tube of the coverage page: 31.6 effective sweeps of 20000.
      {"a chain slower than its batches", 9000, 31.6, 0.8, 27, false},
      {"107 effective sweeps in 27 batches", 9000, 107.0, 0.0, 27, false},
      {"108 effective sweeps in 27 batches", 9000, 108.0, 0.0, 27, true},
      // 400 effective sweeps discounted by 0.1 / 1.9: 21 < 108.
      {"strong correlation of few effective sweeps", 9000, 400.0, 0.9, 27, false},
      // Below 10 batches the correlation is too noisy to discount by.
      {"nine batches", 300, 400.0, 0.9, 9, true},
      {"one batch", 20, 7.0, 0.0, 1, true},
  };
  for (const TrustCase& c : cases) {
    StageCount count;
    count.hits = c.hits;
    count.effective_sweeps = c.effective_sweeps;
    count.batch_correlation = c.batch_correlation;
    EXPECT_EQ(error_measured(count, c.batches), c.trusted) << c.what;
  }
}

// a > b > c; a < c + w with 14, 12, 10 of 20 and uniform priors: complexity
// (3 w^2 - 2 w^3) / 6 (the range of three ordered uniforms has density 6 r (1 - r));
// fit = int p_b(b) int_{b - w}^{b} p_c(c) [F_a(c + w) - F_a(b)] dc db by quadrature.
double tube_factor(double w) {
  const boost::math::beta_distribution<double> a(15, 7), b(13, 9), c(11, 11);
  // Gauss-Legendre rules: 20 nodes over the inner interval (width w), 30 over each
  // twentieth of the outer one.
  const auto inner = [&](double y) {
    return boost::math::quadrature::gauss<double, 20>::integrate(
        [&](double z) {
          return boost::math::pdf(c, z) * (boost::math::cdf(a, std::min(1.0, z + w)) - boost::math::cdf(a, y));
        },
        std::max(0.0, y - w), y);
  };
  double fit = 0.0;
  for (int piece = 0; piece < 20; ++piece) {
    fit += boost::math::quadrature::gauss<double, 30>::integrate([&](double y) { return boost::math::pdf(b, y) * inner(y); },
                                                                 piece / 20.0, (piece + 1) / 20.0);
  }
  return fit / ((3.0 * w * w - 2.0 * w * w * w) / 6.0);
}

CountsProblem tube(double w, std::int64_t niter, std::optional<double> precision = std::nullopt) {
  CountsProblem problem;
  problem.file_name = "tube.toml";
  const std::vector<std::int64_t> successes{14, 12, 10};
  for (std::size_t j = 0; j < 3; ++j) problem.items.push_back({std::string(1, "abc"[j]), successes[j], 20, 1.0, 1.0});
  HypothesisText hypothesis;
  hypothesis.name = "H";
  hypothesis.text = "a > b > c; a < c + " + std::to_string(w);
  problem.hypotheses.push_back(hypothesis);
  problem.settings.niter = niter;
  problem.settings.seed = 1;
  problem.settings.precision = precision;
  if (precision) problem.settings.max_niter = 64 * niter;
  return problem;
}

// At w = 0.02 the last stage hits about 0.1 % of the prior: split into levels of about a
// fifth each, the first two stages not; the factor's interval holds the exact value (the
// quadrature agrees with one in mpmath, 4.29263) and is trusted.
TEST(RareStages, ThinTubeHoldsItsExactFactor) {
  const double exact = tube_factor(0.02);
  EXPECT_NEAR(exact, 4.29263, 1e-5);
  const Evaluation run = evaluate_problem(tube(0.02, 20000), 2);
  const HypothesisResult& h = run.hypotheses[0];
  for (const std::vector<StageLevels>* levels : {&h.complexity_levels, &h.fit_levels}) {
    ASSERT_EQ(levels->size(), 3u);
    EXPECT_FALSE((*levels)[0].split());
    EXPECT_FALSE((*levels)[1].split());
    ASSERT_TRUE((*levels)[2].split());
    EXPECT_GE((*levels)[2].bounds.size(), 3u);
    EXPECT_EQ((*levels)[2].bounds.back(), -0.02);  // c - a > -0.02
    EXPECT_EQ((*levels)[2].counts.size() + 1, (*levels)[2].bounds.size());
  }
  EXPECT_TRUE(h.interval_trusted);
  EXPECT_LE(h.bf_unconstrained_interval[0], exact);
  EXPECT_GE(h.bf_unconstrained_interval[1], exact);
  EXPECT_NEAR(h.bf_unconstrained / exact, 1.0, 0.15);
}

// Precision mode with split stages: the levels come from pilots of fixed length, so a run
// that stops at n sweeps per stage reports what a run of n sweeps does.
TEST(RareStages, PrecisionStopsWhereAFixedRunAgrees) {
  const Evaluation precise = evaluate_problem(tube(0.002, 2000, 0.1), 2);
  const HypothesisResult& p = precise.hypotheses[0];
  EXPECT_TRUE(p.precision_reached);
  const Evaluation fixed = evaluate_problem(tube(0.002, p.niter), 1);
  const HypothesisResult& f = fixed.hypotheses[0];
  EXPECT_EQ(p.bf_unconstrained, f.bf_unconstrained);
  EXPECT_EQ(p.bf_unconstrained_interval, f.bf_unconstrained_interval);
  EXPECT_EQ(p.bf_complement_interval_independent, f.bf_complement_interval_independent);
  ASSERT_EQ(p.fit_levels.size(), f.fit_levels.size());
  EXPECT_EQ(p.fit_levels[2].bounds, f.fit_levels[2].bounds);
}

}  // namespace
}  // namespace propbf::evaluate
