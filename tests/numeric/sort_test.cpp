// Tests of SCOPY and SVRGN.
//
// Where the expectations come from:
//   - ordering: std::sort of the same values (NaN-free inputs);
//   - exact bytes (+0/-0 order, NaN places): small cases traced by hand through the
//     sort's steps (the trace is written beside each case), and, for many generated
//     inputs, a step-by-step transcription of the sort's numbered states kept in this
//     file (StepwiseSort) that shares no code with the implementation;
//   - SCOPY: the level-1 copy contract, element positions worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "errors/errors.hpp"
#include "numeric/sort.hpp"

namespace {

using propbf::numlib::SCOPY;
using propbf::numlib::SVRGN;
using propbf::numlib::detail::sort_ascending_in_place;

constexpr float kInf = std::numeric_limits<float>::infinity();

uint32_t bits(float x) { return std::bit_cast<uint32_t>(x); }
float from_bits(uint32_t u) { return std::bit_cast<float>(u); }

const float kNaN = from_bits(0x7FC00000u);
const float kPlusZero = from_bits(0x00000000u);
const float kMinusZero = from_bits(0x80000000u);

std::vector<uint32_t> bit_patterns(const std::vector<float>& v) {
  std::vector<uint32_t> out(v.size());
  std::transform(v.begin(), v.end(), out.begin(), bits);
  return out;
}

bool is_permutation_of(const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<uint32_t> x = bit_patterns(a);
  std::vector<uint32_t> y = bit_patterns(b);
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  return x == y;
}

std::vector<float> sorted_by_core(std::vector<float> v) {
  sort_ascending_in_place(v.data(), static_cast<int32_t>(v.size()));
  return v;
}

// ---------------------------------------------------------------------------------
// StepwiseSort: the sort's twelve numbered states transcribed one to one (a switch on
// the state number), with positions 1..N checked on every access. The implementation
// restructures these states into loops; this version is kept literal on purpose.
class StepwiseSort {
 public:
  explicit StepwiseSort(const std::vector<float>& in) : a_(in) {}

  std::vector<float> run() {
    const int32_t n = static_cast<int32_t>(a_.size());
    std::vector<int32_t> il(64), iu(64);
    int32_t m = 0, i = 0, j = 0, k = 0, l = 0, ij = 0;
    float r = 0.0f, t = 0.0f;
    int step = 1;
    for (;;) {
      switch (step) {
        case 1:
          m = 1, i = 1, j = n, r = 0.375f;
          step = 2;
          break;
        case 2:
          if (i == j) {
            step = 12;
            break;
          }
          if (r <= 0.5898437f) {
            r = r + 0.0390625f;
          } else {
            r = r - 0.21875f;
          }
          step = 3;
          break;
        case 3: {
          k = i;
          const float f = static_cast<float>(j - i) * r;
          const float g = f + static_cast<float>(i);
          ij = static_cast<int32_t>(g);
          t = at(ij);
          step = 4;
          break;
        }
        case 4:
          if (at(i) > t) {
            at(ij) = at(i), at(i) = t, t = at(ij);
          }
          step = 5;
          break;
        case 5:
          l = j;
          if (!(at(j) >= t)) {
            at(ij) = at(j), at(j) = t, t = at(ij);
            if (!(at(i) <= t)) at(ij) = at(i), at(i) = t, t = at(ij);
          }
          step = 6;
          break;
        case 6:
          l = l - 1;
          while (at(l) > t) l = l - 1;
          step = 7;
          break;
        case 7:
          k = k + 1;
          while (at(k) < t) k = k + 1;
          step = 8;
          break;
        case 8:
          if (k <= l) {
            if (at(l) != at(k)) {
              const float tt = at(l);
              at(l) = at(k), at(k) = tt;
            }
            step = 6;
          } else {
            step = 9;
          }
          break;
        case 9:
          if (l - i > j - k) {
            il.at(m) = i, iu.at(m) = l, i = k;
          } else {
            il.at(m) = k, iu.at(m) = j, j = l;
          }
          m = m + 1;
          step = 10;
          break;
        case 10:
          if (j - i >= 11) {
            step = 3;
          } else if (i == 1) {
            step = 2;
          } else {
            step = 11;
          }
          break;
        case 11:
          for (int32_t p = i; p <= j - 1; ++p) {
            t = at(p + 1);
            if (t >= at(p)) continue;
            int32_t q = p;
            at(q + 1) = at(q);
            q = q - 1;
            while (q >= 1 && at(q) > t) {
              at(q + 1) = at(q);
              q = q - 1;
            }
            at(q + 1) = t;
          }
          step = 12;
          break;
        case 12:
          m = m - 1;
          if (m == 0) return a_;
          i = il.at(m), j = iu.at(m);
          step = 10;
          break;
      }
    }
  }

