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
#include <optional>

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

// RNSET ("random number seed set"): seed 1 ... 2147483646 fixes the sequence (and
// marks the thread seeded); 0 stores a clock seed and leaves the flags; any other
// value keeps a seeded sequence where it is, or seeds a fresh thread from the clock.
// Posts no errors.
void RNSET(int32_t seed);
// RNUN ("random numbers, uniform"): NR deviates into R(1..NR), each in (0, 1), one
// uniform consumed per deviate. The first call on a thread that was never seeded takes
// a clock seed. NR < 1: terminal error, code 1; R and the state untouched.
void RNUN(int32_t nr, float* r);
// RNUNF ("uniform, function form"): the next deviate of the same sequence, as RNUN with
// NR = 1 would give it; same first-call rule with its own flag. Posts no errors.
float RNUNF();
// R1INT: runs the one-time initialisation (sigma) if pending; MODE -1 then marks the
// thread seeded, MODE 0 seeds from the clock unless seeded already.
void R1INT(int32_t mode);
// R1CLK: a seed from the local time of day, see clock_seed_from_time.
void R1CLK(int32_t& seed);
// TIMDY: the local time of day (hour 0-23, minute, second).
void TIMDY(int32_t& hour, int32_t& minute, int32_t& second);

// 10000 * hour + 100 * minute + second + 1, or 123457 when that is 1 or less; so a
// clock seed lies in 2 ... 235960, or is 123457 at midnight exactly.
int32_t clock_seed_from_time(int32_t hour, int32_t minute, int32_t second);

// The ten characters hhmmss.sss that TIMDY reads its three fields from.
inline constexpr int kTimeOfDayLength = 10;
void format_time_of_day(int hour, int minute, int second, int millisecond,
                        char (&text)[kTimeOfDayLength]);

// The seed `steps` draws after `seed` (jump ahead by modular powers of 16807).
// Steps are taken modulo the period; a negative count steps backwards.
int32_t advance_seed(int32_t seed, int64_t steps);

// a * b mod (2^31 - 1) for residues a, b below 2^31 - 1: the product is below
// 2^62, and since 2^31 = 1 modulo the Mersenne prime, the bits above bit 31 added to the
// low 31 bits are congruent and below 2^32; one subtraction brings them into range (the
// result is never the modulus: for two non-zero factors it is a unit modulo the prime,
// and a zero factor gives 0).
constexpr uint32_t multiply_mod(uint32_t a, uint32_t b) {
  constexpr uint32_t modulus = static_cast<uint32_t>(kModulus);
  const uint64_t product = uint64_t{a} * b;
  uint32_t folded = static_cast<uint32_t>(product & modulus) + static_cast<uint32_t>(product >> 31);
  if (folded >= modulus) folded -= modulus;
  return folded;
}

// The generator's integer step, seed * 16807 mod (2^31 - 1), for seeds 1 ... 2^31 - 2.
inline int32_t next_seed(int32_t seed) {
  return static_cast<int32_t>(multiply_mod(static_cast<uint32_t>(seed), static_cast<uint32_t>(kMultiplier)));
}

// The deviate of a seed: seed x sigma formed in double (exactly: 31 x 24 bits), then
// rounded once to float.
inline float deviate_of(int32_t seed, double sigma) { return static_cast<float>(static_cast<double>(seed) * sigma); }

// A position in the calling thread's sequence that a caller advances on its own, for
// loops that take a known number of deviates in a known order (the stage sampler). Its
// deviates are bit for bit the ones successive RNUN calls would give from the same
// position. Streams are plain values: several can stand at different places of the one
// sequence, each ahead() of another by a number of deviates.
class UniformStream {
 public:
  UniformStream() = default;
  // The next deviate, as the next RNUN of count 1 would give it.
  float next() {
    seed_ = next_seed(seed_);
    return deviate_of(seed_, sigma_);
  }
  // The stream `steps` deviates further on (negative: back).
  UniformStream ahead(int64_t steps) const { return UniformStream(advance_seed(seed_, steps), sigma_); }
  int32_t seed() const { return seed_; }
  // sigma, the factor of every deviate.
  float scale() const { return static_cast<float>(sigma_); }

 private:
  friend UniformStream reserve_uniforms();
  friend std::optional<UniformStream> uniforms_after(int64_t draws);
  UniformStream(int32_t seed, double sigma) : seed_(seed), sigma_(sigma) {}
  int32_t seed_ = 0;
  double sigma_ = 0.0;
};

// Starts taking deviates from the calling thread's generator as RNUN would: on the
// thread's first RNUN-style draw, the first-call rule runs (initialise; seed from the
// clock if never seeded) exactly as in RNUN. Returns a stream at the current position;
// the thread's state does not move until commit_uniforms. Call it only when at least
// one deviate will be taken (RNUN with no draw applies no rule either).
UniformStream reserve_uniforms();
// Where the calling thread's generator will stand after `draws` more uniforms, as a
// stream, without moving it; nothing when the thread's sequence is not fixed yet (not
// initialised or not seeded: its first draw would take a clock seed).
std::optional<UniformStream> uniforms_after(int64_t draws);
// Leaves the calling thread's generator where `stream` stands, as RNUN leaves it after
// its last deviate (seed and working copy).
void commit_uniforms(const UniformStream& stream);

// RNBET(NR, PIN, QIN, R): NR beta(PIN, QIN) deviates into R(1..NR), each in
// [2^-24, 1). Method by region: both shapes below 1, Johnk (J); a shape equal to 1,
// inversion by a power (P, one uniform per deviate); one below and one above 1,
// switching (S); both above 1, log-logistic rejection (C) for NR <= 4 and the batch
// method for NR > 4. J, S and C take two uniforms per attempt; the batch method one to
// three. Errors (type 5): code 1 NR < 1, code 2 PIN <= 0, code 3 QIN <= 0 (all posted,
// in that order, and nothing drawn); code 4 after 1000 underflowing attempts of the
// Johnk method in log mode (that element and the rest become NaN).
// Every stored deviate is clamped: 1 or more becomes 0.99999988, then 2^-24 or less
// becomes 2^-24. AMACH(4) and AMACH(3) are read at entry.
// Shapes that are not numbers pass the checks (comparisons with 0 are false) and give
// NaN deviates, never an endless loop: with the other shape below 1 the switching
// method is chosen, whose set-up is then not a number, so R(1..NR) become NaN and no
// uniform is drawn; otherwise P, C or the batch method run and their comparisons let
// the first candidate through as NaN. An infinite shape gives NaN in the same ways,
// except beside a shape of 1 (method P): u^0 = 1, so 0.99999988 or 2^-24.
void RNBET(int32_t nr, float pin, float qin, float* r);

}  // namespace propbf::numlib
