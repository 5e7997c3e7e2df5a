// Plans against answers known without them: the class probabilities of an equality's
// closed-form factor (and of an order of a trinomial item's categories) summed over every
// outcome (within four standard errors), the factors of `propbf evaluate` on the same data
// sets (binomial and trinomial items), and the pieces of the summary.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/evaluation.hpp"
#include "input/plan_file.hpp"
#include "plan/plan_report.hpp"
#include "plan/plan_run.hpp"
#include "plan/planner.hpp"
#include "problem/prepare.hpp"

namespace propbf::evaluate {
namespace {

PlanFile plan_of(const std::string& text) { return read_plan_text("plan.toml", text); }

double log_binomial(int n, int k) { return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0); }
double log_beta_function(double a, double b) { return std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b); }

// a = b under uniform priors: the factor against the unconstrained hypothesis is
// B(k + 1, N - k + 1) / (B(k1 + 1, n - k1 + 1) B(k2 + 1, n - k2 + 1)). The exact
// probability that it exceeds `above` (or falls below 1 / below) when both items have
// proportion p and n trials.
double exact_probability(int n, double p, double threshold, bool above) {
  double probability = 0.0;
  for (int k1 = 0; k1 <= n; ++k1) {
    for (int k2 = 0; k2 <= n; ++k2) {
      const double log_factor = log_beta_function(k1 + k2 + 1.0, 2.0 * n - k1 - k2 + 1.0) -
                                log_beta_function(k1 + 1.0, n - k1 + 1.0) - log_beta_function(k2 + 1.0, n - k2 + 1.0);
      const double factor = std::exp(log_factor);
      if (above ? factor > threshold : factor < 1.0 / threshold) {
        probability += std::exp(log_binomial(n, k1) + log_binomial(n, k2) + (k1 + k2) * std::log(p) +
                                (2.0 * n - k1 - k2) * std::log1p(-p));
      }
    }
  }
  return probability;
}

TEST(PlanExact, EqualityClassProbabilitiesHoldTheSumOverOutcomes) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nsame = \"a = b\"\n[truth]\na = 0.4\nb = 0.4\n"
      "[design]\nn = [4, 12, 30]\ndatasets = 2000\nthresholds = [2, 3]\nseed = 7\n");
  const Planner planner(plan);
  const PlanHeader header = plan_header(plan, planner, "test");
  std::vector<SizeSummary> sizes = run_plan(planner, header, PlanRunOptions{});
  ASSERT_EQ(sizes.size(), 3u);
  for (const SizeSummary& summary : sizes) {
    const int n = static_cast<int>(plan.design.sizes[summary.size()][0]);
    for (std::size_t k = 0; k < header.thresholds.size(); ++k) {
      for (const bool above : {true, false}) {
        const std::int64_t hits = above ? summary.hypotheses()[0].above[k] : summary.hypotheses()[0].below[k];
        // Twelve probabilities: each within four of its standard errors (a 95% interval
        // would miss one of twelve about half the time).
        const double exact = exact_probability(n, 0.4, header.thresholds[k], above);
        const double share = static_cast<double>(hits) / static_cast<double>(summary.count());
        const double error = std::sqrt(exact * (1.0 - exact) / static_cast<double>(summary.count()));
        EXPECT_LE(std::abs(share - exact), 4.0 * error + 1e-12)
            << "n " << n << " threshold " << header.thresholds[k] << (above ? " above" : " below");
      }
    }
    // Equalities alone run no chain.
    EXPECT_EQ(summary.hypotheses()[0].sweeps_sum, 0.0);
  }
}

// P(Beta(a, b) > 1/2) for whole a, b: P(Binomial(a + b - 1, 1/2) < a).
double beta_above_half(int a, int b) {
  const int m = a + b - 1;
  double sum = 0.0;
  for (int i = 0; i < a; ++i) sum += std::exp(log_binomial(m, i) - m * std::log(2.0));
  return sum;
}

