// The stage-wise Gibbs sampler behind the complexity (prior) and fit (posterior)
// evaluations.
//
// Stage t draws, item by item in sweeps, from the region where restrictions 1..t-1
// hold, starting every stage from initpi, and counts the sweeps after which
// restrictions 1..t all hold (strictly). The stage share is the float sum of 1/niter
// over the hit sweeps; the phase result is the product of the stage shares.
//
// Every stage takes exactly niter x J uniforms from the generator, in sweep and item
// order, whatever the data (one RNUN call of count 1 per item per sweep).
//
// Arithmetic is single precision, each operation rounded in the order written. A
// matrix-vector sum starts from 0 and adds coefficient x state value over the columns
// in ascending order, each addition formed in double from the float partial sum and the
// exact product and rounded back to float; a column whose state value is exactly zero
// is skipped.
#pragma once

#include <cstdint>

#include "driver/problem.hpp"

namespace propbf::driver {

enum class Phase { Complexity, Fit };

// One stage (1-based). `pi` has room for J values and ends holding the last state.
// Returns the stage's hit share.
using StageSampler = float (*)(const Problem& problem, Phase phase, int32_t stage, float* pi);

// The plain implementation, written step by step as the method reads: the work arrays
// for each draw are formed anew from the current state.
float literal_stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi);

// The implementation the program runs.
float stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi);

// Runs every stage of a phase: prints the progress line after each stage, stores
// hits[t-1] = share x niter and returns the product of the shares (1 when T = 0).
float run_phase(const Problem& problem, Phase phase, float* pi, float* hits,
                StageSampler sampler = stage_share);

}  // namespace propbf::driver
