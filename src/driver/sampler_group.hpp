// The fast sampler's group of stages: the stages it runs side by side, their rows laid
// out for the vector kernel (sampler_fast.cpp), and the storage this takes.
//
// Layout of a group of stages first .. first + count - 1. Stage t bounds its draws by
// rows 1 .. t-1 ("bounding rows") and tests rows 1 .. t after each sweep; row t is its
// "test row". All bounding rows of the group are laid out one stage after another, padded
// to a multiple of the kernel's lanes (2, 4 or 8), followed by the test rows (one per
// stage), again padded. Per item j
// the coefficients of all these rows form one contiguous line, and so do the products.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "driver/problem.hpp"
#include "driver/sampler_rules.hpp"
#include "random/random.hpp"

namespace propbf::driver::group {

inline constexpr int64_t kRowPad = 8;   // the widest vector: rows are padded to a multiple of at most this
inline constexpr int64_t kAlign = 64;   // bytes
// A group takes stages until it holds this many bounding rows (at least one stage):
// enough independent chains to keep the adders busy, little enough to stay in cache.
inline constexpr int64_t kGroupRows = 256;
// ... and while its storage stays below this many bytes (or one stage needs more):
// beyond a few hundred megabytes a group is streamed from memory for every draw either
// way, and more stages side by side gain nothing.
inline constexpr int64_t kGroupBytes = int64_t{256} << 20;

inline int64_t round_up(int64_t n, int64_t step) { return (n + step - 1) / step * step; }

// Storage aligned for the widest vector loads, left uninitialised: the group set-up
// writes every element that is read before the sweeps write it.
template <class T>
class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  ~AlignedBuffer() { std::free(data_); }

  static int64_t bytes_for(int64_t count) {
    return round_up((count > 0 ? count : 1) * static_cast<int64_t>(sizeof(T)), kAlign);
  }
  bool allocate(int64_t count) {
    data_ = static_cast<T*>(std::aligned_alloc(kAlign, static_cast<size_t>(bytes_for(count))));
    return data_ != nullptr;
  }
  T* get() { return data_; }
  const T* get() const { return data_; }
  T& operator[](int64_t i) { return data_[i]; }
  const T& operator[](int64_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
};

// Extents of a group of stages first .. first + count - 1 (see the layout above).
struct GroupLayout {
  int64_t items = 0;
  int64_t stages = 0;
  int64_t bounding = 0;    // bounding rows
  int64_t bound_rows = 0;  // padded count of bounding rows
  int64_t rows = 0;        // bound_rows + padded count of test rows

  // `pad`: the kernel's vector width in lanes (2, 4 or 8), a divisor of kRowPad.
  GroupLayout(int32_t item_count, int32_t first, int32_t count, int64_t pad = kRowPad)
      : items(item_count), stages(count) {
    for (int32_t s = 0; s < count; ++s) bounding += first + s - 1;
    bound_rows = round_up(bounding, pad);
    rows = bound_rows + round_up(count, pad);
  }
  int64_t coefficients() const { return items * rows; }
  int64_t magnitudes() const { return items * bound_rows; }
  int64_t products() const { return items * bound_rows; }
  int64_t values() const { return rows + 8; }
  int64_t list_entries() const { return items * bounding; }
  int64_t list_starts() const { return 2 * items * stages + 1; }
  int64_t states() const { return stages * items; }

  // Everything StageGroup allocates for this layout.
  int64_t bytes() const {
    return AlignedBuffer<float>::bytes_for(coefficients()) + AlignedBuffer<float>::bytes_for(magnitudes()) +
           AlignedBuffer<double>::bytes_for(products()) + 3 * AlignedBuffer<float>::bytes_for(rows) +
           AlignedBuffer<float>::bytes_for(values()) + AlignedBuffer<int64_t>::bytes_for(stages) +
           AlignedBuffer<int32_t>::bytes_for(list_entries()) + AlignedBuffer<int64_t>::bytes_for(list_starts()) +
           AlignedBuffer<float>::bytes_for(states()) +
           stages * static_cast<int64_t>(sizeof(numlib::UniformStream) + sizeof(HitTally));
  }
};

// One group of stages with everything its sweeps touch.
struct StageGroup {
  int32_t items = 0;
  int32_t stages = 0;
  int32_t first = 0;       // first stage, 1-based
  int64_t bound_rows = 0;  // padded count of bounding rows
  int64_t rows = 0;        // bound_rows + padded count of test rows

  AlignedBuffer<float> coefficient;  // [item][row]: r(k, j) of the row's restriction k
  AlignedBuffer<float> magnitude;    // [item][bounding row]: |r(k, j)|
  AlignedBuffer<float> constant;     // [row]: rc(k)
  AlignedBuffer<double> product;     // [item][bounding row]: r(k, j) x pi_j, or -0.0
  AlignedBuffer<float> carried;      // [row]: the carried (prefix) sum
  AlignedBuffer<float> value_store;  // 8 guard floats, then values()
  AlignedBuffer<float> bound;        // [row]: lowup of a bounding row, later the slack

  AlignedBuffer<int64_t> first_row;  // [stage]: its first bounding row
  // For item j and stage s (entry j * stages + s): the bounding rows with a positive
  // coefficient of j (they raise `low`), then those with a negative one (they lower
  // `up`), each in ascending restriction order. list_start[2e] .. list_start[2e+1] and
  // list_start[2e+1] .. list_start[2e+2].
  AlignedBuffer<int32_t> list;
  AlignedBuffer<int64_t> list_start;

  AlignedBuffer<float> pi;                    // [stage][item]
  std::vector<numlib::UniformStream> stream;  // [stage]: the stage's place in the sequence
  std::vector<HitTally> share;                // [stage]: crestr

  int32_t test_row(int32_t s) const { return static_cast<int32_t>(bound_rows) + s; }
  // [row]: the new value of the item just drawn, for each row's stage.
  float* values() { return value_store.get() + 8; }
};

// Sets up the group for stages first .. first + count - 1, its rows padded to a multiple
// of `pad` (the kernel's lanes): the layout, the starting states, the lists and the hit
// tallies (the streams are the caller's). Returns false,
// with whatever was obtained released with the group, when its storage cannot be
// obtained.
bool prepare_group(const Problem& problem, int32_t first, int32_t count, int64_t pad, StageGroup& g);

}  // namespace propbf::driver::group
