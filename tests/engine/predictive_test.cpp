// The posterior predictive check: Pearson's X^2 and its zero cases, exact binomial and
// multinomial draws, and whole evaluations whose p-value is known: a point value (θ
// fixed, the p-value a sum of binomial probabilities), a bound that never binds (the
// unconstrained p-value), data far outside the hypothesis (near 0); samples that keep
// to the hypothesis and do not move any other number.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/evaluation.hpp"
#include "engine/posterior_draws.hpp"
#include "sampling/predictive.hpp"

namespace propbf::evaluate {
namespace {

TEST(Predictive, PearsonDiscrepancyAndItsZeroCases) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::vector<std::int64_t> counts;
    std::vector<double> theta;
    double x2;
  };
  const std::vector<Case> cases{
      {{4, 4}, {0.25, 0.75}, 4.0 / 2.0 + 4.0 / 6.0},  // n = 8: (4 - 2)^2 / 2 + (4 - 6)^2 / 6
      {{2, 6}, {0.25, 0.75}, 0.0},
      {{1, 2, 1}, {0.25, 0.5, 0.25}, 0.0},
      {{0, 0}, {0.0, 1.0}, 0.0},   // n = 0 contributes nothing
      {{0, 5}, {0.0, 1.0}, 0.0},   // expected 0, observed 0: nothing
      {{1, 4}, {0.0, 1.0}, inf},   // expected 0, observed 1
      {{3, 0, 1}, {0.5, 0.0, 0.5}, 0.5 + 0.5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pearson_item(c.counts.data(), c.theta.data(), c.counts.size()), c.x2) << c.counts[0];
  }
}

// Binomial(n, p) draws against the probabilities, for the inversion (n p < 11) and the
// rejection method (n p >= 11): every value's share within 5 standard errors.
TEST(Predictive, BinomialDrawsHaveTheBinomialLaw) {
  for (const auto& [n, p] : {std::pair<std::int64_t, double>{8, 0.25}, {60, 0.7}}) {
    CounterStream stream(StreamSeed(5), 11, StreamKind::PredictiveReplications, 0);
    constexpr int kDraws = 200000;
    std::vector<int> seen(static_cast<std::size_t>(n) + 1, 0);
    for (int i = 0; i < kDraws; ++i) ++seen[static_cast<std::size_t>(binomial_draw(n, p, stream))];
    for (std::int64_t k = 0; k <= n; ++k) {
      const double probability = std::exp(std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0) +
                                          k * std::log(p) + (n - k) * std::log1p(-p));
      const double share = seen[static_cast<std::size_t>(k)] / static_cast<double>(kDraws);
      EXPECT_NEAR(share, probability, 5.0 * std::sqrt(probability * (1 - probability) / kDraws) + 1e-6)
          << n << " " << p << " " << k;
    }
  }
  CounterStream stream(StreamSeed(5), 11, StreamKind::PredictiveReplications, 0);
  EXPECT_EQ(binomial_draw(7, 0.0, stream), 0);
  EXPECT_EQ(binomial_draw(7, 1.0, stream), 7);
  EXPECT_EQ(binomial_draw(0, 0.5, stream), 0);
  // Counts of millions (BTRD): within 6 sd of n p.
  const std::int64_t big = binomial_draw(4000000, 0.3, stream);
  EXPECT_NEAR(static_cast<double>(big), 1.2e6, 6.0 * std::sqrt(4e6 * 0.3 * 0.7));
}

TEST(Predictive, MultinomialDrawsSumToNAndMeetTheirMeans) {
  CounterStream stream(StreamSeed(2), 3, StreamKind::PredictiveReplications, 0);
  const std::vector<double> theta{0.2, 0.0, 0.5, 0.3};
  std::vector<double> sum(4, 0.0);
  constexpr int kDraws = 20000;
  for (int i = 0; i < kDraws; ++i) {
    std::int64_t counts[4];
    multinomial_draw(50, theta.data(), 4, stream, counts);
    EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 50);
    EXPECT_EQ(counts[1], 0);  // a category of probability 0
    for (int c = 0; c < 4; ++c) sum[static_cast<std::size_t>(c)] += static_cast<double>(counts[c]);
  }
  for (std::size_t c = 0; c < 4; ++c) {
    const double sd = std::sqrt(50 * theta[c] * (1 - theta[c]) / kDraws);
    EXPECT_NEAR(sum[c] / kDraws, 50 * theta[c], 5 * sd + 1e-12) << c;
  }
}