 private:
  float& at(int32_t pos) {
    if (pos < 1 || pos > static_cast<int32_t>(a_.size())) throw std::out_of_range("position");
    return a_[pos - 1];
  }
  std::vector<float> a_;
};

// ---------------------------------------------------------------------------------
// Generated inputs. Raw std::mt19937 words only (its sequence is fixed by the
// standard), so the inputs are the same everywhere.
class Inputs {
 public:
  explicit Inputs(uint32_t seed) : gen_(seed) {}

  uint32_t below(uint32_t bound) { return static_cast<uint32_t>(gen_() % bound); }

  // Distinct-ish finite values in [-1000, 1000).
  float finite() { return static_cast<float>(static_cast<int32_t>(below(2000000)) - 1000000) / 1000.0f; }

  // Values from a small alphabet, so that ties, zeros of both signs, infinities and
  // (when nan_percent > 0) NaNs of several payloads and both signs are frequent.
  float awkward(uint32_t nan_percent) {
    if (below(100) < nan_percent) {
      static constexpr uint32_t kNaNs[] = {0x7FC00000u, 0xFFC00000u, 0x7FC00001u, 0x7FC12345u,
                                           0xFFFFFFFFu};
      return from_bits(kNaNs[below(5)]);
    }
    switch (below(9)) {
      case 0: return kMinusZero;
      case 1: return kPlusZero;
      case 2: return -kInf;
      case 3: return kInf;
      case 4: return 1.0f;
      case 5: return -1.0f;
      case 6: return 2.5f;
      default: return finite();
    }
  }

  std::vector<float> vector_of(int32_t n, uint32_t nan_percent) {
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) x = awkward(nan_percent);
    return v;
  }

 private:
  std::mt19937 gen_;
};

void expect_ascending_like_std_sort(const std::vector<float>& input, const std::vector<float>& got) {
  std::vector<float> want = input;
  std::sort(want.begin(), want.end());
  ASSERT_EQ(got.size(), want.size());
  for (size_t p = 0; p < want.size(); ++p) {
    // == treats -0 and +0 as equal: their order among each other is not std::sort's.
    ASSERT_EQ(got[p], want[p]) << "position " << p + 1 << " of " << want.size();
  }
  EXPECT_TRUE(is_permutation_of(input, got));
}

// =================================================================================
// SCOPY

TEST(Scopy, CountZeroOrNegativeCopiesNothing) {
  const float x[3] = {1.0f, 2.0f, 3.0f};
  for (int32_t n : {0, -1, -7, std::numeric_limits<int32_t>::min()}) {
    float y[3] = {9.0f, 9.0f, 9.0f};
    SCOPY(n, x, 1, y, 1);
    SCOPY(n, x, -2, y, 3);
    EXPECT_EQ(y[0], 9.0f);
    EXPECT_EQ(y[1], 9.0f);
    EXPECT_EQ(y[2], 9.0f);
  }
}

