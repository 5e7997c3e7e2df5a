#include "problem/category_equalities.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "messages/messages.hpp"
#include "problem/categories.hpp"

namespace propbf::evaluate {
namespace {

// k ln p with 0 ln 0 = 0.
long double times_log(long double k, long double p) { return k == 0.0L ? 0.0L : k * std::log(p); }

// What one item's tied categories make of it.
struct ItemReduction {
  long double log_factor = 0.0L;
  // Per category: its value offset + scale w (scale 0: held at offset).
  std::vector<double> offset, scale;
  bool free = false;  // a proportion w is left
  double prior_a = 1.0, prior_b = 1.0;
  std::int64_t successes = 0, trials = 0;
  std::size_t first_free = 0;  // the first category of w's merged category
  // Three or more merged categories and no restriction on the item: their Dirichlet,
  // exact (keep_merged_dirichlet); empty otherwise.
  MergedDirichlet merged;
  std::vector<double> merged_prior_a, merged_prior_b;  // per merged category, Beta(alpha'_g, A' - alpha'_g)
  std::vector<std::int64_t> merged_counts;             // per merged category k'_g
  std::int64_t merged_trials = 0;                      // K'
  // Three or more merged categories under a restriction on the item: coupled on their
  // simplex (keep_coupled). Per merged category drawn (all but the one left over), its
  // categories and its conditional shapes; per category whether the left over one holds it.
  bool coupled = false;
  std::vector<std::vector<std::size_t>> coupled_members;
  std::vector<double> coupled_prior_a, coupled_prior_b;
  std::vector<std::int64_t> coupled_successes, coupled_trials;
  std::vector<bool> remainder;
};

struct Refusal {
  LanguageError error;
};

[[noreturn]] void refuse(std::size_t offset, std::string message) { throw Refusal{{offset, std::move(message)}}; }

// What is left of an item whose equalities leave three or more merged categories (`merged`,
// each its first category; members per first category) and that no restriction names:
// phi' ~ Dirichlet(alpha' + k'), category c of merged category g is (1 - s) / m_g phi'_g.
// Each merged category becomes a coordinate of its own with the beta marginal
// Beta(alpha'_g + k'_g, (A' - alpha'_g) + (K' - k'_g)) (exact estimates of every
// category); the draws of the posterior take the coupled phi' from `merged`.
void keep_merged_dirichlet(ItemReduction& result, const std::vector<std::size_t>& merged,
                           const std::vector<std::vector<std::size_t>>& members, const std::vector<long double>& alpha_m,
                           const std::vector<std::int64_t>& counts_m, double share) {
  long double prior_sum = 0.0L;
  std::int64_t trials = 0;
  for (std::size_t g = 0; g < merged.size(); ++g) {
    prior_sum += alpha_m[g];
    trials += counts_m[g];
  }
  MergedDirichlet& d = result.merged;
  d.merged_of.assign(result.offset.size(), MergedDirichlet::kHeld);
  d.share = result.offset;  // the points where held
  for (std::size_t g = 0; g < merged.size(); ++g) {
    const std::vector<std::size_t>& group = members[merged[g]];
    const double each = share / static_cast<double>(group.size());
    for (std::size_t c : group) {
      d.merged_of[c] = g;
      d.share[c] = each;
      result.scale[c] = each;
    }
    const auto prior_a = static_cast<double>(alpha_m[g]);
    const auto prior_b = static_cast<double>(prior_sum - alpha_m[g]);
    d.prior.push_back(prior_a);
    result.merged_prior_a.push_back(prior_a);
    result.merged_prior_b.push_back(prior_b);
    result.merged_counts.push_back(counts_m[g]);
    // As collapse_equalities gives a group of one item its posterior.
    d.posterior_a.push_back(prior_a + static_cast<double>(counts_m[g]));
    d.posterior_b.push_back(prior_b + static_cast<double>(trials - counts_m[g]));
  }
  result.merged_trials = trials;
}

// What is left of an item whose equalities leave three or more merged categories (as for
// keep_merged_dirichlet) under a restriction on it: phi' ~ Dirichlet(alpha' + k') on its
// simplex, drawn by the chains. The merged category holding the last category (or, with
// that held at a point, the last merged category) is left over, 1 minus the others; each
// other merged category g is a coordinate with the conditional shapes
// Beta(alpha'_g, alpha'_left) a priori and Beta(alpha'_g + k'_g, alpha'_left + k'_left) a
// posteriori, and category c of merged category g is (1 - s) / m_g times its coordinate
// (or times the remainder).
void keep_coupled(ItemReduction& result, const std::vector<std::size_t>& merged,
                  const std::vector<std::vector<std::size_t>>& members, const std::vector<long double>& alpha_m,
                  const std::vector<std::int64_t>& counts_m, double share) {
  const std::size_t last = result.offset.size() - 1;
  std::size_t left = merged.size() - 1;
  for (std::size_t g = 0; g < merged.size(); ++g) {
    const std::vector<std::size_t>& group = members[merged[g]];
    if (std::find(group.begin(), group.end(), last) != group.end()) left = g;
  }
  result.coupled = true;
  result.remainder.assign(result.offset.size(), false);
  for (std::size_t g = 0; g < merged.size(); ++g) {
    const std::vector<std::size_t>& group = members[merged[g]];
    const double each = share / static_cast<double>(group.size());
    for (std::size_t c : group) {
      result.scale[c] = each;
      if (g == left) result.remainder[c] = true;
    }
    if (g == left) continue;
    result.coupled_members.push_back(group);
    result.coupled_prior_a.push_back(static_cast<double>(alpha_m[g]));
    result.coupled_prior_b.push_back(static_cast<double>(alpha_m[left]));
    result.coupled_successes.push_back(counts_m[g]);
    result.coupled_trials.push_back(counts_m[g] + counts_m[left]);
  }
}

// Item j's categories under the equalities `ties` (those naming two of its categories) and
// `points` (those naming one and a value).
ItemReduction reduce_item(const Item& item, const std::vector<const Equality*>& ties,
                          const std::vector<const Equality*>& points, TiedPrior tied_prior, bool restricted) {
  const std::size_t count = item.counts.size();
  const std::string who = "item '" + item.name + "'";
  std::vector<std::size_t> parent(count);
  for (std::size_t c = 0; c < count; ++c) parent[c] = c;
  auto find = [&](std::size_t c) {
    while (parent[c] != c) c = parent[c] = parent[parent[c]];
    return c;
  };
  for (const Equality* tie : ties) {
    const std::size_t x = find(tie->category->category);
    const std::size_t y = find(tie->other_category->category);
    if (x != y) parent[std::max(x, y)] = std::min(x, y);  // the root is the first category
  }
  // Point values per group, the first one written; a different second one is refused.
  std::vector<std::optional<double>> value(count);
  std::vector<std::size_t> where(count, 0);
  for (const Equality* point : points) {
    std::optional<double>& at = value[find(point->category->category)];
    if (at && *at != point->value) {
      refuse(point->offset, "'" + point->text + "' ties to " + shortest_text(point->value) +
                                " categories of " + who + " already tied to " + shortest_text(*at) +
                                "; a proportion has one value");
    }
    at = point->value;
  }
  for (const Equality* e : ties) where[find(e->category->category)] = e->offset;
  for (const Equality* e : points) where[find(e->category->category)] = e->offset;
  std::vector<std::vector<std::size_t>> members(count);
  for (std::size_t c = 0; c < count; ++c) members[find(c)].push_back(c);
  ItemReduction result;
  result.offset.assign(count, 0.0);
  result.scale.assign(count, 0.0);
  // All categories in one group of no point: each is 1/K.
  if (members[0].size() == count && !value[0]) value[0] = 1.0 / static_cast<double>(count);
  long double held = 0.0L;  // s, the sum of the points
  std::size_t rest = 0;     // categories in R
  std::size_t any_point = 0;
  for (std::size_t c = 0; c < count; ++c) {
    if (value[find(c)]) {
      held += static_cast<long double>(*value[find(c)]);
      ++any_point;
    } else {
      ++rest;
    }
  }
  const std::size_t first_place = ties.empty() ? points.front()->offset : ties.front()->offset;
  if (any_point > 0) {
    const std::size_t place = points.empty() ? first_place : points.front()->offset;
    if (rest == 0 && std::fabs(held - 1.0L) > 1e-12L) {
      refuse(place, "the points of " + who + " give all its categories values that sum to " +
                        shortest_text(static_cast<double>(held)) + ", not 1");
    }
    if (rest > 0 && held >= 1.0L) {
      refuse(place, "the points of " + who + " sum to " + shortest_text(static_cast<double>(held)) +
                        ", which leaves its other categories nothing (a point on the border of the simplex, where "
                        "the densities of Savage-Dickey are 0 or infinite); give smaller values");
    }
    // Savage-Dickey on (theta_P, sum_R theta).
    std::vector<long double> prior, posterior;
    long double counts_rest = 0.0L, alpha_rest = 0.0L;
    long double ratio = 0.0L;
    for (std::size_t c = 0; c < count; ++c) {
      const auto k = static_cast<long double>(item.counts[c]);
      const auto alpha = static_cast<long double>(item.concentration[c]);
      if (const std::optional<double>& v = value[find(c)]) {
        ratio += times_log(k, static_cast<long double>(*v));
        prior.push_back(alpha);
        posterior.push_back(alpha + k);
        result.offset[c] = *v;
      } else {
        counts_rest += k;
        alpha_rest += alpha;
      }
    }
    if (rest > 0) {
      ratio += times_log(counts_rest, 1.0L - held);
      prior.push_back(alpha_rest);
      posterior.push_back(alpha_rest + counts_rest);
    }
    result.log_factor += ratio - (log_dirichlet(posterior) - log_dirichlet(prior));
  }
  if (rest == 0) return result;
  // The merged categories of R, in order of their first category.
  const double share = static_cast<double>(1.0L - held);
  std::vector<std::size_t> merged;
  std::vector<long double> alpha_r, posterior_r, alpha_m, posterior_m;
  std::vector<std::int64_t> counts_m;
  long double tie_terms = 0.0L;
  bool tied = false;
  for (std::size_t c = 0; c < count; ++c) {
    if (find(c) != c || value[c]) continue;
    merged.push_back(c);
    const auto m = static_cast<long double>(members[c].size());
    long double alpha = 0.0L, k = 0.0L;
    std::int64_t whole = 0;
    for (std::size_t d : members[c]) {
      whole += item.counts[d];
      alpha += static_cast<long double>(item.concentration[d]);
      k += static_cast<long double>(item.counts[d]);
      alpha_r.push_back(static_cast<long double>(item.concentration[d]));
      posterior_r.push_back(static_cast<long double>(item.concentration[d]) + static_cast<long double>(item.counts[d]));
    }
    if (members[c].size() > 1) {
      tied = true;
      if (tied_prior == TiedPrior::Common) {
        refuse(where[c], "tied_prior = \"common\" has no meaning for categories of one item (" + who +
                             "): their common proportion lies in [0, 1/" + std::to_string(members[c].size()) +
                             "], where none of their own priors lives; use tied_prior = \"conditional\"");
      }
      alpha -= m - 1.0L;
      if (!(alpha >= kMinShape && alpha <= kMaxShape)) {
        refuse(where[c], "the tied categories of " + who + " have the concentration " +
                             format_number(static_cast<double>(alpha), 6) +
                             " given their equality (the sum of theirs less " + format_number(static_cast<double>(m - 1.0L), 17) +
                             "), " + (alpha > 0.0L ? "beyond the shapes allowed" : std::string("which is not a proper prior")) +
                             "; tie fewer categories or give them larger concentrations");
      }
      tie_terms -= k * std::log(m);
    }
    alpha_m.push_back(alpha);
    posterior_m.push_back(alpha + k);
    counts_m.push_back(whole);
    if (!(alpha + k <= kMaxShape)) refuse(where[c], "the tied categories of " + who + " have a posterior shape beyond " + format_number(kMaxShape, 6));
  }
  if (tied) {
    result.log_factor += tie_terms + log_dirichlet(posterior_m) - log_dirichlet(alpha_m) -
                         (log_dirichlet(posterior_r) - log_dirichlet(alpha_r));
  }
  if (merged.size() > 2 && restricted) {
    keep_coupled(result, merged, members, alpha_m, counts_m, share);
    return result;
  }
  if (merged.size() > 2) {
    keep_merged_dirichlet(result, merged, members, alpha_m, counts_m, share);
    return result;
  }
  for (std::size_t i = 0; i < merged.size(); ++i) {
    const std::vector<std::size_t>& group = members[merged[i]];
    const double each = share / static_cast<double>(group.size());
    for (std::size_t c : group) {
      if (merged.size() == 1) {
        result.offset[c] = each;  // held: phi = 1
      } else if (i == 0) {
        result.scale[c] = each;  // each * w
      } else {
        result.offset[c] = each;  // each * (1 - w)
        result.scale[c] = -each;
      }
    }
  }
  if (merged.size() == 2) {
    result.free = true;
    result.first_free = merged[0];
    result.prior_a = static_cast<double>(alpha_m[0]);
    result.prior_b = static_cast<double>(alpha_m[1]);
    result.successes = counts_m[0];
    result.trials = counts_m[0] + counts_m[1];
  }
  return result;
}

// Whether a restriction still names a coordinate of an item coupled on its simplex
// (keep_coupled) once its categories are read from the coordinates, coefficient by
// coefficient in the order the collapse sums them: restrictions that name only its held
// or tied-away categories leave it to the exact merged Dirichlet.
bool coupled_restricted(const ItemReduction& r, const std::vector<Restriction>& restrictions, std::size_t first) {
  const std::size_t parameters = r.offset.size() - 1;
  constexpr std::size_t kNoCoordinate = static_cast<std::size_t>(-1);
  std::vector<std::size_t> coordinate(parameters, kNoCoordinate);
  for (std::size_t i = 0; i < r.coupled_members.size(); ++i) {
    for (std::size_t c : r.coupled_members[i]) {
      if (c < parameters) coordinate[c] = i;
    }
  }
  std::vector<double> sums(r.coupled_members.size());
  for (const Restriction& restriction : restrictions) {
    std::fill(sums.begin(), sums.end(), 0.0);
    for (std::size_t c = 0; c < parameters; ++c) {
      const double g = restriction.coefficients[first + c];
      if (g == 0.0) continue;
      if (r.remainder[c]) {
        for (double& sum : sums) sum -= g * r.scale[c];
      } else if (coordinate[c] != kNoCoordinate) {
        sums[coordinate[c]] += g * r.scale[c];
      }
    }
    if (std::any_of(sums.begin(), sums.end(), [](double sum) { return sum != 0.0; })) return true;
  }
  return false;
}

// Refuses an aggregation: `at` ties category c of `item` to another item, and `where`
// names another of its categories.
[[noreturn]] void refuse_second_category(const Equality& at, const Item& item, std::size_t c, const std::string& where) {
  refuse(at.offset, "'" + at.text + "' ties " + category_label(item, c) + " to another item, and " + where +
                        " names another category of item '" + item.name + "', which has " +
                        std::to_string(item.counts.size()) +
                        " categories: its other categories would then be products of two proportions, which the "
                        "chains do not sample; tie only one category of the item to other items and name no other "
                        "(the others then follow it), or write this with < and >");
}

// An item whose category c an equality ties to another item may name no other category:
// not in a tie of its own categories, a point, or a restriction. A restriction reads
// theta_c alone when its coefficients on the K categories (the last's 0, as the language
// writes it) agree on every category but c.
void check_aggregation(const Equality& at, const Item& item, std::size_t c, const std::vector<const Equality*>& ties,
                       const std::vector<const Equality*>& points, const std::vector<Restriction>& restrictions,
                       std::size_t first) {
  if (!ties.empty()) refuse_second_category(at, item, c, "'" + ties.front()->text + "'");
  for (const Equality* point : points) {
    if (point->category->category != c) refuse_second_category(at, item, c, "'" + point->text + "'");
  }
  const std::size_t count = item.counts.size();
  for (const Restriction& restriction : restrictions) {
    const auto coefficient = [&](std::size_t category) {
      return category + 1 < count ? restriction.coefficients[first + category] : 0.0;
    };
    const std::size_t other = c == 0 ? 1 : 0;  // a category but c: the others must have its coefficient
    for (std::size_t category = 0; category < count; ++category) {
      if (category == c || coefficient(category) == coefficient(other)) continue;
      refuse_second_category(at, item, c, "'" + restriction.text + "'");
    }
  }
}

// Item x seen in its category c alone: Beta(alpha_c, sum of the others') a priori, k_c of N.
Item aggregate(const Item& x, std::size_t c) {
  Item item;
  item.name = category_label(x, c);
  item.prior_a = x.concentration[c];
  item.prior_b = 0.0;
  for (std::size_t r = 0; r < x.counts.size(); ++r) {
    if (r != c) item.prior_b += x.concentration[r];
    item.trials += x.counts[r];
  }
  item.successes = x.counts[c];
  return item;
}

// Whether a restriction of `parsed` names a parameter of item j.
bool names_item(const ParsedHypothesis& parsed, const ParameterSpace& space, std::size_t j) {
  for (const Restriction& restriction : parsed.restrictions) {
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
      if (restriction.coefficients[p] != 0.0) return true;
    }
  }
  return false;
}

// The coordinates of an item kept as a merged Dirichlet (keep_merged_dirichlet): one
// pseudo item per merged category that has a parameter (the last category alone has
// none), named after its first category.
void add_merged_items(const Item& item, const ItemReduction& r, std::size_t first, std::vector<std::size_t>& pseudo_of,
                      std::vector<Item>& pseudo_items) {
  const std::size_t parameters = item.counts.size() - 1;
  for (std::size_t g = 0; g < r.merged_counts.size(); ++g) {
    std::size_t front = parameters;
    for (std::size_t c = 0; c < parameters; ++c) {
      if (r.merged.merged_of[c] != g) continue;
      if (front == parameters) front = c;
      pseudo_of[first + c] = pseudo_items.size();
    }
    if (front == parameters) continue;
    Item merged;
    merged.name = category_label(item, front);
    merged.prior_a = r.merged_prior_a[g];
    merged.prior_b = r.merged_prior_b[g];
    merged.successes = r.merged_counts[g];
    merged.trials = r.merged_trials;
    pseudo_items.push_back(std::move(merged));
  }
}

}  // namespace

