// Temporary stand-in for the machine constants; replaced by the real implementation.
#include <bit>
#include "numeric/machine.hpp"
namespace propbf::numlib {
float AMACH(int32_t i) {
  static const uint32_t bits[9] = {0x7FC00000u, 0x00800000u, 0x7F7FFFFFu, 0x33800000u, 0x34000000u,
                                   0x3E9A209Bu, 0x7FC00000u, 0x7F800000u, 0xFF800000u};
  return std::bit_cast<float>(bits[(i >= 1 && i <= 8) ? i : 0]);
}
int32_t IMACH(int32_t i) { return i == 5 ? 2147483647 : 0; }
void UMACH(int32_t, int32_t& unit) { unit = 6; }
void reset_units_for_testing() {}
}  // namespace propbf::numlib
