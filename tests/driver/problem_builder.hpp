// Builds problems in memory for the driver's tests.
#pragma once

#include <initializer_list>
#include <vector>

#include "driver/problem.hpp"

namespace propbf::testing {

inline driver::Problem make_problem(int nitem, int nrestr, int niter, const std::vector<std::vector<float>>& rows,
                                    const std::vector<float>& initpi, const std::vector<int>& x) {
  driver::Problem problem;
  problem.nitem = nitem;
  problem.nrestr = nrestr;
  problem.niter = niter;
  const int items = problem.items();
  problem.r.allocate(static_cast<int64_t>(items) * problem.restrictions());
  problem.rc.allocate(problem.restrictions());
  problem.initpi.allocate(items);
  problem.x.allocate(items);
  for (int t = 0; t < problem.restrictions() && t < static_cast<int>(rows.size()); ++t) {
    for (int j = 0; j < items; ++j) problem.r[static_cast<int64_t>(t) * items + j] = rows[t][j];
    problem.rc[t] = rows[t][items];
  }
  for (int j = 0; j < items && j < static_cast<int>(initpi.size()); ++j) problem.initpi[j] = initpi[j];
  for (int j = 0; j < items && j < static_cast<int>(x.size()); ++j) problem.x[j] = x[j];
  return problem;
}

}  // namespace propbf::testing
