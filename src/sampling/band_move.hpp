// Moves along the narrow bands of a hypothesis.
//
// Two restrictions whose coefficients point in nearly opposite directions (g and h with
// cosine at most -0.9) hold the proportions in a band, or in a wedge when they are not
// parallel, with the normal n = g / |g| - h / |h|: across it the region is as narrow as
// the two constants allow. A sweep that draws one item at a time moves along a narrow
// band by about its width, so a chain in it creeps. After each sweep of a stage whose
// truncation holds such a pair, one move per band draws a direction d in the band's
// plane (n . d = 0: for two items the rotation (n_j, -n_i) of the pair; for more, normal
// deviates over the band's items projected onto the plane) and then the position x + s d
// on that line from the stage's target restricted to it: the product of the items' beta
// densities, truncated to the segment where restrictions 1 ... stage-1 hold and every
// proportion is in [0, 1]. The position is uniform on the segment when the band's items
// are all uniform, otherwise drawn by slice sampling with shrinkage from the whole
// segment. The direction does not depend on the state and the draw on the line leaves
// the line's distribution invariant, so the move leaves the stage's truncated
// distribution invariant, as the item draws do; the stage-wise estimator stays exact.
#pragma once

#include <cstddef>
#include <vector>

#include "problem/language.hpp"
#include "sampling/stream.hpp"

namespace propbf::evaluate {

struct Band {
  std::vector<std::size_t> items;  // the items with a nonzero coefficient in n, in item order
  std::vector<double> normal;      // their coefficients in n
  std::size_t first_stage = 0;     // the first stage whose truncation holds both restrictions
  // The restrictions that name one of its items, in order: the only ones that can bound
  // a move along it (the others do not change along its directions).
  std::vector<std::size_t> restrictions;
};

// The bands among the restrictions: one per direction of n, in the order of the pairs
// (k, l), k < l, that form them, by l and then k (so by first_stage = l + 2, counting
// restrictions from 0 and stages from 1). Only restrictions that name a common item are
// compared: time about linear in the restrictions when each names a few items.
std::vector<Band> find_bands(const std::vector<Restriction>& restrictions);

// One move along each band of stage `stage` (first_stage <= stage), its uniforms taken
// from `stream`: normal
// deviates for a band of three or more items, then one uniform when the band's items
// are all uniform, otherwise one for the slice's level and one per point tried.
void move_along_bands(const std::vector<Band>& bands, const std::vector<Restriction>& restrictions, std::size_t stage,
                      const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                      std::vector<double>& state, CounterStream& stream);

}  // namespace propbf::evaluate
