// The leaf of the numerical library: the fixed machine-constant tables and the
// per-thread unit numbers. Nothing here posts an error or stops the run, so the error
// machine can read the largest integer and its message unit from here without needing
// the lookups (AMACH, IMACH, UMACH in numeric/machine.hpp) that report through it.
//
// The tables describe IEEE 754 binary32/binary64 on a 32-bit two's-complement
// machine; they are fixed, not measured. Index 0 of each table is unused so that an
// entry is read with the index the library routines use.
#pragma once

#include <cstdint>

namespace propbf::numlib {

inline constexpr int32_t kRealConstantCount = 8;
inline constexpr int32_t kIntegerConstantCount = 12;

// AMACH entries 1..8 as bit patterns: binary32, B = 2, T = 24, EMIN = -125, EMAX = 128.
inline constexpr uint32_t kRealConstantBits[kRealConstantCount + 1] = {
    0u,
    0x00800000u,  // 1: 2^-126, smallest positive normalised number B^(EMIN-1)
    0x7F7FFFFFu,  // 2: 3.40282347e+38, largest finite number B^EMAX (1 - B^-T)
    0x33800000u,  // 3: 2^-24, smallest relative spacing B^-T
    0x34000000u,  // 4: 2^-23, largest relative spacing B^(1-T)
    0x3E9A209Bu,  // 5: log10(2) rounded to single precision (0.30103001)
    0x7FC00000u,  // 6: quiet NaN
    0x7F800000u,  // 7: +infinity
    0xFF800000u,  // 8: -infinity
};

// IMACH entries 1..12.
inline constexpr int32_t kIntegerConstants[kIntegerConstantCount + 1] = {
    0,
    32,          // 1: bits per integer storage unit
    4,           // 2: characters per integer storage unit
    2,           // 3: integer base
    31,          // 4: integer digits in that base, sign excluded
    2147483647,  // 5: largest integer
    2,           // 6: floating-point base
    24,          // 7: single-precision digits
    -125,        // 8: single-precision EMIN
    128,         // 9: single-precision EMAX
    53,          // 10: double-precision digits
    -1021,       // 11: double-precision EMIN
    1024,        // 12: double-precision EMAX
};

// The unit numbers of one thread: entry 1 input, 2 output, 3 error messages.
// All-zero means "not used yet"; the first use sets the defaults 5, 6, 6 (standard
// input, standard output, and error messages on standard output as well).
struct UnitNumbers {
  bool initialised;
  int32_t unit[4];  // entries 1..3; 0 unused
};

// The calling thread's unit numbers, with the defaults set on the thread's first use.
// UMACH reads and changes them; the error printer reads entry 3.
UnitNumbers& unit_numbers();

// Puts the calling thread's unit numbers back to "not used yet". For tests.
void reset_units_for_testing();

}  // namespace propbf::numlib
