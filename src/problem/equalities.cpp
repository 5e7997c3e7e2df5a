#include "problem/equalities.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "messages/messages.hpp"
#include "problem/categories.hpp"

namespace propbf::evaluate {
namespace {

// ln of the marginal likelihood of item j's counts under its prior, without the binomial
// coefficient: lnB(a + k, b + n - k) - lnB(a, b).
long double log_evidence(const Item& item) {
  const auto a = static_cast<long double>(item.prior_a);
  const auto b = static_cast<long double>(item.prior_b);
  const auto k = static_cast<long double>(item.successes);
  const auto n = static_cast<long double>(item.trials);
  return log_beta(a + k, b + (n - k)) - log_beta(a, b);
}

// k ln p with 0 ln 0 = 0.
long double times_log(long double k, long double p) { return k == 0.0L ? 0.0L : k * std::log(p); }

}  // namespace

const CoupledItem* find_coupled(const std::vector<CoupledItem>& coupled, std::size_t item) {
  const auto found = std::find_if(coupled.begin(), coupled.end(), [&](const CoupledItem& c) { return c.item == item; });
  return found == coupled.end() ? nullptr : &*found;
}

bool drawn_apart(const CollapsedHypothesis& collapsed, const std::vector<Item>& items, std::size_t j) {
  if (category_count(items[j]) < 3) return false;
  if (!collapsed.reduced_item.empty() && collapsed.reduced_item[j]) return false;
  return find_coupled(collapsed.coupled, j) == nullptr;
}

long double log_beta(long double a, long double b) { return std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b); }

std::vector<double> spread_groups(const CollapsedHypothesis& collapsed, const std::vector<double>& groups) {
  std::vector<double> values(collapsed.item_value.size(), 0.0);
  for (std::size_t g = 0; g < collapsed.groups.size(); ++g) {
    for (std::size_t j : collapsed.groups[g]) {
      if (!collapsed.scale.empty()) {
        values[j] = collapsed.offset[j] + collapsed.scale[j] * groups[g];
      } else {
        values[j] = collapsed.complement[j] ? 1.0 - groups[g] : groups[g];
      }
    }
  }
  for (std::size_t j = 0; j < values.size(); ++j) {
    if (collapsed.item_value[j]) values[j] = *collapsed.item_value[j];
  }
  for (std::size_t p = 0; p < collapsed.remainder_of.size(); ++p) {
    if (collapsed.remainder_of[p] == CollapsedHypothesis::kNoRemainder) continue;
    const CoupledItem& item = collapsed.coupled[collapsed.remainder_of[p]];
    double sum = 0.0;
    for (std::size_t g = item.begin; g < item.end; ++g) sum += groups[g];
    values[p] = collapsed.scale[p] * (1.0 - sum);
  }
  for (const AggregatedItem& a : collapsed.aggregated) {
    double theta = a.value;
    if (a.group) theta = a.complement ? 1.0 - groups[*a.group] : groups[*a.group];
    double total = 0.0;
    for (double alpha : a.rest_prior) total += alpha;
    std::size_t r = 0;
    for (std::size_t p = collapsed.item_first[a.item]; p < collapsed.item_first[a.item + 1]; ++p) {
      const std::size_t category = p - collapsed.item_first[a.item];
      if (category == a.category) continue;
      values[p] = (1.0 - theta) * (a.rest_prior[r++] / total);
    }
  }
  return values;
}

