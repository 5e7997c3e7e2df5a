// The starting point of every stage chain: the centre of the largest ball inside the
// hypothesis and the unit cube (its Chebyshev centre), found by linear programming.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/run_control.hpp"
#include "problem/language.hpp"

namespace propbf::evaluate {

struct StartPoint {
  bool interior = false;          // a ball of positive radius fits inside
  std::vector<double> centre;     // one value per item, inside (0, 1); empty without interior
  double radius = 0.0;            // Euclidean, in proportion units
  // Without interior: indices of a small set of restrictions that cannot hold together
  // inside the unit cube (no one of them can be dropped without the rest gaining an
  // interior), in the order written.
  std::vector<std::size_t> conflict;
  // Not empty when the linear programme could not be solved (neither interior nor
  // conflict known): why, as a phrase that follows the hypothesis's name.
  std::string failure;
};

// Radii at or below this count as no interior (the boundary has probability 0, so a
// hypothesis that only touches itself cannot be sampled).
inline constexpr double kSmallestRadius = 1e-9;

// Maximises r subject to  g_k . x - |g_k| r >= c_k  for every restriction k (each row
// divided by its largest coefficient) and r <= x_j <= 1 - r for every item. Without
// interior, a deletion filter names the conflict: over the restrictions whose dual
// values bound the largest radius (an always feasible form in which r may be negative),
// each dropped in turn when the others still have no interior. Items no restriction
// involves sit at 0.5.
//
// `stop`, asked between the linear programmes, ends the search with Cancelled. Each call
// leaves no state of the linear programming library behind on its thread.
StartPoint find_start_point(const std::vector<Restriction>& restrictions, std::size_t item_count,
                            const StopCheck& stop = {});

}  // namespace propbf::evaluate
