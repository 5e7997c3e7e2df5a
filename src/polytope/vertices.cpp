// The facets of the convex hull of vertices, by cddlib's double description method in
// exact rational arithmetic (its GMP build), and its canonical form: redundant rows
// removed, implicit equalities found.
#define GMPRATIONAL
#include <gmp.h>
extern "C" {
#include <cdd/setoper.h>
#include <cdd/cdd.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "messages/messages.hpp"
#include "polytope/polytope.hpp"

namespace propbf::evaluate {
namespace {

// An exact rational, freed as it leaves scope.
struct Rational {
  mpq_t value;
  Rational() { mpq_init(value); }
  ~Rational() { mpq_clear(value); }
  Rational(const Rational&) = delete;
  Rational& operator=(const Rational&) = delete;
};

// The decimal `text` (checked by the reader: a finite number) as the exact rational it
// writes: its digits over a power of ten.
void set_decimal(mpq_t out, const std::string& text) {
  std::string digits;
  bool negative = false;
  long exponent = 0;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool point = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      point = true;
    } else {
      digits += text[i];
      if (point) --exponent;
    }
  }
  if (i < text.size()) exponent += std::strtol(text.c_str() + i + 1, nullptr, 10);
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    mpq_set_ui(out, 0, 1);
    return;
  }
  mpz_set_str(mpq_numref(out), digits.c_str() + first, 10);
  mpz_set_ui(mpq_denref(out), 1);
  mpz_t power;
  mpz_init(power);
  mpz_ui_pow_ui(power, 10, static_cast<unsigned long>(exponent < 0 ? -exponent : exponent));
  if (exponent < 0) {
    mpz_set(mpq_denref(out), power);
  } else {
    mpz_mul(mpq_numref(out), mpq_numref(out), power);
  }
  mpz_clear(power);
  mpq_canonicalize(out);
  if (negative) mpq_neg(out, out);
}

// cddlib keeps global constants, set once; its calls are serialised.
std::mutex& cdd_lock() {
  static std::mutex lock;
  return lock;
}

struct CddMatrix {
  dd_MatrixPtr pointer = nullptr;
  ~CddMatrix() {
    if (pointer != nullptr) dd_FreeMatrix(pointer);
  }
};

}  // namespace