CollapsedHypothesis collapse_equalities(const ParsedHypothesis& parsed, const std::vector<Item>& items,
                                        TiedPrior tied_prior) {
  CollapsedHypothesis result;
  const std::size_t count = items.size();
  std::vector<std::size_t> parent(count);
  // flip[j]: item j's proportion is 1 minus its parent's (a tie to a complement).
  std::vector<bool> flip(count, false);
  for (std::size_t j = 0; j < count; ++j) parent[j] = j;
  // The group's root of item j, and whether j is its complement; paths are compressed.
  auto find = [&](std::size_t j) {
    std::size_t r = j;
    bool parity = false;
    while (parent[r] != r) {
      parity = parity != flip[r];
      r = parent[r];
    }
    bool at = parity;
    for (std::size_t k = j; parent[k] != k;) {
      const std::size_t next = parent[k];
      const bool own = flip[k];
      parent[k] = r;
      flip[k] = at;
      at = at != own;
      k = next;
    }
    return std::pair{r, parity};
  };
  auto root = [&](std::vector<std::size_t>&, std::size_t j) { return find(j).first; };
  for (const Equality& equality : parsed.equalities) {
    if (!equality.other) continue;
    const auto [x, x_flipped] = find(equality.item);
    const auto [y, y_flipped] = find(*equality.other);
    // pi_x-root and pi_y-root are complements when an odd number of the four flips hold.
    const bool complement = (x_flipped != y_flipped) != (equality.complement != equality.other_complement);
    if (x == y) {
      if (complement) {
        result.error = {equality.offset, "'" + equality.text + "' ties a proportion to its own complement; write "
                                         "it as a point value, '= 0.5'"};
        return result;
      }
      continue;
    }
    const std::size_t child = std::max(x, y);
    parent[child] = std::min(x, y);  // the root is the group's first item
    flip[child] = complement;
  }
  result.complement.resize(count);
  for (std::size_t j = 0; j < count; ++j) result.complement[j] = find(j).second;
  // Point values per group (of its first item's proportion), the first one written; a
  // different second one is refused.
  std::vector<std::optional<double>> point(count);
  for (const Equality& equality : parsed.equalities) {
    if (equality.other) continue;
    const double own = equality.complement ? 1.0 - equality.value : equality.value;  // the item's proportion
    const double at_root = result.complement[equality.item] ? 1.0 - own : own;
    std::optional<double>& value = point[root(parent, equality.item)];
    if (value && *value != at_root) {
      result.error = {equality.offset, "'" + equality.text + "' ties to " + shortest_text(equality.value) +
                                           " items already tied to " + shortest_text(*value) +
                                           "; a proportion has one value"};
      return result;
    }
    value = at_root;
  }
  result.item_value.resize(count);
  for (std::size_t j = 0; j < count; ++j) {
    const std::optional<double>& value = point[root(parent, j)];
    result.item_value[j] = value && result.complement[j] ? std::optional<double>(1.0 - *value) : value;
  }
  // Free groups in order of their first item.
  std::vector<std::size_t> group_of(count, count);  // root -> index among the free groups
  std::vector<std::vector<std::size_t>> members(count);
  for (std::size_t j = 0; j < count; ++j) members[root(parent, j)].push_back(j);
  long double log_factor = 0.0L;
  for (std::size_t r = 0; r < count; ++r) {
    const std::vector<std::size_t>& group = members[r];
    if (group.empty()) continue;
    long double evidence = 0.0L;
    long double successes = 0.0L;
    long double failures = 0.0L;
    double shape_a = 0.0;
    double shape_b = 0.0;
    std::int64_t pooled_k = 0;
    std::int64_t pooled_n = 0;
    std::string names;
    for (std::size_t j : group) {
      // A complement counts its failures as the group's successes, its prior mirrored.
      const bool mirrored = result.complement[j];
      const std::int64_t k = mirrored ? items[j].trials - items[j].successes : items[j].successes;
      evidence += log_evidence(items[j]);
      successes += static_cast<long double>(k);
      failures += static_cast<long double>(items[j].trials - k);
      shape_a += mirrored ? items[j].prior_b : items[j].prior_a;
      shape_b += mirrored ? items[j].prior_a : items[j].prior_b;
      pooled_k += k;
      pooled_n += items[j].trials;
      names += (names.empty() ? "" : ", ") + items[j].name;
    }
    if (point[r]) {
      const auto p0 = static_cast<long double>(*point[r]);
      log_factor += times_log(successes, p0) + times_log(failures, 1.0L - p0) - evidence;
      continue;
    }
    const auto tied = static_cast<double>(group.size() - 1);
    shape_a -= tied;
    shape_b -= tied;
    // Where the group's first equality begins, for messages.
    const auto offset_of_group = [&] {
      for (const Equality& equality : parsed.equalities) {
        if (root(parent, equality.item) == r) return equality.offset;
      }
      return std::size_t{0};
    };
    if (tied_prior == TiedPrior::Common) {
      // The prior the items share (checked as every item's is); none shared is refused.
      const Item& first = items[group.front()];
      for (std::size_t j : group) {
        if (items[j].prior_a == first.prior_a && items[j].prior_b == first.prior_b) continue;
        result.error = {offset_of_group(), "the items " + names + ", tied by equalities, do not share one prior (" +
                                               items[group.front()].name + " has Beta(" +
                                               format_number(first.prior_a, 6) + ", " + format_number(first.prior_b, 6) +
                                               "), " + items[j].name + " Beta(" + format_number(items[j].prior_a, 6) +
                                               ", " + format_number(items[j].prior_b, 6) +
                                               ")), so tied_prior = \"common\" cannot give the group their common "
                                               "prior; give them the same prior or use tied_prior = \"conditional\""};
        return result;
      }
      shape_a = first.prior_a;
      shape_b = first.prior_b;
    }
    if (!(shape_a >= kMinShape && shape_b >= kMinShape && shape_a <= kMaxShape && shape_b <= kMaxShape)) {
      result.error = {offset_of_group(), "the items " + names + ", tied by equalities, have the prior Beta(" +
                                  format_number(shape_a, 6) + ", " + format_number(shape_b, 6) +
                                  ") given their equality (the sums of their prior shapes less " +
                                  format_number(tied, 17) + "), " +
                                  (shape_a > 0.0 && shape_b > 0.0 ? "beyond the shapes allowed, [" +
                                                                        format_number(kMinShape, 6) + ", " +
                                                                        format_number(kMaxShape, 6) + "]"
                                                                  : std::string("which is not a proper prior")) +
                                  "; tie fewer items or give them larger prior shapes"};
      return result;
    }
    const double posterior_a = shape_a + static_cast<double>(pooled_k);
    const double posterior_b = shape_b + static_cast<double>(pooled_n - pooled_k);
    if (!(posterior_a <= kMaxShape && posterior_b <= kMaxShape)) {
      result.error = {offset_of_group(), "the items " + names + ", tied by equalities, have the posterior Beta(" +
                             format_number(posterior_a, 6) + ", " + format_number(posterior_b, 6) +
                             ") given their equality, beyond the largest shape allowed, " +
                             format_number(kMaxShape, 6)};
      return result;
    }
    if (group.size() > 1) {
      log_factor += log_beta(posterior_a, posterior_b) - log_beta(shape_a, shape_b) - evidence;
    }
    group_of[r] = result.groups.size();
    result.groups.push_back(group);
    result.prior_a.push_back(shape_a);
    result.prior_b.push_back(shape_b);
    result.posterior_a.push_back(posterior_a);
    result.posterior_b.push_back(posterior_b);
  }
  result.log_factor = static_cast<double>(log_factor);
  for (const Restriction& restriction : parsed.restrictions) {
    Restriction collapsed;
    collapsed.text = restriction.text;
    collapsed.constant = restriction.constant;
    collapsed.coefficients.assign(result.groups.size(), 0.0);
    for (std::size_t j = 0; j < count; ++j) {
      const double coefficient = restriction.coefficients[j];
      if (coefficient == 0.0) continue;
      const std::size_t r = root(parent, j);
      if (point[r]) {
        collapsed.constant -= coefficient * *result.item_value[j];
      } else if (result.complement[j]) {
        // g (1 - pi) = g - g pi.
        collapsed.coefficients[group_of[r]] -= coefficient;
        collapsed.constant -= coefficient;
      } else {
        collapsed.coefficients[group_of[r]] += coefficient;
      }
    }
    bool any = false;
    for (double& coefficient : collapsed.coefficients) {
      if (coefficient == 0.0) coefficient = 0.0;
      any = any || coefficient != 0.0;
    }
    if (!any) {
      // 0 > constant everywhere or nowhere.
      (0.0 > collapsed.constant ? result.dropped : result.impossible).push_back(restriction.text);
      continue;
    }
    result.restrictions.push_back(std::move(collapsed));
  }
  result.ok = true;
  return result;
}

}  // namespace propbf::evaluate
