// Stages whose share is a rare event, split into levels (method.md, "Rare stages").
//
// Stage t counts the sweeps, under the distribution truncated to restrictions 1 ... t - 1,
// after which restriction t, g x > c_t, holds as well. Where that share is small its
// hits are few and the factor leans on them. Before any counted sweep, a pilot chain of
// the stage (its own stream) decides: fewer than kSplitShare of its kPilotSweeps sweeps
// hit, and the stage is split. Restriction t is then relaxed to g x > b_1, g x > b_2,
// ..., g x > b_L = c_t (b_1 < b_2 < ... < c_t), each b_(l+1) the value of g x that a
// share kLevelShare of a pilot chain truncated to g x > b_l exceeds, until a pilot holds
// at least kLevelShare hits of c_t itself (or kMaxLevels levels). The stage's own chain,
// its stream and draws unchanged, counts the hits of g x > b_1; the chain of level l > 1
// samples restrictions 1 ... t - 1 with g x > b_(l-1) and counts g x > b_l. The stage's
// share is the product of the L level shares, which telescopes to the share of
// g x > c_t; the levels come from the pilots alone, so the counted chains are
// independent given them and the product is exact in expectation, like every stage's.
// Each level's pilot starts from the latest of the previous pilot's last states above its
// bound, and the chain of level l > 1 where the pilot of level l - 1 (its distribution)
// ended, so that none has to creep into a thin region from the start point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/chains.hpp"
#include "engine/progress.hpp"

namespace propbf::evaluate {

inline constexpr std::int64_t kPilotSweeps = 1000;  // sweeps of each pilot chain
inline constexpr double kSplitShare = 0.01;         // a stage whose pilot hits fewer is split
inline constexpr double kLevelShare = 0.2;          // each level's share, as the pilots see it
inline constexpr std::size_t kMaxLevels = 32;       // 0.2^31 ~ 4e-22 of the stage's distribution
// The chains of a split stage keep their own restrictions (those of the stage, restriction
// t once or twice): per hypothesis and phase, stages are split, in order, while their
// levels' restrictions hold at most this many terms (each level counted as the terms of
// restrictions 1 ... t plus one per coordinate), so memory stays bounded by the problem.
inline constexpr std::size_t kSplitTerms = std::size_t{1} << 24;

// One step of the level choice. `values`: the values of g x after each sweep of a pilot
// truncated to g x > `current` (-infinity: the stage's own pilot); `constant`: c_t.
// Returns the next level's bound, or nullopt when the levels end (the next is c_t
// itself): for the stage's own pilot, when at least kSplitShare of the values exceed
// c_t (the stage is not split at all); for a level's pilot, when at least kLevelShare
// do. The bound is the value that a share kLevelShare of the values exceed (the
// (N - ceil(kLevelShare N))-th smallest of N); it must lie strictly between `current` and
// c_t, else the levels end. Values that are not finite end the levels too.
std::optional<double> next_level_bound(std::vector<double> values, double current, double constant);

// The bounds of a stage's levels, b_1 < ... < b_L = c_t, from pilots run in turn:
// `pilot(l, bound)` runs the pilot of level l (0: the stage's own distribution, bound
// -infinity; l > 0: truncated to g x > bound) and returns its values. Empty: not split.
std::vector<double> choose_level_bounds(double constant,
                                        const std::function<std::vector<double>(std::size_t, double)>& pilot);

// Runs the pilots of every stage of every hypothesis listed that has chain inputs (not
// grouped, complexity and fit apart) on up to `threads` threads and gives each rare
// stage its levels: the stage's chain is rebuilt to count level 1, and the chains of
// levels 2 ... L are added to the hypothesis's splits. Call before any chain runs.
// The same levels and chains for any number of threads. Throws Cancelled on request.
void split_rare_stages(std::vector<HypothesisChains>& chains, int threads, const Progress& progress);

}  // namespace propbf::evaluate