// One item of three categories, uniform Dirichlet prior, x[1] > x[2]: given the sum of
// the two, x[1] / (x[1] + x[2]) is Beta(1 + n1, 1 + n2), so the factor is
// 2 P(Beta(1 + n1, 1 + n2) > 1/2) in closed form. The exact probability that it exceeds
// `threshold` (or falls below its inverse) summed over every trinomial outcome.
double exact_trinomial_probability(int n, const std::vector<double>& p, double threshold, bool above) {
  double probability = 0.0;
  for (int n1 = 0; n1 <= n; ++n1) {
    for (int n2 = 0; n1 + n2 <= n; ++n2) {
      const int n3 = n - n1 - n2;
      const double factor = 2.0 * beta_above_half(1 + n1, 1 + n2);
      if (above ? factor > threshold : factor < 1.0 / threshold) {
        probability += std::exp(std::lgamma(n + 1.0) - std::lgamma(n1 + 1.0) - std::lgamma(n2 + 1.0) -
                                std::lgamma(n3 + 1.0) + n1 * std::log(p[0]) + n2 * std::log(p[1]) + n3 * std::log(p[2]));
      }
    }
  }
  return probability;
}

// The coupled categories of a trinomial item: the plan's class probabilities (factors from
// the chains, the data sets from the exact multinomial draw) hold the sum over outcomes.
// The threshold 1.09 lies at least 7.9% from every factor these sizes can give.
TEST(PlanExact, TrinomialClassProbabilitiesHoldTheSumOverOutcomes) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"x\"]\ncategories = [3]\n[hypotheses]\nfirst = \"x[1] > x[2]\"\n"
      "[truth]\nx = [0.45, 0.35, 0.2]\n[design]\nn = [5, 10, 20]\ndatasets = 1000\nthresholds = [1.09]\nseed = 3\n");
  const Planner planner(plan);
  EXPECT_FALSE(planner.complexities()[0].exact);
  const PlanHeader header = plan_header(plan, planner, "test");
  const std::vector<SizeSummary> sizes = run_plan(planner, header, PlanRunOptions{});
  ASSERT_EQ(sizes.size(), 3u);
  for (const SizeSummary& summary : sizes) {
    const int n = static_cast<int>(plan.design.sizes[summary.size()][0]);
    for (const bool above : {true, false}) {
      const std::int64_t hits = above ? summary.hypotheses()[0].above[0] : summary.hypotheses()[0].below[0];
      const double exact = exact_trinomial_probability(n, {0.45, 0.35, 0.2}, 1.09, above);
      const double share = static_cast<double>(hits) / static_cast<double>(summary.count());
      const double error = std::sqrt(exact * (1.0 - exact) / static_cast<double>(summary.count()));
      EXPECT_LE(std::abs(share - exact), 4.0 * error + 1e-12) << "n " << n << (above ? " above" : " below");
    }
  }
}

// Trinomial items, one truth fixed and one drawn from a Dirichlet: the plan's factor of
// each of 40 data sets against `propbf evaluate` on the same counts. (At 500 sweeps per
// stage to start with, 4 of 40 intervals of the order missed; at the 2000 plans of such
// items start with, 1.)
TEST(PlanAgreement, TrinomialFactorsOfTheSameDataSetsAsEvaluate) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"ab\", \"bc\"]\ncategories = [[\"a>b\", \"b>a\", \"a=b\"], 3]\nprior = [1, [2, 2, 1]]\n"
      "[hypotheses]\norder = 'ab[\"b>a\"] > ab[\"a>b\"] > ab[\"a=b\"]'\nties = \"ab[3] < 0.2; bc[3] < 0.2\"\n"
      "[truth]\nab = [0.35, 0.5, 0.15]\nbc = { dirichlet = [4, 4, 2] }\n[design]\nn = [30]\ndatasets = 40\n");
  const Planner planner(plan);
  int inside = 0;
  int total = 0;
  for (std::int64_t d = 0; d < 40; ++d) {
    const DatasetRecord record = planner.evaluate(0, d);
    ASSERT_EQ(record.counts.size(), 2u);
    EXPECT_TRUE(record.successes.empty());
    CountsProblem problem = plan.problem;
    for (std::size_t j = 0; j < problem.items.size(); ++j) {
      ASSERT_EQ(record.counts[j].size(), 3u);
      EXPECT_EQ(record.counts[j][0] + record.counts[j][1] + record.counts[j][2], 30);
      problem.items[j].counts = record.counts[j];
    }
    problem.settings.seed = 1000 + d;
    const Evaluation evaluation = evaluate_problem(prepare_problem(problem, {}), 1);
    for (std::size_t h = 0; h < 2; ++h) {
      const double factor = evaluation.hypotheses[h].bf_unconstrained;
      // A stage without a hit in max_niter sweeps: the plan's factor 0, evaluate's tiny
      // (its rare stages find it).
      if (record.factors[h] == 0.0) {
        EXPECT_LT(factor, 1e-3) << "data set " << d;
        continue;
      }
      ++total;
      if (record.intervals[h][0] <= factor && factor <= record.intervals[h][1]) ++inside;
    }
  }
  EXPECT_GE(total, 70);
  EXPECT_GE(inside, total - 3) << inside << " of " << total;
}

