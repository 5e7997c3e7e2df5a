// Chebyshev centre by linear programming (GLPK's simplex method, messages off).
#include "evaluate/start_point.hpp"

#include <glpk.h>

#include <cmath>
#include <memory>

namespace propbf::evaluate {
namespace {

struct Centre {
  bool interior = false;
  double radius = 0.0;
  std::vector<double> centre;
};

Centre chebyshev_centre(const std::vector<Restriction>& restrictions, const std::vector<std::size_t>& used,
                        std::size_t item_count) {
  glp_term_out(GLP_OFF);
  std::unique_ptr<glp_prob, void (*)(glp_prob*)> problem(glp_create_prob(), glp_delete_prob);
  glp_prob* lp = problem.get();
  glp_set_obj_dir(lp, GLP_MAX);
  const int items = static_cast<int>(item_count);
  const int radius_column = items + 1;
  glp_add_cols(lp, items + 1);
  for (int j = 1; j <= items; ++j) glp_set_col_bnds(lp, j, GLP_DB, 0.0, 1.0);
  glp_set_col_bnds(lp, radius_column, GLP_DB, 0.0, 1.0);
  glp_set_obj_coef(lp, radius_column, 1.0);
  // Rows: the restrictions, then x_j - r >= 0 and x_j + r <= 1 for every item.
  const int rows = static_cast<int>(used.size()) + 2 * items;
  glp_add_rows(lp, rows);
  std::vector<int> row_index{0};
  std::vector<int> column_index{0};
  std::vector<double> value{0.0};
  auto put = [&](int row, int column, double entry) {
    row_index.push_back(row);
    column_index.push_back(column);
    value.push_back(entry);
  };
  int row = 0;
  for (std::size_t k : used) {
    ++row;
    const Restriction& restriction = restrictions[k];
    double norm = 0.0;
    for (std::size_t j = 0; j < item_count; ++j) {
      norm += restriction.coefficients[j] * restriction.coefficients[j];
      if (restriction.coefficients[j] != 0.0) put(row, static_cast<int>(j) + 1, restriction.coefficients[j]);
    }
    put(row, radius_column, -std::sqrt(norm));
    glp_set_row_bnds(lp, row, GLP_LO, restriction.constant, 0.0);
  }
  for (int j = 1; j <= items; ++j) {
    ++row;
    put(row, j, 1.0);
    put(row, radius_column, -1.0);
    glp_set_row_bnds(lp, row, GLP_LO, 0.0, 0.0);
    ++row;
    put(row, j, 1.0);
    put(row, radius_column, 1.0);
    glp_set_row_bnds(lp, row, GLP_UP, 0.0, 1.0);
  }
  glp_load_matrix(lp, static_cast<int>(value.size()) - 1, row_index.data(), column_index.data(), value.data());
  glp_smcp parameters;
  glp_init_smcp(&parameters);
  parameters.msg_lev = GLP_MSG_OFF;
  parameters.presolve = GLP_ON;  // also reports an empty region without the simplex iterations
  Centre result;
  if (glp_simplex(lp, &parameters) != 0 || glp_get_status(lp) != GLP_OPT) return result;
  result.radius = glp_get_obj_val(lp);
  result.interior = result.radius > kSmallestRadius;
  for (int j = 1; j <= items; ++j) result.centre.push_back(glp_get_col_prim(lp, j));
  return result;
}

}  // namespace

StartPoint find_start_point(const std::vector<Restriction>& restrictions, std::size_t item_count) {
  std::vector<std::size_t> all;
  for (std::size_t k = 0; k < restrictions.size(); ++k) all.push_back(k);
  const Centre centre = chebyshev_centre(restrictions, all, item_count);
  StartPoint start;
  if (centre.interior) {
    start.interior = true;
    start.radius = centre.radius;
    start.centre = centre.centre;
    return start;
  }
  // Deletion filter: drop each restriction in turn when the others still leave no interior.
  std::vector<std::size_t> conflict = all;
  for (std::size_t k : all) {
    std::vector<std::size_t> without;
    for (std::size_t kept : conflict) {
      if (kept != k) without.push_back(kept);
    }
    if (!chebyshev_centre(restrictions, without, item_count).interior) conflict = without;
  }
  start.conflict = conflict;
  return start;
}

}  // namespace propbf::evaluate
