// Matrix and vertex files (CSV, libcsv) read into the tables of polytope.hpp.
#pragma once

#include <string>
#include <string_view>

#include "polytope/polytope.hpp"

namespace propbf::evaluate {

// Reads a matrix (`FILE.csv` whose last column is `b`) or vertex file from `content`
// (`file_name` for messages). A first column with an empty header holds row names
// (R's write.csv) and is skipped. Throws InputError with file, line and column for a
// header naming an unknown parameter or one twice, a missing `b`, a ragged row, a value
// that is not a finite number, or a file without rows.
PolytopeTable parse_polytope_table(const std::string& file_name, std::string_view content, const ParameterNames& names,
                                   PolytopeForm form, bool keep_text = false);

// Reads `path` (at most kMaxProblemFileBytes) and returns what it adds to a hypothesis.
PolytopeRestrictions read_polytope(const std::string& path, const ParameterNames& names, PolytopeForm form,
                                   std::size_t item_count);

}  // namespace propbf::evaluate
