// SCOPY, the strided vector copy, and SVRGN, the ascending sort.
//
// The sort is a quicksort without recursion. Its working state is a handful of local
// integers, the pivot fraction R and a fixed table of deferred segments; nothing comes
// from the heap and nothing survives the call. Positions are counted from 1 throughout,
// as in the error messages and in the reasoning below.
//
// The whole sequence of comparisons and exchanges is fixed, because it decides where
// -0 and +0 end up among equal values and where NaNs go. Every comparison below is a
// plain single-precision IEEE comparison written exactly as the rule it implements,
// and every "unless" is written as a negated comparison, so that a NaN on either side
// takes the branch the rule gives it:
//
//   partition, first exchange     RB(I) > T        NaN: no exchange
//   partition, second exchange    !(RB(J) >= T)    NaN: exchange
//   partition, third exchange     !(RB(I) <= T)    NaN: exchange
//   downward scan continues       RB(L) > T        NaN: the scan stops
//   upward scan continues         RB(K) < T        NaN: the scan stops
//   crossing pair exchanged       RB(L) != RB(K)   NaN: exchange
//   insertion needed              !(T >= RB(p))    NaN: the value is inserted
//   insertion keeps moving        RB(q) > T        NaN: the moving stops

#include "numeric/sort.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "errors/errors.hpp"

namespace propbf::numlib {

void SCOPY(int32_t n, const float* x, int32_t incx, float* y, int32_t incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) {
    // The first n mod 7 values one by one, then blocks of 7. Element by element in
    // ascending order, so x == y (the in-place sort) is a harmless self-copy.
    const int32_t singles = n % 7;
    for (int32_t i = 0; i < singles; ++i) y[i] = x[i];
    for (int32_t i = singles; i < n; i += 7) {  // n - singles is a multiple of 7
      y[i] = x[i];
      y[i + 1] = x[i + 1];
      y[i + 2] = x[i + 2];
      y[i + 3] = x[i + 3];
      y[i + 4] = x[i + 4];
      y[i + 5] = x[i + 5];
      y[i + 6] = x[i + 6];
    }
    return;
  }
  // General strides. A negative stride starts at element (1 - n) * inc + 1 (from 1),
  // which is offset (1 - n) * inc from the start; offsets are kept in 64 bits because
  // (1 - n) * inc can leave the 32-bit range.
  std::ptrdiff_t ix = incx < 0 ? (1 - static_cast<std::ptrdiff_t>(n)) * incx : 0;
  std::ptrdiff_t iy = incy < 0 ? (1 - static_cast<std::ptrdiff_t>(n)) * incy : 0;
  for (int32_t count = 0; count < n; ++count) {
    y[iy] = x[ix];
    ix += incx;
    iy += incy;
  }
}