bool ties_categories(const ParsedHypothesis& parsed) {
  for (const Equality& equality : parsed.equalities) {
    if (equality.category || equality.other_category) return true;
  }
  return false;
}

long double log_dirichlet(const std::vector<long double>& alpha) {
  long double sum = 0.0L, terms = 0.0L;
  for (long double a : alpha) {
    terms += std::lgamma(a);
    sum += a;
  }
  return terms - std::lgamma(sum);
}

CollapsedHypothesis collapse_category_equalities(const ParsedHypothesis& parsed, const std::vector<Item>& items,
                                                 TiedPrior tied_prior) {
  CollapsedHypothesis result;
  const ParameterSpace space = parameter_space(items);
  const std::size_t parameters = space.parameters.size();
  std::vector<std::vector<const Equality*>> ties(items.size()), points(items.size());
  ParsedHypothesis pseudo;  // over the items the collapse of two categories reads
  pseudo.ok = true;
  std::vector<ItemReduction> reductions(items.size());
  std::vector<bool> reduced(items.size(), false);
  // Per item the category an equality ties to another item (aggregation), and the first
  // such equality.
  std::vector<std::optional<std::size_t>> aggregated(items.size());
  std::vector<const Equality*> aggregating(items.size(), nullptr);
  try {
    for (const Equality& equality : parsed.equalities) {
      if (!equality.category && !equality.other_category) continue;
      if (equality.category && equality.other_category && equality.category->item == equality.other_category->item) {
        ties[equality.category->item].push_back(&equality);
      } else if (equality.category && !equality.other) {
        points[equality.category->item].push_back(&equality);
      } else {
        for (const std::optional<Equality::Category>& side : {equality.category, equality.other_category}) {
          if (!side) continue;
          std::optional<std::size_t>& at = aggregated[side->item];
          if (at && *at != side->category) {
            refuse_second_category(*aggregating[side->item], items[side->item], *at,
                                   "'" + equality.text + "'");
          }
          at = side->category;
          if (aggregating[side->item] == nullptr) aggregating[side->item] = &equality;
        }
      }
    }
    for (std::size_t j = 0; j < items.size(); ++j) {
      if (!aggregated[j]) continue;
      check_aggregation(*aggregating[j], items[j], *aggregated[j], ties[j], points[j], parsed.restrictions,
                        space.first[j]);
    }
    for (std::size_t j = 0; j < items.size(); ++j) {
      if (aggregated[j] || (ties[j].empty() && points[j].empty())) continue;
      reduced[j] = true;
      reductions[j] = reduce_item(items[j], ties[j], points[j], tied_prior, names_item(parsed, space, j));
      if (reductions[j].coupled && !coupled_restricted(reductions[j], parsed.restrictions, space.first[j])) {
        reductions[j] = reduce_item(items[j], ties[j], points[j], tied_prior, false);
      }
    }
  } catch (const Refusal& refusal) {
    result.error = refusal.error;
    return result;
  }
  // The items the collapse reads: a parameter per unreduced item's parameter, one per
  // reduced item with a free proportion.
  const std::vector<Item> binomial = parameter_items(items);
  std::vector<Item> pseudo_items;
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> pseudo_of(parameters, kNone);  // parameter -> pseudo item
  std::vector<std::size_t> aggregate_of(items.size(), kNone);  // item -> pseudo item of its category c
  // Per item coupled on its simplex (keep_coupled): its pseudo items [first, second).
  std::vector<std::pair<std::size_t, std::size_t>> coupled_pseudo(items.size(), {0, 0});
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (aggregated[j]) {
      aggregate_of[j] = pseudo_items.size();
      pseudo_items.push_back(aggregate(items[j], *aggregated[j]));
      if (*aggregated[j] + 1 < items[j].counts.size()) pseudo_of[space.first[j] + *aggregated[j]] = aggregate_of[j];
      continue;
    }
    if (!reduced[j]) {
      for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
        pseudo_of[p] = pseudo_items.size();
        pseudo_items.push_back(binomial[p]);
      }
      continue;
    }
    const ItemReduction& r = reductions[j];
    if (r.coupled) {
      const std::size_t begin = pseudo_items.size();
      for (std::size_t g = 0; g < r.coupled_members.size(); ++g) {
        for (std::size_t c : r.coupled_members[g]) {
          if (c + 1 < items[j].counts.size()) pseudo_of[space.first[j] + c] = pseudo_items.size();
        }
        Item merged;
        merged.name = category_label(items[j], r.coupled_members[g].front());
        merged.prior_a = r.coupled_prior_a[g];
        merged.prior_b = r.coupled_prior_b[g];
        merged.successes = r.coupled_successes[g];
        merged.trials = r.coupled_trials[g];
        pseudo_items.push_back(std::move(merged));
      }
      coupled_pseudo[j] = {begin, pseudo_items.size()};
      continue;
    }
    if (!r.merged.empty()) {
      add_merged_items(items[j], r, space.first[j], pseudo_of, pseudo_items);
      continue;
    }
    if (!r.free) continue;
    Item item;
    item.name = category_label(items[j], r.first_free);
    item.prior_a = r.prior_a;
    item.prior_b = r.prior_b;
    item.successes = r.successes;
    item.trials = r.trials;
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
      if (r.scale[p - space.first[j]] != 0.0) pseudo_of[p] = pseudo_items.size();
    }
    pseudo_items.push_back(std::move(item));
  }
  for (const Restriction& restriction : parsed.restrictions) {
    Restriction rewritten;
    rewritten.text = restriction.text;
    rewritten.constant = restriction.constant;
    rewritten.coefficients.assign(pseudo_items.size(), 0.0);
    for (std::size_t p = 0; p < parameters; ++p) {
      const double g = restriction.coefficients[p];
      if (g == 0.0) continue;
      const std::size_t j = space.parameters[p].item;
      if (aggregated[j]) {
        if (*aggregated[j] + 1 < items[j].counts.size()) {
          rewritten.coefficients[aggregate_of[j]] += g;  // on theta_c alone (check_aggregation)
        } else if (p == space.first[j]) {
          // v (theta_1 + ... + theta_(K-1)) = v - v theta_K, v the coefficient they share.
          rewritten.coefficients[aggregate_of[j]] -= g;
          rewritten.constant -= g;
        }
        continue;
      }
      if (!reduced[j]) {
        rewritten.coefficients[pseudo_of[p]] += g;
        continue;
      }
      const std::size_t c = space.parameters[p].category;
      if (reductions[j].coupled && reductions[j].remainder[c]) {
        // scale (1 - the sum of the item's coordinates)
        const double each = reductions[j].scale[c];
        rewritten.constant -= g * each;
        for (std::size_t i = coupled_pseudo[j].first; i < coupled_pseudo[j].second; ++i) rewritten.coefficients[i] -= g * each;
        continue;
      }
      rewritten.constant -= g * reductions[j].offset[c];
      if (reductions[j].scale[c] != 0.0) rewritten.coefficients[pseudo_of[p]] += g * reductions[j].scale[c];
    }
    pseudo.restrictions.push_back(std::move(rewritten));
  }
  for (const Equality& equality : parsed.equalities) {
    // A category of an aggregated item is its pseudo item; another item keeps its own.
    const bool own = equality.category && aggregated[equality.category->item];
    const bool other = equality.other_category && aggregated[equality.other_category->item];
    if (own || other) {
      Equality moved = equality;
      moved.category.reset();
      moved.other_category.reset();
      moved.item = own ? aggregate_of[equality.category->item] : pseudo_of[equality.item];
      if (equality.other) moved.other = other ? aggregate_of[equality.other_category->item] : pseudo_of[*equality.other];
      pseudo.equalities.push_back(std::move(moved));
      continue;
    }
    if (equality.category || equality.other_category) continue;
    // A polytope's equality on a parameter of an item whose categories are tied.
    if (reduced[space.parameters[equality.item].item] ||
        (equality.other && reduced[space.parameters[*equality.other].item])) {
      result.error = {equality.offset, "'" + equality.text + "' ties a category of an item whose categories the "
                                       "hypothesis ties too; write these equalities in one form"};
      return result;
    }
    Equality moved = equality;
    moved.item = pseudo_of[equality.item];
    if (equality.other) moved.other = pseudo_of[*equality.other];
    pseudo.equalities.push_back(std::move(moved));
  }
  CollapsedHypothesis c = collapse_equalities(pseudo, pseudo_items, tied_prior);
  if (!c.ok) return c;
  // Back over the parameters.
  std::vector<std::vector<std::size_t>> members(pseudo_items.size());
  for (std::size_t p = 0; p < parameters; ++p) {
    if (pseudo_of[p] != kNone) members[pseudo_of[p]].push_back(p);
  }
  for (const std::vector<std::size_t>& group : c.groups) {
    std::vector<std::size_t> listed;
    for (std::size_t i : group) listed.insert(listed.end(), members[i].begin(), members[i].end());
    result.groups.push_back(std::move(listed));
  }
  result.item_value.resize(parameters);
  result.complement.assign(parameters, false);
  result.offset.assign(parameters, 0.0);
  result.scale.assign(parameters, 1.0);
  result.reduced_item = reduced;
  result.item_first = space.first;
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (reductions[j].merged.empty()) continue;
    result.merged.resize(items.size());
    result.merged[j] = reductions[j].merged;
  }
  for (std::size_t p = 0; p < parameters; ++p) {
    const std::size_t j = space.parameters[p].item;
    if (aggregated[j]) {
      // theta_c as its pseudo item; another category is (1 - theta_c) phi_r, in no group.
      const std::size_t i = aggregate_of[j];
      if (space.parameters[p].category != *aggregated[j]) {
        result.scale[p] = 0.0;
      } else if (c.item_value[i]) {
        result.item_value[p] = c.item_value[i];
        result.offset[p] = *c.item_value[i];
        result.scale[p] = 0.0;
      } else if (c.complement[i]) {
        result.offset[p] = 1.0;
        result.scale[p] = -1.0;
      }
      continue;
    }
    if (!reduced[j]) {
      result.item_value[p] = c.item_value[pseudo_of[p]];
      result.complement[p] = c.complement[pseudo_of[p]];
      continue;
    }
    const std::size_t category = space.parameters[p].category;
    result.offset[p] = reductions[j].offset[category];
    result.scale[p] = reductions[j].scale[category];
    if (result.scale[p] == 0.0) result.item_value[p] = result.offset[p];
  }
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (!reductions[j].coupled) continue;
    // Its pseudo items are free groups of one, in order (nothing ties them).
    CoupledItem coupled;
    coupled.item = j;
    for (std::size_t g = 0; g < c.groups.size(); ++g) {
      if (c.groups[g].front() == coupled_pseudo[j].first) coupled.begin = g;
    }
    coupled.end = coupled.begin + (coupled_pseudo[j].second - coupled_pseudo[j].first);
    // Its last category: share times the remainder, or held at its point.
    const std::size_t last = items[j].counts.size() - 1;
    const bool left_over = reductions[j].remainder[last];
    coupled.last_offset = left_over ? 0.0 : reductions[j].offset[last];
    coupled.last_scale = left_over ? reductions[j].scale[last] : 0.0;
    result.remainder_of.resize(parameters, CollapsedHypothesis::kNoRemainder);
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
      if (reductions[j].remainder[p - space.first[j]]) result.remainder_of[p] = result.coupled.size();
    }
    result.coupled.push_back(coupled);
  }
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (!aggregated[j]) continue;
    result.reduced_item[j] = true;
    const std::size_t i = aggregate_of[j];
    AggregatedItem a;
    a.item = j;
    a.category = *aggregated[j];
    for (std::size_t g = 0; g < c.groups.size(); ++g) {
      if (std::find(c.groups[g].begin(), c.groups[g].end(), i) != c.groups[g].end()) a.group = g;
    }
    a.complement = c.complement[i];
    a.value = c.item_value[i] ? *c.item_value[i] : 0.0;
    for (std::size_t r = 0; r < items[j].counts.size(); ++r) {
      if (r == a.category) continue;
      a.rest_prior.push_back(items[j].concentration[r]);
      a.rest_posterior.push_back(items[j].concentration[r] + static_cast<double>(items[j].counts[r]));
    }
    result.aggregated.push_back(std::move(a));
  }
  result.prior_a = c.prior_a;
  result.prior_b = c.prior_b;
  result.posterior_a = c.posterior_a;
  result.posterior_b = c.posterior_b;
  result.restrictions = std::move(c.restrictions);
  result.dropped = std::move(c.dropped);
  result.impossible = std::move(c.impossible);
  long double log_factor = static_cast<long double>(c.log_factor);
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (reduced[j]) log_factor += reductions[j].log_factor;
  }
  result.log_factor = static_cast<double>(log_factor);
  result.ok = true;
  couple_items(result, parsed, items);
  return result;
}

