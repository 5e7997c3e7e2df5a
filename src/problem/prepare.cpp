#include "problem/prepare.hpp"

#include <algorithm>

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

}  // namespace

Prepared prepare(const CountsProblem& problem, const HypothesisText& hypothesis, const std::vector<std::string>& names) {
  Prepared prepared;
  // A polytope's hypothesis may have no text: its restrictions are the polytope's.
  const bool text_given = !hypothesis.polytope.empty() || !hypothesis.polytope_equalities.empty()
                              ? hypothesis.text.find_first_not_of(" \t\r\n") != std::string::npos
                                                       : true;
  if (text_given) {
    prepared.parsed = parse_hypothesis(hypothesis.text, names);
    if (!prepared.parsed.ok) language_failure(problem, hypothesis, prepared.parsed.error);
  } else {
    prepared.parsed.ok = true;
  }
  prepared.parsed.restrictions.insert(prepared.parsed.restrictions.end(), hypothesis.polytope.begin(),
                                      hypothesis.polytope.end());
  prepared.parsed.equalities.insert(prepared.parsed.equalities.end(), hypothesis.polytope_equalities.begin(),
                                    hypothesis.polytope_equalities.end());
  prepared.has_equalities = !prepared.parsed.equalities.empty();
  const std::string who = "hypothesis " + hypothesis.name + ": ";
  if (prepared.has_equalities) {
    prepared.collapsed = collapse_equalities(prepared.parsed, problem.items);
    if (!prepared.collapsed.ok) language_failure(problem, hypothesis, prepared.collapsed.error);
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
