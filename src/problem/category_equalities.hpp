// Equalities on the categories of items of more than two categories (multinomial counts,
// Dirichlet priors), in closed form.
//
// Of one item x with K categories, concentrations alpha and counts k (N in all), an
// equality may tie categories to each other (x[1] = x[2], x[1] = x[2] = x[3]) or to
// point values (x[1] = 0.2, x[1] = x[2] = 0.25). With D(.) the multivariate beta
// function, ln D(a) = sum_c lnGamma(a_c) - lnGamma(sum_c a_c):
//
// Points. The categories P held at values p (their sum s), R the others. By aggregation
// (theta_P, sum_R theta) is Dirichlet(alpha_P, A_R), A_R = sum_R alpha_c, and the factor is
// the ratio of posterior to prior density at the point (Savage-Dickey):
//   sum_P k_c ln p_c + K_R ln(1 - s) - [ln D(alpha_P + k_P, A_R + K_R) - ln D(alpha_P, A_R)]
// (with R empty the last term's A_R and K_R are left out and s must be 1; 0 ln 0 = 0).
// With R not empty s must be below 1.
//
// Ties. Given the points, theta_R = (1 - s) phi with phi ~ Dirichlet(alpha_R), a
// posteriori Dirichlet(alpha_R + k_R), whatever the points. Categories T of R tied to each
// other (m of them, K_T their counts) share phi_c = u / m; conditioned on the tie the
// prior of phi is Dirichlet(alpha') with T merged into one category of concentration
// sum_T alpha_c - (m - 1) (TiedPrior::Conditional; Common is refused: the tied share lies
// in [0, 1/m], where no category's own prior lives), and the likelihood is m^-K_T u^K_T:
//   sum_T [-K_T ln m] + ln D(alpha' + k') - ln D(alpha') - [ln D(alpha_R + k_R) - ln D(alpha_R)].
// All categories tied (m = K) is the point 1/K of every category.
//
// What is left of the item is phi' ~ Dirichlet(alpha' + k') over the merged categories:
// none or one (the item is held at its values) or two, one free proportion w (the first
// merged category's), which the chains draw as a beta (Beta(alpha'_1, alpha'_2) a priori);
// every category is then offset + scale w. Inequalities on the item act on w. Three or
// more, with no restriction on the item: each merged category with a parameter is a
// coordinate of its own with its exact beta marginal, every category (1 - s) / m_g times
// it (scale), and CollapsedHypothesis::merged keeps phi' for the exact draws. Three or
// more under a restriction on the item: phi' is drawn on its simplex (keep_coupled,
// CollapsedHypothesis::coupled), the merged category holding the last category left
// over as the remainder.
//
// Aggregation. A category c of x tied to another item (x[1] = y, x[1] = 1 - z,
// x[1] = y[2]), in a hypothesis that names no other category of x: x is, for it, the
// binomial of theta_c against the rest, Beta(alpha_c, A - alpha_c) (A = sum alpha) with k_c
// successes of N; the rest's share phi = theta_R / (1 - theta_c) ~ Dirichlet(alpha_R),
// a posteriori Dirichlet(alpha_R + k_R), is independent of theta_c and cancels from every
// factor. Its ties, complements, points and inequalities are collapse_equalities' on that
// binomial item (CollapsedHypothesis::aggregated says how to read the other categories).
//
// Refused, each with the equality's place and the reason: a category tied to another
// item beside a second
// category of that item named anywhere in the hypothesis (its other categories would be
// products of two proportions), a merged concentration below the smallest shape, points
// that do not sum to 1 or leave the others nothing.
#pragma once

#include <vector>

#include "problem/equalities.hpp"
#include "problem/language.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// Whether an equality of `parsed` names a category of an item of more than two categories.
bool ties_categories(const ParsedHypothesis& parsed);

// ln D(alpha) = sum lnGamma(alpha_c) - lnGamma(sum alpha_c), alpha_c > 0.
long double log_dirichlet(const std::vector<long double>& alpha);

// The collapse of a hypothesis whose equalities tie categories of larger items (and
// perhaps items of two categories, as collapse_equalities does), over the parameters of
// `items` (parameter_space): the free groups list parameters; a parameter of an item whose
// categories are tied is offset + scale times its group's proportion (CollapsedHypothesis
// offset and scale) or held at its value (item_value); the items a restriction names are
// coupled on their simplexes (couple_items).
CollapsedHypothesis collapse_category_equalities(const ParsedHypothesis& parsed, const std::vector<Item>& items,
                                                 TiedPrior tied_prior);

// Couples on its simplex each item of more than two categories whose categories no
// equality ties and that a restriction of `parsed` names (its parameters free groups of
// one in `collapsed`, a collapse over `items`' parameters): their groups take the
// conditional shapes Beta(alpha_c, alpha_K) plus counts, and CollapsedHypothesis::coupled
// lists the item. Without such an item, `collapsed` is left as it is; where an item's
// parameters are not free groups of one in order (which no collapse makes), ok is set
// false with the reason.
void couple_items(CollapsedHypothesis& collapsed, const ParsedHypothesis& parsed, const std::vector<Item>& items);

}  // namespace propbf::evaluate
