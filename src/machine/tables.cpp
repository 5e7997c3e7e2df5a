// The per-thread unit numbers of the numerical library (see tables.hpp).
#include "machine/tables.hpp"

#include "machine/thread_units.hpp"
#include "textio/textio.hpp"

namespace propbf::numlib {

UnitNumbers thread_unit_numbers;

UnitNumbers& unit_numbers() {
  UnitNumbers& u = thread_unit_numbers;
  if (!u.initialised) {
    u.unit[1] = textio::kStandardInput;   // 5
    u.unit[2] = textio::kStandardOutput;  // 6
    u.unit[3] = textio::kStandardOutput;  // 6: error messages go to standard output
    u.initialised = true;
  }
  return u;
}

void reset_units_for_testing() { thread_unit_numbers = UnitNumbers{}; }

}  // namespace propbf::numlib
