#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "report/report.hpp"
#include "problem/categories.hpp"

namespace propbf::evaluate {
namespace {

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string interval_text(const Interval& interval) {
  if (std::isnan(interval[0]) && std::isnan(interval[1])) return "none";
  std::string text(1, '[');
  text.append(format_number(interval[0], 5)).append(", ").append(format_number(interval[1], 5)).push_back(']');
  return text;
}

// A hypothesis on one line: its line breaks and tabs as blanks (as in messages), any
// other control character made visible.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return visible_text(text);
}

// Hypothesis i's factor against hypothesis j, row by row, names as labels (shown whole:
// the columns widen to the longest name). Beyond kMostMatrixHypotheses hypotheses, a line
// saying how to form any pair instead: the rows would no longer read, and the table would
// grow with the square of the hypotheses.
std::string bf_matrix_block(const Evaluation& evaluation) {
  const std::size_t count = evaluation.hypotheses.size();
  if (count > kMostMatrixHypotheses) {
    return "\nBayes factors between hypotheses: not shown for more than " + std::to_string(kMostMatrixHypotheses) +
           " hypotheses (here " + std::to_string(count) +
           "); the factor of one against another is the ratio of their Bayes factors vs unconstrained\n";
  }
  const std::vector<std::vector<double>> matrix = bf_matrix(evaluation);
  std::vector<std::string> names;
  std::size_t width = 10;
  for (const HypothesisResult& result : evaluation.hypotheses) {
    names.push_back(visible_text(result.name));
    width = std::max(width, names.back().size() + 1);
  }
  std::string out = "\nBayes factors between hypotheses (row against column)\n";
  for (std::size_t i = 0; i <= matrix.size(); ++i) {
    // Line 0: the column labels; line i: row i - 1.
    std::string line(2, ' ');
    line += padded(i == 0 ? std::string() : names[i - 1], width);
    for (std::size_t j = 0; j < names.size(); ++j) {
      line.push_back(' ');
      line += padded(i == 0 ? names[j] : format_number(matrix[i - 1][j], 4), width);
    }
    while (line.back() == ' ') line.pop_back();
    out += line;
    out.push_back('\n');
  }
  return out;
}

// "a", "a and b", "a, b and c", at most kListed names and then "and N more".
std::string name_list(const std::vector<std::string>& names) {
  constexpr std::size_t kListed = 10;
  std::string text;
  const std::size_t shown = std::min(names.size(), kListed);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) text += i + 1 == shown && names.size() <= kListed ? " and " : ", ";
    text += names[i];
  }
  if (names.size() > shown) text += " and " + std::to_string(names.size() - shown) + " more";
  return text;
}

// One model's estimates: an item a line, at most kShownEstimateItems of them. Under a
// hypothesis (`unconstrained` given), the items whose estimates are exactly the
// unconstrained ones (those no restriction names) are counted instead of listed.
// With items of categories (`categories`), a line is a category and they are counted as such.
std::string estimates_block(const std::string& title, const std::vector<ItemEstimate>& estimates,
                            const std::vector<ItemEstimate>* unconstrained = nullptr, bool categories = false) {
  std::vector<std::size_t> listed;
  std::size_t same = 0;
  for (std::size_t j = 0; j < estimates.size(); ++j) {
    const ItemEstimate& e = estimates[j];
    if (unconstrained != nullptr && j < unconstrained->size()) {
      const ItemEstimate& u = (*unconstrained)[j];
      if (e.mean == u.mean && e.sd == u.sd && e.lower == u.lower && e.upper == u.upper) {
        ++same;
        continue;
      }
    }
    listed.push_back(j);
  }
  const std::size_t shown = std::min(listed.size(), kShownEstimateItems);
  std::size_t width = 8;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < shown; ++i) {
    names.push_back(visible_text(estimates[listed[i]].name));
    width = std::max(width, std::min<std::size_t>(names.back().size() + 1, 24));
  }
  std::string out = "  " + title + "\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const ItemEstimate& e = estimates[listed[i]];
    std::string line = "    " + padded(names[i], width) + " " + padded(format_number(e.mean, 4), 8) + " " +
                       padded(format_number(e.sd, 3), 9) + " [" + format_number(e.lower, 4) + ", " +
                       format_number(e.upper, 4) + "]";
    // Sampled estimates: their Monte Carlo standard errors (mean, then the ends).
    if (e.mean_mcse != 0.0 || e.lower_mcse != 0.0 || e.upper_mcse != 0.0) {
      line = padded(std::move(line), 4 + width + 1 + 8 + 1 + 9 + 20) + "  mcse " + format_number(e.mean_mcse, 2) +
             " [" + format_number(e.lower_mcse, 2) + ", " + format_number(e.upper_mcse, 2) + "]";
    }
    out += line + "\n";
  }
  if (listed.size() > shown) {
    const std::size_t left = listed.size() - shown;
    out += "    ... " + std::to_string(left) +
           (categories ? (left == 1 ? " more category" : " more categories") : (left == 1 ? " more item" : " more items")) +
           " (all in the JSON)\n";
  }
  if (same > 0) {
    out += "    " + std::to_string(same) +
           (categories ? (same == 1 ? " other category" : " other categories")
                       : (same == 1 ? " other item" : " other items")) +
           " as unconstrained (in no restriction)\n";
  }
  return out;
}

}  // namespace

