// AMACH, IMACH, UMACH: the machine constants and the unit numbers of the library.
// The tables describe IEEE 754 binary32/binary64 on a 32-bit two's-complement
// machine; they are fixed, not measured.
#include "numeric/machine.hpp"

#include <bit>
#include <span>

#include "errors/errors.hpp"
#include "errors/text_helpers.hpp"
#include "numeric/machine_thread_units.hpp"
#include "textio/textio.hpp"

namespace propbf::numlib {

UnitNumbers thread_unit_numbers;

namespace {

constexpr uint32_t kQuietNaNBits = 0x7FC00000u;

// AMACH entries 1..8 as bit patterns (index 0 unused).
constexpr uint32_t kRealConstantBits[9] = {
    0u,
    0x00800000u,  // 1: 2^-126, smallest positive normalised number B^(EMIN-1)
    0x7F7FFFFFu,  // 2: 3.40282347e+38, largest finite number B^EMAX (1 - B^-T)
    0x33800000u,  // 3: 2^-24, smallest relative spacing B^-T
    0x34000000u,  // 4: 2^-23, largest relative spacing B^(1-T)
    0x3E9A209Bu,  // 5: log10(2) rounded to single precision (0.30103001)
    kQuietNaNBits,  // 6: quiet NaN
    0x7F800000u,  // 7: +infinity
    0xFF800000u,  // 8: -infinity
};

// IMACH entries 1..12 (index 0 unused).
constexpr int32_t kIntegerConstants[13] = {
    0,
    32,           // 1: bits per integer storage unit
    4,            // 2: characters per integer storage unit
    2,            // 3: integer base
    31,           // 4: integer digits in that base, sign excluded
    2147483647,   // 5: largest integer
    2,            // 6: floating-point base
    24,           // 7: single-precision digits
    -125,         // 8: single-precision EMIN
    128,          // 9: single-precision EMAX
    53,           // 10: double-precision digits
    -1021,        // 11: double-precision EMIN
    1024,         // 12: double-precision EMAX
};

UnitNumbers& units() {
  UnitNumbers& u = thread_unit_numbers;
  if (!u.initialised) {
    u.unit[1] = textio::kStandardInput;   // 5
    u.unit[2] = textio::kStandardOutput;  // 6
    u.unit[3] = textio::kStandardOutput;  // 6: error messages go to standard output
    u.initialised = true;
  }
  return u;
}

// The stop message of IMACH and UMACH: an empty line, three lines, an empty line,
// written under the error-output lock; the last line ends with `value` in 6 columns
// and a point. Then the run stops.
[[noreturn]] void stop_with_lookup_message(int32_t unit, std::string_view first, std::string_view second,
                                           std::string_view third_start, int32_t value,
                                           bool value_fits) {
  char line[96];
  const size_t start = third_start.size();
  third_start.copy(line, start);
  std::span<char> field(line + start, 6);
  if (value_fits) {
    integer_field_in_place(value, field);
  } else {
    for (char& c : field) c = '*';
  }
  line[start + 6] = '.';
  E1LOCK(1);
  textio::write_line(unit, "");
  textio::write_line(unit, first);
  textio::write_line(unit, second);
  textio::write_line(unit, std::string_view(line, start + 7));
  textio::write_line(unit, "");
  E1LOCK(0);
  library_stop();
}

}  // namespace

float AMACH(int32_t i) {
  if (i < 1 || i > 8) {
    E1PSH("AMACH");
    E1STI(1, i);
    E1MES(5, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
    E1POP("AMACH");
    return std::bit_cast<float>(kQuietNaNBits);
  }
  return std::bit_cast<float>(kRealConstantBits[i]);
}

int32_t IMACH(int32_t i) {
  if (i < 1 || i > 12) {
    int32_t unit = 0;
    UMACH(2, unit);
    stop_with_lookup_message(unit, " *** TERMINAL ERROR 5 from IMACH.  The argument",
                             " ***          must be between 1 and 12 inclusive.", " ***          N = ", i,
                             true);
  }
  return kIntegerConstants[i];
}

void UMACH(int32_t n, int32_t& unit) {
  UnitNumbers& u = units();
  if (n >= 1 && n <= 3) {
    unit = u.unit[n];
  } else if (n >= -3 && n <= -1) {
    u.unit[-n] = unit;
  } else {
    // |N| of -2147483648 is not a 32-bit value; it could not fit the field anyway.
    const bool representable = n != INT32_MIN;
    stop_with_lookup_message(u.unit[3], " *** TERMINAL ERROR 5 from UMACH.  The absolute",
                             " ***          value of the index variable must be",
                             " ***          1, 2, or 3.  IABS(N) = ", representable ? (n < 0 ? -n : n) : 0,
                             representable);
  }
}

void reset_units_for_testing() { thread_unit_numbers = UnitNumbers{}; }

}  // namespace propbf::numlib
