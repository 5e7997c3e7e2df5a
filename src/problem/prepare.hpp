// A hypothesis made ready for sampling: read in the hypothesis language and, with
// equalities, collapsed onto the groups of tied items, with the warnings it calls for.
#pragma once

#include <string>
#include <vector>

#include "problem/equalities.hpp"
#include "problem/language.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// A hypothesis read and, with equalities, collapsed: the space its chains run in.
struct Prepared {
  ParsedHypothesis parsed;
  bool has_equalities = false;
  CollapsedHypothesis collapsed;  // meaningful with equalities
  std::vector<std::string> warnings;

  const std::vector<Restriction>& chain_restrictions() const {
    return has_equalities ? collapsed.restrictions : parsed.restrictions;
  }
};

// Reads `hypothesis` over the items `names` of `problem`. Throws InputError (with the
// file, line and column, or the hypothesis's origin) for a mistake in it and for
// restrictions that compare equal sides once tied items are equal.
Prepared prepare(const CountsProblem& problem, const HypothesisText& hypothesis, const std::vector<std::string>& names);

// `text` on one line: line breaks and tabs as blanks.
std::string shown_text(const std::string& text);

// The warnings the hypotheses call for before any sampling (each also a note of its
// hypothesis): restrictions that hold for every proportion in [0, 1], and restrictions
// left out because tying items made them always hold. Throws InputError as prepare does.
std::vector<std::string> hypothesis_warnings(const CountsProblem& problem);

// Where a hypothesis was given, for messages: its origin, or its place in the file.
std::string hypothesis_place(const CountsProblem& problem, const HypothesisText& hypothesis);

// The one way from what a user gave (a problem file, a CSV file with --hypothesis, the
// R package's arguments) to the problem the engine runs: sets the overrides, checks the
// settings (check_settings), the items (check_items) and the hypotheses' names (each
// given, not "unconstrained", which names the reference hypothesis, and given once), and
// reads the hypotheses; problem.warnings gets the warnings of the shapes (tie_warning)
// and of the hypotheses (hypothesis_warnings), in that order. Throws InputError. A
// reader checks what it reads with its place first, so the checks here refuse without
// one only what a caller built unchecked.
CountsProblem prepare_problem(CountsProblem problem, const SettingOverrides& overrides);

}  // namespace propbf::evaluate