namespace {

// RB seen with positions 1..N.
struct OneBased {
  float* base;
  float& operator()(int32_t pos) const { return base[pos - 1]; }
};

// Segments with J - I below this (11 values or fewer) are not partitioned further,
// unless they start at position 1.
constexpr int32_t kPartitionSpan = 11;

// The pivot fraction R. All its values are whole multiples of 1/128 between 48/128
// and 80/128, so every step below is exact in single precision.
constexpr float kFractionStart = 0.375f;     // 48/128, R at the start of every call
constexpr float kFractionTurn = 0.5898437f;  // 0x3F16FFFF, just below 75.5/128: R <= 75/128
constexpr float kFractionUp = 0.0390625f;    // 5/128
constexpr float kFractionDown = 0.21875f;    // 28/128

// Up by 5/128 while R is at most 75/128, else down by 28/128. From 48/128 the cycle is
// 53, 58, ..., 78, 50, 55, ...: 33 steps through every value from 48/128 to 80/128.
float next_fraction(float r) {
  return r <= kFractionTurn ? r + kFractionUp : r - kFractionDown;
}

// IJ = (J - I) * R + I, both operations rounded to single precision, truncated toward
// zero. For N <= 2^24 every position is an exact float and the rounded sum lies in
// I..J, since the exact value does (R < 1) and I and J are representable; the clamp
// below therefore only acts for larger N, where rounding could otherwise leave the
// segment (or the 32-bit range) and turn the pivot read into an access out of bounds.
int32_t pivot_position(int32_t i, int32_t j, float r) {
  const float product = static_cast<float>(j - i) * r;
  const float sum = product + static_cast<float>(i);
  int32_t ij = sum < 2147483648.0f ? static_cast<int32_t>(sum) : j;  // 2^31
  if (ij < i) ij = i;
  if (ij > j) ij = j;
  return ij;
}

struct Crossing {
  int32_t k;  // first position of the upper part K..J
  int32_t l;  // last position of the lower part I..L
};

// Partitions RB(I..J), J > I, around the value at the pivot position.
//
// Why the scans need no bound tests, NaNs included. Call a value a downward stop when
// "value > T" is false and an upward stop when "value < T" is false (a NaN on either
// side is both). After the three opening exchanges RB(I) is a downward stop and RB(J)
// an upward stop for the final T:
//   - after the first exchange (if any) RB(I) is a downward stop: either the test
//     failed, or RB(I) and T were swapped and the new RB(I) is below the new T;
//   - if RB(J) >= T holds, RB(J) is an upward stop and nothing else changes;
//   - otherwise RB(J) takes T and T takes the old RB(J); "new RB(J) < new T" is
//     "old T < old RB(J)", which is false since "old RB(J) >= old T" was false without
//     NaNs, and any NaN makes it false anyway. If then RB(I) <= T holds, RB(I) is a
//     downward stop; otherwise RB(I) takes T and T takes the old RB(I) (a), which makes
//     RB(I) a downward stop by the same argument, and keeps RB(J) an upward stop:
//     RB(J) now holds the T of the first step (t4), and "t4 < a" is "a > t4", which the
//     first step made false.
// T does not change during the scans. L starts at J and K at I and each moves before
// its first test, so an exchanged pair has I < K <= L < J: RB(I) and RB(J) are never
// exchanged. Hence the downward scan stops at I at the latest, the upward scan at J at
// the latest, and at the crossing I <= L < J and I < K <= J: both parts are non-empty
// and strictly shorter than the segment.
Crossing partition(OneBased rb, int32_t i, int32_t j, float r) {
  const int32_t ij = pivot_position(i, j, r);
  float t = rb(ij);
  if (rb(i) > t) {
    rb(ij) = rb(i);
    rb(i) = t;
    t = rb(ij);
  }
  if (!(rb(j) >= t)) {
    rb(ij) = rb(j);
    rb(j) = t;
    t = rb(ij);
    if (!(rb(i) <= t)) {
      rb(ij) = rb(i);
      rb(i) = t;
      t = rb(ij);
    }
  }
  int32_t k = i;
  int32_t l = j;
  for (;;) {
    do --l;
    while (rb(l) > t);
    do ++k;
    while (rb(k) < t);
    if (k > l) return {k, l};  // the scans have crossed
    if (rb(l) != rb(k)) {      // equal values stay where they are
      const float held = rb(l);
      rb(l) = rb(k);
      rb(k) = held;
    }
  }
}

// Straight insertion of RB(I..J). Used for I > 1, where RB(I - 1) is not above any value
// of the segment and stops the moving; a NaN pivot can break that property, so the
// moving also stops at position 1 and never reaches below the vector.
void insert(OneBased rb, int32_t i, int32_t j) {
  for (int32_t p = i; p < j; ++p) {
    const float t = rb(p + 1);
    if (t >= rb(p)) continue;  // already in place
    int32_t q = p;
    do {  // the first move unconditionally
      rb(q + 1) = rb(q);
      --q;
    } while (q >= 1 && rb(q) > t);
    rb(q + 1) = t;
  }
}

// Deferred segments. The longer part of every partition is deferred and work goes on
// with the shorter one, so the segment partitioned when an entry is pushed is at most
// half as long as the one partitioned when the entry below it was pushed; a partition
// needs two values, so m entries need N >= 2^m, and N < 2^31 gives at most 30.
constexpr int32_t kStackCapacity = 32;

}  // namespace