TEST(Scopy, UnitStridesCopyEveryCountAroundTheBlockOfSeven) {
  for (int32_t n = 1; n <= 30; ++n) {
    std::vector<float> x(static_cast<size_t>(n));
    for (int32_t p = 0; p < n; ++p) x[static_cast<size_t>(p)] = static_cast<float>(p + 1) * 0.5f;
    std::vector<float> y(static_cast<size_t>(n) + 2, -1.0f);
    SCOPY(n, x.data(), 1, y.data(), 1);
    for (int32_t p = 0; p < n; ++p) EXPECT_EQ(y[static_cast<size_t>(p)], x[static_cast<size_t>(p)]);
    EXPECT_EQ(y[static_cast<size_t>(n)], -1.0f) << "wrote past n = " << n;
  }
}

TEST(Scopy, CopiesBitPatternsExactly) {
  const std::vector<float> x = {kMinusZero, kNaN, from_bits(0xFFC12345u), from_bits(1u), -kInf};
  std::vector<float> y(5);
  SCOPY(5, x.data(), 1, y.data(), 1);
  EXPECT_EQ(bit_patterns(y), bit_patterns(x));
}

TEST(Scopy, PositiveStrides) {
  // x elements 1, 3, 5 (from 1) into y elements 1, 4, 7.
  const float x[6] = {1, 2, 3, 4, 5, 6};
  float y[7] = {0, 0, 0, 0, 0, 0, 0};
  SCOPY(3, x, 2, y, 3);
  const float want[7] = {1, 0, 0, 3, 0, 0, 5};
  for (int p = 0; p < 7; ++p) EXPECT_EQ(y[p], want[p]) << p;
}

TEST(Scopy, NegativeSourceStrideStartsAtTheFarEnd) {
  // n = 3, incx = -2: start at (1 - 3) * (-2) + 1 = 5, then 3, then 1.
  const float x[5] = {10, 20, 30, 40, 50};
  float y[3] = {0, 0, 0};
  SCOPY(3, x, -2, y, 1);
  EXPECT_EQ(y[0], 50.0f);
  EXPECT_EQ(y[1], 30.0f);
  EXPECT_EQ(y[2], 10.0f);
}

TEST(Scopy, NegativeDestinationStrideFillsFromTheFarEnd) {
  // n = 3, incy = -1: y elements 3, 2, 1 receive x elements 1, 2, 3.
  const float x[3] = {1, 2, 3};
  float y[3] = {0, 0, 0};
  SCOPY(3, x, 1, y, -1);
  EXPECT_EQ(y[0], 3.0f);
  EXPECT_EQ(y[1], 2.0f);
  EXPECT_EQ(y[2], 1.0f);
}

TEST(Scopy, BothStridesNegative) {
  // n = 2, incx = -3, incy = -2: x elements 4, 1 into y elements 3, 1.
  const float x[4] = {1, 2, 3, 4};
  float y[3] = {0, 0, 0};
  SCOPY(2, x, -3, y, -2);
  EXPECT_EQ(y[2], 4.0f);
  EXPECT_EQ(y[1], 0.0f);
  EXPECT_EQ(y[0], 1.0f);
}

TEST(Scopy, ZeroSourceStrideRepeatsOneElement) {
  const float x[1] = {7.5f};
  float y[4] = {0, 0, 0, 0};
  SCOPY(4, x, 0, y, 1);
  for (float v : y) EXPECT_EQ(v, 7.5f);
}

TEST(Scopy, ZeroDestinationStrideKeepsTheLastElement) {
  const float x[4] = {1, 2, 3, 4};
  float y[2] = {0, -1};
  SCOPY(4, x, 1, y, 0);
  EXPECT_EQ(y[0], 4.0f);
  EXPECT_EQ(y[1], -1.0f);
}

TEST(Scopy, SameVectorIsLeftAsItIs) {
  Inputs in(11);
  for (int32_t n : {1, 6, 7, 8, 100}) {
    std::vector<float> v = in.vector_of(n, 20);
    const std::vector<uint32_t> before = bit_patterns(v);
    SCOPY(n, v.data(), 1, v.data(), 1);
    EXPECT_EQ(bit_patterns(v), before);
  }
}

