// Equalities on the categories of larger items: the closed-form factor against values
// computed here another way (a density ratio, a one-dimensional integral, a beta
// marginal), what is left for the chains, and the refusals with their places.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "problem/categories.hpp"
#include "problem/category_equalities.hpp"
#include "problem/prepare.hpp"

namespace propbf::evaluate {
namespace {

Item categorical(const std::string& name, std::vector<std::int64_t> counts, std::vector<double> alpha) {
  Item item;
  item.name = name;
  for (std::size_t c = 0; c < counts.size(); ++c) item.categories.push_back(std::to_string(c + 1));
  item.counts = std::move(counts);
  item.concentration = std::move(alpha);
  return item;
}

CollapsedHypothesis collapse(const std::string& hypothesis, const std::vector<Item>& items,
                             TiedPrior tied_prior = TiedPrior::Conditional) {
  std::vector<NamedItem> named;
  const ParameterSpace space = parameter_space(items);
  for (std::size_t j = 0; j < items.size(); ++j) {
    const std::vector<std::string> categories =
        is_categorical(items[j]) ? items[j].categories : std::vector<std::string>{"1", "2"};
    named.push_back({items[j].name, space.first[j], categories, categories.size() == 2});
  }
  const ParsedHypothesis parsed = parse_hypothesis(hypothesis, named, space.parameters.size());
  EXPECT_TRUE(parsed.ok) << hypothesis << ": " << parsed.error.message;
  EXPECT_TRUE(ties_categories(parsed)) << hypothesis;
  return collapse_category_equalities(parsed, items, tied_prior);
}

// ln of the Dirichlet(alpha) density at theta (all K categories), written out.
double log_density(const std::vector<double>& alpha, const std::vector<double>& theta) {
  double value = 0.0, sum = 0.0;
  for (std::size_t c = 0; c < alpha.size(); ++c) {
    value += (alpha[c] - 1.0) * std::log(theta[c]) - std::lgamma(alpha[c]);
    sum += alpha[c];
  }
  return value + std::lgamma(sum);
}

double log_evidence(const std::vector<double>& alpha, const std::vector<std::int64_t>& k) {
  std::vector<long double> prior(alpha.begin(), alpha.end()), posterior;
  for (std::size_t c = 0; c < alpha.size(); ++c) posterior.push_back(alpha[c] + static_cast<double>(k[c]));
  return static_cast<double>(log_dirichlet(posterior) - log_dirichlet(prior));
}

// Simpson's rule on [0, 1] with 20000 panels.
double integral(const std::function<double(double)>& f) {
  const int n = 20000;
  const double h = 1.0 / n;
  double sum = f(0.0) + f(1.0);
  for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(i * h);
  return sum * h / 3.0;
}

double beta_pdf(double x, double a, double b) {
  return std::exp((a - 1.0) * std::log(x) + (b - 1.0) * std::log1p(-x) + std::lgamma(a + b) - std::lgamma(a) -
                  std::lgamma(b));
}

TEST(CategoryEqualities, AllTiedIsTheDensityRatioAtOneKth) {
  for (const auto& [alpha, k] : std::vector<std::pair<std::vector<double>, std::vector<std::int64_t>>>{
           {{1, 1, 1}, {12, 9, 4}}, {{0.5, 2, 3}, {0, 40, 7}}, {{1, 1, 1}, {400000, 300000, 300000}}}) {
    const CollapsedHypothesis c = collapse("x[1] = x[2] = x[3]", {categorical("x", k, alpha)});
    ASSERT_TRUE(c.ok) << c.error.message;
    std::vector<double> posterior;
    for (std::size_t i = 0; i < 3; ++i) posterior.push_back(alpha[i] + static_cast<double>(k[i]));
    const std::vector<double> third(3, 1.0 / 3.0);
    const double expected = log_density(posterior, third) - log_density(alpha, third);
    EXPECT_NEAR(c.log_factor, expected, 1e-9 * std::max(1.0, std::fabs(expected))) << k[0];
    EXPECT_TRUE(c.groups.empty());
    for (const auto& value : c.item_value) EXPECT_EQ(value, 1.0 / 3.0);
  }
}

TEST(CategoryEqualities, TwoTiedIsTheIntegralOfTheRestrictedLikelihood) {
  // theta_1 = theta_2 = u / 2, u ~ Beta(a1 + a2 - 1, a3): m(H) = int 2^-(k1 + k2) u^(k1 + k2) (1 - u)^k3 dBeta.
  for (const auto& [alpha, k] : std::vector<std::pair<std::vector<double>, std::vector<std::int64_t>>>{
           {{1, 1, 1}, {12, 9, 4}}, {{2, 1.5, 3}, {3, 8, 5}}, {{1, 2, 1}, {2, 0, 1}}}) {
    const CollapsedHypothesis c = collapse("x[1] = x[2]", {categorical("x", k, alpha)});
    ASSERT_TRUE(c.ok) << c.error.message;
    const double a = alpha[0] + alpha[1] - 1.0, b = alpha[2];
    const double kt = static_cast<double>(k[0] + k[1]), k3 = static_cast<double>(k[2]);
    const double m = integral([&](double u) {
      return u <= 0.0 || u >= 1.0 ? 0.0 : std::pow(u / 2.0, kt) * std::pow(1.0 - u, k3) * beta_pdf(u, a, b);
    });
    EXPECT_NEAR(c.log_factor, std::log(m) - log_evidence(alpha, k), 1e-7) << k[0];
    // One free proportion, u, with the merged prior and the pooled counts.
    ASSERT_EQ(c.groups.size(), 1u);
    EXPECT_EQ(c.groups[0], (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(c.prior_a[0], a);
    EXPECT_EQ(c.prior_b[0], b);
    EXPECT_EQ(c.posterior_a[0], a + kt);
    EXPECT_EQ(c.posterior_b[0], b + k3);
    EXPECT_EQ(c.scale, (std::vector<double>{0.5, 0.5}));
  }
  // No data, no evidence.
  EXPECT_EQ(collapse("x[1] = x[2]", {categorical("x", {0, 0, 0}, {1, 2, 1})}).log_factor, 0.0);
  // Two pairs of four: theta = (u/2, u/2, (1-u)/2, (1-u)/2), u ~ Beta(a1 + a2 - 1, a3 + a4 - 1).
  const std::vector<double> alpha{1.5, 2, 1, 3};
  const std::vector<std::int64_t> k{4, 6, 2, 9};
  const CollapsedHypothesis c = collapse("x[1] = x[2]; x[4] = x[3]", {categorical("x", k, alpha)});
  ASSERT_TRUE(c.ok) << c.error.message;
  const double m = integral([&](double u) {
    return u <= 0.0 || u >= 1.0 ? 0.0 : std::pow(u / 2.0, 10.0) * std::pow((1.0 - u) / 2.0, 11.0) * beta_pdf(u, 2.5, 3.0);
  });
  EXPECT_NEAR(c.log_factor, std::log(m) - log_evidence(alpha, k), 1e-7);
}

// Ties that leave three or more merged categories and no restriction on the item: the
// factor is the closed form written out from lgamma, ln D(posterior merged) - ln D(prior
// merged) - [ln D(posterior) - ln D(prior)] - K_T ln m, and each merged category is a
// coordinate of its own with its exact beta marginal, each category its share of it.
TEST(CategoryEqualities, ThreeMergedCategoriesAreAnExactDirichlet) {
  const auto ln_d = [](const std::vector<double>& a) {
    double sum = 0.0, terms = 0.0;
    for (double x : a) {
      terms += std::lgamma(x);
      sum += x;
    }
    return terms - std::lgamma(sum);
  };
  struct Case {
    std::string hypothesis;
    std::vector<double> alpha;
    std::vector<std::int64_t> k;
    double ln_factor;                    // written out
    std::vector<double> posterior_a;     // per merged category
    std::vector<std::size_t> merged_of;  // per category
    std::vector<double> share;
  };
  const std::vector<double> one(4, 1.0), uneven{1.5, 2, 0.5, 3};
  const std::vector<std::int64_t> k{12, 9, 4, 7};
  const std::size_t held = MergedDirichlet::kHeld;
  const std::vector<Case> cases{
      // (x1 + x2, x3, x4): Dirichlet(1, 1, 1) prior, posterior (22, 5, 8).
      {"x[1] = x[2]", one, k, ln_d({22, 5, 8}) - ln_d({1, 1, 1}) - (ln_d({13, 10, 5, 8}) - ln_d(one)) - 21 * std::log(2.0),
       {22, 5, 8}, {0, 0, 1, 2}, {0.5, 0.5, 1, 1}},
      // The tie may hold the last category: (x1 + x4, x2, x3).
      {"x[4] = x[1]", uneven, k,
       ln_d({22.5, 11, 4.5}) - ln_d({3.5, 2, 0.5}) - (ln_d({13.5, 11, 4.5, 10}) - ln_d(uneven)) - 19 * std::log(2.0),
       {22.5, 11, 4.5}, {0, 1, 2, 0}, {0.5, 1, 1, 0.5}},
      // Five categories, two pairs: (x1 + x2, x3 + x4, x5).
      {"x[1] = x[2]; x[3] = x[4]", {1, 1, 1, 1, 1}, {12, 9, 4, 7, 3},
       ln_d({22, 12, 4}) - ln_d({1, 1, 1}) - (ln_d({13, 10, 5, 8, 4}) - ln_d({1, 1, 1, 1, 1})) - 32 * std::log(2.0),
       {22, 12, 4}, {0, 0, 1, 1, 2}, {0.5, 0.5, 0.5, 0.5, 1}},
  };
  for (const Case& c : cases) {
    const CollapsedHypothesis h = collapse(c.hypothesis, {categorical("x", c.k, c.alpha)});
    ASSERT_TRUE(h.ok) << c.hypothesis << ": " << h.error.message;
    EXPECT_NEAR(h.log_factor, c.ln_factor, 1e-10) << c.hypothesis;
    ASSERT_EQ(h.merged.size(), 1u);
    const MergedDirichlet& d = h.merged[0];
    EXPECT_EQ(d.merged_of, c.merged_of) << c.hypothesis;
    EXPECT_EQ(d.share, c.share) << c.hypothesis;
    double total = 0.0;
    for (double a : c.posterior_a) total += a;
    for (std::size_t g = 0; g < c.posterior_a.size(); ++g) {
      EXPECT_EQ(d.posterior_a[g], c.posterior_a[g]) << c.hypothesis;
      EXPECT_EQ(d.posterior_b[g], total - c.posterior_a[g]) << c.hypothesis;
    }
    // A coordinate per merged category that has a parameter, in no restriction.
    EXPECT_TRUE(h.restrictions.empty());
    for (std::size_t p = 0; p + 1 < c.k.size(); ++p) {
      const std::size_t g = c.merged_of[p];
      EXPECT_EQ(h.scale[p], c.share[p]);
      EXPECT_EQ(h.offset[p], 0.0);
      bool found = false;
      for (std::size_t i = 0; i < h.groups.size(); ++i) {
        if (std::find(h.groups[i].begin(), h.groups[i].end(), p) == h.groups[i].end()) continue;
        found = true;
        EXPECT_EQ(h.posterior_a[i], c.posterior_a[g]) << c.hypothesis << " " << p;
        EXPECT_EQ(h.posterior_b[i], total - c.posterior_a[g]) << c.hypothesis << " " << p;
      }
      EXPECT_TRUE(found) << c.hypothesis << " " << p;
    }
  }
  // A point beside them: x[1] = 0.2 leaves 0.8 of (x2 + x3, x4, x5) of five.
  const CollapsedHypothesis point = collapse("x[1] = 0.2; x[2] = x[3]", {categorical("x", {12, 9, 4, 7, 3}, {1, 1, 1, 1, 1})});
  ASSERT_TRUE(point.ok) << point.error.message;
  ASSERT_EQ(point.merged.size(), 1u);
  EXPECT_EQ(point.merged[0].merged_of, (std::vector<std::size_t>{held, 0, 0, 1, 2}));
  EXPECT_EQ(point.merged[0].share[0], 0.2);
  EXPECT_NEAR(point.merged[0].share[1], 0.4, 1e-15);
  EXPECT_EQ(point.item_value[0], 0.2);
  // Beta(13, 4 + 23) at 0.2 against Beta(1, 4), then the tie within the rest.
  const double savage_dickey = std::log(beta_pdf(0.2, 13, 27) / beta_pdf(0.2, 1, 4));
  const double tie = ln_d({14, 8, 4}) - ln_d({1, 1, 1}) - (ln_d({10, 5, 8, 4}) - ln_d({1, 1, 1, 1})) - 13 * std::log(2.0);
  EXPECT_NEAR(point.log_factor, savage_dickey + tie, 1e-10);
  // Two or fewer merged categories stay a tied proportion, not a Dirichlet.
  EXPECT_TRUE(collapse("x[1] = x[2]", {categorical("x", {12, 9, 4}, {1, 1, 1})}).merged.empty());
}

TEST(CategoryEqualities, PointIsSavageDickeyOnTheBetaMarginal) {
  // theta_1 ~ Beta(a1, a2 + a3) a priori, Beta(a1 + k1, a2 + a3 + k2 + k3) a posteriori.
  const std::vector<double> alpha{1, 2, 0.5};
  const std::vector<std::int64_t> k{12, 9, 4};
  const CollapsedHypothesis c = collapse("x[1] = 0.2", {categorical("x", k, alpha)});
  ASSERT_TRUE(c.ok) << c.error.message;
  EXPECT_NEAR(c.log_factor, std::log(beta_pdf(0.2, 13, 15.5) / beta_pdf(0.2, 1, 2.5)), 1e-10);
  // The rest, 0.8 phi with phi ~ Beta(2 + 9, 0.5 + 4): x[2] = 0.8 w, x[3] = 0.8 (1 - w).
  ASSERT_EQ(c.groups.size(), 1u);
  EXPECT_EQ(c.item_value[0], 0.2);
  EXPECT_EQ(c.posterior_a[0], 11.0);
  EXPECT_EQ(c.posterior_b[0], 4.5);
  EXPECT_NEAR(c.scale[1], 0.8, 1e-15);
  // Two categories at a point of four: the density of Dirichlet(a1, a2, a3 + a4) at (0.25, 0.25, 0.5).
  const std::vector<double> four{1, 2, 1.5, 1};
  const std::vector<std::int64_t> n{5, 3, 6, 2};
  const CollapsedHypothesis d = collapse("x[1] = x[2] = 0.25", {categorical("x", n, four)});
  ASSERT_TRUE(d.ok) << d.error.message;
  const std::vector<double> at{0.25, 0.25, 0.5};
  EXPECT_NEAR(d.log_factor, log_density({6, 5, 10.5}, at) - log_density({1, 2, 2.5}, at), 1e-10);
  // Every category at a point: the Dirichlet's own density.
  const CollapsedHypothesis e = collapse("x[1] = 0.5; x[2] = 0.25; x[3] = 0.25", {categorical("x", k, alpha)});
  ASSERT_TRUE(e.ok) << e.error.message;
  EXPECT_NEAR(e.log_factor, log_density({13, 11, 4.5}, {0.5, 0.25, 0.25}) - log_density(alpha, {0.5, 0.25, 0.25}),
              1e-10);
}

TEST(CategoryEqualities, InequalitiesActOnTheTiedProportion) {
  // x[1] = x[2] > x[3]: u / 2 > 1 - u, i.e. 1.5 u > 1; under Dirichlet(1, 1, 1) u is
  // uniform and the complexity P(u > 2/3) = 1/3.
  const CollapsedHypothesis c = collapse("x[1] = x[2] > x[3]", {categorical("x", {12, 9, 4}, {1, 1, 1})});
  ASSERT_TRUE(c.ok) << c.error.message;
  ASSERT_EQ(c.restrictions.size(), 1u);
  EXPECT_EQ(c.restrictions[0].coefficients, (std::vector<double>{1.5}));
  EXPECT_EQ(c.restrictions[0].constant, 1.0);
  // A point moves into the constant: x[1] = 0.2 and x[2] > x[3] is 0.8 w > 0.8 (1 - w).
  const CollapsedHypothesis d = collapse("x[1] = 0.2; x[2] > x[3]", {categorical("x", {12, 9, 4}, {1, 1, 1})});
  ASSERT_TRUE(d.ok) << d.error.message;
  ASSERT_EQ(d.restrictions.size(), 1u);
  EXPECT_NEAR(d.restrictions[0].coefficients[0] / d.restrictions[0].constant, 2.0, 1e-15);
  // Beside items of two categories: a = b collapses as before, the factors add.
  std::vector<Item> items{categorical("x", {12, 9, 4}, {1, 1, 1}), {"a", 7, 10, 1, 1}, {"b", 5, 10, 1, 1}};
  const CollapsedHypothesis both = collapse("a = b > x[3]; x[1] = x[2]", items);
  ASSERT_TRUE(both.ok) << both.error.message;
  ParsedHypothesis binomial = parse_hypothesis("a = b", std::vector<std::string>{"a", "b"});
  const double ab = collapse_equalities(binomial, {items[1], items[2]}).log_factor;
  const double x = collapse("x[1] = x[2]", {items[0]}).log_factor;
  EXPECT_NEAR(both.log_factor, ab + x, 1e-12);
  ASSERT_EQ(both.groups.size(), 2u);
  EXPECT_EQ(both.groups[1], (std::vector<std::size_t>{2, 3}));
  // a - (1 - u): the group of a and b, and u.
  EXPECT_EQ(both.restrictions[0].coefficients, (std::vector<double>{1.0, 1.0}));
}

TEST(CategoryEqualities, CommonPriorOnlyWhereItMeansSomething) {
  const Item x = categorical("x", {12, 9, 4}, {1, 1, 1});
  const CollapsedHypothesis tie = collapse("x[1] = x[2]", {x}, TiedPrior::Common);
  ASSERT_FALSE(tie.ok);
  EXPECT_NE(tie.error.message.find("no meaning for categories of one item"), std::string::npos) << tie.error.message;
  // A point needs no prior of a tied proportion: the same under both.
  EXPECT_EQ(collapse("x[1] = 0.2", {x}, TiedPrior::Common).log_factor, collapse("x[1] = 0.2", {x}).log_factor);
  EXPECT_EQ(collapse("x[1] = x[2] = x[3]", {x}, TiedPrior::Common).log_factor,
            collapse("x[1] = x[2] = x[3]", {x}).log_factor);
}

// A polytope's equality (over parameters) on an item whose categories the text ties.
TEST(CategoryEqualities, PolytopeEqualityOnTiedCategoriesIsRefused) {
  const std::vector<Item> items{categorical("x", {12, 9, 4}, {1, 1, 1}), {"a", 7, 10, 1.0, 1.0}};
  std::vector<NamedItem> named{{"x", 0, {"1", "2", "3"}, false}, {"a", 2, {"1", "2"}, true}};
  ParsedHypothesis parsed = parse_hypothesis("x[1] = x[3]", named, 3);
  ASSERT_TRUE(parsed.ok);
  Equality tie;
  tie.item = 1;
  tie.other = 2;
  tie.text = "vertices";
  parsed.equalities.push_back(tie);
  const CollapsedHypothesis c = collapse_category_equalities(parsed, items, TiedPrior::Conditional);
  ASSERT_FALSE(c.ok);
  EXPECT_EQ(c.error.message, "'vertices' ties a category of an item whose categories the hypothesis ties too; write "
                             "these equalities in one form");
}

// Aggregation: a category c of a larger item tied to another item makes the item, for the
// hypothesis, the binomial Beta(alpha_c, sum of the others) with k_c of N: the collapse is
// that of the binomial problem with the items so aggregated, number for number.
TEST(CategoryEqualities, ACategoryTiedToAnotherItemIsItsAggregatedBinomial) {
  struct Case {
    std::string categories, binomial;
    std::size_t cx, cy;  // the categories of x and y the binomial items stand for
  };
  const std::vector<Case> cases{
      {"x[1] = y[1]; a > 0.3", "x1 = y1; a > 0.3", 0, 0},
      {"x[1] = 1 - a; y[2] = a", "x1 = 1 - a; y2 = a", 0, 1},
      {"a = x[1]; a > 0.4; y[3] = a", "a = x1; a > 0.4; y3 = a", 0, 2},
      {"x[3] = y[2] = a; x[1] + x[2] < 0.9", "x3 = y2 = a; x3 > 0.1", 2, 1},
      {"x[2] = 0.3; y[1] = x[2]; a < 0.5", "x2 = 0.3; y1 = x2; a < 0.5", 1, 0},
  };
  for (const std::vector<double>& alpha : {std::vector<double>{1, 1, 1}, std::vector<double>{0.5, 2, 3}}) {
    for (const TiedPrior prior : {TiedPrior::Conditional, TiedPrior::Common}) {
      const Item x = categorical("x", {12, 9, 4}, alpha);
      const Item y = categorical("y", {7, 10, 8}, alpha);
      const Item a{"a", 5, 11, 1.0, 1.0, {}, {}, {}};
      auto binomial = [](const Item& of, std::size_t c) {
        Item item{of.name + std::to_string(c + 1), of.counts[c], 25, of.concentration[c], 0.0, {}, {}, {}};
        for (std::size_t r = 0; r < 3; ++r) item.prior_b += r == c ? 0.0 : of.concentration[r];
        return item;
      };
      for (const Case& c : cases) {
        const CollapsedHypothesis got = collapse(c.categories, {x, y, a}, prior);
        const std::vector<Item> aggregated{binomial(x, c.cx), binomial(y, c.cy), a};
        const CollapsedHypothesis want = collapse_equalities(
            parse_hypothesis(c.binomial, std::vector<std::string>{aggregated[0].name, aggregated[1].name, "a"}),
            aggregated, prior);
        // Under a common prior, items of different priors in a group are refused on both sides.
        ASSERT_EQ(got.ok, want.ok) << c.categories << ": " << got.error.message << want.error.message;
        if (!got.ok) continue;
        EXPECT_EQ(got.log_factor, want.log_factor) << c.categories;
        EXPECT_EQ(got.prior_a, want.prior_a) << c.categories;
        EXPECT_EQ(got.prior_b, want.prior_b) << c.categories;
        EXPECT_EQ(got.posterior_a, want.posterior_a) << c.categories;
        EXPECT_EQ(got.posterior_b, want.posterior_b) << c.categories;
        ASSERT_EQ(got.restrictions.size(), want.restrictions.size()) << c.categories;
        for (std::size_t k = 0; k < got.restrictions.size(); ++k) {
          EXPECT_EQ(got.restrictions[k].coefficients, want.restrictions[k].coefficients) << c.categories;
          EXPECT_NEAR(got.restrictions[k].constant, want.restrictions[k].constant, 1e-15) << c.categories;
        }
        // Each aggregated item keeps its other categories' Dirichlet, prior and posterior.
        ASSERT_EQ(got.aggregated.size(), 2u) << c.categories;
        for (const AggregatedItem& item : got.aggregated) {
          EXPECT_TRUE(got.reduced_item[item.item]);
          const Item& of = item.item == 0 ? x : y;
          EXPECT_EQ(item.category, item.item == 0 ? c.cx : c.cy);
          std::size_t r = 0;
          for (std::size_t k = 0; k < 3; ++k) {
            if (k == item.category) continue;
            EXPECT_EQ(item.rest_prior[r], of.concentration[k]);
            EXPECT_EQ(item.rest_posterior[r], of.concentration[k] + static_cast<double>(of.counts[k]));
            ++r;
          }
        }
      }
      // Beside a tie of another item's own categories, the two factors multiply.
      const CollapsedHypothesis both = collapse("x[2] = a; y[1] = y[2]", {x, y, a}, prior);
      const CollapsedHypothesis tie = collapse("y[1] = y[2]", {x, y, a}, prior);
      const CollapsedHypothesis own = collapse("x[2] = a", {x, y, a}, prior);
      ASSERT_EQ(both.ok, tie.ok && own.ok);  // common: no prior for one item's tied categories
      if (both.ok) {
        EXPECT_NEAR(both.log_factor, tie.log_factor + own.log_factor, 1e-12);
      }
    }
  }
}

struct Refusal {
  std::string hypothesis;
  std::string message;  // in full, with the place
};

TEST(CategoryEqualities, RefusesWithThePlaceAndTheReason) {
  CountsProblem problem;
  problem.file_name = "problem.toml";
  problem.items = {categorical("x", {12, 9, 4}, {1, 1, 1}), categorical("z", {1, 2, 3, 4}, {1, 1, 1, 1}),
                   {"a", 7, 10, 1.0, 1.0}};
  const std::vector<Refusal> cases{
      {"x[1] = a; x[2] > 0.1",
       "problem.toml:1:1: hypothesis H: 'x[1] = a' ties x[1] to another item, and 'x[2] > 0.1' names another category "
       "of item 'x', which has 3 categories: its other categories would then be products of two proportions, which the "
       "chains do not sample; tie only one category of the item to other items and name no other (the others then "
       "follow it), or write this with < and >"},
      {"a > 0.2; a = x[3] = z[1]; x[1] + x[2] > 0.5; x[3] < x[1]",
       "problem.toml:1:10: hypothesis H: 'a = x[3]' ties x[3] to another item, and 'x[3] < x[1]' names another "
       "category of item 'x', which has 3 categories: its other categories would then be products of two proportions, "
       "which the chains do not sample; tie only one category of the item to other items and name no other (the "
       "others then follow it), or write this with < and >"},
      {"x[1] = a; x[2] = x[3]", "problem.toml:1:1: hypothesis H: 'x[1] = a' ties x[1] to another item, and 'x[2] = "
                                "x[3]' names another category of item 'x', which has 3 categories: its other "
                                "categories would then be products of two proportions, which the chains do not "
                                "sample; tie only one category of the item to other items and name no other (the "
                                "others then follow it), or write this with < and >"},
      {"z[4] = 0.1; x[1] = a = x[2]", "problem.toml:1:13: hypothesis H: 'x[1] = a' ties x[1] to another item, and 'a "
                                      "= x[2]' names another category of item 'x', which has 3 categories: its other "
                                      "categories would then be products of two proportions, which the chains do not "
                                      "sample; tie only one category of the item to other items and name no other "
                                      "(the others then follow it), or write this with < and >"},
      {"x[1] = 0.6; x[2] = 0.5", "problem.toml:1:1: hypothesis H: the points of item 'x' sum to 1.1, which leaves its "
                                 "other categories nothing (a point on the border of the simplex, where the densities "
                                 "of Savage-Dickey are 0 or infinite); give smaller values"},
      {"x[1] = 0.5; x[2] = x[3] = 0.2", "problem.toml:1:1: hypothesis H: the points of item 'x' give all its categories "
                                        "values that sum to 0.9, not 1"},
      {"x[1] = x[2]; x[2] = 0.3; x[1] = 0.4",
       "problem.toml:1:26: hypothesis H: 'x[1] = 0.4' ties to 0.4 categories of item 'x' already tied to 0.3; a "
       "proportion has one value"},
  };
  for (const Refusal& c : cases) {
    HypothesisText text;
    text.name = "H";
    text.text = c.hypothesis;
    for (std::size_t i = 0; i <= text.text.size(); ++i) text.positions.push_back({1, static_cast<int>(i + 1)});
    problem.hypotheses = {text};
    try {
      prepare_problem(problem, {});
      ADD_FAILURE() << c.hypothesis << ": not refused";
    } catch (const InputError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.substr(0, message.find('\n')), c.message) << c.hypothesis;
    }
  }
}

}  // namespace
}  // namespace propbf::evaluate