CountsProblem two_items(std::int64_t successes, std::int64_t trials, const std::vector<std::string>& hypotheses,
                       std::int64_t niter = 20000) {
  CountsProblem problem;
  problem.file_name = "test.toml";
  problem.items.push_back({"a", successes, trials, 1.0, 1.0});
  problem.items.push_back({"b", 9, 20, 1.0, 1.0});
  for (std::size_t h = 0; h < hypotheses.size(); ++h) {
    HypothesisText hypothesis;
    hypothesis.name = std::string(1, static_cast<char>('1' + h));
    hypothesis.text = hypotheses[h];
    problem.hypotheses.push_back(hypothesis);
  }
  problem.settings.niter = niter;
  return prepare_problem(problem, {});
}

// With every θ fixed at a point value the p-value is P(X^2(Y) >= X^2(y)) over the
// replicated counts Y of both items, a sum of binomial probabilities; the estimate (18000
// independent replications) within 4 standard errors of it.
TEST(Predictive, PointValuesGiveTheBinomialSum) {
  // a: 4 of 8 at θ = 0.25 (expected 2, exactly); b: 9 of 20 at 0.45 (expected 9).
  const Evaluation run = evaluate_problem(two_items(4, 8, {"a = 0.25; b = 0.45"}), 2, false);
  const std::int64_t counts_b[2] = {9, 11};
  const double theta_a[2] = {0.25, 0.75};
  const double theta_b[2] = {0.45, 0.55};
  const std::int64_t counts_a[2] = {4, 4};
  const double observed = pearson_item(counts_a, theta_a, 2) + pearson_item(counts_b, theta_b, 2);
  // Sum over both replicated items' values of their probabilities where X^2 >= observed.
  auto pmf = [](int n, int k, double p) {
    return std::exp(std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0) + k * std::log(p) +
                    (n - k) * std::log1p(-p));
  };
  double exact = 0.0;
  for (int ka = 0; ka <= 8; ++ka) {
    for (int kb = 0; kb <= 20; ++kb) {
      const std::int64_t ya[2] = {ka, 8 - ka};
      const std::int64_t yb[2] = {kb, 20 - kb};
      if (pearson_item(ya, theta_a, 2) + pearson_item(yb, theta_b, 2) >= observed) {
        exact += pmf(8, ka, 0.25) * pmf(20, kb, 0.45);
      }
    }
  }
  const double draws = 18000.0;  // the sweeps after the burn-in of 20000, every one taken
  const double error = std::sqrt(exact * (1 - exact) / draws);
  EXPECT_NEAR(run.hypotheses[0].ppp, exact, 4 * error) << exact;
  EXPECT_GT(exact, 0.1);
  EXPECT_LT(exact, 0.5);
}

TEST(Predictive, ABoundThatNeverBindsGivesTheUnconstrainedValueAndDataOutsideNearZero) {
  // a: 17 of 20. "a > 0.05" holds with posterior probability 1 - 1e-20: the restricted
  // posterior is the unconstrained one. "a < 0.3" leaves a far from its data.
  const Evaluation run = evaluate_problem(two_items(17, 20, {"a > 0.05", "a < 0.3", "b = 0.45"}), 2, false);
  const double u = run.ppp_unconstrained;
  const double error = std::sqrt(2 * u * (1 - u) / 18000.0);  // two independent estimates
  EXPECT_NEAR(run.hypotheses[0].ppp, u, 4 * error);
  EXPECT_GT(u, 0.2);
  EXPECT_LT(run.hypotheses[1].ppp, 0.005);
  // b fixed at its observed share: a check of a's fit alone, near the unconstrained one.
  EXPECT_GT(run.hypotheses[2].ppp, 0.2);
}

