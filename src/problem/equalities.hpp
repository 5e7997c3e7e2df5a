// Equalities collapse the items they tie into one proportion per group: a hypothesis with
// equalities is its inequalities on the groups, times a closed-form factor.
//
// Items tied by equalities (directly or through others) form a group. A group of m items
// with priors Beta(a_i, b_i) has the unconstrained prior conditioned on the items being
// equal, Beta(sum a_i - (m - 1), sum b_i - (m - 1)) (a proper prior only when both shapes
// are positive), or by choice (TiedPrior::Common) the prior Beta(a, b) its items share, and the posterior adds the pooled counts K = sum k_i, N = sum n_i. A
// group tied to a point value p0 is fixed there. Items tied to nothing are groups of one.
//
// The factor of the equalities against the unconstrained hypothesis, in logs (the
// binomial coefficients cancel), per group of more than one item
//   lnB(A + K, B + N - K) - lnB(A, B) - sum_i [lnB(a_i + k_i, b_i + n_i - k_i) - lnB(a_i, b_i)]
// and per group fixed at p0 (the ratio of posterior to prior density at p0, joint over
// its items)
//   K ln p0 + (N - K) ln(1 - p0) - sum_i [lnB(a_i + k_i, b_i + n_i - k_i) - lnB(a_i, b_i)]
// with 0 ln 0 = 0.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "problem/language.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// An item of more than two categories of which a hypothesis names one category c, tied
// to another item (category_equalities.hpp, aggregation): theta_c is its free group's
// proportion (1 minus it with `complement`), or held at `value` where the group is fixed;
// every other category r is (1 - theta_c) phi_r, with phi over the other categories
// Dirichlet(rest_prior) a priori and Dirichlet(rest_posterior) a posteriori, independent
// of theta_c (no chain draws phi).
struct AggregatedItem {
  std::size_t item = 0;
  std::size_t category = 0;
  std::optional<std::size_t> group;  // among the free groups; none: held at `value`
  bool complement = false;
  double value = 0.0;
  std::vector<double> rest_prior;      // alpha_r, r != c in category order
  std::vector<double> rest_posterior;  // alpha_r + k_r
};

// What is left of an item of K categories whose equalities leave K' >= 3 merged categories
// (tied categories merged, points held): phi' ~ Dirichlet(alpha' + k') a posteriori, and
// category c of merged category g is share_c phi'_g, share_c = (1 - s) / m_g.
struct MergedDirichlet {
  static constexpr std::size_t kHeld = static_cast<std::size_t>(-1);
  // Per merged category, in order of their first category: its marginal posterior
  // Beta(posterior_a, posterior_b) = Beta(alpha'_g + k'_g, (A' - alpha'_g) + (K' - k'_g)),
  // the shapes its coordinate has in the collapse.
  std::vector<double> posterior_a, posterior_b;
  std::vector<double> prior;           // per merged category alpha'_g
  std::vector<std::size_t> merged_of;  // per category (all K) its merged category, kHeld for a point
  std::vector<double> share;           // per category (1 - s) / m_g (its point value where held)
  bool empty() const { return merged_of.empty(); }
};

// An item of more than two categories that a restriction names, in a hypothesis with
// equalities: its free categories (or, with its categories tied, its free merged
// categories) are the coordinates [begin, end) of the free groups, drawn on their simplex
// with the conditional shapes Beta(alpha_g, alpha_last) plus counts, alpha_last that of
// the category left over (its last, or the merged category holding its last). The left
// over category is the remainder, 1 minus their sum: the item's last category is
// last_offset + last_scale times it, and a parameter marked in
// CollapsedHypothesis::remainder_of is scale times it.
struct CoupledItem {
  std::size_t item = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
  double last_offset = 0.0;
  double last_scale = 1.0;
};

