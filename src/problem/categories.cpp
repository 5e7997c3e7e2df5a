#include "problem/categories.hpp"

#include <cmath>
#include <unordered_set>

namespace propbf::evaluate {

bool is_categorical(const Item& item) { return !item.counts.empty(); }

std::size_t category_count(const Item& item) { return is_categorical(item) ? item.counts.size() : 2; }

std::string category_label(const Item& item, std::size_t category) {
  if (!is_categorical(item)) return item.name;
  return item.name + "[" + item.categories[category] + "]";
}

ParameterSpace parameter_space(const std::vector<Item>& items) {
  ParameterSpace space;
  for (std::size_t j = 0; j < items.size(); ++j) {
    const Item& item = items[j];
    space.first.push_back(space.parameters.size());
    if (!is_categorical(item)) {
      // As the chains always formed them: a + k and b + (n - k).
      space.parameters.push_back({j, 0, item.name, item.prior_a, item.prior_b,
                                  item.prior_a + static_cast<double>(item.successes),
                                  item.prior_b + static_cast<double>(item.trials - item.successes)});
      continue;
    }
    space.any_categorical = true;
    const std::size_t last = item.counts.size() - 1;
    if (last > 1) space.simplex = true;
    const double rest_prior = item.concentration[last];
    const double rest_posterior = rest_prior + static_cast<double>(item.counts[last]);
    for (std::size_t c = 0; c < last; ++c) {
      space.parameters.push_back({j, c, category_label(item, c), item.concentration[c], rest_prior,
                                  item.concentration[c] + static_cast<double>(item.counts[c]), rest_posterior});
    }
  }
  space.first.push_back(space.parameters.size());
  return space;
}

std::vector<Item> parameter_items(const std::vector<Item>& items) {
  std::vector<Item> result;
  for (const Item& item : items) {
    if (!is_categorical(item)) {
      result.push_back(item);
      continue;
    }
    const std::size_t last = item.counts.size() - 1;
    for (std::size_t c = 0; c < last; ++c) {
      Item binomial;
      binomial.name = category_label(item, c);
      binomial.successes = item.counts[c];
      binomial.trials = item.counts[c] + item.counts[last];
      binomial.prior_a = item.concentration[c];
      binomial.prior_b = item.concentration[last];
      result.push_back(std::move(binomial));
    }
  }
  return result;
}

std::string category_name_refusal(const std::string& name, std::size_t position) {
  if (name.empty()) return "a category name is empty";
  for (char c : name) {
    if (c == '"' || c == '\'') {
      return "category name \"" + visible_text(name) +
             "\" holds a quote; hypotheses quote category names, so a name may not hold one";
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return "category name \"" + visible_text(name) + "\" holds a control character";
    }
  }
  bool digits = true;
  for (char c : name) digits = digits && c >= '0' && c <= '9';
  if (digits && name != std::to_string(position + 1)) {
    return "category name \"" + name + "\" is a number but names category " + std::to_string(position + 1) +
           "; in a hypothesis x[" + name + "] is category " + name + ", so a number may only name its own category";
  }
  return {};
}

std::string categorical_refusal(const Item& item) {
  const std::string who = "item '" + visible_text(item.name) + "'";
  const std::size_t k = item.counts.size();
  if (k < 2) {
    return who + " has " + std::to_string(k) + (k == 1 ? " category" : " categories") +
           "; an item needs at least 2 (a count per category)";
  }
  if (k > kMaxCategories) {
    return who + " has " + std::to_string(k) + " categories, more than " + std::to_string(kMaxCategories);
  }
  if (item.categories.size() != k) {
    return who + " has " + std::to_string(item.categories.size()) + " category names but " + std::to_string(k) +
           " counts";
  }
  if (item.concentration.size() != k) {
    return who + " has " + std::to_string(item.concentration.size()) + " prior concentrations but " +
           std::to_string(k) + " categories";
  }
  std::unordered_set<std::string> seen;
  for (std::size_t c = 0; c < k; ++c) {
    if (item.counts[c] < 0) return who + ": the count of category " + std::to_string(c + 1) + " is negative";
    if (std::string refusal = category_name_refusal(item.categories[c], c); !refusal.empty()) {
      return who + ": " + refusal;
    }
    if (!seen.insert(item.categories[c]).second) {
      return who + ": category name \"" + visible_text(item.categories[c]) + "\" is given twice";
    }
    const double alpha = item.concentration[c];
    if (!(alpha > 0.0) || !std::isfinite(alpha)) {
      return who + ": the prior concentration of category " + std::to_string(c + 1) + " must be positive and finite";
    }
  }
  return {};
}

}  // namespace propbf::evaluate
