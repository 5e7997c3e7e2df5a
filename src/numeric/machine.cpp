// AMACH, IMACH, UMACH: the lookups of the machine constants and the unit numbers,
// with their error paths. The tables and the unit record are in machine/tables.
#include "numeric/machine.hpp"

#include <bit>
#include <span>

#include "errors/errors.hpp"
#include "textio/text_utilities.hpp"
#include "textio/textio.hpp"

namespace propbf::numlib {

namespace {

constexpr uint32_t kQuietNaNBits = kRealConstantBits[6];

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
    textio::integer_field_in_place(value, field);
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
  if (i < 1 || i > kRealConstantCount) {
    E1PSH("AMACH");
    E1STI(1, i);
    E1MES(5, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
    E1POP("AMACH");
    return std::bit_cast<float>(kQuietNaNBits);
  }
  return std::bit_cast<float>(kRealConstantBits[i]);
}

int32_t IMACH(int32_t i) {
  if (i < 1 || i > kIntegerConstantCount) {
    int32_t unit = 0;
    UMACH(2, unit);
    stop_with_lookup_message(unit, " *** TERMINAL ERROR 5 from IMACH.  The argument",
                             " ***          must be between 1 and 12 inclusive.", " ***          N = ", i,
                             true);
  }
  return kIntegerConstants[i];
}

void UMACH(int32_t n, int32_t& unit) {
  UnitNumbers& u = unit_numbers();
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

}  // namespace propbf::numlib
