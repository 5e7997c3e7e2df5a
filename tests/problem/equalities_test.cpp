// Equalities collapsed: the closed-form factor against exact values (40-digit log-beta
// sums, written out below), the group shapes, the restrictions on the groups, and the
// refusals.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "problem/equalities.hpp"

namespace propbf::evaluate {
namespace {

const std::vector<std::string> kNames{"a", "b", "c", "d"};

std::vector<Item> items_of(const std::vector<std::array<double, 4>>& rows) {
  std::vector<Item> items;
  for (std::size_t j = 0; j < rows.size(); ++j) {
    items.push_back({kNames[j], static_cast<std::int64_t>(rows[j][2]), static_cast<std::int64_t>(rows[j][3]),
                     rows[j][0], rows[j][1]});
  }
  return items;
}

CollapsedHypothesis collapse(const std::string& hypothesis, const std::vector<Item>& items,
                             TiedPrior tied_prior = TiedPrior::Conditional) {
  std::vector<std::string> names(kNames.begin(), kNames.begin() + static_cast<std::ptrdiff_t>(items.size()));
  const ParsedHypothesis parsed = parse_hypothesis(hypothesis, names);
  EXPECT_TRUE(parsed.ok) << hypothesis << ": " << parsed.error.message;
  return collapse_equalities(parsed, items, tied_prior);
}

struct FactorCase {
  std::string hypothesis;
  std::vector<std::array<double, 4>> items;  // prior a, prior b, successes, trials
  double log_factor;                          // exact, 40 digits, rounded
};

// Per group: lnB(A + K, B + N - K) - lnB(A, B) - sum_i [lnB(a_i + k_i, ...) - lnB(a_i, b_i)],
// or K ln p0 + (N - K) ln(1 - p0) - sum_i [...] for a point value.
TEST(Equalities, FactorMatchesExactValues) {
  const std::vector<FactorCase> cases{
      {"a = b", {{1, 1, 14, 20}, {1, 1, 13, 20}}, 0.987970886684247083032823916063679828508},
      {"a = b", {{2, 3, 3, 10}, {1.5, 0.5, 7, 9}}, -1.523161116746260000594386470111560426299},
      {"a = b = c", {{1, 1, 5, 10}, {2, 2, 8, 12}, {0.5, 0.5, 0, 3}}, -0.8913171113773135835557601300915200181213},
      {"c = a; b == c", {{1, 1, 5, 10}, {2, 2, 8, 12}, {0.5, 0.5, 0, 3}}, -0.8913171113773135835557601300915200181213},
      {"a = 0.5", {{2, 2, 12, 20}}, 0.5979811541325198845107149915777923621702},
      {"a = b", {{1, 1, 500000, 1e6}, {1, 1, 501000, 1e6}}, 5.335391794390411966483004637728718778293},
      {"0.5 = a", {{2.5, 1.5, 500400, 1e6}}, 6.119601629158618585010488685960660010714},
      {"a = b = 0.3", {{1, 1, 3, 10}, {2, 1, 2, 5}}, 1.847268796612771775192870509394878991051},
      {"a = 0", {{1, 1, 0, 10}}, 2.397895272798370544061943577965129299822},
      {"a > b", {{1, 1, 3, 10}, {2, 1, 2, 5}}, 0.0},
  };
  for (const FactorCase& c : cases) {
    const CollapsedHypothesis collapsed = collapse(c.hypothesis, items_of(c.items));
    ASSERT_TRUE(collapsed.ok) << c.hypothesis << ": " << collapsed.error.message;
    EXPECT_NEAR(collapsed.log_factor, c.log_factor, 1e-9) << c.hypothesis;
  }
  // A success at a point value of 0: the factor is 0.
  EXPECT_EQ(collapse("a = 0", items_of({{1, 1, 1, 10}})).log_factor, -INFINITY);
}

struct ShapeCase {
  std::string hypothesis;
  std::vector<std::vector<std::size_t>> groups;
  std::vector<double> prior_a, prior_b, posterior_a, posterior_b;
  std::vector<std::vector<double>> coefficients;  // of the restrictions left
  std::vector<double> constants;
  std::vector<std::string> dropped, impossible;
};

TEST(Equalities, GroupsShapesAndRestrictions) {
  // Priors Beta(2, 1), Beta(1, 3), Beta(1.5, 1.5), Beta(1, 1); counts 3/5, 1/4, 0/2, 6/6.
  const std::vector<Item> items = items_of({{2, 1, 3, 5}, {1, 3, 1, 4}, {1.5, 1.5, 0, 2}, {1, 1, 6, 6}});
  const std::vector<ShapeCase> cases{
      {"a = b > c", {{0, 1}, {2}, {3}}, {2, 1.5, 1}, {3, 1.5, 1}, {6, 1.5, 7}, {8, 3.5, 1}, {{1, -1, 0}}, {0}, {}, {}},
      {"d = b; a > d + c", {{0}, {1, 3}, {2}}, {2, 1, 1.5}, {1, 3, 1.5}, {5, 8, 1.5}, {3, 6, 3.5}, {{1, -1, -1}},
       {0}, {}, {}},
      {"a = 0.5; a + c > 0.7; b > a", {{1}, {2}, {3}}, {1, 1.5, 1}, {3, 1.5, 1}, {2, 1.5, 7}, {6, 3.5, 1},
       {{0, 1, 0}, {1, 0, 0}}, {0.7 - 0.5, 0.5}, {}, {}},
      {"a = b; a - b > -0.5; c > d", {{0, 1}, {2}, {3}}, {2, 1.5, 1}, {3, 1.5, 1}, {6, 1.5, 7}, {8, 3.5, 1},
       {{0, 1, -1}}, {0}, {"a - b > -0.5"}, {}},
      {"a = b, a > b", {{0, 1}, {2}, {3}}, {2, 1.5, 1}, {3, 1.5, 1}, {6, 1.5, 7}, {8, 3.5, 1}, {}, {}, {}, {"a > b"}},
  };
  for (const ShapeCase& c : cases) {
    const CollapsedHypothesis collapsed = collapse(c.hypothesis, items);
    ASSERT_TRUE(collapsed.ok) << c.hypothesis << ": " << collapsed.error.message;
    EXPECT_EQ(collapsed.groups, c.groups) << c.hypothesis;
    EXPECT_EQ(collapsed.prior_a, c.prior_a) << c.hypothesis;
    EXPECT_EQ(collapsed.prior_b, c.prior_b) << c.hypothesis;
    EXPECT_EQ(collapsed.posterior_a, c.posterior_a) << c.hypothesis;
    EXPECT_EQ(collapsed.posterior_b, c.posterior_b) << c.hypothesis;
    std::vector<std::vector<double>> coefficients;
    std::vector<double> constants;
    for (const Restriction& r : collapsed.restrictions) {
      coefficients.push_back(r.coefficients);
      constants.push_back(r.constant);
    }
    EXPECT_EQ(coefficients, c.coefficients) << c.hypothesis;
    EXPECT_EQ(constants, c.constants) << c.hypothesis;
    EXPECT_EQ(collapsed.dropped, c.dropped) << c.hypothesis;
    EXPECT_EQ(collapsed.impossible, c.impossible) << c.hypothesis;
  }
}

TEST(Equalities, RefusesImproperPriorsAndTwoPointValues) {
  const std::vector<Item> items = items_of({{0.4, 1, 3, 5}, {0.5, 3, 1, 4}, {1, 1, 0, 2}});
  const struct {
    std::string hypothesis;
    std::size_t offset;
    std::string message;
  } cases[] = {
      {"c > 0.1; a = b", 9,
       "the items a, b, tied by equalities, have the prior Beta(-0.1, 3) given their equality (the sums of their "
       "prior shapes less 1), which is not a proper prior; tie fewer items or give them larger prior shapes"},
      {"a = 0.5, b = c, c = 0.25, a = b", 16,
       "'c = 0.25' ties to 0.25 items already tied to 0.5; a proportion has one value"},
  };
  for (const auto& c : cases) {
    const CollapsedHypothesis collapsed = collapse(c.hypothesis, items);
    ASSERT_FALSE(collapsed.ok) << c.hypothesis;
    EXPECT_EQ(collapsed.error.offset, c.offset) << c.hypothesis;
    EXPECT_EQ(collapsed.error.message, c.message) << c.hypothesis;
  }
}

// The null a = b = c under both priors of tied items: the common prior Beta(a, b) gives
// lnB(a + K, b + N - K) - lnB(a, b) - sum_i [lnB(a + k_i, b + n_i - k_i) - lnB(a, b)]; the
// conditional one puts Beta(sum a - 2, sum b - 2) in place of the group's Beta(a, b).
// Uniform priors: the two agree. Jeffreys priors: conditional refused (Beta(-0.5,
// -0.5)), common accepted. Items of different priors: common refused.
TEST(Equalities, TiedPriorConditionalOrCommon) {
  const struct {
    double a, b;
    TiedPrior prior;
    double group_a, group_b;
    double log_factor;  // 40 digits, rounded
  } cases[] = {
      {1, 1, TiedPrior::Conditional, 1, 1, -0.6391975707567814425439739897188258444841},
      {1, 1, TiedPrior::Common, 1, 1, -0.6391975707567814425439739897188258444841},
      {0.5, 0.5, TiedPrior::Common, 0.5, 0.5, -0.5283055537877631342837433665439599309417},
      {2, 2, TiedPrior::Conditional, 4, 4, -0.3156529795255812810542670193940392754412},
      {2, 2, TiedPrior::Common, 2, 2, -0.6250660680327883673540548158285051978221},
  };
  for (const auto& c : cases) {
    const std::vector<Item> items = items_of({{c.a, c.b, 5, 10}, {c.a, c.b, 8, 12}, {c.a, c.b, 0, 3}});
    const CollapsedHypothesis collapsed = collapse("a = b = c", items, c.prior);
    ASSERT_TRUE(collapsed.ok) << c.a << ": " << collapsed.error.message;
    EXPECT_NEAR(collapsed.log_factor, c.log_factor, 1e-12) << c.a;
    EXPECT_EQ(collapsed.prior_a, std::vector<double>{c.group_a}) << c.a;
    EXPECT_EQ(collapsed.prior_b, std::vector<double>{c.group_b}) << c.a;
    EXPECT_EQ(collapsed.posterior_a, std::vector<double>{c.group_a + 13}) << c.a;
    EXPECT_EQ(collapsed.posterior_b, std::vector<double>{c.group_b + 12}) << c.a;
  }
  const std::vector<Item> jeffreys = items_of({{0.5, 0.5, 5, 10}, {0.5, 0.5, 8, 12}, {0.5, 0.5, 0, 3}});
  EXPECT_FALSE(collapse("a = b = c", jeffreys).ok);
  const std::vector<Item> mixed = items_of({{1, 1, 5, 10}, {1, 1, 8, 12}, {2, 1, 0, 3}, {3, 3, 1, 2}});
  const CollapsedHypothesis refused = collapse("d > 0.1; a = b = c", mixed, TiedPrior::Common);
  ASSERT_FALSE(refused.ok);
  EXPECT_EQ(refused.error.offset, 9u);
  EXPECT_EQ(refused.error.message,
            "the items a, b, c, tied by equalities, do not share one prior (a has Beta(1, 1), c Beta(2, 1)), so "
            "tied_prior = \"common\" cannot give the group their common prior; give them the same prior or use "
            "tied_prior = \"conditional\"");
  // Untied items of other priors do not matter.
  EXPECT_TRUE(collapse("a = b; c > d", mixed, TiedPrior::Common).ok);
}

}  // namespace
}  // namespace propbf::evaluate
