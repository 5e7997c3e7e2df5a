// Hypotheses given as polytopes: a restriction matrix A θ <= b, or the vertices whose
// convex hull the hypothesis is, read from CSV files (libcsv) and turned into the
// restrictions the chains read. Vertices become facets through cddlib, in exact rational
// arithmetic.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "problem/language.hpp"
#include "problem/problem.hpp"

namespace propbf::evaluate {

// The most vertices a vertex file may hold, and the most parameters its header may name:
// the hull's facets can number exponentially many in them, so larger sets are refused
// before the conversion starts.
inline constexpr std::size_t kMaxVertices = 10000;
inline constexpr std::size_t kMaxVertexParameters = 40;
// The message refusing `count` vertices (`at_least`: the file holds more than count - 1,
// refused as the reader reaches row count).
std::string too_many_vertices(std::size_t count, bool at_least);

// The names a matrix or vertex header may give the free parameters: `item[c]` for the
// first K - 1 categories of each item, by number or by the category's name (a binomial
// item: `item[1]`, its success probability, also written `item`; so is an item of two
// categories), each mapped to its coordinate in the parameter space (categories.hpp).
class ParameterNames {
 public:
  explicit ParameterNames(const std::vector<Item>& items);
  // The coordinate `name` stands for, or none.
  const std::size_t* find(const std::string& name) const;
  std::size_t coordinates() const { return coordinates_; }
  // Every parameter's name, in coordinate order (for messages).
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::string> names_;
  std::size_t coordinates_ = 0;
};

// A matrix or vertex file as read: the coordinate of each column and, row by row, its
// values (dense over the header's columns, so its size follows the file's).
struct PolytopeTable {
  std::vector<std::size_t> coordinates;  // per parameter column
  std::vector<std::string> headers;      // per parameter column, as written
  std::vector<double> values;            // rows x columns, row after row
  std::vector<std::string> exact;        // with keep_text: the values as written, for exact arithmetic
  std::vector<double> b;                 // a matrix's last column
  std::vector<int> lines;                // each row's line in the file
  std::size_t rows() const { return lines.size(); }
};

enum class PolytopeForm { Matrix, Vertices };


// What a polytope hypothesis adds to its hypothesis: its restrictions over the items
// (A θ <= b as -A θ > -b, in the file's row order; rows that hold for every proportion in
// [0, 1], such as θ >= 0, left out) and, from vertices, the number of facets of the hull.
struct PolytopeRestrictions {
  std::vector<Restriction> restrictions;
  // From vertices: the implicit equalities of a hull of lower dimension that tie two
  // items or an item to a number (collapsed as the language's equalities are).
  std::vector<Equality> equalities;
  std::size_t facets = 0;
  std::size_t left_out = 0;  // rows that hold on all of [0, 1]
};

// A restriction matrix as restrictions. Throws InputError (a row that no proportion
// can satisfy, a matrix beyond 2^27 coefficients over the items).
PolytopeRestrictions matrix_restrictions(const std::string& file_name, const PolytopeTable& table,
                                         std::size_t item_count);

// The facets of the convex hull of a vertex table (read with keep_text), by cddlib in
// exact rational arithmetic, as restrictions. Vertices beyond kMaxVertices or a header
// beyond kMaxVertexParameters are refused before cddlib runs. A hull of lower dimension
// lies in implicit equalities: each that ties two items (x_i = x_j) or an item to a
// number in [0, 1] becomes an equality; any other is refused, naming it. Throws
// InputError.
PolytopeRestrictions vertex_restrictions(const std::string& file_name, const PolytopeTable& table,
                                         std::size_t item_count);

}  // namespace propbf::evaluate