std::vector<std::string> probability_notes(const Evaluation& evaluation) {
  std::vector<std::string> not_numbers;
  std::vector<std::string> infinite;
  for (const HypothesisResult& result : evaluation.hypotheses) {
    if (std::isnan(result.bf_unconstrained)) not_numbers.push_back(result.name);
    if (std::isinf(result.bf_unconstrained)) infinite.push_back(result.name);
  }
  std::vector<std::string> notes;
  const auto factors_of = [](const std::vector<std::string>& names) {
    return std::string(names.size() == 1 ? "the Bayes factor against the unconstrained hypothesis of "
                                         : "the Bayes factors against the unconstrained hypothesis of ") +
           name_list(names) + (names.size() == 1 ? " is " : " are ");
  };
  if (!not_numbers.empty()) {
    notes.push_back(factors_of(not_numbers) +
                    "not a number, so every posterior model probability, a share "
                    "of the sum of the factors, is not a number either");
  } else if (!infinite.empty()) {
    notes.push_back(factors_of(infinite) +
                    "infinite, so the posterior model probabilities, shares of the "
                    "sum of the factors, are 0 or not a number (infinity / infinity)");
  } else if (evaluation.hypotheses.size() == 1 && std::isnan(evaluation.hypotheses.front().pmp)) {
    notes.push_back("the factor of the complement, (1 - fit) / (1 - complexity), is 0/0 (complexity and fit both 1: "
                    "the hypothesis holds nearly everywhere), so the probabilities against the complement are not "
                    "numbers");
  }
  return notes;
}