// A truth drawn from a hypothesis that ties two of three categories: each tied category
// takes half of their merged proportion u (uniform under Dirichlet(1, 1, 1) conditioned
// on the tie), so the third holds 1 - u, on average a half (a quarter if each took u).
TEST(PlanTruth, TiedCategoriesOfAHypothesisShareTheirProportion) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"x\"]\ncategories = [3]\n[hypotheses]\ntie = \"x[1] = x[2]\"\n"
      "[truth]\nfrom_hypothesis = \"tie\"\n[design]\nn = [4000]\ndatasets = 40\nseed = 5\n");
  const Planner planner(plan);
  double third = 0.0;
  for (std::int64_t d = 0; d < 40; ++d) {
    const DatasetRecord record = planner.evaluate(0, d);
    ASSERT_EQ(record.counts.size(), 1u);
    const std::vector<std::int64_t>& counts = record.counts[0];
    EXPECT_EQ(counts[0] + counts[1] + counts[2], 4000);
    EXPECT_LT(std::abs(counts[0] - counts[1]), 300) << "data set " << d;
    third += static_cast<double>(counts[2]) / 4000.0 / 40.0;
  }
  EXPECT_NEAR(third, 0.5, 0.15);
}

// Of four categories the same tie leaves (u, x3, x4) ~ Dirichlet(1, 1, 1), in no
// restriction: drawn as one Dirichlet, x4 is never 0 (drawn apart from independent
// Beta(1, 2) marginals, u + x3 would exceed 1 in a sixth of the data sets and leave x4
// nothing), and x3 and x4 are a third each on average.
TEST(PlanTruth, ThreeMergedCategoriesAreOneDirichlet) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"x\"]\ncategories = [4]\n[hypotheses]\ntie = \"x[1] = x[2]\"\n"
      "[truth]\nfrom_hypothesis = \"tie\"\n[design]\nn = [4000]\ndatasets = 60\nseed = 5\n");
  const Planner planner(plan);
  double third = 0.0, fourth = 0.0;
  int empty = 0;
  for (std::int64_t d = 0; d < 60; ++d) {
    const DatasetRecord record = planner.evaluate(0, d);
    const std::vector<std::int64_t>& counts = record.counts[0];
    EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 4000);
    EXPECT_LT(std::abs(counts[0] - counts[1]), 300) << "data set " << d;
    if (counts[3] == 0) ++empty;
    third += static_cast<double>(counts[2]) / 4000.0 / 60.0;
    fourth += static_cast<double>(counts[3]) / 4000.0 / 60.0;
  }
  EXPECT_LE(empty, 1);
  EXPECT_NEAR(third, 1.0 / 3.0, 0.1);
  EXPECT_NEAR(fourth, 1.0 / 3.0, 0.1);
}

