// The stage-wise Gibbs sampler behind the complexity (prior) and fit (posterior)
// evaluations.
//
// Stage t draws, item by item in sweeps, from the region where restrictions 1..t-1
// hold, starting every stage from initpi, and counts the sweeps after which
// restrictions 1..t all hold (strictly). The stage share is the float sum of 1/niter
// over the hit sweeps for niter up to 2^20 (kFloatSumSweepLimit); for more sweeps that
// sum would stall, so the hits are counted and the share is hits / niter rounded once to
// float (sampler_rules.hpp). The phase result is the product of the stage shares.
//
// Every stage takes exactly niter x J uniforms from the generator, in sweep and item
// order, whatever the data (one RNUN call of count 1 per item per sweep); the per-draw
// rules both implementations share are in sampler_rules.hpp.
//
// Arithmetic is single precision, each operation rounded in the order written. A
// matrix-vector sum starts from 0 and adds coefficient x state value over the columns
// in ascending order, each addition formed in double from the float partial sum and the
// exact product and rounded back to float; a column whose state value is exactly zero
// is skipped.
#pragma once

#include <cstdint>

#include "concurrency/executor.hpp"
#include "driver/problem.hpp"
#include "random/beta_sequence.hpp"
#include "random/random.hpp"

namespace propbf::driver {

enum class Phase { Complexity, Fit };

// Which implementation runs the stages.
enum class SamplerChoice {
  Fast,     // the program's: stages in groups side by side (fast_stage_shares)
  Literal,  // the reference: stage by stage, step by step, one RNUN call per draw
};

// One stage (1-based), written step by step as the method reads: the work arrays for
// each draw are formed anew from the current state, and every deviate comes from RNUN
// on the calling thread. `pi` has room for J values and ends holding the last state.
// Returns the stage's hit share.
float literal_stage_share(const Problem& problem, Phase phase, int32_t stage, float* pi);

// Vector widths (doubles per instruction) of the fast sampler's row sums.
enum class VectorWidth { Two, Four, Eight };
// Whether this machine runs the width (Two always does).
bool vector_width_supported(VectorWidth width);
// The width the program uses for a group of stages with this many bounding rows.
VectorWidth chosen_vector_width(int64_t bounding_rows);

// The fast sampler: stages first .. first + count - 1 of a phase, run side by side, with
// the same operations on the same values in the same order as the literal sampler, so
// the same bits (see sampler_fast.cpp). The result is that of running the stages one
// after another: shares[s] is stage first + s's share, `pi` ends holding the last
// stage's final state. The deviates come from `stream`, which must stand where the
// first stage's first deviate is drawn and ends after the last stage's last one (it is
// not touched when no deviate is drawn: no sweeps or no items). Returns false, with
// nothing changed, when the working storage cannot be obtained.
bool fast_stage_shares(const Problem& problem, Phase phase, int32_t first, int32_t count, float* pi,
                       float* shares, VectorWidth width, numlib::UniformStream& stream);
// No limit on a group's storage beyond the sampler's own.
inline constexpr int64_t kNoByteLimit = INT64_MAX;
// How many stages from `first` on run_phase puts into one group: at least one, and more
// while the group's rows and storage stay moderate and its storage within byte_limit.
int32_t fast_group_size(const Problem& problem, int32_t first, int64_t byte_limit = kNoByteLimit);
// Bytes the fast sampler allocates for a group of stages first .. first + count - 1
// with `items` items. Grows with the stages, so the last stage alone needs the most of
// any single-stage group.
int64_t fast_group_bytes(int32_t items, int32_t first, int32_t count);
// Bytes of the literal sampler's work arrays for one stage.
int64_t literal_work_bytes(int32_t items, int32_t restrictions, int32_t stage);

// Whether a phase of the problem draws any deviate (T, niter and J all at least 1).
bool phase_draws(const Problem& problem);
// How many deviates one phase draws: T x niter x J (0 when it draws none).
int64_t phase_deviates(const Problem& problem);

// Runs every stage of a phase on the calling thread's generator: prints the progress
// line after each stage, stores hits[t-1] = share x niter and returns the product of
// the shares (1 when T = 0). The fast sampler runs the stages in groups, each group's
// storage within group_byte_limit (a single stage may take more), and prints a group's
// progress lines when the group is done; a group whose storage cannot be obtained runs
// stage by stage with the literal sampler instead, which needs less.
float run_phase(const Problem& problem, Phase phase, float* pi, float* hits,
                SamplerChoice choice = SamplerChoice::Fast, int64_t group_byte_limit = kNoByteLimit);

struct PhaseResults {
  float complexity;  // c
  float fit;         // f
};

// Both phases, as run_phase(Complexity) and then run_phase(Fit) with the fast sampler
// run them on the calling thread: the same shares, hits and state, the same progress
// lines in the same order (all complexity lines, then all fit lines) and the generator
// left at the same place. With `side_by_side` and an executor of two threads the fit is
// offered to the executor's helper, to run beside the complexity from a stream jumped
// ahead by the complexity's phase_deviates; its progress lines follow when both are
// done, and each phase's groups then keep within half of group_byte_limit (one thread is
// used when a single stage would not fit in that half). A fit the helper has not started
// when the complexity is done runs on the calling thread. The helper never touches the
// generator, the console or the error state: a fit group whose storage it cannot obtain
// is left, with the rest of the fit, to the calling thread.
//
// `meanwhile` (when set, and the executor has two threads) is done by a thread that
// would otherwise wait: side by side, the one that finishes its phase first, until the
// other has finished; otherwise the helper, while the phases run.
PhaseResults run_phases(const Problem& problem, float* pi, float* chit, float* fhit, concurrency::Executor& executor,
                        bool side_by_side, int64_t group_byte_limit = kNoByteLimit,
                        const concurrency::IdleWork& meanwhile = {});

}  // namespace propbf::driver