TEST(Scopy, OverlappingCopyGoesElementByElementInOrder) {
  // y = x - 1 element: each y(i) = x(i) is read after y(i - 1) was written, so the
  // vector moves down by one.
  std::vector<float> v(16);
  for (size_t p = 0; p < v.size(); ++p) v[p] = static_cast<float>(p);
  SCOPY(15, v.data() + 1, 1, v.data(), 1);
  for (size_t p = 0; p < 15; ++p) EXPECT_EQ(v[p], static_cast<float>(p + 1));
  EXPECT_EQ(v[15], 15.0f);
}

// =================================================================================
// The sort proper (no error machine involved).

TEST(SortCore, SingleValueIsLeftAlone) {
  for (float x : {1.0f, kMinusZero, kNaN, -kInf}) {
    const std::vector<float> got = sorted_by_core({x});
    EXPECT_EQ(bits(got[0]), bits(x));
  }
}

TEST(SortCore, TwoValuesDescendingBecomeAscending) {
  // Trace: R = 0.4140625, IJ = trunc(1 * R + 1) = 1, T = 2; RB(2) = 1 >= 2 fails, so
  // RB(1) = 1, RB(2) = 2, T = 1; scans stop at L = 1, K = 2; push (2, 2), J = 1.
  const std::vector<float> got = sorted_by_core({2.0f, 1.0f});
  EXPECT_EQ(got, (std::vector<float>{1.0f, 2.0f}));
}

TEST(SortCore, ZerosOfBothSignsLandWhereTheExchangesPutThem) {
  // {1, +0, -0}: R = 0.4140625, IJ = trunc(2 * R + 1) = 1, T = 1. RB(3) = -0 >= 1
  // fails: RB(1) = -0, RB(3) = 1, T = -0; RB(1) <= T holds. Scans: L = 2 (+0 > -0 is
  // false), K = 2; K = L, equal, no exchange; L = 1, K = 3: crossed; push (3, 3), J = 1.
  // Result -0, +0, 1.
  const std::vector<float> got = sorted_by_core({1.0f, kPlusZero, kMinusZero});
  EXPECT_EQ(bit_patterns(got), (std::vector<uint32_t>{0x80000000u, 0x00000000u, 0x3F800000u}));

  // {+0, -0}: T = +0, no opening exchange (-0 >= +0), scans stop at once: unchanged.
  const std::vector<float> two = sorted_by_core({kPlusZero, kMinusZero});
  EXPECT_EQ(bit_patterns(two), (std::vector<uint32_t>{0x00000000u, 0x80000000u}));
}

TEST(SortCore, NaNPairsFollowTheComparisonOutcomes) {
  // {NaN, 1}: IJ = 1, T = NaN; "1 >= NaN" is false: RB(1) = 1, RB(2) = NaN, T = 1;
  // "1 <= 1" holds. Result 1, NaN.
  std::vector<float> got = sorted_by_core({kNaN, 1.0f});
  EXPECT_EQ(bit_patterns(got), (std::vector<uint32_t>{0x3F800000u, 0x7FC00000u}));
  // {1, NaN}: T = 1; "NaN >= 1" is false: RB(1) = NaN, RB(2) = 1, T = NaN; "NaN <= NaN"
  // is false: RB(1) = RB(1), T = NaN. Scans stop at once. Result NaN, 1.
  got = sorted_by_core({1.0f, kNaN});
  EXPECT_EQ(bit_patterns(got), (std::vector<uint32_t>{0x7FC00000u, 0x3F800000u}));
}

TEST(SortCore, AllEqualValuesAreNeverExchanged) {
  // +0 and -0 compare equal, so any exchange or move among them would show in the
  // bytes; with every comparison "equal" none may happen.
  Inputs in(3);
  for (int32_t n : {2, 3, 11, 12, 13, 24, 25, 100, 1000, 100000}) {
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) x = in.below(2) ? kPlusZero : kMinusZero;
    const std::vector<uint32_t> before = bit_patterns(v);
    EXPECT_EQ(bit_patterns(sorted_by_core(v)), before) << "n = " << n;
  }
  const std::vector<float> same(777, 3.25f);
  EXPECT_EQ(sorted_by_core(same), same);
}