// An item of three categories that no equality ties, beside `a = b`: in no restriction,
// drawn from its Dirichlet(1, 1, 1), not as independent Beta(1, 2) marginals (whose sum
// passes 1 half of the time and left x[3] nothing).
TEST(PlanTruth, AnUntiedItemBesideEqualitiesIsItsDirichlet) {
  const PlanFile plan = plan_of(
      "[items]\nnames = [\"x\", \"a\", \"b\"]\ncategories = [3, 2, 2]\n[hypotheses]\nH = \"a = b\"\n"
      "[truth]\nfrom_hypothesis = \"H\"\n[design]\nn = [4000]\ndatasets = 60\nseed = 5\n");
  const Planner planner(plan);
  std::vector<double> means(3, 0.0);
  int empty = 0;
  for (std::int64_t d = 0; d < 60; ++d) {
    const DatasetRecord record = planner.evaluate(0, d);
    const std::vector<std::int64_t>& x = record.counts[0];
    EXPECT_EQ(x[0] + x[1] + x[2], 4000);
    if (x[2] == 0) ++empty;
    for (std::size_t c = 0; c < 3; ++c) means[c] += static_cast<double>(x[c]) / 4000.0 / 60.0;
  }
  EXPECT_LE(empty, 1);
  for (double mean : means) EXPECT_NEAR(mean, 1.0 / 3.0, 0.1);
}

// The plan's factor of each data set against `propbf evaluate` on the same counts at its
// default settings: the evaluation's factor lies in the plan's interval (19 of 20 or more).
TEST(PlanAgreement, FactorsOfTheSameDataSetsAsEvaluate) {
  const std::string items = "[items]\nnames = [\"a\", \"b\", \"c\"]\n";
  const std::string hypotheses = "[hypotheses]\nordered = \"a > b > c\"\nbound = \"a > 0.5; c < b\"\n";
  const PlanFile plan = plan_of(items + hypotheses +
                                "[truth]\na = 0.6\nb = 0.5\nc = { beta = [4, 6] }\n[design]\nn = [15]\ndatasets = 20\n");
  const Planner planner(plan);
  int inside = 0;
  int total = 0;
  for (std::int64_t d = 0; d < 20; ++d) {
    const DatasetRecord record = planner.evaluate(0, d);
    CountsProblem problem = plan.problem;
    for (std::size_t j = 0; j < problem.items.size(); ++j) {
      problem.items[j].successes = record.successes[j];
      problem.items[j].trials = 15;
    }
    problem.settings.seed = 1000 + d;
    const Evaluation evaluation = evaluate_problem(prepare_problem(problem, {}), 1);
    for (std::size_t h = 0; h < 2; ++h) {
      const double factor = evaluation.hypotheses[h].bf_unconstrained;
      ++total;
      if (record.intervals[h][0] <= factor && factor <= record.intervals[h][1]) ++inside;
    }
  }
  EXPECT_GE(inside, total - 2) << inside << " of " << total;
}

TEST(PlanSummary, QuantilesIntervalsAndDataSetKeys) {
  EXPECT_EQ(sorted_quantile({1.0, 2.0, 3.0, 4.0}, 0.5), 2.5);
  EXPECT_EQ(sorted_quantile({1.0, 2.0, 3.0, 4.0}, 0.25), 1.75);
  EXPECT_EQ(sorted_quantile({0.0, INFINITY, INFINITY}, 0.75), INFINITY);
  EXPECT_EQ(sorted_quantile({5.0}, 0.25), 5.0);
  const std::array<double, 2> none = clopper_pearson(0, 10);
  EXPECT_EQ(none[0], 0.0);
  EXPECT_NEAR(none[1], 0.30849710781876083, 1e-12);  // 1 - 0.025^(1/10)
  const std::array<double, 2> all = clopper_pearson(10, 10);
  EXPECT_NEAR(all[0], 0.69150289218123917, 1e-12);
  EXPECT_EQ(all[1], 1.0);
  // A data set keeps its numbers when sizes are added before it or the order changes.
  const std::string head = "[items]\nnames = [\"a\", \"b\"]\n[hypotheses]\nH = \"a > b\"\n[truth]\na = 0.6\nb = 0.4\n";
  const Planner one(plan_of(head + "[design]\nn = [20]\ndatasets = 3\n"));
  const PlanFile two_plan = plan_of(head + "[design]\nn = [5, 20]\ndatasets = 3\n");
  const Planner two(two_plan);
  const DatasetRecord x = one.evaluate(0, 2);
  const DatasetRecord y = two.evaluate(1, 2);
  EXPECT_EQ(x.successes, y.successes);
  EXPECT_EQ(x.factors, y.factors);
  // Items of two categories are binomial items: the same draws, the same factors.
  const Planner two_categories(plan_of("[items]\nnames = [\"a\", \"b\"]\ncategories = [2, [\"yes\", \"no\"]]\n"
                                       "[hypotheses]\nH = \"a > b\"\n[truth]\na = [0.6, 0.4]\nb = [0.4, 0.6]\n"
                                       "[design]\nn = [20]\ndatasets = 3\n"));
  const DatasetRecord z = two_categories.evaluate(0, 2);
  ASSERT_EQ(z.counts.size(), 2u);
  EXPECT_EQ((std::vector<std::int64_t>{z.counts[0][0], z.counts[1][0]}), x.successes);
  EXPECT_EQ(z.counts[0][0] + z.counts[0][1], 20);
  EXPECT_EQ(z.factors, x.factors);
}

