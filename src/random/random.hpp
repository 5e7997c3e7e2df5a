// Random deviates: the uniform generator and the beta generator.
//
// Uniform generator: multiplicative congruential, seed' = 16807 * seed mod (2^31 - 1),
// no shuffling, period 2^31 - 2. Allowed seeds 1 ... 2147483646. A deviate is
// seed' * sigma, the product formed in double and rounded to single precision, with
// sigma = 0x2FFFFFFF (the largest float below 2^-31); so every deviate lies in
// [4.6566126e-10, 0.99999994]: never 0, never 1.
//
// The generator state is kept per thread.
#pragma once

#include <cstdint>

namespace propbf::numlib {

inline constexpr int64_t kModulus = 2147483647;  // 2^31 - 1, prime
inline constexpr int64_t kMultiplier = 16807;    // 7^5

// Flags are stored so that an all-zero record is a thread's fresh state.
struct RandomState {
  int32_t seed;         // current element of the sequence; 0 until a seed is fixed
  double work;          // working copy of the seed while a draw routine runs
  float scale;          // sigma
  bool initialised;     // false while the first initialisation is pending
  bool seeded;
  bool rnun_called;     // RNUN has run once on this thread
  bool rnunf_called;    // RNUNF has run once on this thread
};

// The calling thread's generator state.
RandomState& random_state();
// Puts the calling thread's state back to the fresh state. For tests.
void reset_random_state_for_testing();

void RNSET(int32_t seed);
// NR deviates into R(1..NR). NR < 1: terminal error, code 1; R and the state untouched.
void RNUN(int32_t nr, float* r);
float RNUNF();
void R1INT(int32_t mode);
void R1CLK(int32_t& seed);
void TIMDY(int32_t& hour, int32_t& minute, int32_t& second);

// The seed `steps` draws after `seed` (jump ahead by modular powers of 16807).
int32_t advance_seed(int32_t seed, int64_t steps);

// RNBET(NR, PIN, QIN, R): NR beta(PIN, QIN) deviates into R(1..NR), each in
// [2^-24, 1). Method by region: both shapes below 1, Johnk (J); a shape equal to 1,
// inversion by a power (P, one uniform per deviate); one below and one above 1,
// switching (S); both above 1, log-logistic rejection (C) for NR <= 4 and the batch
// method for NR > 4. J, S and C take two uniforms per attempt; the batch method one to
// three. Errors (type 5): code 1 NR < 1, code 2 PIN <= 0, code 3 QIN <= 0 (all posted,
// in that order, and nothing drawn); code 4 after 1000 underflowing attempts of the
// Johnk method in log mode (that element and the rest become NaN).
void RNBET(int32_t nr, float pin, float qin, float* r);

}  // namespace propbf::numlib