namespace detail {

void sort_ascending_in_place(float* data, int32_t n) {
  if (n < 1) return;
  const OneBased rb{data};
  int32_t lower[kStackCapacity];
  int32_t upper[kStackCapacity];
  int32_t held = 0;  // segments deferred
  float r = kFractionStart;
  int32_t i = 1;
  int32_t j = n;
  // The whole vector, and later any short segment that starts at position 1 (there is
  // no value below it to guard an insertion), is partitioned after a step of R; other
  // segments of 12 or more values are partitioned with R as it is, and shorter ones
  // are finished by insertion.
  bool whole_vector = true;
  for (;;) {
    // Work on I..J until it is finished.
    for (;;) {
      const bool is_short = j - i < kPartitionSpan;
      if (whole_vector || (is_short && i == 1)) {
        whole_vector = false;
        if (i == j) break;  // done: a single value
        r = next_fraction(r);
      } else if (is_short) {
        insert(rb, i, j);
        break;  // done: finished by insertion
      }
      const Crossing c = partition(rb, i, j, r);
      const bool lower_longer = c.l - i > j - c.k;  // ties defer the upper part
      const int32_t defer_lo = lower_longer ? i : c.k;
      const int32_t defer_hi = lower_longer ? c.l : j;
      if (lower_longer) {
        i = c.k;
      } else {
        j = c.l;
      }
      if (held < kStackCapacity) {
        lower[held] = defer_lo;
        upper[held] = defer_hi;
        ++held;
      } else {
        // Unreachable (see kStackCapacity); if it ever were reached, the longer part
        // is finished here by insertion, guarded at position 1, instead of overflowing
        // the table.
        insert(rb, defer_lo, defer_hi);
      }
    }
    if (held == 0) return;  // the sort is finished
    --held;
    i = lower[held];
    j = upper[held];
  }
}

}  // namespace detail

void SVRGN(int32_t n, const float* ra, float* rb) {
  E1PSH("SVRGN");
  // The copy comes before the check; with N < 1 it copies nothing.
  SCOPY(n, ra, 1, rb, 1);
  if (n < 1) {
    E1STI(1, n);
    E1MES(5, 1, "N = %(I1).  The length of RA and RB, N, must be greater than or equal to one.");
  }
  if (N1RCD(0) == 0) detail::sort_ascending_in_place(rb, n);
  E1POP("SVRGN");
}

}  // namespace propbf::numlib

// ---------------------------------------------------------------------------------
// Order statistics by selection
// ---------------------------------------------------------------------------------