// A data set with a stage without a hit has factor 0, which its interval cannot bound:
// [0, inf] (written 0 and "inf"), not a product of 0 and infinity.
TEST(PlanSummary, FactorOfAStageWithoutAHitHasTheWholeHalfLine) {
  const Planner planner(plan_of("[items]\nnames = [\"a\", \"b\", \"c\", \"d\", \"e\", \"f\"]\n"
                                "[hypotheses]\nH = \"a > b > c > d > e > f\"\n"
                                "[truth]\na = 0.05\nb = 0.1\nc = 0.2\nd = 0.4\ne = 0.6\nf = 0.95\n"
                                "[design]\nn = [40]\ndatasets = 1\nseed = 2\nniter = 50\n"));
  const DatasetRecord record = planner.evaluate(0, 0);
  ASSERT_EQ(record.factors, std::vector<double>{0.0});
  EXPECT_EQ(record.intervals[0][0], 0.0);
  EXPECT_EQ(record.intervals[0][1], INFINITY);
  EXPECT_NE(format_part_record(record).find("\"intervals\":[[0.0,\"inf\"]]"), std::string::npos);
}

// The smallest size that reaches the target, from hand-made summaries: three sizes of 8,
// 16 and 32 trials per item (24, 48, 96 in all), ten data sets each, of which `above` have
// a factor above the target's threshold 10; target 0.5.
TEST(PlanSummary, TargetReachInterpolatesBetweenSizes) {
  PlanHeader header;
  header.items = {"a", "b", "c"};
  header.hypotheses = {"H"};
  header.sizes = {{8, 8, 8}, {16, 16, 16}, {32, 32, 32}};
  header.thresholds = {3.0, 10.0};
  header.target = 0.5;
  header.target_threshold = 1;
  struct Case {
    std::vector<int> above;
    bool reached, interpolated;
    double total;
  };
  const std::vector<Case> cases{
      {{2, 4, 8}, true, true, 48 + (0.5 - 0.4) / (0.8 - 0.4) * (96 - 48)},
      {{6, 4, 8}, true, false, 24},   // the first size reaches it
      {{2, 5, 9}, true, true, 24 + (0.5 - 0.2) / (0.5 - 0.2) * (48 - 24)},  // reached exactly: its own total
      {{5, 5, 8}, true, false, 24},
      {{4, 4, 5}, true, true, 96},
      {{1, 2, 3}, false, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<SizeSummary> sizes;
    for (std::size_t s = 0; s < 3; ++s) {
      sizes.emplace_back(header, s);
      for (int d = 0; d < 10; ++d) {
        DatasetRecord record;
        record.factors = {d < c.above[s] ? 20.0 : 5.0};
        record.pmp = {0.5};
        record.sweeps = {0};
        sizes.back().add(record);
      }
    }
    const TargetReach reach = target_reach(header, sizes, 0);
    EXPECT_EQ(reach.reached, c.reached) << c.above[0] << c.above[1] << c.above[2];
    EXPECT_EQ(reach.interpolated, c.interpolated) << c.above[0] << c.above[1] << c.above[2];
    if (c.reached) {
      EXPECT_DOUBLE_EQ(reach.total, c.total) << c.above[0] << c.above[1] << c.above[2];
    }
  }
}

}  // namespace
}  // namespace propbf::evaluate
