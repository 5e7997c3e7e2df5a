#include "engine/categorical.hpp"

#include <algorithm>

namespace propbf::evaluate {

std::vector<Restriction> with_simplex_rows(const std::vector<Restriction>& restrictions, const std::vector<Item>& items) {
  std::vector<Restriction> rows = restrictions;
  const ParameterSpace space = parameter_space(items);
  for (std::size_t j = 0; j < items.size(); ++j) {
    if (space.first[j + 1] - space.first[j] < 2) continue;
    Restriction row;
    row.coefficients.assign(space.parameters.size(), 0.0);
    for (std::size_t p = space.first[j]; p < space.first[j + 1]; ++p) row.coefficients[p] = -1.0;
    row.constant = -1.0;
    row.text = "the categories of item '" + items[j].name + "' sum to at most 1";
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<Restriction> with_coupled_rows(const std::vector<Restriction>& restrictions,
                                           const CollapsedHypothesis& collapsed, const std::vector<Item>& items) {
  std::vector<Restriction> rows = restrictions;
  for (const CoupledItem& item : collapsed.coupled) {
    Restriction row;
    row.coefficients.assign(collapsed.groups.size(), 0.0);
    for (std::size_t g = item.begin; g < item.end; ++g) row.coefficients[g] = -1.0;
    row.constant = -1.0;
    row.text = "the categories of item '" + items[item.item].name + "' sum to at most 1";
    rows.push_back(std::move(row));
  }
  return rows;
}

std::optional<std::vector<Restriction>> start_point_rows(const Prepared& read, const std::vector<Item>& items) {
  const std::vector<Restriction>& restrictions = read.chain_restrictions();
  if (!read.has_equalities && parameter_space(items).simplex) return with_simplex_rows(restrictions, items);
  if (read.has_equalities && !read.collapsed.coupled.empty()) return with_coupled_rows(restrictions, read.collapsed, items);
  return std::nullopt;
}

std::vector<ItemEstimate> unconstrained_category_estimates(const std::vector<Item>& items) {
  std::vector<ItemEstimate> estimates;
  for (const Item& item : items) {
    if (!is_categorical(item)) {
      estimates.push_back(beta_estimate(item.name, item.prior_a + static_cast<double>(item.successes),
                                        item.prior_b + static_cast<double>(item.trials - item.successes)));
      continue;
    }
    std::vector<double> posterior;
    for (std::size_t c = 0; c < item.counts.size(); ++c) {
      posterior.push_back(item.concentration[c] + static_cast<double>(item.counts[c]));
    }
    for (std::size_t c = 0; c < posterior.size(); ++c) {
      double rest = 0.0;
      for (std::size_t i = 0; i < posterior.size(); ++i) {
        if (i != c) rest += posterior[i];
      }
      estimates.push_back(beta_estimate(category_label(item, c), posterior[c], rest));
    }
  }
  return estimates;
}

std::vector<ItemEstimate> category_estimates(const std::vector<Item>& items,
                                             const std::vector<ItemEstimate>& per_parameter,
                                             const std::vector<ItemEstimate>& remainders,
                                             const std::vector<Restriction>& restrictions,
                                             const std::vector<ItemEstimate>& unconstrained,
                                             const std::vector<bool>& reduced) {
  const ParameterSpace space = parameter_space(items);
  if (!space.any_categorical) return per_parameter;
  std::vector<ItemEstimate> estimates;
  std::size_t category_at = 0;  // in `unconstrained`
  std::size_t remainder = 0;
  for (std::size_t j = 0; j < items.size(); ++j) {
    const Item& item = items[j];
    const std::size_t k = category_count(item);
    const std::size_t first = space.first[j];
    if (!is_categorical(item)) {
      estimates.push_back(per_parameter[first]);
      ++category_at;
      continue;
    }
    if (k > 2) {
      bool involved = !reduced.empty() && reduced[j];
      for (const Restriction& restriction : restrictions) {
        for (std::size_t p = first; p < space.first[j + 1]; ++p) involved = involved || restriction.coefficients[p] != 0.0;
      }
      // The chain's remainders stand per item of more than two categories (none with equalities,
      // where such an item is in no restriction).
      const std::size_t at = remainder++;
      if (!involved || at >= remainders.size()) {
        for (std::size_t c = 0; c < k; ++c) estimates.push_back(unconstrained[category_at + c]);
        category_at += k;
        continue;
      }
      for (std::size_t c = 0; c + 1 < k; ++c) estimates.push_back(per_parameter[first + c]);
      estimates.push_back(remainders[at]);
    } else {
      const ItemEstimate& e = per_parameter[first];
      estimates.push_back(e);
      estimates.push_back({"", 1.0 - e.mean, e.sd, 1.0 - e.upper, 1.0 - e.lower});
    }
    for (std::size_t c = 0; c < k; ++c) estimates[estimates.size() - k + c].name = category_label(item, c);
    category_at += k;
  }
  return estimates;
}

}  // namespace propbf::evaluate
