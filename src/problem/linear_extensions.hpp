// Complexities that are known exactly: a hypothesis whose restrictions all read
// x_i > x_j (coefficients g and -g on two items, constant 0) is a partial order on its
// items; where the items of each connected block of the order have one and the same beta
// prior, every ordering of a block's values is equally likely under the prior (ties have
// probability zero), so the prior probability that the order holds is
//   product over blocks of e(block) / k!,
// e the number of linear extensions of the block's order and k its items. Blocks are
// independent: they share no item.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "problem/language.hpp"

namespace propbf::evaluate {

// The downsets a block's count may pass through, over all sizes: the dynamic programming
// below keeps one number per downset of a level and one term per way into the next (any
// order on up to 18 items stays within it; an ordering of k items has k + 1 downsets, a
// grid of 6 by 6 items 924).
inline constexpr std::size_t kMostDownsets = std::size_t{1} << 18;
// Items per block: a downset is a 64-bit set.
inline constexpr std::size_t kMostBlockItems = 64;

// e(order) / k! for a relation on items 0 ... k-1 given as pairs (greater, smaller): the
// probability that k exchangeable values (no ties) satisfy every pair. By dynamic
// programming over the downsets (sets closed under "smaller than"), level by level:
//   g(empty) = 1,  g(S) = (1 / |S|) * sum over x maximal in S of g(S \ {x}),
// g(S) = (linear extensions of S) / |S|!; the answer is g(all items). The terms of each
// g(S) are added in a fixed order (S's predecessors in increasing order of their sets,
// then x increasing). A relation with a cycle gives 0 (no downset holds every item).
// nullopt when k exceeds kMostBlockItems or the downsets exceed kMostDownsets.
std::optional<double> ordering_probability(std::size_t items, const std::vector<std::pair<std::size_t, std::size_t>>& greater);

// The complexity of `restrictions` over items with priors Beta(prior_a[j], prior_b[j]),
// exact where it is known as above: every restriction has exactly two nonzero
// coefficients g > 0 and -g and constant 0, and the items of every connected block have
// the same shapes (bit for bit); the product of the blocks' ordering_probability.
// nullopt otherwise (the complexity is then estimated), also with no restriction.
std::optional<double> exact_order_complexity(const std::vector<Restriction>& restrictions,
                                             const std::vector<double>& prior_a, const std::vector<double>& prior_b);

}  // namespace propbf::evaluate
