// The results of `propbf evaluate` as a readable table, as a JSON document and as a
// JSON lines record.
#pragma once

#include <string>

#include "evaluate/evaluation.hpp"

namespace propbf::evaluate {

// Shortest-exact text of a double with `digits` significant digits (std::to_chars,
// locale-free): "0.0833125", "4.9266", "inf", "-inf"; every NaN as "NaN".
std::string format_number(double value, int digits);

// The table for standard output, ending with a newline.
std::string format_table(const Evaluation& evaluation);

// The JSON document (indented by 2, ending with a newline). Non-finite numbers are
// written as null and explained in the hypothesis's "notes".
std::string format_json(const Evaluation& evaluation, const std::string& version);

// One line of JSON lines for a batch, ending with a newline: {"path", "status": "ok",
// "result": the document format_json writes} ...
std::string format_json_record(const std::string& path, const Evaluation& evaluation, const std::string& version);
// ... or {"path", "status": "error", "error": the message a single run prints}.
std::string format_json_error_record(const std::string& path, const std::string& message);

}  // namespace propbf::evaluate
