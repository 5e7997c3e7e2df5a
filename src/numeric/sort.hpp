// Ascending sort of a real vector, and the strided vector copy it starts with.
//
//   SCOPY  "single-precision copy": the level-1 vector copy.
//   SVRGN  "sort, vector, real, general": ascending sort of N reals, RA into RB.
#pragma once

#include <cstdint>

namespace propbf::numlib {

// SCOPY(n, x, incx, y, incy): copies n reals from x to y with the given strides.
// n <= 0 copies nothing; a negative stride walks that vector from its far end,
// starting at element (1 - n) * inc + 1 (counted from 1); a stride of 0 reuses one
// element.
//   Elements are copied one at a time in order (with both strides 1: the first n mod 7
//   singly, then blocks of 7), so x and y may be the same vector.
//   Posts no errors; consumes no uniforms.
void SCOPY(int32_t n, const float* x, int32_t incx, float* y, int32_t incy);

// SVRGN(N, RA, RB): RB receives the N values of RA in ascending order; RA and RB may be
// the same vector (the sort is then in place). N < 1: terminal error, code 1, and RB
// is not touched. No heap storage, no recursion. NaN input yields a permutation of the
// input, never an access outside RB(1..N).
//   Domain: N >= 1; RA(1..N) any single-precision values, including +-0, +-Inf, NaN.
//   Result: RB(1..N) ascending by IEEE comparison; the order of +0 against -0 and the
//   place of NaNs follow from the fixed sequence of comparisons and exchanges, and are
//   the same on every call with the same input.
//   Errors: type 5 (terminal), code 1, "N = %(I1).  The length of RA and RB, N, must be
//   greater than or equal to one."
//   Consumes no uniforms.
void SVRGN(int32_t n, const float* ra, float* rb);

// The values that SVRGN(N, RA, RB) would leave at positions `lower` and `upper` of RB
// (1 <= lower <= upper <= N, counted from 1), into at_lower and at_upper, bit for bit.
//   Without a NaN in RA the ascending order is fixed up to the order of -0 and +0 among
//   themselves, so a position that does not hold a zero has one possible value: it is
//   found by selection on the float bits (a radix select, a few passes over RA). Where
//   RA holds a NaN, or a selected value is a zero, SVRGN itself sorts RA into `work`
//   and the values are read from there.
//   `work`: scratch of N floats (RA is not changed). N < 1 or positions out of range:
//   SVRGN's own error for N < 1, otherwise the full sort as well.
void order_statistics(int32_t n, const float* ra, float* work, int32_t lower, int32_t upper,
                      float& at_lower, float& at_upper);

namespace detail {

// The sort proper that SVRGN runs over RB after the copy and the argument check:
// sorts rb[0 .. n-1] in place with exactly SVRGN's comparisons and exchanges. n >= 1
// (n < 1 does nothing). Touches no error state; exposed for tests and benchmarks.
void sort_ascending_in_place(float* rb, int32_t n);

}  // namespace detail

}  // namespace propbf::numlib