TEST(SortCore, PatternedInputsOf100000) {
  const int32_t n = 100000;
  std::vector<float> ascending(n), descending(n), organ_pipe(n);
  for (int32_t p = 0; p < n; ++p) {
    ascending[static_cast<size_t>(p)] = static_cast<float>(p);
    descending[static_cast<size_t>(p)] = static_cast<float>(n - p);
    organ_pipe[static_cast<size_t>(p)] = static_cast<float>(p < n / 2 ? p : n - 1 - p);
  }
  expect_ascending_like_std_sort(ascending, sorted_by_core(ascending));
  expect_ascending_like_std_sort(descending, sorted_by_core(descending));
  expect_ascending_like_std_sort(organ_pipe, sorted_by_core(organ_pipe));
}

TEST(SortCore, InfinitiesGoFirstAndLast) {
  const std::vector<float> v = {3.0f, kInf, -1.0f, -kInf, 0.5f, kInf, -kInf, 2.0f};
  const std::vector<float> got = sorted_by_core(v);
  expect_ascending_like_std_sort(v, got);
  EXPECT_EQ(got.front(), -kInf);
  EXPECT_EQ(got.back(), kInf);
}

TEST(SortCore, SegmentLengthsAroundTheInsertionThreshold) {
  // 11 and 12 values as the whole vector (partitioned, since they start at 1), and
  // vectors whose first split leaves segments of 11 and 12 values elsewhere.
  Inputs in(1112);
  for (int32_t n : {10, 11, 12, 13, 22, 23, 24, 25, 26, 36}) {
    for (int rep = 0; rep < 200; ++rep) {
      const std::vector<float> v = in.vector_of(n, 0);
      const std::vector<float> got = sorted_by_core(v);
      expect_ascending_like_std_sort(v, got);
      EXPECT_EQ(bit_patterns(got), bit_patterns(StepwiseSort(v).run())) << "n = " << n;
    }
  }
}

TEST(SortCore, RandomDataLikeStdSort) {
  Inputs in(20240601);
  for (int32_t n : {2, 3, 5, 17, 100, 1000, 4097, 100000}) {
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) x = in.finite();
    expect_ascending_like_std_sort(v, sorted_by_core(v));
  }
}

TEST(SortCore, MatchesTheStepwiseTranscriptionBitForBit) {
  Inputs in(77);
  for (int rep = 0; rep < 3000; ++rep) {
    const int32_t n = 1 + static_cast<int32_t>(in.below(rep < 2500 ? 60 : 3000));
    const uint32_t nan_percent = in.below(4) == 0 ? 0 : in.below(40);
    const std::vector<float> v = in.vector_of(n, nan_percent);
    ASSERT_EQ(bit_patterns(sorted_by_core(v)), bit_patterns(StepwiseSort(v).run()))
        << "n = " << n << ", case " << rep;
  }
}

TEST(SortCore, NaNInputGivesAPermutationWithinBounds) {
  // Run under the address sanitizer: any read or write outside the vector fails.
  // Every pattern over {NaN, 0, 1, -1} up to 7 values (NaN pivots, NaN sentinels,
  // NaN at both ends), then many larger random vectors with NaNs.
  const float alphabet[4] = {kNaN, 0.0f, 1.0f, -1.0f};
  for (int32_t n = 1; n <= 7; ++n) {
    int32_t count = 1;
    for (int32_t p = 0; p < n; ++p) count *= 4;
    for (int32_t code = 0; code < count; ++code) {
      std::vector<float> v(static_cast<size_t>(n));
      int32_t c = code;
      for (float& x : v) x = alphabet[c % 4], c /= 4;
      const std::vector<float> got = sorted_by_core(v);
      ASSERT_TRUE(is_permutation_of(v, got)) << "n = " << n << ", pattern " << code;
    }
  }
  Inputs in(99);
  for (int rep = 0; rep < 2000; ++rep) {
    const int32_t n = 1 + static_cast<int32_t>(in.below(500));
    const std::vector<float> v = in.vector_of(n, 1 + in.below(90));
    const std::vector<float> got = sorted_by_core(v);
    ASSERT_TRUE(is_permutation_of(v, got)) << "n = " << n << ", case " << rep;
  }
}