namespace propbf::numlib {

namespace {

// The float's bits as an unsigned key in the order of the values: negative numbers
// have all bits flipped, positive ones only the sign bit. -0 is just below +0; NaNs
// are kept out before keys are used.
inline uint32_t ordered_key(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  const uint32_t flip = static_cast<uint32_t>(-static_cast<int32_t>(bits >> 31)) | 0x80000000u;
  return bits ^ flip;
}

// Digits of 11 bits, taken from the key at a shift: the first one just below the bits
// that all keys share, each further one below the last, the final one at shift 0.
constexpr int kDigitBits = 11;
constexpr int kBuckets = 1 << kDigitBits;

inline uint32_t digit(uint32_t key, int shift) { return (key >> shift) & (kBuckets - 1); }

// The shift of the first digit when all keys lie in [low, high]: the bits above it are
// the same in every key.
inline int first_shift(uint32_t low, uint32_t high) {
  const int shared = low == high ? 32 : std::countl_zero(low ^ high);
  return std::max(32 - shared - kDigitBits, 0);
}

// The bucket holding rank (0-based) and the count of keys in the buckets before it.
struct Bucket {
  uint32_t index;
  int32_t before;
};
Bucket find_bucket(const int32_t (&counts)[kBuckets], int32_t rank) {
  int32_t before = 0;
  for (uint32_t b = 0; b < kBuckets; ++b) {
    if (rank < before + counts[b]) return {b, before};
    before += counts[b];
  }
  return {kBuckets - 1, before};  // not reached for a rank below the count
}

// Among candidates[0 .. count-1], all with the same key bits from `shift` up (the digit
// just used), the value of the given rank (0-based). Narrows the candidates in place,
// one digit at a time.
float select_among(float* candidates, int32_t count, int32_t rank, int shift) {
  while (shift > 0 && count > 1) {
    shift = std::max(shift - kDigitBits, 0);
    int32_t counts[kBuckets] = {};
    for (int32_t i = 0; i < count; ++i) ++counts[digit(ordered_key(candidates[i]), shift)];
    const Bucket bucket = find_bucket(counts, rank);
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
      if (digit(ordered_key(candidates[i]), shift) == bucket.index) candidates[kept++] = candidates[i];
    }
    count = kept;
    rank -= bucket.before;
  }
  return candidates[0];  // every candidate left has the same key
}

}  // namespace

void order_statistics(int32_t n, const float* ra, float* work, int32_t lower, int32_t upper,
                      float& at_lower, float& at_upper) {
  const auto full_sort = [&] {
    SVRGN(n, ra, work);
    if (n >= 1 && lower >= 1 && upper <= n) {
      at_lower = work[lower - 1];
      at_upper = work[upper - 1];
    }
  };
  if (n < 1 || lower < 1 || upper < lower || upper > n) {
    full_sort();
    return;
  }
  // The range of the keys, and whether a NaN is present.
  bool not_a_number = false;
  uint32_t lowest = UINT32_MAX;
  uint32_t highest = 0;
  for (int32_t i = 0; i < n; ++i) {
    const float x = ra[i];
    not_a_number |= x != x;
    const uint32_t key = ordered_key(x);
    lowest = std::min(lowest, key);
    highest = std::max(highest, key);
  }
  if (not_a_number) {
    full_sort();
    return;
  }
  // The first digit of every key.
  const int shift = first_shift(lowest, highest);
  int32_t counts[kBuckets] = {};
  for (int32_t i = 0; i < n; ++i) ++counts[digit(ordered_key(ra[i]), shift)];
  const Bucket low = find_bucket(counts, lower - 1);
  const Bucket high = find_bucket(counts, upper - 1);
  // Candidates of the lower position from the front of `work`, of the upper one from
  // the back; one set when both fall into the same bucket.
  int32_t low_count = 0;
  int32_t high_count = 0;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t d = digit(ordered_key(ra[i]), shift);
    if (d == low.index) work[low_count++] = ra[i];
    if (d == high.index && high.index != low.index) work[n - 1 - high_count++] = ra[i];
  }
  const float lower_value = select_among(work, low_count, lower - 1 - low.before, shift);
  float upper_value;
  if (high.index == low.index) {
    // The first selection narrowed the shared candidates; gather them again.
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
      if (digit(ordered_key(ra[i]), shift) == high.index) work[count++] = ra[i];
    }
    upper_value = select_among(work, count, upper - 1 - high.before, shift);
  } else {
    upper_value = select_among(work + n - high_count, high_count, upper - 1 - high.before, shift);
  }
  if (lower_value == 0.0f || upper_value == 0.0f) {
    // Which zero stands there depends on the sort's exchanges.
    full_sort();
    return;
  }
  at_lower = lower_value;
  at_upper = upper_value;
}

}  // namespace propbf::numlib
