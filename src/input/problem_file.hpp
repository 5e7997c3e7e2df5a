// Reading a problem: the problem file (TOML), or the items of a CSV file with hypotheses
// given on the command line.
#pragma once

#include <string>
#include <vector>

#include "problem/problem.hpp"

namespace propbf::evaluate {

// Reads and checks a problem file. Throws InputError naming the file, line and column
// for malformed TOML, missing or mismatched arrays, counts out of range (negative, k > n),
// priors or shapes beyond their limits, unknown keys and bad settings, and for a file
// larger than kMaxProblemFileBytes.
CountsProblem read_problem_file(const std::string& file_name);
// The same for a file's content, read already (`file_name` is used in messages).
CountsProblem read_problem_text(const std::string& file_name, std::string content);

// The bytes of a problem or plan file (`what` names it in messages), up to one byte
// beyond kMaxProblemFileBytes (a device such as /dev/zero never ends). Throws InputError.
std::string read_input_file(const std::string& file_name, const std::string& what);

// The items and hypotheses of a plan file (its [truth] and [design] are read by
// plan_file.hpp): items without counts, each trials 0.
CountsProblem read_plan_problem(const std::string& file_name, std::string content);

// A problem without a problem file: the items of a CSV file (see csv_data.hpp) with one
// prior for all of them, and hypotheses given on the command line. Checks the beta
// shapes as a problem file's are checked (the place of a count too large: in the CSV
// file) and sets the warnings. Throws InputError.
CountsProblem problem_from_data(const std::string& csv_file, double prior_a, double prior_b,
                                std::vector<HypothesisText> hypotheses);

}  // namespace propbf::evaluate
