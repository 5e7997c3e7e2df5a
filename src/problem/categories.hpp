// Items with K >= 2 categories (multinomial counts, Dirichlet priors) and the free
// parameters the chains sample.
//
// An item given by successes and trials is binomial: one free parameter, its success
// probability, with prior Beta(a, b). A categorical item has counts n_1 ... n_K and a
// Dirichlet(alpha_1 ... alpha_K) prior; its free parameters are the probabilities of
// categories 1 ... K - 1, and theta_K = 1 - (theta_1 + ... + theta_{K-1}). Given the
// item's other free parameters, whose sum is S, theta_c is (1 - S) B with
// B ~ Beta(alpha_c + n_c, alpha_K + n_K): each free parameter carries the shapes of that
// scaled beta. For K = 2 it is the binomial item with a = alpha_1, b = alpha_2,
// k = n_1, n = n_1 + n_2 (S = 0, the scale exactly 1), and its numbers are the same.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "problem/problem.hpp"

namespace propbf::evaluate {

// The most categories an item may have.
inline constexpr std::size_t kMaxCategories = 1000;

bool is_categorical(const Item& item);
// K: 2 for a binomial item.
std::size_t category_count(const Item& item);
// "name[category]" for a categorical item, the item's name for a binomial one.
std::string category_label(const Item& item, std::size_t category);

// One free parameter: item `item`'s category `category` (0-based; a binomial item's
// success probability is category 0), with the shapes of its scaled-beta conditional
// under the prior and the posterior.
struct Parameter {
  std::size_t item = 0;
  std::size_t category = 0;
  std::string name;  // category_label
  double prior_a = 1.0;
  double prior_b = 1.0;
  double posterior_a = 1.0;
  double posterior_b = 1.0;
};

struct ParameterSpace {
  std::vector<Parameter> parameters;  // item by item, categories in order
  std::vector<std::size_t> first;     // per item its first parameter; first[items] = parameters.size()
  bool any_categorical = false;
  bool simplex = false;  // some item has more than two categories (more than one free parameter)
};

ParameterSpace parameter_space(const std::vector<Item>& items);

// Per parameter, an item as the collapse of equalities reads it (equalities.hpp): a
// binomial item as it is, a categorical item's free category c as the binomial item of
// its conditional (successes n_c, trials n_c + n_K, prior alpha_c, alpha_K), exact for
// K = 2 (the language refuses equalities on the categories of larger items).
std::vector<Item> parameter_items(const std::vector<Item>& items);

// Whether `name` can name a category: not empty, no quote (" or '), no control byte,
// and not a whole number unless it is its own number (category c of "c"). Empty when
// it can, otherwise why not.
std::string category_name_refusal(const std::string& name, std::size_t position);

// A categorical item's counts, categories and concentrations checked as a reader checks
// them, without a place: K from 2 to kMaxCategories, counts at least 0, a category name
// and a concentration per category, names usable and given once, concentrations
// positive and finite. Empty when all hold, otherwise the message (naming the item).
std::string categorical_refusal(const Item& item);

}  // namespace propbf::evaluate