std::string format_table(const Evaluation& evaluation, bool show_estimates, const std::vector<std::string>& notes) {
  const CountsProblem& problem = evaluation.problem;
  const Settings& settings = problem.settings;
  std::string out = "Problem " + visible_text(problem.file_name) + ": " + std::to_string(problem.items.size()) + (problem.items.size() == 1 ? " item, " : " items, ");
  if (settings.precision) {
    out += "sweeps per stage doubled from " + std::to_string(settings.niter) + " (at most " +
           std::to_string(settings.max_niter_or_default()) + ") until precision " +
           format_number(*settings.precision, 6) + ", seed " + std::to_string(settings.seed) + "\n";
  } else {
    out += std::to_string(settings.niter) + " sweeps per stage, seed " + std::to_string(settings.seed) + "\n";
  }
  if (settings.complexity_niter) {
    out += "Complexities: " + std::to_string(*settings.complexity_niter) + " sweeps per stage, run once\n";
  }
  std::string not_reached;
  for (const HypothesisResult& result : evaluation.hypotheses) {
    const std::string name = visible_text(result.name);
    out += "\n" + name + ": " + one_line(result.text) + "\n";
    out += "  restrictions                   " + std::to_string(result.restrictions.size()) + "\n";
    if (result.facets) out += "  facets of the vertices' hull   " + std::to_string(*result.facets) + "\n";
    if (!result.equalities.empty()) {
      std::string tied;
      for (const std::string& equality : result.equalities) tied += (tied.empty() ? "" : ", ") + one_line(equality);
      out += "  equalities                     " + std::to_string(result.equalities.size()) + " (" + tied +
             "): Bayes factor " + format_number(result.bf_equalities, 6) + " (exact; ln " +
             format_number(result.log_bf_equalities, 6) + ")" +
             (problem.tied_prior == TiedPrior::Common ? ", tied items with their common prior" : "") + "\n";
    }
    if (settings.precision) {
      out += "  sweeps per stage               " + std::to_string(result.niter) + " (precision " +
             (result.precision_reached ? "reached" : "not reached") +
             (result.interval_trusted ? ": relative half-width " + format_number(result.relative_half_width, 3)
                                      : ": the intervals are not trusted") +
             ")\n";
      if (!result.precision_reached) not_reached += (not_reached.empty() ? "" : ", ") + name;
    }
    out += "  complexity                     " + format_number(result.complexity, 6) +
           (result.complexity_exact ? " (exact)" : "") + "\n";
    out += "  fit                            " + format_number(result.fit, 6) + (result.fit_exact ? " (exact)" : "") +
           "\n";
    out += "  Bayes factor vs unconstrained  " + padded(format_number(result.bf_unconstrained, 6), 10) +
           " 95% interval " + padded(interval_text(result.bf_unconstrained_interval), 22) +
           " (sweeps as independent " + interval_text(result.bf_unconstrained_interval_independent) + ")\n";
    if (result.complement_defined) {
      out += "  Bayes factor vs complement     " + padded(format_number(result.bf_complement, 6), 10) +
             " 95% interval " + padded(interval_text(result.bf_complement_interval), 22) +
             " (sweeps as independent " + interval_text(result.bf_complement_interval_independent) + ")\n";
    } else {
      out += "  Bayes factor vs complement     not defined (the complement of an equality has probability one)\n";
    }
    out += "  posterior predictive p-value   " + padded(format_number(result.ppp, 4), 10) +
           " (Pearson's X^2; unconstrained " + format_number(evaluation.ppp_unconstrained, 4) + ")\n";
    for (const std::string& note : result.notes) out += "  note: " + note + "\n";
  }
  out += "\nPosterior model probabilities (equal prior probabilities)\n";
  if (evaluation.hypotheses.size() == 1) {
    const HypothesisResult& only = evaluation.hypotheses.front();
    out += "  hypothesis      vs complement   with unconstrained\n";
    out += "  " + padded(visible_text(only.name), 15) + " " + padded(format_number(only.pmp, 4), 15) + " " +
           format_number(only.pmp_with_unconstrained, 4) + "\n";
    out += "  " + padded("complement", 15) + " " + padded(format_number(only.pmp_complement, 4), 15) + "\n";
    out += "  " + padded("unconstrained", 15) + " " + padded("", 15) + " " +
           format_number(evaluation.pmp_unconstrained, 4) + "\n";
  } else {
    out += "  hypothesis      among listed    with unconstrained\n";
    for (const HypothesisResult& result : evaluation.hypotheses) {
      out += "  " + padded(visible_text(result.name), 15) + " " + padded(format_number(result.pmp, 4), 15) + " " +
             format_number(result.pmp_with_unconstrained, 4) + "\n";
    }
    out += "  " + padded("unconstrained", 15) + " " + padded("", 15) + " " +
           format_number(evaluation.pmp_unconstrained, 4) + "\n";
  }
  for (const std::string& note : probability_notes(evaluation)) {
    out += "  note: " + visible_text(note) + "\n";
  }
  if (evaluation.hypotheses.size() >= 2) out += bf_matrix_block(evaluation);
  if (show_estimates) {
    out += "\nEstimates of the proportions: posterior mean, sd, 95% interval (sampled: mcse, the Monte Carlo standard "
           "errors of the mean [and of the interval's ends])\n";
    const bool categories = parameter_space(problem.items).any_categorical;
    out += estimates_block("unconstrained (exact)", evaluation.unconstrained_estimates, nullptr, categories);
    for (const HypothesisResult& result : evaluation.hypotheses) {
      // Equalities alone leave beta posteriors of the tied groups: exact, no chain; but the
      // intervals of an aggregated item's other categories, which come from draws.
      const bool drawn_ends = std::any_of(result.estimates.begin(), result.estimates.end(), [](const ItemEstimate& e) {
        return e.lower_mcse != 0.0 || e.upper_mcse != 0.0;
      });
      const std::string how = !result.restrictions.empty()
                                  ? " (restricted posterior, " + std::to_string(result.niter) + " sweeps)"
                              : drawn_ends ? " (exact, but the intervals with an mcse, from draws)"
                                           : " (exact)";
      out += estimates_block(visible_text(result.name) + how, result.estimates, &evaluation.unconstrained_estimates,
                             categories);
    }
  }
  if (!not_reached.empty()) {
    out += "\nPrecision " + format_number(*settings.precision, 6) + " not reached within " +
           std::to_string(settings.max_niter_or_default()) + " sweeps per stage: " + not_reached + "\n";
  }
  if (!notes.empty()) {
    out += "\n";
    for (const std::string& note : notes) out += "note: " + visible_text(note) + "\n";
  }
  return out;
}

}  // namespace propbf::evaluate
