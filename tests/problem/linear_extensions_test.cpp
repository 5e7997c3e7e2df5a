// Exact complexities of partial orders: counts of linear extensions against every
// permutation, the closed forms of orderings, and which hypotheses qualify.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "problem/linear_extensions.hpp"

namespace propbf::evaluate {
namespace {

using Pairs = std::vector<std::pair<std::size_t, std::size_t>>;

// The literal count: every permutation of the items, counted when each pair's greater
// item comes after its smaller one.
std::int64_t brute_force_extensions(std::size_t items, const Pairs& greater) {
  std::vector<std::size_t> order(items);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::int64_t count = 0;
  do {
    std::vector<std::size_t> place(items);
    for (std::size_t p = 0; p < items; ++p) place[order[p]] = p;
    bool holds = true;
    for (const auto& [high, low] : greater) holds = holds && place[high] > place[low];
    count += holds ? 1 : 0;
  } while (std::next_permutation(order.begin(), order.end()));
  return count;
}

double factorial(std::size_t k) {
  double f = 1.0;
  for (std::size_t i = 2; i <= k; ++i) f *= static_cast<double>(i);
  return f;
}

TEST(LinearExtensions, RandomOrdersAgreeWithEveryPermutation) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 generator(seed);
    for (std::size_t items = 1; items <= 7; ++items) {
      for (int density = 0; density <= 4; ++density) {
        // A random acyclic relation: i > j only for i > j in a hidden order.
        Pairs pairs;
        std::bernoulli_distribution edge(density / 4.0 * 0.6);
        std::vector<std::size_t> hidden(items);
        std::iota(hidden.begin(), hidden.end(), std::size_t{0});
        std::shuffle(hidden.begin(), hidden.end(), generator);
        for (std::size_t i = 0; i < items; ++i) {
          for (std::size_t j = 0; j < i; ++j) {
            if (edge(generator)) pairs.emplace_back(hidden[i], hidden[j]);
          }
        }
        const std::optional<double> share = ordering_probability(items, pairs);
        ASSERT_TRUE(share.has_value());
        const double expected = static_cast<double>(brute_force_extensions(items, pairs)) / factorial(items);
        EXPECT_NEAR(*share, expected, 1e-14 * expected)
            << "seed " << seed << ", " << items << " items, " << pairs.size() << " pairs";
      }
    }
  }
}

TEST(LinearExtensions, ClosedForms) {
  // An ordering of 20 items: 1 / 20!.
  Pairs chain;
  for (std::size_t i = 1; i < 20; ++i) chain.emplace_back(i - 1, i);
  EXPECT_NEAR(*ordering_probability(20, chain), 1.0 / factorial(20), 1e-13 / factorial(20));
  // a > b, a > c: 2 of 3! orderings.
  EXPECT_NEAR(*ordering_probability(3, {{0, 1}, {0, 2}}), 1.0 / 3.0, 1e-16);
  // An antichain of 18 items has 2^18 downsets: the most allowed.
  EXPECT_EQ(*ordering_probability(18, {}), 1.0);
  EXPECT_FALSE(ordering_probability(19, {}).has_value());
  EXPECT_FALSE(ordering_probability(65, {}).has_value());
  // A 60-item ordering has only 61 downsets.
  Pairs long_chain;
  for (std::size_t i = 1; i < 60; ++i) long_chain.emplace_back(i, i - 1);
  EXPECT_NEAR(*ordering_probability(60, long_chain), 1.0 / factorial(60), 1e-12 / factorial(60));
  // A cycle cannot hold.
  EXPECT_EQ(*ordering_probability(3, {{0, 1}, {1, 2}, {2, 0}}), 0.0);
}

Restriction restriction(std::vector<double> coefficients, double constant = 0.0) {
  return {std::move(coefficients), constant, ""};
}

TEST(LinearExtensions, WhichHypothesesAreExact) {
  const std::vector<double> ones(4, 1.0);
  struct Case {
    const char* what;
    std::vector<Restriction> restrictions;
    std::vector<double> prior_a;
    std::optional<double> complexity;
  };
  const std::vector<Case> cases{
      {"a > b > c", {restriction({1, -1, 0, 0}), restriction({0, 1, -1, 0})}, ones, 1.0 / 6.0},
      {"2a > 2b; d > c", {restriction({2, -2, 0, 0}), restriction({0, 0, -1, 1})}, ones, 0.25},
      {"a > b twice", {restriction({1, -1, 0, 0}), restriction({1, -1, 0, 0})}, ones, 0.5},
      {"a > b with other priors on c, d", {restriction({1, -1, 0, 0})}, {1, 1, 2, 3}, 0.5},
      {"a > b, different priors", {restriction({1, -1, 0, 0})}, {1, 2, 1, 1}, std::nullopt},
      {"a > b + 0.1", {restriction({1, -1, 0, 0}, 0.1)}, ones, std::nullopt},
      {"a > 2b", {restriction({1, -2, 0, 0})}, ones, std::nullopt},
      {"a + b > c", {restriction({1, 1, -1, 0})}, ones, std::nullopt},
      {"a > 0.5", {restriction({1, 0, 0, 0}, 0.5)}, ones, std::nullopt},
      {"a > b; c > 0.5", {restriction({1, -1, 0, 0}), restriction({0, 0, 1, 0}, 0.5)}, ones, std::nullopt},
      {"nothing", {}, ones, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<double> found = exact_order_complexity(c.restrictions, c.prior_a, ones);
    ASSERT_EQ(found.has_value(), c.complexity.has_value()) << c.what;
    if (found) {
      EXPECT_NEAR(*found, *c.complexity, 1e-16) << c.what;
    }
  }
  // The second shape counts too.
  EXPECT_FALSE(exact_order_complexity({restriction({1, -1, 0, 0})}, ones, {1, 0.5, 1, 1}).has_value());
}

}  // namespace
}  // namespace propbf::evaluate
