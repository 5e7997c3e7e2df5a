// Fuzz target: reading a restriction matrix or a vertex file (the first byte chooses which;
// the rest is the file) over two binomial items and one of three categories, then turning
// it into restrictions (a vertex file through cddlib). Every input ends either with a
// message (InputError) naming the file, or with a table of one value per row and column,
// each row's line in the file, and finite restrictions over the free parameters; nothing
// else may escape (an exception, a crash, a sanitizer report).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "input/polytope_file.hpp"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

std::vector<propbf::evaluate::Item> items() {
  using propbf::evaluate::Item;
  std::vector<Item> list(3);
  list[0].name = "x";
  list[0].successes = 3;
  list[0].trials = 10;
  list[1].name = "y";
  list[1].successes = 5;
  list[1].trials = 10;
  list[2].name = "ab";
  list[2].counts = {4, 5, 1};
  list[2].categories = {"1", "2", "3"};
  list[2].concentration = {1.0, 1.0, 1.0};
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace propbf::evaluate;
  if (size == 0) return 0;
  static const std::vector<Item> kItems = items();
  static const ParameterNames kNames(kItems);
  const PolytopeForm form = (data[0] & 1) != 0 ? PolytopeForm::Vertices : PolytopeForm::Matrix;
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    const PolytopeTable table = parse_polytope_table("fuzz.csv", content, kNames, form, form == PolytopeForm::Vertices);
    const std::size_t columns = table.coordinates.size();
    require(columns >= 1 && columns <= kNames.coordinates(), "one column per named parameter");
    require(table.values.size() == table.rows() * columns, "one value per row and column");
    require(form == PolytopeForm::Vertices || table.b.size() == table.rows(), "one b per row of a matrix");
    for (std::size_t r = 0; r < table.rows(); ++r) {
      require(table.lines[r] >= 2 && (r == 0 || table.lines[r] > table.lines[r - 1]), "rows after the header, in order");
    }
    for (double value : table.values) require(std::isfinite(value), "finite values");
    const PolytopeRestrictions read = form == PolytopeForm::Matrix
                                          ? matrix_restrictions("fuzz.csv", table, kNames.coordinates())
                                          : vertex_restrictions("fuzz.csv", table, kNames.coordinates());
    for (const Restriction& restriction : read.restrictions) {
      require(restriction.coefficients.size() == kNames.coordinates(), "a coefficient per parameter");
      for (double c : restriction.coefficients) require(std::isfinite(c), "finite coefficients");
      require(std::isfinite(restriction.constant), "a finite constant");
    }
  } catch (const InputError& error) {
    require(std::string_view(error.what()).substr(0, 8) == "fuzz.csv", "a message names the file");
  }
  return 0;
}