TEST(SortCore, OnlyNaNsAndOneValue) {
  // Whatever the places, every value must survive with its payload.
  for (int32_t n = 2; n <= 40; ++n) {
    for (int32_t at = 0; at < n; ++at) {
      std::vector<float> v(static_cast<size_t>(n), from_bits(0xFFC00000u + static_cast<uint32_t>(at)));
      v[static_cast<size_t>(at)] = 5.0f;
      EXPECT_TRUE(is_permutation_of(v, sorted_by_core(v)));
    }
  }
}

TEST(SortCore, SameInputSameBytes) {
  Inputs in(5);
  const std::vector<float> v = in.vector_of(5000, 10);
  EXPECT_EQ(bit_patterns(sorted_by_core(v)), bit_patterns(sorted_by_core(v)));
}

// =================================================================================
// SVRGN: the copy, the argument check through the error machine, the sort.

class Svrgn : public ::testing::Test {
 protected:
  void SetUp() override { propbf::numlib::reset_error_state_for_testing(); }
};

TEST_F(Svrgn, OneValueIsCopied) {
  const float ra[1] = {kMinusZero};
  float rb[1] = {9.0f};
  SVRGN(1, ra, rb);
  EXPECT_EQ(bits(rb[0]), 0x80000000u);
}

TEST_F(Svrgn, SortsIntoRbAndLeavesRaAlone) {
  Inputs in(8);
  const std::vector<float> ra = in.vector_of(10000, 5);
  const std::vector<uint32_t> ra_before = bit_patterns(ra);
  std::vector<float> rb(ra.size(), 0.0f);
  SVRGN(static_cast<int32_t>(ra.size()), ra.data(), rb.data());
  EXPECT_EQ(bit_patterns(ra), ra_before);
  EXPECT_EQ(bit_patterns(rb), bit_patterns(StepwiseSort(ra).run()));
  EXPECT_EQ(propbf::numlib::N1RCD(1), 0);
}

TEST_F(Svrgn, SameVectorSortsInPlace) {
  Inputs in(9);
  for (uint32_t nan_percent : {0u, 10u}) {
    std::vector<float> v = in.vector_of(100000, nan_percent);
    const std::vector<float> original = v;
    SVRGN(static_cast<int32_t>(v.size()), v.data(), v.data());
    EXPECT_EQ(bit_patterns(v), bit_patterns(StepwiseSort(original).run()));
    if (nan_percent == 0) expect_ascending_like_std_sort(original, v);
  }
}

TEST_F(Svrgn, TwoDescendingAndAllEqual) {
  const float ra[2] = {2.0f, -3.0f};
  float rb[2];
  SVRGN(2, ra, rb);
  EXPECT_EQ(rb[0], -3.0f);
  EXPECT_EQ(rb[1], 2.0f);

  std::vector<float> zeros(64);
  for (size_t p = 0; p < zeros.size(); ++p) zeros[p] = (p * 7 % 3 == 0) ? kMinusZero : kPlusZero;
  std::vector<float> out(zeros.size());
  SVRGN(64, zeros.data(), out.data());
  EXPECT_EQ(bit_patterns(out), bit_patterns(zeros));
}

// =================================================================================
// order_statistics: the values at two positions of SVRGN's result, bit for bit.

struct OrderCase {
  const char* name;
  std::vector<float> values;
};

