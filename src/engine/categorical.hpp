// What a run does differently for categorical items (problem/categories.hpp): the rows
// that keep a start point inside each item's simplex, and the estimates per category.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "problem/categories.hpp"
#include "problem/equalities.hpp"
#include "problem/language.hpp"
#include "problem/prepare.hpp"
#include "sampling/estimates.hpp"

namespace propbf::evaluate {

// Per item of more than two categories, the restriction that its free categories sum to
// less than 1 (-theta_1 - ... - theta_{K-1} > -1), for the start point's linear
// programme, after `restrictions`; none without such an item.
std::vector<Restriction> with_simplex_rows(const std::vector<Restriction>& restrictions, const std::vector<Item>& items);

// The same for a hypothesis with equalities, over its free groups: per item coupled on
// its simplex (CollapsedHypothesis::coupled), the restriction that its coordinates sum to
// less than 1.
std::vector<Restriction> with_coupled_rows(const std::vector<Restriction>& restrictions,
                                           const CollapsedHypothesis& collapsed, const std::vector<Item>& items);

// The rows of a hypothesis's start-point programme: its chains' restrictions with the
// simplex rows above (with_simplex_rows without equalities, with_coupled_rows with them),
// or nullopt where no item needs one and the chains' restrictions serve as they are.
std::optional<std::vector<Restriction>> start_point_rows(const Prepared& read, const std::vector<Item>& items);

// The exact unconstrained estimates per category: category c of a categorical item has
// the marginal Beta(alpha_c + n_c, sum of the other categories' alpha_i + n_i, in
// order); a binomial item its Beta(a + k, b + n - k), named as the item.
std::vector<ItemEstimate> unconstrained_category_estimates(const std::vector<Item>& items);

// A hypothesis's estimates per category from those per parameter (`per_parameter`,
// named as the parameters) and, per item of more than two categories, its last
// category's from the chain (`remainders`, in item order). An item of two categories
// has its last category as the complement of its first (mean 1 - m, the interval
// mirrored); an item of more that no restriction of `restrictions` (per parameter)
// involves keeps its unconstrained estimates (`unconstrained`, per category). Without a
// categorical item, `per_parameter` as it is. An item whose categories equalities tie
// (`reduced`, per item; empty: none) has its parameters' from `per_parameter` and its last
// category's from `remainders` whether or not a restriction involves it.
std::vector<ItemEstimate> category_estimates(const std::vector<Item>& items,
                                             const std::vector<ItemEstimate>& per_parameter,
                                             const std::vector<ItemEstimate>& remainders,
                                             const std::vector<Restriction>& restrictions,
                                             const std::vector<ItemEstimate>& unconstrained,
                                             const std::vector<bool>& reduced = {});

}  // namespace propbf::evaluate
