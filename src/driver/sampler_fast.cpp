// The stage sampler as the program runs it. Every floating-point operation of the
// literal sampler (sampler_literal.cpp) happens here too, on the same operands and in the
// same order; only the bookkeeping around it differs, so the results are the same bits.
//
// What is rearranged, and why no rounding changes:
//
//  * Carried prefix. For the draw of item j, row k's sum runs over the items before j
//    (already redrawn in this sweep) and then over the items after j. The part before j
//    is the same chain of rounded additions for every later item of the sweep, so it is
//    carried: once item j is drawn, its term is added to the carried sum. The items after
//    j are added on top of it for each draw; their start value differs from draw to draw,
//    and with it the roundings, so that part is not summed ahead.
//  * Slacks from the carried sums. After the last item the carried sum of a row is the
//    full row sum over the new state, which is what the hit test needs: the slack of every
//    restriction tested in the stage comes from its carried sum minus its constant.
//  * Products once per value. coefficient x value is exact in double (24 + 24 significant
//    bits); it is formed when the value changes, not at every draw. A zero value, which
//    the sums skip, contributes -0.0 instead: x + (-0.0) is x for every double x that is
//    not a signalling NaN, and a sum never is one (it is either +0 or the result of an
//    arithmetic operation). So the skip holds without a branch.
//  * Rows side by side. The rows are independent chains; they run as vectors of doubles
//    (2, 4 or 8 lanes; sampler_vector.hpp), each lane rounded as the scalar code rounds.
//  * Stages side by side. A stage takes exactly niter x J deviates whatever happens, so
//    where each stage starts in the generator's sequence is known in advance (the
//    generator jumps ahead by powers of 16807). Several consecutive stages therefore run
//    in lockstep, sweep by sweep and item by item, each with its own state, its own
//    position in the sequence and its own hit share: their chains are independent and
//    fill each other's latency. Each stage draws from its own uniform stream, jumped
//    ahead to where its deviates start; the caller's stream ends after the last one.
//
// The per-draw rules (bounds, draw, hit test, tally) are sampler_rules.hpp's, shared with
// the literal sampler; the group's layout and set-up are sampler_group.*.
#include <cstring>
#include <vector>

#include "driver/sampler.hpp"
#include "driver/sampler_group.hpp"
#include "driver/sampler_rules.hpp"
#include "driver/sampler_vector.hpp"
#include "random/random.hpp"

// The kernels below pass vector types between inlined helpers of different instruction
// sets; they are all inlined into one function per instruction set, so no call with the
// changed argument-passing convention remains.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace propbf::driver {

namespace {

using namespace group;
using namespace simd;

// The kernel (sampler_kernel.ipp) is compiled once for the 2-lane set that every x86-64
// has. g++ inlines the same templates into the wide entry functions, which carry the
// target attributes. clang checks the vector argument passing of every function it emits,
// before inlining, and refuses a 256- or 512-bit vector passed between functions without
// the matching target; for clang the kernel is therefore compiled once more per wide set,
// with every one of its functions under that set's target attribute.
namespace kernel {
#include "driver/sampler_kernel.ipp"
}  // namespace kernel
#if PROPBF_HAVE_WIDE && defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
namespace kernel_avx2 {
#include "driver/sampler_kernel.ipp"
}  // namespace kernel_avx2
#pragma clang attribute pop
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
namespace kernel_avx512 {
#include "driver/sampler_kernel.ipp"
}  // namespace kernel_avx512
#pragma clang attribute pop
#elif PROPBF_HAVE_WIDE && !defined(__OPTIMIZE__)
// g++ without optimisation (a Debug build) inlines nothing, flatten included: the
// kernel's functions would then pass wide vectors to the operations without the
// matching target, which reads them from other registers. As for clang, one copy per
// wide set, each under its set's target.
#pragma GCC push_options
#pragma GCC target("avx2")
namespace kernel_avx2 {
#include "driver/sampler_kernel.ipp"
}  // namespace kernel_avx2
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx512f")
namespace kernel_avx512 {
#include "driver/sampler_kernel.ipp"
}  // namespace kernel_avx512
#pragma GCC pop_options
#elif PROPBF_HAVE_WIDE
namespace kernel_avx2 = kernel;
namespace kernel_avx512 = kernel;
#endif

__attribute__((flatten)) void run_group_sse2(StageGroup& g, const Problem& p, Phase phase) {
  kernel::run_group<Sse2, 8>(g, p, phase);
}
#if PROPBF_HAVE_WIDE
__attribute__((flatten, target("avx2"))) void run_group_avx2(StageGroup& g, const Problem& p, Phase phase) {
  kernel_avx2::run_group<Avx2, 8>(g, p, phase);
}
__attribute__((flatten, target("avx512f"))) void run_group_avx512(StageGroup& g, const Problem& p, Phase phase) {
  kernel_avx512::run_group<Avx512, 12>(g, p, phase);
}
#endif

}  // namespace

