// Ascending sort of a real vector, and the strided vector copy it starts with.
#pragma once

#include <cstdint>

namespace propbf::numlib {

// SCOPY(n, x, incx, y, incy): copies n reals from x to y with the given strides.
// n <= 0 copies nothing; a negative stride walks that vector from its far end,
// starting at element (1 - n) * inc + 1 (counted from 1); a stride of 0 reuses one
// element.
void SCOPY(int32_t n, const float* x, int32_t incx, float* y, int32_t incy);

// SVRGN(N, RA, RB): RB receives the N values of RA in ascending order; RA and RB may be
// the same vector (the sort is then in place). N < 1: terminal error, code 1, and RB
// is not touched. No heap storage, no recursion. NaN input yields a permutation of the
// input, never an access outside RB(1..N).
void SVRGN(int32_t n, const float* ra, float* rb);

}  // namespace propbf::numlib
