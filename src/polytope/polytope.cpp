// Restriction matrices as restrictions, and the names of the free parameters a matrix or
// vertex table's columns may give (the tables are read from files in input/polytope_file).
#include "polytope/polytope.hpp"

#include "problem/categories.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "messages/messages.hpp"

namespace propbf::evaluate {

ParameterNames::ParameterNames(const std::vector<Item>& items) {
  // Each item's free parameters in the order of the parameter space: a binomial item's
  // success probability (`item[1]`, also `item`), an item of K categories its first
  // K - 1 (`item[c]` by number, also by the category's name).
  const ParameterSpace space = parameter_space(items);
  for (std::size_t p = 0; p < space.parameters.size(); ++p) {
    const Parameter& parameter = space.parameters[p];
    const Item& item = items[parameter.item];
    names_.push_back(item.name + "[" + std::to_string(parameter.category + 1) + "]");
    index_.emplace(names_.back(), p);
    if (category_count(item) == 2) index_.emplace(item.name, p);
    if (is_categorical(item)) index_.emplace(item.name + "[" + item.categories[parameter.category] + "]", p);
  }
  coordinates_ = space.parameters.size();
}

const std::size_t* ParameterNames::find(const std::string& name) const {
  const auto found = index_.find(name);
  return found == index_.end() ? nullptr : &found->second;
}

namespace {

// The most coefficients over the items a polytope hypothesis may have, as for a
// hypothesis written in the language: 2^27.
constexpr std::size_t kMaxCoefficients = std::size_t{1} << 27;

}  // namespace


std::string too_many_vertices(std::size_t count, bool at_least) {
  const std::string most = std::to_string(kMaxVertices);
  return (at_least ? "the file holds more than " + most + " vertices, the most"
                   : "the file holds " + std::to_string(count) + " vertices, more than the " + most) +
         " a hypothesis may have: the facets of a hull can number exponentially many in its vertices; give the "
         "polytope as a restriction matrix (matrix = \"FILE.csv\") instead";
}

PolytopeRestrictions matrix_restrictions(const std::string& file_name, const PolytopeTable& table,
                                         std::size_t item_count) {
  const std::size_t columns = table.coordinates.size();
  if (item_count != 0 && table.rows() > kMaxCoefficients / item_count) {
    throw InputError(describe_position(file_name, {table.lines.front(), 1}) + ": the matrix has " +
                     std::to_string(table.rows()) + " rows over " + std::to_string(item_count) +
                     " items, more than the " + std::to_string(kMaxCoefficients) +
                     " coefficients (rows times items) a hypothesis may have");
  }
  // Each row is named by the file's name without folders and its line.
  const std::string shown = std::filesystem::path(file_name).filename().string();
  PolytopeRestrictions result;
  for (std::size_t r = 0; r < table.rows(); ++r) {
    // A θ <= b read as -A θ > -b (0 - x, so that no coefficient or constant is -0 and
    // a row reads as the same restriction written in the language).
    Restriction restriction;
    restriction.coefficients.assign(item_count, 0.0);
    double smallest = 0.0;  // over [0, 1]^J
    bool any = false;
    for (std::size_t i = 0; i < columns; ++i) {
      const double value = table.values[r * columns + i];
      if (value == 0.0) continue;
      const double coefficient = 0.0 - value;
      restriction.coefficients[table.coordinates[i]] = coefficient;
      smallest += std::min(coefficient, 0.0);
      any = true;
    }
    restriction.constant = 0.0 - table.b[r];
    if (smallest >= restriction.constant) {
      ++result.left_out;  // holds everywhere on [0, 1] (its boundary has probability 0)
      continue;
    }
    if (!any) {
      throw InputError(describe_position(file_name, {table.lines[r], 1}) +
                       ": this row has no nonzero coefficient and b = " + format_number(table.b[r], 17) +
                       " < 0, so 0 <= b cannot hold: no proportion satisfies it");
    }
    restriction.text = shown + " line " + std::to_string(table.lines[r]);
    result.restrictions.push_back(std::move(restriction));
  }
  return result;
}

}  // namespace propbf::evaluate
