// Whole runs with items of categories against what is known exactly: the order of a
// trinomial's categories, its fit by quadrature of the Dirichlet posterior, a product of
// independent items, and an item of two categories run as the binomial item it is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/categorical.hpp"
#include "engine/evaluation.hpp"

namespace propbf::evaluate {
namespace {

Item categorical(const std::string& name, std::vector<std::int64_t> counts, std::vector<double> prior) {
  Item item;
  item.name = name;
  for (std::size_t c = 0; c < counts.size(); ++c) item.categories.push_back(std::to_string(c + 1));
  item.counts = std::move(counts);
  item.concentration = std::move(prior);
  return item;
}

CountsProblem problem_of(std::vector<Item> items, const std::vector<std::pair<std::string, std::string>>& hypotheses,
                         std::int64_t niter = 20000) {
  CountsProblem problem;
  problem.file_name = "test.toml";
  problem.items = std::move(items);
  for (const auto& [name, text] : hypotheses) {
    HypothesisText hypothesis;
    hypothesis.name = name;
    hypothesis.text = text;
    problem.hypotheses.push_back(std::move(hypothesis));
  }
  problem.settings.niter = niter;
  problem.settings.seed = 5;
  return problem;
}

bool holds(const Interval& interval, double value) { return interval[0] <= value && value <= interval[1]; }

// P(x1 > x2 > x3) under Dirichlet(a1, a2, a3): x1 = u from 1/3 to 1, x2 = v between
// (1 - u) / 2 and min(u, 1 - u), by Simpson's rule in both (the integrand is a
// polynomial for whole shapes, the limits exact, the outer range split at the kink 1/2).
double ordered_probability(double a1, double a2, double a3) {
  const double log_norm = std::lgamma(a1 + a2 + a3) - std::lgamma(a1) - std::lgamma(a2) - std::lgamma(a3);
  auto simpson = [](double low, double high, int n, const auto& f) {
    const double h = (high - low) / n;
    double sum = f(low) + f(high);
    for (int i = 1; i < n; ++i) sum += f(low + i * h) * (i % 2 == 1 ? 4.0 : 2.0);
    return sum * h / 3.0;
  };
  auto inner = [&](double u) {
    const double low = (1.0 - u) / 2.0;
    const double high = std::min(u, 1.0 - u);
    if (!(high > low)) return 0.0;
    return simpson(low, high, 400, [&](double v) {
      const double w = std::max(0.0, 1.0 - u - v);
      return std::exp(log_norm) * std::pow(u, a1 - 1.0) * std::pow(v, a2 - 1.0) * std::pow(w, a3 - 1.0);
    });
  };
  return simpson(1.0 / 3.0, 0.5, 400, inner) + simpson(0.5, 1.0, 800, inner);
}

TEST(Categorical, QuadratureOfTheOrderedRegion) {
  EXPECT_NEAR(ordered_probability(1, 1, 1), 1.0 / 6.0, 1e-9);
}

// Dirichlet(1, 1, 1), counts (4, 3, 1): complexity 1/6, fit by quadrature of the
// Dirichlet(5, 4, 2) posterior; the factor's corrected interval holds f / (1/6), and
// the same run on two threads gives the same numbers.
TEST(Categorical, TrinomialOrderAgainstQuadrature) {
  const CountsProblem problem = problem_of({categorical("x", {4, 3, 1}, {1, 1, 1})}, {{"H", "x[1] > x[2] > x[3]"}});
  const Evaluation one = evaluate_problem(problem, 1);
  const HypothesisResult& h = one.hypotheses[0];
  const double fit = ordered_probability(5, 4, 2);
  const double exact = fit * 6.0;
  EXPECT_TRUE(holds(h.bf_unconstrained_interval, exact))
      << h.bf_unconstrained_interval[0] << " " << h.bf_unconstrained_interval[1] << " exact " << exact;
  const double relative = (h.bf_unconstrained_interval[1] - h.bf_unconstrained_interval[0]) / (2 * 1.96 * h.bf_unconstrained);
  EXPECT_NEAR(h.complexity, 1.0 / 6.0, 4 * relative / 6.0);
  EXPECT_NEAR(h.fit, fit, 4 * relative * fit);
  // Estimates per category, the last one 1 minus the others.
  ASSERT_EQ(h.estimates.size(), 3u);
  EXPECT_EQ(h.estimates[2].name, "x[3]");
  EXPECT_NEAR(h.estimates[0].mean + h.estimates[1].mean + h.estimates[2].mean, 1.0, 1e-9);
  const Evaluation two = evaluate_problem(problem, 2);
  EXPECT_EQ(two.hypotheses[0].complexity, h.complexity);
  EXPECT_EQ(two.hypotheses[0].fit, h.fit);
  EXPECT_EQ(two.hypotheses[0].bf_unconstrained_interval, h.bf_unconstrained_interval);
  EXPECT_EQ(two.hypotheses[0].estimates[2].mean, h.estimates[2].mean);
}

// Two independent items: the factor of both restrictions is the product of each one's,
// 2 P(Beta(7, 3) > 1/2) = 466 / 256 and 2 P(Beta(8, 2) > 1/2) = 502 / 256.
TEST(Categorical, ProductOfIndependentItems) {
  const CountsProblem problem =
      problem_of({categorical("x", {6, 2, 2}, {1, 1, 1}), categorical("y", {1, 2, 7}, {1, 1, 1})},
                 {{"both", "x[1] > x[2]; y[3] > y[1]"}, {"x", "x[1] > x[2]"}, {"y", "y[3] > y[1]"}});
  const Evaluation run = evaluate_problem(problem, 2);
  const double x = 466.0 / 256.0;
  const double y = 502.0 / 256.0;
  EXPECT_TRUE(holds(run.hypotheses[1].bf_unconstrained_interval, x)) << run.hypotheses[1].bf_unconstrained;
  EXPECT_TRUE(holds(run.hypotheses[2].bf_unconstrained_interval, y)) << run.hypotheses[2].bf_unconstrained;
  EXPECT_TRUE(holds(run.hypotheses[0].bf_unconstrained_interval, x * y)) << run.hypotheses[0].bf_unconstrained;
  // y is in no restriction of "x": its categories keep their exact estimates.
  const std::vector<ItemEstimate>& under_x = run.hypotheses[1].estimates;
  ASSERT_EQ(under_x.size(), 6u);
  for (std::size_t c = 3; c < 6; ++c) EXPECT_EQ(under_x[c].mean, run.unconstrained_estimates[c].mean);
  EXPECT_EQ(run.unconstrained_estimates[5].name, "y[3]");
  EXPECT_DOUBLE_EQ(run.unconstrained_estimates[5].mean, 8.0 / 13.0);
}

// An item of two categories is the binomial item with a = alpha_1, b = alpha_2,
// k = n_1, n = n_1 + n_2: the same numbers, bit for bit.
TEST(Categorical, TwoCategoriesRunAsABinomialItem) {
  CountsProblem binomial = problem_of({}, {{"H", "a > b; a < 0.9"}, {"T", "a = b"}}, 5000);
  binomial.items.push_back({"a", 3, 10, 1.0, 2.0});
  binomial.items.push_back({"b", 5, 9, 0.5, 1.5});
  const CountsProblem categories = problem_of({categorical("a", {3, 7}, {1.0, 2.0}), categorical("b", {5, 4}, {0.5, 1.5})},
                                              {{"H", "a[1] > b; 0.9 > a"}, {"T", "a = b[1]"}}, 5000);
  const Evaluation x = evaluate_problem(binomial, 2);
  const Evaluation y = evaluate_problem(categories, 1);
  for (std::size_t h = 0; h < 2; ++h) {
    EXPECT_EQ(x.hypotheses[h].complexity, y.hypotheses[h].complexity) << h;
    EXPECT_EQ(x.hypotheses[h].fit, y.hypotheses[h].fit) << h;
    EXPECT_EQ(x.hypotheses[h].bf_unconstrained, y.hypotheses[h].bf_unconstrained) << h;
    EXPECT_EQ(x.hypotheses[h].bf_unconstrained_interval, y.hypotheses[h].bf_unconstrained_interval) << h;
    // Per item one estimate against two per item of categories, the second its complement.
    EXPECT_EQ(x.hypotheses[h].estimates[0].mean, y.hypotheses[h].estimates[0].mean) << h;
    EXPECT_EQ(1.0 - x.hypotheses[h].estimates[1].mean, y.hypotheses[h].estimates[3].mean) << h;
    EXPECT_EQ(1.0 - x.hypotheses[h].estimates[1].upper, y.hypotheses[h].estimates[3].lower) << h;
  }
}

// An equality with a complement (b1 = 1 - b2, b2[2]) is the equality with b2's
// successes and failures, and its prior shapes, exchanged: the same numbers, bit for
// bit, and b2's estimates mirrored.
TEST(Categorical, EqualityWithAComplementExchangesCounts) {
  const std::vector<std::pair<std::string, std::string>> complements{
      {"E", "b1 = 1 - b2 = b3"}, {"M", "b1 = b2[2] > c"}, {"P", "1 - b2 = 0.75; c < b3"}};
  const std::vector<std::pair<std::string, std::string>> exchanged{
      {"E", "b1 = b2 = b3"}, {"M", "b1 = b2 > c"}, {"P", "b2 = 0.75; c < b3"}};
  CountsProblem x = problem_of({}, complements, 3000);
  CountsProblem y = problem_of({}, exchanged, 3000);
  x.items = {{"b1", 8, 10, 1.0, 1.0}, {"b2", 3, 12, 2.0, 0.5}, {"b3", 7, 9, 1.0, 1.0}, {"c", 2, 10, 1.0, 1.0}};
  y.items = {{"b1", 8, 10, 1.0, 1.0}, {"b2", 9, 12, 0.5, 2.0}, {"b3", 7, 9, 1.0, 1.0}, {"c", 2, 10, 1.0, 1.0}};
  const Evaluation a = evaluate_problem(x, 2);
  const Evaluation b = evaluate_problem(y, 1);
  for (std::size_t h = 0; h < 3; ++h) {
    const HypothesisResult& p = a.hypotheses[h];
    const HypothesisResult& q = b.hypotheses[h];
    EXPECT_EQ(p.log_bf_equalities, q.log_bf_equalities) << h;
    EXPECT_EQ(p.estimates[1].mean, 1.0 - q.estimates[1].mean) << h;
    if (h == 2) continue;  // its point value is 0.25 there, 0.75 here: another stream
    EXPECT_EQ(p.complexity, q.complexity) << h;
    EXPECT_EQ(p.fit, q.fit) << h;
    EXPECT_EQ(p.bf_unconstrained_interval, q.bf_unconstrained_interval) << h;
    EXPECT_EQ(p.estimates[0].mean, q.estimates[0].mean) << h;
  }
  // The closed form of E: lnB(A + K, B + N - K) - lnB(A, B) - sum of the items' own, with
  // A = 1 + 0.5 + 1 - 2, B = 1 + 2 + 1 - 2, K = 8 + 9 + 7, N = 31.
  auto log_beta = [](double p, double q) { return std::lgamma(p) + std::lgamma(q) - std::lgamma(p + q); };
  const double own = log_beta(9, 3) - log_beta(1, 1) + log_beta(5, 9.5) - log_beta(2, 0.5) + log_beta(8, 3) -
                     log_beta(1, 1);
  EXPECT_NEAR(a.hypotheses[0].log_bf_equalities, log_beta(0.5 + 24, 2 + 7) - log_beta(0.5, 2) - own, 1e-9);
  // A proportion tied to its own complement is refused (it is a point value, 0.5).
  CountsProblem own_complement = problem_of({}, {{"H", "b1 = b2 = 1 - b1"}}, 100);
  own_complement.items = x.items;
  EXPECT_THROW(evaluate_problem(own_complement, 1), InputError);
}

// Simpson's rule on [low, high] with 4000 panels.
template <typename F>
double simpson(double low, double high, const F& f) {
  const int n = 4000;
  const double h = (high - low) / n;
  double sum = f(low) + f(high);
  for (int i = 1; i < n; ++i) sum += f(low + i * h) * (i % 2 == 1 ? 4.0 : 2.0);
  return sum * h / 3.0;
}

double beta_density(double w, double a, double b) {
  return std::exp((a - 1.0) * std::log(w) + (b - 1.0) * std::log1p(-w) + std::lgamma(a + b) - std::lgamma(a) -
                  std::lgamma(b));
}

// A category of a larger item tied to another item is, for the hypothesis, the binomial
// of that category against the rest (x[1] ~ Beta(alpha_1, alpha_2 + alpha_3), 12 of 25):
// the factors are those of the aggregated binomial problem, exactly for equalities (the
// same closed form) and within the intervals for the mixed one (its chains run on other
// streams: the items, and so the hypothesis's key, differ); the other categories are
// (1 - theta_1) phi with phi ~ Dirichlet(alpha_r + k_r), whose means are exact given
// E theta_1, and every sample lies on the simplex with the tie holding.
TEST(Categorical, ACategoryTiedToAnotherItemRunsAsItsAggregatedBinomial) {
  const std::vector<std::pair<std::string, std::string>> categories{
      {"tie", "x[1] = y[1]"}, {"comp", "x[1] = 1 - z"}, {"mixed", "x[1] = z; z > 0.4"}};
  const std::vector<std::pair<std::string, std::string>> binomials{
      {"tie", "x = y"}, {"comp", "x = 1 - z"}, {"mixed", "x = z; z > 0.4"}};
  CountsProblem trinomial = problem_of({categorical("x", {12, 9, 4}, {2, 1, 0.5}), categorical("y", {7, 10, 8}, {2, 1, 0.5})},
                                       categories, 6000);
  trinomial.items.push_back({"z", 5, 11, 1.0, 1.0, {}, {}, {}});
  trinomial.settings.keep_samples = true;
  CountsProblem binomial = problem_of({}, binomials, 6000);
  binomial.items = {{"x", 12, 25, 2.0, 1.5, {}, {}, {}}, {"y", 7, 25, 2.0, 1.5, {}, {}, {}}, {"z", 5, 11, 1.0, 1.0, {}, {}, {}}};
  const Evaluation a = evaluate_problem(trinomial, 1);
  const Evaluation b = evaluate_problem(binomial, 1);
  for (std::size_t h = 0; h < 3; ++h) {
    EXPECT_EQ(a.hypotheses[h].log_bf_equalities, b.hypotheses[h].log_bf_equalities) << h;
    if (h < 2) {
      EXPECT_EQ(a.hypotheses[h].estimates[0].mean, b.hypotheses[h].estimates[0].mean) << h;  // x[1] = x
    }
  }
  EXPECT_EQ(a.hypotheses[0].bf_unconstrained, b.hypotheses[0].bf_unconstrained);
  EXPECT_EQ(a.hypotheses[1].bf_unconstrained, b.hypotheses[1].bf_unconstrained);
  // mixed: the group x[1] = z has the prior Beta(2 + 1 - 1, 1.5 + 1 - 1) and the posterior
  // Beta(2 + 17, 1.5 + 19); its factor is bf_equalities P(w > 0.4 | data) / P(w > 0.4).
  const auto above = [](double p, double q) { return simpson(0.4, 1.0, [&](double w) { return beta_density(w, p, q); }); };
  const double exact = a.hypotheses[2].bf_equalities * above(19.0, 20.5) / above(2.0, 1.5);
  EXPECT_TRUE(holds(a.hypotheses[2].bf_unconstrained_interval, exact)) << a.hypotheses[2].bf_unconstrained << " " << exact;
  EXPECT_TRUE(holds(b.hypotheses[2].bf_unconstrained_interval, exact)) << b.hypotheses[2].bf_unconstrained << " " << exact;
  // The other categories: E(1 - theta_1) (alpha_r + k_r) / (10 + 4.5), exact given E theta_1
  // (exact itself for the equalities alone, the group's beta: tie Beta(2 + 2 - 1 + 19,
  // 1.5 + 1.5 - 1 + 31), comp Beta(2 + 18, 1.5 + 18) with z's counts exchanged), the
  // chain's for mixed (against the exact restricted mean, within 4 mcse).
  const double restricted = simpson(0.4, 1.0, [](double w) { return w * beta_density(w, 19.0, 20.5); }) / above(19.0, 20.5);
  const std::vector<double> theta_1{22.0 / 55.0, 20.0 / 39.5, restricted};
  for (std::size_t h = 0; h < 3; ++h) {
    const std::vector<ItemEstimate>& e = a.hypotheses[h].estimates;
    for (std::size_t r = 1; r < 3; ++r) {
      const double share = (r == 1 ? 10.0 : 4.5) / 14.5;
      const double tolerance = h == 0 ? 1e-12 : 4.0 * share * e[0].mean_mcse;
      EXPECT_NEAR(e[r].mean, (1.0 - theta_1[h]) * share, tolerance) << h << " " << r;
      EXPECT_LT(e[r].lower, e[r].mean);
      EXPECT_GT(e[r].upper, e[r].mean);
    }
  }
  // Samples: the tie holds and every item's categories sum to 1 (x, y, z: 3 + 3 + 1 columns).
  for (std::size_t h = 0; h < 3; ++h) {
    const std::vector<double>& rows = a.hypotheses[h].samples;
    ASSERT_FALSE(rows.empty());
    ASSERT_EQ(rows.size() % 7, 0u);
    double x2 = 0.0;
    for (std::size_t at = 0; at < rows.size(); at += 7) {
      EXPECT_NEAR(rows[at] + rows[at + 1] + rows[at + 2], 1.0, 1e-12);
      EXPECT_NEAR(rows[at + 3] + rows[at + 4] + rows[at + 5], 1.0, 1e-12);
      const double tied = h == 0 ? rows[at + 3] : h == 1 ? 1.0 - rows[at + 6] : rows[at + 6];
      EXPECT_NEAR(rows[at], tied, h == 1 ? 1e-15 : 0.0);  // 1 - (1 - w) rounds
      EXPECT_TRUE(h != 2 || rows[at + 6] > 0.4);
      x2 += rows[at + 1];
    }
    EXPECT_NEAR(x2 / static_cast<double>(rows.size() / 7), a.hypotheses[h].estimates[1].mean, 0.01) << h;
    EXPECT_GT(a.hypotheses[h].ppp, 0.05);
  }
  // Threads change no number.
  const Evaluation c = evaluate_problem(trinomial, 2);
  for (std::size_t h = 0; h < 3; ++h) {
    EXPECT_EQ(a.hypotheses[h].bf_unconstrained, c.hypotheses[h].bf_unconstrained);
    EXPECT_EQ(a.hypotheses[h].ppp, c.hypotheses[h].ppp);
    EXPECT_EQ(a.hypotheses[h].samples, c.hypotheses[h].samples);
    for (std::size_t i = 0; i < a.hypotheses[h].estimates.size(); ++i) {
      EXPECT_EQ(a.hypotheses[h].estimates[i].lower, c.hypotheses[h].estimates[i].lower);
      EXPECT_EQ(a.hypotheses[h].estimates[i].upper_mcse, c.hypotheses[h].estimates[i].upper_mcse);
    }
  }
}

// P(u > r v) for (u, v, 1 - u - v) ~ Dirichlet(a1, a2, a3): v from 0 to 1 / (1 + r), u
// from r v to 1 - v, Simpson's rule in both.
double above_ratio(double a1, double a2, double a3, double r) {
  const double log_norm = std::lgamma(a1 + a2 + a3) - std::lgamma(a1) - std::lgamma(a2) - std::lgamma(a3);
  return simpson(0.0, 1.0 / (1.0 + r), [&](double v) {
    return simpson(r * v, 1.0 - v, [&](double u) {
      const double w = std::max(0.0, 1.0 - u - v);
      return std::exp(log_norm) * std::pow(u, a1 - 1.0) * std::pow(v, a2 - 1.0) * std::pow(w, a3 - 1.0);
    });
  });
}

// An item of more than two categories under a restriction in a hypothesis with
// equalities is drawn on its simplex: untied beside a tie of other items, or with its own
// categories merged into three or more (x = (12, 9, 4, 7), Dirichlet(1, 1, 1, 1)), also
// where the merged category left over holds a parameter (x[1] = x[4]) or a point holds
// the last category. Each factor is bf_equalities times a ratio of Dirichlet
// probabilities: quadrature of the merged Dirichlet, prior and posterior.
TEST(Categorical, AnItemUnderARestrictionBesideEqualitiesIsDrawnOnItsSimplex) {
  CountsProblem problem = problem_of({categorical("x", {12, 9, 4, 7}, {1, 1, 1, 1}), categorical("t", {4, 3, 1}, {1, 1, 1})},
                                     {{"beside", "a = b; t[1] > t[2] > t[3]"},
                                      {"merged", "x[1] = x[2] > x[3]"},
                                      {"left", "x[1] = x[4] > x[2]"},
                                      {"point", "x[4] = 0.2; x[1] > x[2] > x[3]"}},
                                     20000);
  problem.items.push_back({"a", 3, 10, 1.0, 1.0, {}, {}, {}});
  problem.items.push_back({"b", 5, 9, 1.0, 1.0, {}, {}, {}});
  problem.settings.keep_samples = true;
  const Evaluation run = evaluate_problem(problem, 1);
  const std::vector<double> ratio{6.0 * ordered_probability(5, 4, 2),
                                  above_ratio(22, 5, 8, 2.0) / (1.0 / 3.0),
                                  above_ratio(20, 10, 5, 2.0) / (1.0 / 3.0),
                                  6.0 * ordered_probability(13, 10, 5)};
  for (std::size_t h = 0; h < ratio.size(); ++h) {
    const HypothesisResult& r = run.hypotheses[h];
    const double exact = r.bf_equalities * ratio[h];
    EXPECT_TRUE(holds(r.bf_unconstrained_interval, exact))
        << r.name << " " << r.bf_unconstrained_interval[0] << " " << r.bf_unconstrained_interval[1] << " exact " << exact;
    // Every item's categories sum to 1, in the estimates and in each sample; the ties
    // and the order hold in each sample (x, t, a, b: 4 + 3 + 1 + 1 columns).
    double x = 0.0, t = 0.0;
    for (std::size_t c = 0; c < 4; ++c) x += r.estimates[c].mean;
    for (std::size_t c = 4; c < 7; ++c) t += r.estimates[c].mean;
    EXPECT_NEAR(x, 1.0, 1e-9) << r.name;
    EXPECT_NEAR(t, 1.0, 1e-9) << r.name;
    const std::vector<double>& rows = r.samples;
    ASSERT_EQ(rows.size() % 9, 0u);
    ASSERT_FALSE(rows.empty());
    for (std::size_t at = 0; at < rows.size(); at += 9) {
      const double* s = rows.data() + at;
      EXPECT_NEAR(s[0] + s[1] + s[2] + s[3], 1.0, 1e-12);
      EXPECT_NEAR(s[4] + s[5] + s[6], 1.0, 1e-12);
      if (h == 0) { EXPECT_TRUE(s[7] == s[8] && s[4] > s[5] && s[5] > s[6]); }
      if (h == 1) { EXPECT_TRUE(s[0] == s[1] && s[1] > s[2]); }
      if (h == 2) { EXPECT_TRUE(std::fabs(s[0] - s[3]) < 1e-12 && s[0] > s[1]); }  // x[4] is 1 minus the others
      if (h == 3) { EXPECT_TRUE(std::fabs(s[3] - 0.2) < 1e-12 && s[0] > s[1] && s[1] > s[2]); }
    }
  }
  // A restriction that the tie empties (left out, with a warning) leaves the merged
  // categories exact, as without it.
  const Evaluation emptied = evaluate_problem(
      problem_of({categorical("x", {12, 9, 4, 7}, {1, 1, 1, 1})}, {{"T", "x[1] = x[2]"}, {"E", "x[1] = x[2]; x[1] - x[2] > -0.5"}}),
      1);
  for (std::size_t c = 0; c < 4; ++c) {
    EXPECT_EQ(emptied.hypotheses[1].estimates[c].mean, emptied.hypotheses[0].estimates[c].mean) << c;
    EXPECT_EQ(emptied.hypotheses[1].estimates[c].upper, emptied.hypotheses[0].estimates[c].upper) << c;
  }
  // Threads change no number.
  const Evaluation two = evaluate_problem(problem, 2);
  for (std::size_t h = 0; h < ratio.size(); ++h) {
    EXPECT_EQ(two.hypotheses[h].bf_unconstrained_interval, run.hypotheses[h].bf_unconstrained_interval);
    EXPECT_EQ(two.hypotheses[h].samples, run.hypotheses[h].samples);
    EXPECT_EQ(two.hypotheses[h].estimates[3].upper, run.hypotheses[h].estimates[3].upper);
  }
}

// The start point stays inside each item's simplex, also where the restrictions alone
// would place it beyond.
TEST(Categorical, StartPointInsideTheSimplex) {
  const CountsProblem problem =
      problem_of({categorical("x", {0, 0, 0, 0}, {1, 1, 1, 1})}, {{"H", "x[1] > 0.2; x[2] > 0.2; x[3] > 0.2"}}, 2000);
  const Evaluation run = evaluate_problem(problem, 1);
  const std::vector<double>& start = run.hypotheses[0].start.centre;
  ASSERT_EQ(start.size(), 3u);
  EXPECT_LT(start[0] + start[1] + start[2], 1.0);
  // P(x1, x2, x3 > 0.2) under Dirichlet(1, 1, 1, 1) is (1 - 3 * 0.2)^3 = 0.064.
  const HypothesisResult& h = run.hypotheses[0];
  EXPECT_TRUE(holds(h.bf_unconstrained_interval, 1.0)) << h.bf_unconstrained;
  const double relative = (h.bf_unconstrained_interval[1] - h.bf_unconstrained_interval[0]) / (2 * 1.96 * h.bf_unconstrained);
  EXPECT_NEAR(h.complexity, 0.064, 4 * relative * 0.064);
}

}  // namespace
}  // namespace propbf::evaluate
