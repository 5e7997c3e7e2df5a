// Item counts from a CSV file (the only file that includes libcsv is csv_data.cpp).
//
// The first line is a header naming the columns; the columns are found by name, in any
// order, and columns with other names are ignored. Two forms:
//
//   counts:        name,successes,trials     one row per item, in item order
//   observations:  name,outcome              one row per observation, outcome 0 or 1;
//                                            items in order of first appearance
//
// Fields may be quoted ("..." with "" for a quote); blanks around a field are dropped;
// blank lines are skipped; a UTF-8 byte order mark before the header is dropped. Every
// row has as many fields as the header.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "problem/problem.hpp"

namespace propbf::evaluate {

struct CsvData {
  std::vector<Item> items;  // names and counts; priors left at their defaults
  // Where each item's trials stand (counts form: its trials field; observations: its
  // first row), for messages about its counts.
  std::vector<SourcePosition> places;
};

// Reads `file_name` (at most kMaxProblemFileBytes). Throws InputError naming the file,
// line and column (columns count characters, from 1) and what was expected, for an empty
// file, a header without the needed columns, a row with too few or too many fields, a
// count that is not a whole number from 0 to kMaxCount, an outcome other than 0 or 1,
// more successes than trials, a name that is not an item name of the hypothesis language,
// a name given twice in the counts form and malformed quoting.
CsvData read_csv_data(const std::string& file_name);
// The same for content read already (`file_name` is used in messages).
CsvData parse_csv_data(const std::string& file_name, std::string_view content);

// The largest count a CSV file may give: above it no prior keeps the beta shapes within
// kMaxShape.
inline constexpr std::int64_t kMaxCount = 10'000'000'000;

}  // namespace propbf::evaluate