// Samples: off by default; on, every row keeps to the hypothesis, tied items share their
// value, and every other number stays as it was, byte for byte.
TEST(Predictive, SamplesKeepToTheHypothesisAndMoveNothingElse) {
  CountsProblem problem = two_items(12, 20, {"a > b", "a = b", "a > 0.7"}, 2000);
  const Evaluation plain = evaluate_problem(problem, 1, false);
  EXPECT_TRUE(plain.hypotheses[0].samples.empty());
  EXPECT_TRUE(plain.sample_columns.empty());
  problem.settings.keep_samples = true;
  problem.settings.thin = 7;
  const Evaluation kept = evaluate_problem(problem, 3, false);
  ASSERT_EQ(kept.sample_columns, (std::vector<std::string>{"a", "b"}));
  for (std::size_t h = 0; h < 3; ++h) {
    const HypothesisResult& result = kept.hypotheses[h];
    EXPECT_EQ(result.ppp, plain.hypotheses[h].ppp);
    EXPECT_EQ(result.bf_unconstrained, plain.hypotheses[h].bf_unconstrained);
    EXPECT_EQ(result.estimates[0].mean, plain.hypotheses[h].estimates[0].mean);
    ASSERT_EQ(result.samples.size(), 2u * ((1800 + 6) / 7)) << h;  // every 7th of 1800 sweeps
    for (std::size_t row = 0; row < result.samples.size(); row += 2) {
      const double a = result.samples[row];
      const double b = result.samples[row + 1];
      if (h == 0) {
        EXPECT_GT(a, b);
      } else if (h == 1) {
        EXPECT_EQ(a, b);
      } else {
        EXPECT_GT(a, 0.7);
      }
      EXPECT_TRUE(a > 0 && a < 1 && b > 0 && b < 1);
    }
  }
  // Default thinning: at most kMostSampleRows rows.
  problem.settings.thin.reset();
  problem.settings.niter = 30000;
  problem.hypotheses.resize(1);
  const Evaluation capped = evaluate_problem(problem, 2, false);
  EXPECT_EQ(capped.hypotheses[0].samples.size(), 2u * 9000);  // 27000 sweeps, every 3rd
  EXPECT_EQ(sample_step(27000, std::nullopt), 3);
  EXPECT_EQ(sample_step(10000, std::nullopt), 1);
  EXPECT_EQ(sample_step(10001, std::nullopt), 2);
}

// Items of categories: the samples give every category, each row on the simplex, and the
// p-value of a hypothesis that never binds is the unconstrained one.
TEST(Predictive, CategoriesGiveEveryCategoryOnTheSimplex) {
  CountsProblem problem;
  problem.file_name = "test.toml";
  Item item;
  item.name = "x";
  item.counts = {21, 24, 5};
  item.categories = {"p", "q", "r"};
  item.concentration = {1.0, 1.0, 1.0};
  problem.items.push_back(item);
  problem.items.push_back({"y", 3, 10, 1.0, 1.0});
  for (const auto& [name, text] : {std::pair{"H1", "x[p] < x[q]"}, std::pair{"H2", "y < 0.9"}}) {
    HypothesisText hypothesis;
    hypothesis.name = name;
    hypothesis.text = text;
    problem.hypotheses.push_back(hypothesis);
  }
  problem.settings.keep_samples = true;
  const Evaluation run = evaluate_problem(prepare_problem(problem, {}), 2, false);
  ASSERT_EQ(run.sample_columns, (std::vector<std::string>{"x[p]", "x[q]", "x[r]", "y"}));
  for (const HypothesisResult& result : run.hypotheses) {
    ASSERT_EQ(result.samples.size() % 4, 0u);
    for (std::size_t row = 0; row < result.samples.size(); row += 4) {
      const double* s = result.samples.data() + row;
      EXPECT_NEAR(s[0] + s[1] + s[2], 1.0, 1e-12);
      if (&result == &run.hypotheses[0]) {
        EXPECT_LT(s[0], s[1]);
      }
    }
  }
  // y < 0.9 with 3 of 10 hardly binds (posterior probability 1 - 3e-5).
  const double u = run.ppp_unconstrained;
  EXPECT_NEAR(run.hypotheses[1].ppp, u, 4 * std::sqrt(2 * u * (1 - u) / 18000.0));
}

}  // namespace
}  // namespace propbf::evaluate