std::vector<OrderCase> order_cases() {
  Inputs in(31);
  std::vector<OrderCase> cases;
  for (uint32_t nan_percent : {0u, 1u, 10u}) {
    cases.push_back({"awkward alphabet", in.vector_of(100000, nan_percent)});
  }
  std::vector<float> clustered(100000), zeros_rare(100000), zeros_many(100000), one_nan(100000);
  std::vector<float> subnormal(100000), ties(100000), infinite(100000);
  std::vector<float> few_ulps(100000), negative_clustered(100000), straddling_one(100000);
  for (int i = 0; i < 100000; ++i) {
    few_ulps[i] = from_bits(0x40490000u + in.below(3000));  // keys share all but the last 12 bits
    negative_clustered[i] = -0.75f - static_cast<float>(in.below(200000)) * 1e-7f;
    straddling_one[i] = 0.999f + static_cast<float>(in.below(2000)) * 1e-6f;  // two exponents
    clustered[i] = 3.2f + static_cast<float>(in.below(350000)) * 1e-6f;  // like replicated factors
    zeros_rare[i] = in.below(1000) == 0 ? (in.below(2) ? kPlusZero : kMinusZero) : in.finite();
    zeros_many[i] = in.below(10) < 3 ? (in.below(2) ? kPlusZero : kMinusZero) : std::fabs(in.finite());
    one_nan[i] = std::fabs(in.finite()) + 1.0f;
    subnormal[i] = from_bits(in.below(0x00800000u) | (in.below(2) << 31));
    ties[i] = static_cast<float>(in.below(5));
    infinite[i] = in.below(3) == 0 ? kInf : (in.below(2) ? -kInf : in.finite());
  }
  one_nan[54321] = kNaN;
  cases.push_back({"clustered", clustered});
  cases.push_back({"a few thousand ulps apart", few_ulps});
  cases.push_back({"clustered below zero", negative_clustered});
  cases.push_back({"clustered across 1", straddling_one});
  cases.push_back({"a few zeros of both signs", zeros_rare});
  cases.push_back({"zeros at the lower position", zeros_many});
  cases.push_back({"one NaN", one_nan});
  cases.push_back({"subnormals of both signs", subnormal});
  cases.push_back({"five values, many ties", ties});
  cases.push_back({"mostly infinities", infinite});
  cases.push_back({"all equal", std::vector<float>(100000, 2.0f)});
  for (int32_t n : {1, 2, 3, 12, 100, 4097}) {
    cases.push_back({"short awkward", in.vector_of(n, 0)});
    cases.push_back({"short with NaNs", in.vector_of(n, 20)});
  }
  return cases;
}

TEST_F(Svrgn, OrderStatisticsAreSvrgnsValuesAtThosePositions) {
  for (const OrderCase& c : order_cases()) {
    const int32_t n = static_cast<int32_t>(c.values.size());
    std::vector<float> sorted(c.values.size()), work(c.values.size());
    SVRGN(n, c.values.data(), sorted.data());
    std::vector<std::pair<int32_t, int32_t>> positions{{1, n}, {(n + 1) / 2, (n + 1) / 2}, {1, 1}, {n, n}};
    if (n == 100000) positions.push_back({2500, 97500});
    if (n >= 3) positions.push_back({2, n - 1});
    for (const auto& [lower, upper] : positions) {
      float at_lower = 7.0f, at_upper = 7.0f;
      propbf::numlib::order_statistics(n, c.values.data(), work.data(), lower, upper, at_lower, at_upper);
      EXPECT_EQ(bits(at_lower), bits(sorted[lower - 1])) << c.name << ", n " << n << ", position " << lower;
      EXPECT_EQ(bits(at_upper), bits(sorted[upper - 1])) << c.name << ", n " << n << ", position " << upper;
    }
  }
}

// A count below one is a terminal error: printed at once (on standard output, sent to
// standard error here so the death test can see it), the run stops at the pop. RB is
// not touched: with null vectors any access would crash instead of stopping.
TEST_F(Svrgn, CountBelowOneIsATerminalError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        float ra[1] = {1.0f};
        float rb[1] = {2.0f};
        SVRGN(0, ra, rb);
      },
      ::testing::ExitedWithCode(1),
      "TERMINAL ERROR 1 from SVRGN\\.  N = 0\\.  The length of RA and RB");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        SVRGN(-4, nullptr, nullptr);
      },
      ::testing::ExitedWithCode(1), "TERMINAL ERROR 1 from SVRGN\\.  N = -4\\.");
}

}  // namespace
