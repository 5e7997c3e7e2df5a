#include "problem/prepare.hpp"

#include <algorithm>
#include <optional>
#include <cstdint>

#include "problem/linear_extensions.hpp"

#include "problem/categories.hpp"
#include "problem/category_equalities.hpp"

namespace propbf::evaluate {

std::string shown_text(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return shown;
}

namespace {

[[noreturn]] void language_failure(const CountsProblem& problem, const HypothesisText& hypothesis, const LanguageError& error) {
  const SourcePosition at = error.offset < hypothesis.positions.size() ? hypothesis.positions[error.offset]
                                                                       : SourcePosition{};
  const std::string place = hypothesis.origin.empty() ? describe_position(problem.file_name, at) : hypothesis.origin;
  throw InputError(place + ": hypothesis " + hypothesis.name + ": " + error.message +
                   "\n    " + shown_text(hypothesis.text) + "\n    " + std::string(error.offset, ' ') + "^");
}

// Whether coefficients . pi > constant holds on all of [0, 1]^J: its smallest value over
// the box, the sum of the negative coefficients, is at least the constant.
bool always_holds(const Restriction& restriction) {
  double smallest = 0.0;
  for (double coefficient : restriction.coefficients) smallest += std::min(coefficient, 0.0);
  return smallest >= restriction.constant;
}

// Whether a corner of the cube of the items `named` (each value 0 or 1) lies on the
// boundary of `restriction` (coefficients . corner == constant); with more than 20 items,
// taken to.
bool corner_on_boundary(const Restriction& restriction, const std::vector<std::size_t>& named) {
  if (named.size() > 20) return true;
  for (std::uint32_t corner = 0; corner < (std::uint32_t{1} << named.size()); ++corner) {
    double value = 0.0;
    for (std::size_t i = 0; i < named.size(); ++i) {
      if ((corner >> i) & 1u) value += restriction.coefficients[named[i]];
    }
    if (value == restriction.constant) return true;
  }
  return false;
}

// The refusal of a restriction whose items a chain all draws with a beta shape below
// kRefusedTieShape, where draws pile up at 0 and 1 and round to them, when a corner of
// their cube lies on its boundary (a > b at 0 = 0 or 1 = 1, a > 0 at 0): there a draw
// rounded to the corner decides the restriction, often wrongly (items tie). Elsewhere
// rounding moves a draw by less than a double's spacing, which decides nothing but on a
// set of probability near zero. The shapes are the posterior's (the fit's and the
// estimates' chains), and the prior's unless the complexity is exact (no chain draws from
// the prior). Empty when there is none.
std::string tie_refusal(const CountsProblem& problem, const Prepared& prepared) {
  // With categories, the chains' coordinates are parameters: a free category of a larger
  // item is drawn from its conditional beta (parameter_items).
  const bool categorical =
      std::any_of(problem.items.begin(), problem.items.end(), [](const Item& item) { return is_categorical(item); });
  const std::vector<Item> items = categorical ? parameter_items(problem.items) : problem.items;
  const bool coupled = std::any_of(problem.items.begin(), problem.items.end(),
                                   [](const Item& item) { return category_count(item) > 2; });
  const std::vector<Restriction>& restrictions = prepared.chain_restrictions();
  const std::size_t space = prepared.has_equalities ? prepared.collapsed.groups.size() : items.size();
  std::vector<double> prior_a, prior_b, posterior_a, posterior_b;
  std::vector<std::string> names;
  if (prepared.has_equalities) {
    const CollapsedHypothesis& c = prepared.collapsed;
    prior_a = c.prior_a, prior_b = c.prior_b, posterior_a = c.posterior_a, posterior_b = c.posterior_b;
    for (const std::vector<std::size_t>& group : c.groups) {
      std::string name;
      for (std::size_t j : group) name += (name.empty() ? "" : " = ") + items[j].name;
      names.push_back(name);
    }
  } else {
    for (const Item& item : items) {
      prior_a.push_back(item.prior_a);
      prior_b.push_back(item.prior_b);
      posterior_a.push_back(item.prior_a + static_cast<double>(item.successes));
      posterior_b.push_back(item.prior_b + static_cast<double>(item.trials - item.successes));
      names.push_back(item.name);
    }
  }
  const bool prior_drawn = coupled || !exact_order_complexity(restrictions, prior_a, prior_b).has_value();
  // With the complexity exact, a fit of the same kind is exact too (the engine's known_fit);
  // the estimates' chain draws from the posterior all the same.
  const bool fit_exact = !prior_drawn && exact_order_complexity(restrictions, posterior_a, posterior_b).has_value();
  for (const Restriction& restriction : restrictions) {
    std::vector<std::size_t> named;
    for (std::size_t j = 0; j < space; ++j) {
      if (restriction.coefficients[j] != 0.0) named.push_back(j);
    }
    for (const bool prior : {true, false}) {
      if (prior && !prior_drawn) continue;
      const std::vector<double>& a = prior ? prior_a : posterior_a;
      const std::vector<double>& b = prior ? prior_b : posterior_b;
      const bool all_tiny = std::all_of(named.begin(), named.end(), [&](std::size_t j) {
        return std::min(a[j], b[j]) < kRefusedTieShape;
      });
      if (named.empty() || !all_tiny || !corner_on_boundary(restriction, named)) continue;
      std::string shapes;
      for (std::size_t i = 0; i < named.size() && i < 5; ++i) {
        shapes += (i == 0 ? "" : ", ") + names[named[i]] + " Beta(" + format_number(a[named[i]], 6) + ", " +
                  format_number(b[named[i]], 6) + ")";
      }
      if (named.size() > 5) shapes += " and " + std::to_string(named.size() - 5) + " more";
      // A message line is shown whole up to kMessageLine bytes: the reason is kept short.
      return "the restriction '" + shown_text(restriction.text) + "' is decided where its items' " +
             (prior ? "prior" : "posterior") + " draws (" + shapes + ") pile up at 0 or 1: below shapes of " +
             format_number(kRefusedTieShape, 6) + " they round to 0 or 1 and tie, which would bias the " +
             (prior ? "complexity" : fit_exact ? "estimates" : "fit and estimates") + "; give shapes of at least " +
             format_number(kRefusedTieShape, 6) + " (prior plus counts)";
    }
  }
  return {};
}

}  // namespace

std::vector<NamedItem> named_items(const std::vector<Item>& items) {
  const ParameterSpace space = parameter_space(items);
  std::vector<NamedItem> named;
  for (std::size_t j = 0; j < items.size(); ++j) {
    const Item& item = items[j];
    const std::vector<std::string> categories = is_categorical(item) ? item.categories : std::vector<std::string>{"1", "2"};
    named.push_back({item.name, space.first[j], categories, categories.size() == 2});
  }
  return named;
}

Prepared prepare(const CountsProblem& problem, const HypothesisText& hypothesis, const std::vector<std::string>& names) {
  Prepared prepared;
  const bool categorical =
      std::any_of(problem.items.begin(), problem.items.end(), [](const Item& item) { return is_categorical(item); });
  // A polytope's hypothesis may have no text: its restrictions are the polytope's.
  const bool text_given = !hypothesis.polytope.empty() || !hypothesis.polytope_equalities.empty()
                              ? hypothesis.text.find_first_not_of(" \t\r\n") != std::string::npos
                              : true;
  if (text_given) {
    prepared.parsed = categorical ? parse_hypothesis(hypothesis.text, named_items(problem.items),
                                                     parameter_space(problem.items).parameters.size())
                                  : parse_hypothesis(hypothesis.text, names);
    if (!prepared.parsed.ok) language_failure(problem, hypothesis, prepared.parsed.error);
  } else {
    prepared.parsed.ok = true;
  }
  prepared.parsed.restrictions.insert(prepared.parsed.restrictions.end(), hypothesis.polytope.begin(),
                                      hypothesis.polytope.end());
  prepared.parsed.equalities.insert(prepared.parsed.equalities.end(), hypothesis.polytope_equalities.begin(),
                                    hypothesis.polytope_equalities.end());
  if (categorical && !hypothesis.polytope_equalities.empty()) {
    // A polytope's equality names parameters; on an item of more than two categories it
    // ties that item's categories, as the same equality written in the language does.
    const ParameterSpace space = parameter_space(problem.items);
    const auto category_of = [&](std::size_t p) -> std::optional<Equality::Category> {
      const std::size_t item = space.parameters[p].item;
      if (category_count(problem.items[item]) <= 2) return std::nullopt;
      return Equality::Category{item, space.parameters[p].category};
    };
    std::vector<Equality>& equalities = prepared.parsed.equalities;
    for (std::size_t e = equalities.size() - hypothesis.polytope_equalities.size(); e < equalities.size(); ++e) {
      Equality& equality = equalities[e];
      equality.category = category_of(equality.item);
      if (equality.other) {
        equality.other_category = category_of(*equality.other);
        if (equality.other_category) equality.other = equality.other_category->item;
      }
    }
  }
  prepared.has_equalities = !prepared.parsed.equalities.empty();
  const std::string who = "hypothesis " + hypothesis.name + ": ";
  const bool category_ties = categorical && ties_categories(prepared.parsed);
  if (prepared.has_equalities) {
    prepared.collapsed =
        category_ties ? collapse_category_equalities(prepared.parsed, problem.items, problem.tied_prior)
                      : collapse_equalities(prepared.parsed, categorical ? parameter_items(problem.items) : problem.items,
                                            problem.tied_prior);
    if (!prepared.collapsed.ok) language_failure(problem, hypothesis, prepared.collapsed.error);
    // The categories of a larger item under a restriction are drawn on its simplex.
    if (categorical && !category_ties) {
      couple_items(prepared.collapsed, prepared.parsed, problem.items);
      if (!prepared.collapsed.ok) language_failure(problem, hypothesis, prepared.collapsed.error);
    }
    if (!prepared.collapsed.impossible.empty()) {
      const SourcePosition at = hypothesis.positions.empty() ? SourcePosition{} : hypothesis.positions.front();
      std::string message = describe_position(problem.file_name, at) + ": hypothesis " + hypothesis.name +
                            " has no interior point: once the items its equalities tie are equal, " +
                            (prepared.collapsed.impossible.size() == 1 ? "this restriction compares equal sides and "
                                                                         "cannot hold"
                                                                       : "these restrictions compare equal sides and "
                                                                         "cannot hold");
      for (const std::string& text : prepared.collapsed.impossible) message += "\n    " + shown_text(text);
      throw InputError(message);
    }
    for (const std::string& text : prepared.collapsed.dropped) {
      prepared.warnings.push_back(who + "the restriction '" + shown_text(text) +
                                  "' always holds once the tied items are equal; it is left out");
    }
  }
  if (const std::string refusal = tie_refusal(problem, prepared); !refusal.empty()) {
    throw InputError(hypothesis_place(problem, hypothesis) + ": hypothesis " + hypothesis.name + ": " + refusal);
  }
  for (const Restriction& restriction : prepared.chain_restrictions()) {
    if (!always_holds(restriction)) continue;
    prepared.warnings.push_back(who + "the restriction '" + shown_text(restriction.text) +
                                "' holds for every proportion in [0, 1]: it restricts nothing (its stages count a "
                                "hit in every sweep)");
  }
  return prepared;
}

std::string hypothesis_place(const CountsProblem& problem, const HypothesisText& hypothesis) {
  if (!hypothesis.origin.empty()) return hypothesis.origin;
  return describe_position(problem.file_name, hypothesis.positions.empty() ? SourcePosition{} : hypothesis.positions.front());
}

CountsProblem prepare_problem(CountsProblem problem, const SettingOverrides& overrides) {
  apply_overrides(problem, overrides);
  check_settings(problem.settings);
  check_items(problem);
  if (problem.hypotheses.empty()) throw InputError("propbf: the problem has no hypothesis; name at least one");
  for (std::size_t h = 0; h < problem.hypotheses.size(); ++h) {
    const HypothesisText& hypothesis = problem.hypotheses[h];
    const std::string place = hypothesis_place(problem, hypothesis);
    if (hypothesis.name.empty()) {
      throw InputError(place + ": a hypothesis has an empty name (\"\" = ...); give it one, e.g. H1 = \"a > b\"");
    }
    if (hypothesis.name == "unconstrained") {
      throw InputError(place + ": a hypothesis may not be named 'unconstrained', the name of the hypothesis every "
                               "factor is set against; give it another name");
    }
    for (std::size_t k = 0; k < h; ++k) {
      if (problem.hypotheses[k].name == hypothesis.name) {
        // "propbf: " starts an origin, not a place in a file.
        auto where = [&](const HypothesisText& given) {
          const std::string at = hypothesis_place(problem, given);
          return at.starts_with("propbf: ") ? at.substr(8) : at;
        };
        throw InputError("propbf: hypothesis name '" + visible_text(hypothesis.name) + "' is given twice (" +
                         where(problem.hypotheses[k]) + " and " + where(hypothesis) + ")");
      }
    }
  }
  if (std::string warning = tie_warning(problem); !warning.empty()) problem.warnings.push_back(std::move(warning));
  for (std::string& warning : hypothesis_warnings(problem)) problem.warnings.push_back(std::move(warning));
  return problem;
}

std::vector<std::string> hypothesis_warnings(const CountsProblem& problem) {
  std::vector<std::string> names;
  for (const Item& item : problem.items) names.push_back(item.name);
  std::vector<std::string> warnings;
  for (const HypothesisText& hypothesis : problem.hypotheses) {
    for (std::string& warning : prepare(problem, hypothesis, names).warnings) warnings.push_back(std::move(warning));
  }
  return warnings;
}

}  // namespace propbf::evaluate