PolytopeRestrictions vertex_restrictions(const std::string& file_name, const PolytopeTable& table,
                                         std::size_t item_count) {
  const std::size_t columns = table.coordinates.size();
  const std::size_t rows = table.rows();
  if (rows > kMaxVertices) {
    throw InputError(describe_position(file_name, {table.lines[kMaxVertices], 1}) + ": " +
                     too_many_vertices(rows, false));
  }
  if (columns > kMaxVertexParameters) {
    throw InputError(describe_position(file_name, {1, 1}) + ": the header names " + std::to_string(columns) +
                     " parameters, more than the " + std::to_string(kMaxVertexParameters) +
                     " a vertex file may have: the facets of a hull can number exponentially many in its "
                     "dimension; give the polytope as a restriction matrix (matrix = \"FILE.csv\") instead");
  }
  std::lock_guard<std::mutex> hold(cdd_lock());
  static std::once_flag constants;
  std::call_once(constants, [] { dd_set_global_constants(); });

  CddMatrix generators;
  generators.pointer = dd_CreateMatrix(static_cast<dd_rowrange>(rows), static_cast<dd_colrange>(columns + 1));
  if (generators.pointer == nullptr) throw std::bad_alloc();
  generators.pointer->representation = dd_Generator;
  generators.pointer->numbtype = dd_Rational;
  for (std::size_t r = 0; r < rows; ++r) {
    mpq_set_ui(generators.pointer->matrix[r][0], 1, 1);  // a point, not a ray
    for (std::size_t i = 0; i < columns; ++i) {
      set_decimal(generators.pointer->matrix[r][i + 1], table.exact[r * columns + i]);
    }
  }
  dd_ErrorType error = dd_NoError;
  dd_PolyhedraPtr hull = dd_DDMatrix2Poly(generators.pointer, &error);
  if (hull == nullptr || error != dd_NoError) {
    if (hull != nullptr) dd_FreePolyhedra(hull);
    throw InputError(file_name + ": cddlib could not find the facets of the vertices' hull (its error " +
                     std::to_string(static_cast<int>(error)) + ")");
  }
  CddMatrix facets;
  facets.pointer = dd_CopyInequalities(hull);
  dd_FreePolyhedra(hull);
  dd_rowset implicit = nullptr;
  dd_rowset redundant = nullptr;
  dd_rowindex positions = nullptr;
  const bool canonical = dd_MatrixCanonicalize(&facets.pointer, &implicit, &redundant, &positions, &error) != 0;
  if (implicit != nullptr) set_free(implicit);
  if (redundant != nullptr) set_free(redundant);
  std::free(positions);
  if (!canonical || error != dd_NoError || facets.pointer == nullptr) {
    throw InputError(file_name + ": cddlib could not bring the vertices' hull to its facets (its error " +
                     std::to_string(static_cast<int>(error)) + ")");
  }

  // Row (b0, a) of cddlib's form reads b0 + a . x >= 0: the restriction a . x > -b0, each
  // row divided by its largest coefficient in absolute value (exactly) before it is
  // rounded to doubles.
  const dd_MatrixPtr h = facets.pointer;
  const std::string shown = std::filesystem::path(file_name).filename().string();
  if (item_count != 0 && static_cast<std::size_t>(h->rowsize) > (std::size_t{1} << 27) / item_count) {
    throw InputError(file_name + ": the vertices' hull has " + std::to_string(h->rowsize) +
                     " facets, more coefficients (facets times items) than the 2^27 a hypothesis may have");
  }
  PolytopeRestrictions result;
  Rational largest, scaled, magnitude;
  for (dd_rowrange r = 0; r < h->rowsize; ++r) {
    mpq_set_ui(largest.value, 0, 1);
    for (std::size_t i = 0; i < columns; ++i) {
      mpq_abs(magnitude.value, h->matrix[r][i + 1]);
      if (mpq_cmp(magnitude.value, largest.value) > 0) mpq_set(largest.value, magnitude.value);
    }
    if (mpq_sgn(largest.value) == 0) continue;  // 1 >= 0 and the like
    const bool equality = set_member(r + 1, h->linset) != 0;
    Restriction restriction;
    restriction.coefficients.assign(item_count, 0.0);
    std::string written;
    for (std::size_t i = 0; i < columns; ++i) {
      mpq_div(scaled.value, h->matrix[r][i + 1], largest.value);
      const double coefficient = mpq_get_d(scaled.value);
      restriction.coefficients[table.coordinates[i]] = coefficient;
      if (coefficient != 0.0) {
        written += (coefficient < 0.0 ? (written.empty() ? "-" : " - ") : (written.empty() ? "" : " + "));
        if (std::abs(coefficient) != 1.0) written += format_number(std::abs(coefficient), 6) + "*";
        written += table.headers[i];
      }
    }
    mpq_div(scaled.value, h->matrix[r][0], largest.value);
    mpq_neg(scaled.value, scaled.value);
    restriction.constant = mpq_get_d(scaled.value);
    if (equality) {
      // x_i = x_j (two coefficients of one size and opposite signs, constant 0) or
      // x_i = v: exactly, on the rationals.
      std::vector<std::size_t> terms;
      for (std::size_t i = 0; i < columns; ++i) {
        if (mpq_sgn(h->matrix[r][i + 1]) != 0) terms.push_back(i);
      }
      Equality tie;
      tie.text = written + " = " + format_number(restriction.constant, 17) + " (" + shown + ")";
      bool simple = false;
      if (terms.size() == 2 && mpq_sgn(h->matrix[r][0]) == 0) {
        mpq_neg(magnitude.value, h->matrix[r][terms[1] + 1]);
        simple = mpq_equal(h->matrix[r][terms[0] + 1], magnitude.value) != 0;
        tie.item = table.coordinates[terms[0]];
        tie.other = table.coordinates[terms[1]];
      } else if (terms.size() == 1) {
        mpq_div(scaled.value, h->matrix[r][0], h->matrix[r][terms[0] + 1]);
        mpq_neg(scaled.value, scaled.value);
        simple = mpq_sgn(scaled.value) >= 0 && mpq_cmp_ui(scaled.value, 1, 1) <= 0;
        tie.item = table.coordinates[terms[0]];
        tie.value = mpq_get_d(scaled.value);
      }
      if (simple) {
        result.equalities.push_back(std::move(tie));
        continue;
      }
      throw InputError(file_name + ": the vertices' hull has a lower dimension than the " + std::to_string(columns) +
                       " parameters the header names: every vertex satisfies " + written + " = " +
                       format_number(restriction.constant, 6) +
                       "; a polytope with a linear equality other than one of two items or of an item and a number "
                       "cannot be sampled yet");
    }
    ++result.facets;
    double smallest = 0.0;
    for (double coefficient : restriction.coefficients) smallest += std::min(coefficient, 0.0);
    if (smallest >= restriction.constant) {
      ++result.left_out;
      continue;
    }
    restriction.text = shown + " facet " + std::to_string(result.facets) + ": " + written + " > " +
                       format_number(restriction.constant, 6);
    result.restrictions.push_back(std::move(restriction));
  }
  return result;
}

}  // namespace propbf::evaluate