bool vector_width_supported(VectorWidth width) {
  switch (width) {
    case VectorWidth::Two:
      return true;
#if PROPBF_HAVE_WIDE
    case VectorWidth::Four:
      return __builtin_cpu_supports("avx2");
    case VectorWidth::Eight:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

VectorWidth chosen_vector_width(int64_t bounding_rows) {
  static const bool four = vector_width_supported(VectorWidth::Four);
  static const bool eight = vector_width_supported(VectorWidth::Eight);
  // Wide vectors carry more rows per instruction but take longer per addition; with
  // few rows the chain's latency, not the adders, sets the pace.
  if (eight && bounding_rows > 80) return VectorWidth::Eight;
  if (four && bounding_rows > 16) return VectorWidth::Four;
  return VectorWidth::Two;
}

bool fast_stage_shares(const Problem& problem, Phase phase, int32_t first, int32_t count, float* pi,
                       float* shares, VectorWidth width, numlib::UniformStream& stream) {
  if (count <= 0) return true;
  if (problem.niter < 1) {
    // No sweeps: every stage leaves the start as it is and has no hit. Nothing to set up.
    for (int32_t s = 0; s < count; ++s) shares[s] = 0.0f;
    for (int32_t j = 0; j < problem.items(); ++j) pi[j] = problem.initpi[j];
    return true;
  }
  if (!vector_width_supported(width)) width = VectorWidth::Two;
  const int64_t lanes = width == VectorWidth::Eight ? 8 : width == VectorWidth::Four ? 4 : 2;
  StageGroup g;
  if (!prepare_group(problem, first, count, lanes, g)) return false;

  // Stage first + s starts s x niter x J deviates after the first stage.
  const int64_t per_stage = static_cast<int64_t>(problem.niter) * g.items;
  g.stream.resize(static_cast<size_t>(count));
  const bool draws = g.items >= 1;
  if (draws) {
    g.stream[0] = stream;
    for (int32_t s = 1; s < count; ++s) g.stream[static_cast<size_t>(s)] = stream.ahead(s * per_stage);
  }

  switch (width) {
#if PROPBF_HAVE_WIDE
    case VectorWidth::Eight:
      run_group_avx512(g, problem, phase);
      break;
    case VectorWidth::Four:
      run_group_avx2(g, problem, phase);
      break;
#endif
    default:
      run_group_sse2(g, problem, phase);
      break;
  }

  if (draws) stream = g.stream[static_cast<size_t>(count - 1)];
  for (int32_t s = 0; s < count; ++s) shares[s] = g.share[static_cast<size_t>(s)].share();
  const float* final_pi = g.pi.get() + static_cast<int64_t>(count - 1) * g.items;
  for (int32_t j = 0; j < g.items; ++j) pi[j] = final_pi[j];
  return true;
}

}  // namespace propbf::driver
