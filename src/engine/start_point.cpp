// Chebyshev centre by linear programming (GLPK's simplex method, messages off).
//
// The rows the simplex method sees are scaled: each restriction is divided by its largest
// coefficient in absolute value, so that its coefficients lie in [-1, 1] and its norm in
// [1, sqrt(items)] whatever the magnitudes written (1e200 * a > 1e199 is a > 0.1).
// Coefficients below kNegligible of the largest are left out of the row, with the
// constant tightened by what they can add at most inside the unit cube: the row the
// simplex method sees then implies the restriction, so its centre is inside it too, and
// the matrix never spans more than twelve orders of magnitude.
//
// GLPK ends the process on an error it cannot recover from (after printing on standard
// output). Its terminal output goes to a hook that drops it, and its error hook jumps
// back here; such a failure is reported with the hypothesis, as is a programme that
// reaches its iteration limit.
#include "engine/start_point.hpp"

#include <glpk.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <limits>
#include <optional>
#include <string>

#include "sampling/sampler.hpp"

namespace propbf::evaluate {
namespace {

// A scaled coefficient at or below this (relative to the row's largest) is left out.
constexpr double kNegligible = 1e-12;

// Simplex iterations allowed per linear programme, times (rows + columns): a limit
// well beyond what a problem needs, which keeps a degenerate cycle from running forever.
constexpr int kIterationsPerSize = 20;

// The simplex method's primal feasibility tolerance: below the smallest radius accepted
// (its default, 1e-7, would let a centre miss a thin region it reports).
constexpr double kPrimalTolerance = 1e-10;

// From this many items (involved in restrictions, at least four per restriction) the
// starting point is found by bisection over the radius (see run_bisection).
constexpr std::size_t kBisectionItems = 1000;

struct ScaledRow {
  std::vector<std::pair<int, double>> entries;  // (item index from 0, coefficient in [-1, 1])
  double constant = 0.0;                        // may be +-infinity
  double norm = 0.0;                            // of the entries, in [1, sqrt(items)]
};

ScaledRow scale_row(const Restriction& restriction) {
  ScaledRow row;
  double largest = 0.0;
  for (double g : restriction.coefficients) largest = std::max(largest, std::fabs(g));
  row.constant = restriction.constant / largest;
  double squares = 0.0;
  for (std::size_t j = 0; j < restriction.coefficients.size(); ++j) {
    const double h = restriction.coefficients[j] / largest;
    if (std::fabs(h) > kNegligible) {
      row.entries.emplace_back(static_cast<int>(j), h);
      squares += h * h;
    } else if (h < 0.0) {
      row.constant -= h;  // h x_j >= h for x_j in [0, 1]
    }
  }
  row.norm = std::sqrt(squares);
  return row;
}

struct Centre {
  bool solved = false;         // the simplex method reached an optimum
  bool iteration_limit = false;  // it stopped at its iteration limit
  bool library_error = false;    // the library met an error it cannot recover from
  bool infeasible = false;       // bisection: not even the smallest radius fits
  double radius = 0.0;         // may be negative: the largest signed distance
  std::vector<double> centre;  // one value per item
  std::vector<std::size_t> binding;  // restrictions (indices into the rows) with a non-zero dual value
};

// The linear programme in plain arrays (GLPK's 1-based layout), built before the library
// is called, so that nothing with a destructor lives in the frames its error jump leaves.
struct Programme {
  int columns = 0;  // items involved, then r
  std::vector<int> item_of{-1};  // column -> item
  std::vector<int> row_kind{0};  // GLP_LO or GLP_UP
  std::vector<double> row_bound{0.0};
  std::vector<std::size_t> restriction_of;  // row r + 1 -> restriction, for the restriction rows
  std::vector<int> row_index{0};
  std::vector<int> column_index{0};
  std::vector<double> value{0.0};
  std::vector<double> primal;  // out: per column
  std::vector<double> dual;    // out: per restriction row
};

// The columns are the items some used row involves, then r; the other items sit at 0.5
// (no row involves them, so the centre can take any value for them). With
// `negative_radius`, r may fall below 0: the programme is then always feasible and its
// optimum, with the dual values, says which rows hold the radius down.
Programme build(const std::vector<ScaledRow>& rows, const std::vector<std::size_t>& used, std::size_t item_count,
                bool cube_rows) {
  Programme p;
  std::vector<int> column_of(item_count, 0);
  for (std::size_t k : used) {
    for (const auto& [j, h] : rows[k].entries) {
      if (column_of[static_cast<std::size_t>(j)] == 0) {
        p.item_of.push_back(j);
        column_of[static_cast<std::size_t>(j)] = static_cast<int>(p.item_of.size()) - 1;
      }
    }
  }
  const int items = static_cast<int>(p.item_of.size()) - 1;
  const int radius_column = items + 1;
  p.columns = items + 1;
  int row = 0;
  auto put = [&](int column, double entry) {
    p.row_index.push_back(row);
    p.column_index.push_back(column);
    p.value.push_back(entry);
  };
  auto add_row = [&](int kind, double bound) {
    ++row;
    p.row_kind.push_back(kind);
    p.row_bound.push_back(bound);
  };
  // Rows: the restrictions, then x_j - r >= 0 and x_j + r <= 1 for every item.
  for (std::size_t k : used) {
    const ScaledRow& scaled = rows[k];
    if (scaled.constant == -std::numeric_limits<double>::infinity()) continue;  // holds everywhere
    p.restriction_of.push_back(k);
    if (!(scaled.constant < std::numeric_limits<double>::infinity())) {
      // Cannot hold (the scaled coefficients sum to at most the items): the row -r >= 1.
      add_row(GLP_LO, 1.0);
      put(radius_column, -1.0);
      continue;
    }
    add_row(GLP_LO, scaled.constant);
    for (const auto& [j, h] : scaled.entries) put(column_of[static_cast<std::size_t>(j)], h);
    put(radius_column, -scaled.norm);
  }
  for (int j = 1; j <= (cube_rows ? items : 0); ++j) {
    add_row(GLP_LO, 0.0);
    put(j, 1.0);
    put(radius_column, -1.0);
    add_row(GLP_UP, 1.0);
    put(j, 1.0);
    put(radius_column, 1.0);
  }
  p.primal.assign(static_cast<std::size_t>(p.columns) + 1, 0.0);
  p.dual.assign(p.restriction_of.size() + 1, 0.0);
  return p;
}

// Only C calls and plain values from here to the return: GLPK's error hook may jump out.
// Returns glp_simplex's code, or -1 when it ended without an optimum.
int run_simplex(glp_prob* lp, Programme& p, bool negative_radius) {
  const int rows = static_cast<int>(p.row_kind.size()) - 1;
  const int radius_column = p.columns;
  glp_set_obj_dir(lp, GLP_MAX);
  glp_add_cols(lp, p.columns);
  for (int j = 1; j < radius_column; ++j) glp_set_col_bnds(lp, j, GLP_DB, 0.0, 1.0);
  glp_set_col_bnds(lp, radius_column, negative_radius ? GLP_UP : GLP_DB, 0.0, 0.5);
  glp_set_obj_coef(lp, radius_column, 1.0);
  if (rows > 0) glp_add_rows(lp, rows);
  for (int i = 1; i <= rows; ++i) {
    const double bound = p.row_bound[static_cast<std::size_t>(i)];
    if (p.row_kind[static_cast<std::size_t>(i)] == GLP_LO) {
      glp_set_row_bnds(lp, i, GLP_LO, bound, 0.0);
    } else {
      glp_set_row_bnds(lp, i, GLP_UP, 0.0, bound);
    }
  }
  glp_load_matrix(lp, static_cast<int>(p.value.size()) - 1, p.row_index.data(), p.column_index.data(), p.value.data());
  glp_smcp parameters;
  glp_init_smcp(&parameters);
  parameters.msg_lev = GLP_MSG_OFF;
  parameters.tol_bnd = kPrimalTolerance;
  // Presolving also reports an empty region without the simplex iterations; the dual
  // values are wanted only from the always feasible form, which needs no presolving.
  parameters.presolve = negative_radius ? GLP_OFF : GLP_ON;
  parameters.it_lim = kIterationsPerSize * (rows + p.columns);
  const int code = glp_simplex(lp, &parameters);
  if (code != 0 || glp_get_status(lp) != GLP_OPT) return code != 0 ? code : -1;
  for (int j = 1; j <= p.columns; ++j) p.primal[static_cast<std::size_t>(j)] = glp_get_col_prim(lp, j);
  for (std::size_t r = 1; r < p.dual.size(); ++r) p.dual[r] = glp_get_row_dual(lp, static_cast<int>(r));
  return 0;
}

// The same programme without the cube's rows, for many items and few restrictions: r is
// fixed and each item bounded to [r, 1 - r], and the largest r for which the restrictions
// (their rows shifted by |h| r) can hold is found by bisection to within 1 %, each step
// continuing the simplex method from the last basis. A programme with only a few rows
// solves in far fewer iterations than the one with two rows per item. Only C calls and
// plain values, as in run_simplex. Returns 0 with the centre in p.primal, kInfeasible
// when even the smallest radius fails, or glp_simplex's error code. With
// `smallest_only`, only the smallest radius is tried: whether there is an interior.
constexpr int kInfeasible = 1000;  // beside glp_simplex's codes

int run_bisection(glp_prob* lp, Programme& p, bool smallest_only) {
  const int rows = static_cast<int>(p.row_kind.size()) - 1;
  const int radius_column = p.columns;
  glp_add_cols(lp, p.columns);
  if (rows > 0) glp_add_rows(lp, rows);
  for (int i = 1; i <= rows; ++i) glp_set_row_bnds(lp, i, GLP_LO, p.row_bound[static_cast<std::size_t>(i)], 0.0);
  glp_load_matrix(lp, static_cast<int>(p.value.size()) - 1, p.row_index.data(), p.column_index.data(), p.value.data());
  glp_smcp parameters;
  glp_init_smcp(&parameters);
  parameters.msg_lev = GLP_MSG_OFF;
  parameters.tol_bnd = kPrimalTolerance;
  parameters.it_lim = kIterationsPerSize * (rows + p.columns);
  // 1: feasible at radius r, 0: not, below 0: the simplex method failed.
  auto feasible = [&](double r) {
    for (int j = 1; j < radius_column; ++j) {
      if (r < 0.5) {
        glp_set_col_bnds(lp, j, GLP_DB, r, 1.0 - r);
      } else {
        glp_set_col_bnds(lp, j, GLP_FX, 0.5, 0.5);
      }
    }
    glp_set_col_bnds(lp, radius_column, GLP_FX, r, r);
    const int code = glp_simplex(lp, &parameters);
    if (code != 0) return -code;
    if (glp_get_status(lp) != GLP_OPT) return 0;
    for (int j = 1; j <= p.columns; ++j) p.primal[static_cast<std::size_t>(j)] = glp_get_col_prim(lp, j);
    p.primal[static_cast<std::size_t>(radius_column)] = r;
    return 1;
  };
  double low = 2.0 * kSmallestRadius;
  double high = 0.5;
  int found = feasible(low);
  if (found <= 0) return found < 0 ? -found : kInfeasible;
  while (!smallest_only && high - low > 0.01 * low) {
    const double middle = 0.5 * (low + high);
    found = feasible(middle);
    if (found < 0) return -found;
    if (found == 1) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return 0;
}

int drop_terminal_output(void*, const char*) { return 1; }

struct GlpkFailure {
  std::jmp_buf jump;
};

void on_glpk_error(void* info) { std::longjmp(static_cast<GlpkFailure*>(info)->jump, 1); }

// The radius the centre really has in the rows used (the simplex method holds its rows
// only to a relative tolerance of about 1e-7, well above the smallest radius accepted).
double verified_radius(const std::vector<ScaledRow>& rows, const std::vector<std::size_t>& used,
                       const std::vector<double>& centre) {
  double radius = 0.5;
  for (double x : centre) radius = std::min({radius, x, 1.0 - x});
  for (std::size_t k : used) {
    const ScaledRow& row = rows[k];
    if (row.constant == -std::numeric_limits<double>::infinity()) continue;
    double value = 0.0;
    for (const auto& [j, h] : row.entries) value += h * centre[static_cast<std::size_t>(j)];
    radius = std::min(radius, (value - row.constant) / row.norm);
  }
  return radius;
}

enum class Form { Centre, Signed, Bisection, Interior };

Centre chebyshev_centre(const std::vector<ScaledRow>& rows, const std::vector<std::size_t>& used,
                        std::size_t item_count, Form form) {
  const bool bisection = form == Form::Bisection || form == Form::Interior;
  Programme programme = build(rows, used, item_count, !bisection);
  glp_term_hook(drop_terminal_output, nullptr);
  glp_term_out(GLP_OFF);
  GlpkFailure failure;
  glp_error_hook(on_glpk_error, &failure);
  glp_prob* volatile lp = nullptr;
  if (setjmp(failure.jump) != 0) {
    glp_error_hook(nullptr, nullptr);
    glp_free_env();  // frees every object of the library, the programme included
    Centre failed;
    failed.library_error = true;
    return failed;
  }
  lp = glp_create_prob();
  const int code = bisection ? run_bisection(lp, programme, form == Form::Interior)
                             : run_simplex(lp, programme, form == Form::Signed);
  glp_delete_prob(lp);
  glp_error_hook(nullptr, nullptr);
  Centre result;
  result.iteration_limit = code == GLP_EITLIM;
  result.infeasible = code == kInfeasible;
  if (code != 0) return result;
  result.solved = true;
  result.radius = programme.primal[static_cast<std::size_t>(programme.columns)];
  result.centre.assign(item_count, 0.5);
  for (int j = 1; j < programme.columns; ++j) {
    result.centre[static_cast<std::size_t>(programme.item_of[static_cast<std::size_t>(j)])] =
        programme.primal[static_cast<std::size_t>(j)];
  }
  for (std::size_t r = 1; r < programme.dual.size(); ++r) {
    if (programme.dual[r] != 0.0) result.binding.push_back(programme.restriction_of[r - 1]);
  }
  result.radius = std::min(result.radius, verified_radius(rows, used, result.centre));
  return result;
}

// Deletion filter: each of `conflict` dropped in turn when the others still leave no
// interior, the order written kept.
template <class HasInterior>
std::vector<std::size_t> deletion_filter(std::vector<std::size_t> conflict, const HasInterior& has_interior,
                                         const StopCheck& stop) {
  const std::vector<std::size_t> candidates = conflict;
  for (std::size_t k : candidates) {
    if (stop && stop()) throw Cancelled();
    std::vector<std::size_t> without;
    for (std::size_t kept : conflict) {
      if (kept != k) without.push_back(kept);
    }
    if (!has_interior(without)) conflict = without;
  }
  return conflict;
}

// The starting point at a centre found inside.
StartPoint interior_at(const Centre& found) {
  StartPoint inside;
  inside.interior = true;
  inside.radius = found.radius;
  inside.centre = found.centre;
  return inside;
}

std::string failure_text(const Centre& c, std::size_t restrictions) {
  if (c.library_error) return "the linear programme for its starting point failed inside the library that solves it";
  return "the linear programme for its starting point (" + std::to_string(restrictions) +
         " restrictions) did not reach its optimum within its iteration limit";
}

// Many items and few restrictions, none that cannot hold: the programme without the
// cube's rows (bisection over the radius).
bool bisection_suits(const std::vector<ScaledRow>& rows, std::size_t item_count) {
  std::vector<bool> involved(item_count, false);
  std::size_t involved_count = 0;
  for (const ScaledRow& row : rows) {
    if (std::isinf(row.constant)) return false;
    for (const auto& [j, h] : row.entries) {
      if (!involved[static_cast<std::size_t>(j)]) ++involved_count;
      involved[static_cast<std::size_t>(j)] = true;
    }
  }
  return involved_count >= kBisectionItems && 4 * rows.size() <= involved_count;
}

// By bisection, and without interior a deletion filter that asks only whether the
// smallest radius fits (a programme of few rows each time). Nothing when the bisection
// failed otherwise: the general programme decides then.
std::optional<StartPoint> start_by_bisection(const std::vector<ScaledRow>& rows, const std::vector<std::size_t>& all,
                                             std::size_t item_count, const StopCheck& stop) {
  const Centre centre = chebyshev_centre(rows, all, item_count, Form::Bisection);
  if (centre.solved && centre.radius > kSmallestRadius) return interior_at(centre);
  if (!centre.infeasible) return std::nullopt;
  StartPoint start;
  start.conflict = deletion_filter(all, [&](const std::vector<std::size_t>& used) {
    return !chebyshev_centre(rows, used, item_count, Form::Interior).infeasible;
  }, stop);
  return start;
}

// Grouped hypotheses (thousands of rows; grouped_restrictions): the programme over the
// first rows, then again with the rows whose distance from its centre falls short of its
// radius added (the kCuttingRows that fall shortest), until none does. A centre whose
// ball fits every row is the optimum of every row too: the smaller programme relaxes the
// whole one, so no ball fits the whole better. Nothing when a programme fails or finds no
// interior, or after kCuttingRounds rounds: the programme over every row decides then.
constexpr std::size_t kCuttingRounds = 64;

std::optional<StartPoint> start_by_cutting_planes(const std::vector<ScaledRow>& rows, std::size_t item_count,
                                                  const StopCheck& stop) {
  const std::size_t batch = std::max<std::size_t>(64, 2 * item_count);
  std::vector<std::size_t> used;
  for (std::size_t k = 0; k < std::min(rows.size(), batch); ++k) used.push_back(k);
  std::vector<bool> in_use(rows.size(), false);
  for (std::size_t k : used) in_use[k] = true;
  for (std::size_t round = 0; round < kCuttingRounds; ++round) {
    if (stop && stop()) throw Cancelled();
    const Centre centre = chebyshev_centre(rows, used, item_count, Form::Centre);
    if (!centre.solved || !(centre.radius > kSmallestRadius)) return std::nullopt;
    // (shortfall, row) of the rows not used whose distance from the centre is below the radius.
    std::vector<std::pair<double, std::size_t>> short_rows;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (in_use[k]) continue;
      const ScaledRow& row = rows[k];
      if (row.constant == -std::numeric_limits<double>::infinity()) continue;
      double value = 0.0;
      for (const auto& [j, h] : row.entries) value += h * centre.centre[static_cast<std::size_t>(j)];
      const double distance = (value - row.constant) / row.norm;
      if (!(distance >= centre.radius)) short_rows.emplace_back(centre.radius - distance, k);
    }
    if (short_rows.empty()) {
      std::vector<std::size_t> all(rows.size());
      for (std::size_t k = 0; k < rows.size(); ++k) all[k] = k;
      Centre whole = centre;
      whole.radius = std::min(centre.radius, verified_radius(rows, all, centre.centre));
      if (!(whole.radius > kSmallestRadius)) return std::nullopt;
      return interior_at(whole);
    }
    // The rows that fall shortest first (ties by their order), at most `batch` a round.
    std::sort(short_rows.begin(), short_rows.end(), [](const auto& x, const auto& y) {
      return x.first != y.first ? x.first > y.first : x.second < y.second;
    });
    if (short_rows.size() > batch) short_rows.resize(batch);
    for (const auto& [shortfall, k] : short_rows) {
      used.push_back(k);
      in_use[k] = true;
    }
    std::sort(used.begin(), used.end());
  }
  return std::nullopt;
}

// Frees the library's environment of the calling thread (every object it holds) when
// the search ends, however it ends: an embedding process that searches many times keeps
// its memory flat.
struct LibraryEnvironment {
  LibraryEnvironment() = default;
  LibraryEnvironment(const LibraryEnvironment&) = delete;
  LibraryEnvironment& operator=(const LibraryEnvironment&) = delete;
  ~LibraryEnvironment() { glp_free_env(); }
};

}  // namespace

StartPoint find_start_point(const std::vector<Restriction>& restrictions, std::size_t item_count,
                            const StopCheck& stop) {
  const LibraryEnvironment environment;
  std::vector<ScaledRow> rows;
  rows.reserve(restrictions.size());
  for (const Restriction& restriction : restrictions) rows.push_back(scale_row(restriction));
  std::vector<std::size_t> all;
  for (std::size_t k = 0; k < restrictions.size(); ++k) all.push_back(k);
  if (bisection_suits(rows, item_count)) {
    if (std::optional<StartPoint> start = start_by_bisection(rows, all, item_count, stop)) return *start;
  }
  if (grouped_restrictions(restrictions.size(), item_count)) {
    if (std::optional<StartPoint> start = start_by_cutting_planes(rows, item_count, stop)) return *start;
  }
  StartPoint start;
  const Centre centre = chebyshev_centre(rows, all, item_count, Form::Centre);
  if (centre.library_error || centre.iteration_limit) {
    start.failure = failure_text(centre, restrictions.size());
    return start;
  }
  if (centre.solved && centre.radius > kSmallestRadius) return interior_at(centre);
  if (stop && stop()) throw Cancelled();
  auto has_interior = [&](const std::vector<std::size_t>& used) {
    const Centre c = chebyshev_centre(rows, used, item_count, Form::Signed);
    return !c.solved ? c.iteration_limit || c.library_error : c.radius > kSmallestRadius;
  };
  // The rows whose dual values hold the largest radius at or below the threshold prove by
  // themselves that there is no interior (at most one per column, from a basic
  // solution): the deletion filter starts from them rather than from every restriction.
  std::vector<std::size_t> conflict = all;
  const Centre signed_centre = chebyshev_centre(rows, all, item_count, Form::Signed);
  if (signed_centre.solved && signed_centre.radius > kSmallestRadius) {
    // The first form failed where the always feasible one finds an interior (its
    // presolver or its basis gave up): the latter's centre serves.
    return interior_at(signed_centre);
  }
  if (!signed_centre.solved) {
    start.failure = signed_centre.library_error || signed_centre.iteration_limit
                        ? failure_text(signed_centre, restrictions.size())
                        : "the linear programme for its starting point found no optimum";
    return start;
  }
  std::vector<std::size_t> binding = signed_centre.binding;
  std::sort(binding.begin(), binding.end());
  if (!binding.empty() && binding.size() < all.size() && !has_interior(binding)) conflict = binding;
  start.conflict = deletion_filter(conflict, has_interior, stop);
  return start;
}

}  // namespace propbf::evaluate
