// The results of `propbf evaluate` as a readable table, as a JSON document and as a
// JSON lines record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/evaluation.hpp"

namespace propbf::evaluate {

// Row i, column j: hypothesis i's factor against hypothesis j, the ratio of their factors
// against the unconstrained hypothesis (file order). The diagonal is 1, also where the
// ratio would be 0/0 or infinity/infinity (a factor of 0 or infinity). Its size is the
// square of the number of hypotheses: the table and the JSON give it only up to
// kMostMatrixHypotheses hypotheses, so that a run stays linear in its hypotheses.
inline constexpr std::size_t kMostMatrixHypotheses = 12;
std::vector<std::vector<double>> bf_matrix(const Evaluation& evaluation);

// Why posterior model probabilities are not numbers, a sentence each (none when every
// one is a number): a factor against the unconstrained hypothesis that is not a number
// or infinite makes the shares of their sum 0/0 or inf/inf. Names as they are (the table
// shows them through visible_text), at most ten of them.
std::vector<std::string> probability_notes(const Evaluation& evaluation);

// The table for standard output, ending with a newline. Names (the problem file's, the
// hypotheses', the items') are shown through visible_text. With show_estimates, it ends
// with the estimates of the proportions (the first kShownEstimateItems items of each model).
// `notes` are about the run as a whole (e.g. a thread count lowered): a line each at
// the end.
inline constexpr std::size_t kShownEstimateItems = 30;
std::string format_table(const Evaluation& evaluation, bool show_estimates = true,
                         const std::vector<std::string>& notes = {});

// What the JSON leaves out. Without polytope_rows, a hypothesis's `restrictions` list
// only those written in the language, and `polytope_rows` counts the rows of its matrix
// or vertex file left out (a file of 75,834 rows otherwise writes each with its dense
// coefficients: megabytes per record).
struct JsonOptions {
  bool polytope_rows = true;
};

// The JSON document (indented by 2, ending with a newline). Non-finite numbers are
// written as null and explained in the hypothesis's "notes"; `notes` come first in the
// document's "notes". Memory running out while it is written throws std::bad_alloc.
std::string format_json(const Evaluation& evaluation, const std::string& version,
                        const std::vector<std::string>& notes = {}, const JsonOptions& options = {});

// The posterior samples as CSV (evaluation run with Settings::keep_samples): a header
// `hypothesis` and Evaluation::sample_columns, then one row per kept draw of each
// hypothesis in order, its name first. Numbers are the shortest text that reads back as
// the same double (std::to_chars); a name or column holding a comma, a quote, a line
// break or a leading or trailing blank is quoted ("" for a quote).
std::string format_samples_csv(const Evaluation& evaluation);

// One line of JSON lines for a batch, ending with a newline: {"path", "status": "ok",
// "result": the document format_json writes} ...
std::string format_json_record(const std::string& path, const Evaluation& evaluation, const std::string& version,
                               const JsonOptions& options = {});
// ... or {"path", "status": "error", "error": the message a single run prints}.
std::string format_json_error_record(const std::string& path, const std::string& message);

}  // namespace propbf::evaluate