struct CollapsedHypothesis {
  // The groups that remain free, ordered by their first item; each lists its items.
  std::vector<std::vector<std::size_t>> groups;
  std::vector<std::optional<double>> item_value;  // per item: the point value its group is fixed at
  // Per item: tied to a complement, its proportion is 1 minus its group's (its successes
  // and failures, and its prior shapes, exchanged in the group's pooled counts and prior).
  std::vector<bool> complement;
  std::vector<double> prior_a, prior_b, posterior_a, posterior_b;  // per free group
  // The restrictions on the free groups (coefficients of tied items summed, fixed
  // groups' values moved into the constant), in the order written, without those whose
  // coefficients all vanish and that always hold (listed in `dropped`).
  std::vector<Restriction> restrictions;
  std::vector<std::string> dropped;
  // The texts of the restrictions whose coefficients all vanish and that cannot hold
  // (the hypothesis has no interior point); the others are still collapsed.
  std::vector<std::string> impossible;
  // With ties on categories of larger items (category_equalities.hpp), per parameter: its
  // value is offset + scale times its group's proportion (scale 0 where item_value holds
  // it); empty otherwise (a parameter is its group's proportion or its complement).
  std::vector<double> offset;
  std::vector<double> scale;
  // Per item: whether equalities tie its categories (offset and scale then describe it).
  std::vector<bool> reduced_item;
  std::vector<std::size_t> item_first;  // per item its first parameter; item_first[items] = parameters
  // The aggregated items, in item order (also marked in reduced_item; a parameter of one
  // other than of its category c is in no group, with offset and scale 0); empty for every
  // hypothesis without such a tie.
  std::vector<AggregatedItem> aggregated;
  // Per item whose equalities leave three or more merged categories free and which no
  // restriction names (category_equalities.hpp): the merged categories' Dirichlet, drawn
  // exactly; empty for the other items (and without ties on categories).
  std::vector<MergedDirichlet> merged;
  // The items whose coordinates are coupled on a simplex, in item order; empty for every
  // hypothesis without such an item (its free groups are then drawn apart).
  std::vector<CoupledItem> coupled;
  // With coupled items, per parameter: the index in `coupled` of the item whose remainder
  // holds it (its value scale times the remainder), kNoRemainder for the others.
  static constexpr std::size_t kNoRemainder = static_cast<std::size_t>(-1);
  std::vector<std::size_t> remainder_of;
  double log_factor = 0.0;  // of the equalities against the unconstrained hypothesis
  bool ok = false;
  LanguageError error;  // when !ok: a group prior that is not proper (or beyond the shape
                        // limits), or two point values in one group
};

// Item `item`'s entry in `coupled`, or null where it is not coupled.
const CoupledItem* find_coupled(const std::vector<CoupledItem>& coupled, std::size_t item);

// Whether item j of `items`, of three or more categories, is one that no equality ties and
// no restriction names: its parameters are free groups of one in no restriction, each
// drawn apart from its marginal beta, so what needs the item's Dirichlet draws it anew.
bool drawn_apart(const CollapsedHypothesis& collapsed, const std::vector<Item>& items, std::size_t j);

// `parsed` must be a parsed hypothesis (ok) over `items`. With TiedPrior::Common a group
// of more than one item gets the prior its items share, Beta(a, b), in place of the
// conditioned one (A = a, B = b in the factor above); items of different priors in one
// group are then refused (ok false, with the reason).
CollapsedHypothesis collapse_equalities(const ParsedHypothesis& parsed, const std::vector<Item>& items,
                                        TiedPrior tied_prior = TiedPrior::Conditional);

// ln B(a, b), a, b > 0, from long double log-gamma functions: for shapes of 10^6 the
// absolute error is about 10^-12, so differences of such terms keep their digits.
long double log_beta(long double a, long double b);

// Per parameter its value given the free groups' values: its group's, 1 minus it (tied to
// a complement), or offset + scale times it (tied categories of a larger item); a point
// value where one holds it. The other categories of an aggregated item take (1 - theta_c)
// times their prior mean share, alpha_r / sum of rest_prior.
std::vector<double> spread_groups(const CollapsedHypothesis& collapsed, const std::vector<double>& groups);

}  // namespace propbf::evaluate