void couple_items(CollapsedHypothesis& collapsed, const ParsedHypothesis& parsed, const std::vector<Item>& items) {
  const ParameterSpace space = parameter_space(items);
  std::vector<std::size_t> group_of(space.parameters.size(), static_cast<std::size_t>(-1));
  for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
    if (collapsed.groups[g].size() == 1) group_of[collapsed.groups[g].front()] = g;
  }
  bool any = false;
  for (std::size_t j = 0; j < items.size(); ++j) {
    const bool reduced = !collapsed.reduced_item.empty() && collapsed.reduced_item[j];
    if (category_count(items[j]) < 3 || reduced || !names_item(parsed, space, j)) continue;
    // Nothing ties an untied item's categories: each is a free group of one, in order.
    CoupledItem coupled;
    coupled.item = j;
    coupled.begin = group_of[space.first[j]];
    coupled.end = coupled.begin + (space.first[j + 1] - space.first[j]);
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
      if (group_of[p] == coupled.begin + (p - space.first[j])) continue;
      collapsed.ok = false;
      collapsed.error = {0, "the categories of item '" + items[j].name + "' are tied in a way its restrictions cannot "
                            "be drawn under; write the equalities and the restrictions as separate hypotheses"};
      return;
    }
    const std::size_t last = items[j].counts.size() - 1;
    const double alpha_last = items[j].concentration[last];
    const double posterior_last = alpha_last + static_cast<double>(items[j].counts[last]);
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) {
      const std::size_t g = coupled.begin + (p - space.first[j]);
      const std::size_t c = p - space.first[j];
      collapsed.prior_a[g] = items[j].concentration[c];
      collapsed.prior_b[g] = alpha_last;
      collapsed.posterior_a[g] = items[j].concentration[c] + static_cast<double>(items[j].counts[c]);
      collapsed.posterior_b[g] = posterior_last;
    }
    collapsed.coupled.push_back(coupled);
    any = true;
  }
  if (!any) return;
  std::sort(collapsed.coupled.begin(), collapsed.coupled.end(),
            [](const CoupledItem& x, const CoupledItem& y) { return x.item < y.item; });
  // Renumber the remainders' items after the sort.
  if (!collapsed.remainder_of.empty()) {
    for (std::size_t p = 0; p < collapsed.remainder_of.size(); ++p) {
      if (collapsed.remainder_of[p] == CollapsedHypothesis::kNoRemainder) continue;
      const std::size_t item = space.parameters[p].item;
      for (std::size_t i = 0; i < collapsed.coupled.size(); ++i) {
        if (collapsed.coupled[i].item == item) collapsed.remainder_of[p] = i;
      }
    }
  }
  collapsed.remainder_of.resize(space.parameters.size(), CollapsedHypothesis::kNoRemainder);
  if (collapsed.reduced_item.empty()) collapsed.reduced_item.assign(items.size(), false);
  if (collapsed.item_first.empty()) collapsed.item_first = space.first;
}

}  // namespace propbf::evaluate
