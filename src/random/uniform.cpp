// The uniform generator: RNSET, RNUN, RNUNF, R1INT and the jump-ahead helper.
//
// Invariants kept here:
//   * seed' = 16807 * seed mod 2147483647. The modulus is prime and 16807 = 7^5 is a
//     primitive root, so every seed in 1 ... 2147483646 lies on one cycle of period
//     2147483646; 0 and 2147483647 are never reached from an allowed seed.
//   * The step is done in 64-bit integers. 16807 * seed < 2^46, so the product and the
//     remainder are exact: the same values as the exact 64-bit real remainder.
//   * deviate = (float)((double)seed' * (double)sigma), sigma = 0x2FFFFFFF. Because
//     2^31 * sigma < 1 even in single precision, the largest seed gives 0.99999994
//     and no seed gives 1; the smallest deviate is sigma itself (seed' = 1). So every
//     deviate lies in the open interval (0, 1).
#include <cstdint>

#include "errors/errors.hpp"
#include "numeric/machine.hpp"
#include "random/random.hpp"

namespace propbf::numlib {

namespace {

// One record per thread. Zero-initialised, which is the fresh state: initialisation
// pending, not seeded, neither draw routine called yet, seed 0.
RandomState thread_state;
#pragma omp threadprivate(thread_state)

// The draw itself: load the working copy of the seed, advance it `count` times with a
// deviate per step, write it back.
inline void draw_into(RandomState& state, int32_t count, float* r) {
  state.work = static_cast<double>(state.seed);
  int32_t seed = state.seed;
  const double sigma = state.scale;
  for (int32_t i = 0; i < count; ++i) {
    seed = next_seed(seed);
    r[i] = deviate_of(seed, sigma);
  }
  state.work = static_cast<double>(seed);
  state.seed = seed;
}

// RNUN's first-call rule: the first call on a thread initialises (and seeds from the
// clock when nothing was seeded).
void apply_rnun_first_call_rule() {
  RandomState& state = thread_state;
  if (!state.rnun_called) {
    R1INT(0);
    state.rnun_called = true;
  }
}

}  // namespace

RandomState& random_state() { return thread_state; }

void reset_random_state_for_testing() { thread_state = RandomState{}; }

void R1INT(int32_t mode) {
  RandomState& state = thread_state;
  if (!state.initialised) {
    // sigma: start at 2^-31 and shrink by one relative spacing until 2^31 * sigma,
    // in single precision, is below 1. With e = 2^-24 one step gives 0x2FFFFFFF.
    const float e = AMACH(3);
    const float two_to_31 = 2147483648.0f;
    float sigma = 1.0f / two_to_31;
    do {
      sigma = (1.0f - e) * sigma;
    } while (!(two_to_31 * sigma < 1.0f));
    state.scale = sigma;
    state.initialised = true;
  }
  if (mode == -1) {
    state.seeded = true;
  } else if (mode == 0 && !state.seeded) {
    R1CLK(state.seed);
    state.seeded = true;
  }
}

void RNSET(int32_t seed) {
  if (seed >= 1 && seed <= kModulus - 1) {
    R1INT(-1);
    thread_state.seed = seed;
  } else if (seed == 0) {
    // A clock seed without touching the flags: on a fresh thread the first draw
    // still runs the initialisation, which takes the clock once more.
    R1CLK(thread_state.seed);
  } else {
    // Out of range: keep the current sequence, or seed from the clock if none.
    R1INT(0);
  }
}

void RNUN(int32_t nr, float* r) {
  if (nr < 1) {
    E1PSH("RNUN");
    int32_t code = 1;
    C1IARG(nr, "NR", 1, 0, code);
    E1POP("RNUN");
    return;
  }
  apply_rnun_first_call_rule();
  draw_into(thread_state, nr, r);
}

UniformStream reserve_uniforms() {
  apply_rnun_first_call_rule();
  return UniformStream(thread_state.seed, static_cast<double>(thread_state.scale));
}

std::optional<UniformStream> uniforms_after(int64_t draws) {
  const RandomState& state = thread_state;
  if (!state.initialised || !state.seeded) return std::nullopt;
  return UniformStream(advance_seed(state.seed, draws), static_cast<double>(state.scale));
}

void commit_uniforms(const UniformStream& stream) {
  thread_state.seed = stream.seed();
  thread_state.work = static_cast<double>(stream.seed());
}

float RNUNF() {
  RandomState& state = thread_state;
  if (!state.rnunf_called) {
    R1INT(0);
    state.rnunf_called = true;
  }
  float deviate;
  draw_into(state, 1, &deviate);
  return deviate;
}

int32_t advance_seed(int32_t seed, int64_t steps) {
  // 16807^(p-1) = 1 mod p, so only steps modulo the period matter; a negative count
  // steps backwards.
  constexpr int64_t period = kModulus - 1;
  int64_t exponent = steps % period;
  if (exponent < 0) exponent += period;
  uint32_t power = 1;
  uint32_t base = static_cast<uint32_t>(kMultiplier);
  while (exponent > 0) {
    if (exponent & 1) power = multiply_mod(power, base);
    base = multiply_mod(base, base);
    exponent >>= 1;
  }
  int64_t reduced = seed % kModulus;
  if (reduced < 0) reduced += kModulus;
  return static_cast<int32_t>(multiply_mod(static_cast<uint32_t>(reduced), power));
}

}  // namespace propbf::numlib
