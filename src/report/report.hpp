// The results of `propbf evaluate` as a readable table, as a JSON document and as a
// JSON lines record.
#pragma once

#include <string>
#include <string_view>

#include "engine/evaluation.hpp"

namespace propbf::evaluate {

// The table for standard output, ending with a newline. Names (the problem file's, the
// hypotheses', the items') are shown through visible_text. With show_estimates, it ends
// with the estimates of the proportions (the first kShownEstimateItems items of each model).
inline constexpr std::size_t kShownEstimateItems = 30;
std::string format_table(const Evaluation& evaluation, bool show_estimates = true);

// The JSON document (indented by 2, ending with a newline). Non-finite numbers are
// written as null and explained in the hypothesis's "notes".
std::string format_json(const Evaluation& evaluation, const std::string& version);

// One line of JSON lines for a batch, ending with a newline: {"path", "status": "ok",
// "result": the document format_json writes} ...
std::string format_json_record(const std::string& path, const Evaluation& evaluation, const std::string& version);
// ... or {"path", "status": "error", "error": the message a single run prints}.
std::string format_json_error_record(const std::string& path, const std::string& message);

}  // namespace propbf::evaluate
