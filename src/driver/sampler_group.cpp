#include "driver/sampler_group.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/sampler.hpp"

namespace propbf::driver {

namespace group {

// Sets up the group. Returns false when its storage cannot be obtained.
bool prepare_group(const Problem& problem, int32_t first, int32_t count, int64_t pad, StageGroup& g) {
  const int32_t items = problem.items();
  const GroupLayout layout(items, first, count, pad);
  g.items = items;
  g.stages = count;
  g.first = first;
  g.bound_rows = layout.bound_rows;
  g.rows = layout.rows;
  const int64_t line = g.rows;
  const int64_t bound_line = g.bound_rows;

  if (!g.coefficient.allocate(layout.coefficients()) || !g.magnitude.allocate(layout.magnitudes()) ||
      !g.constant.allocate(line) || !g.product.allocate(layout.products()) || !g.carried.allocate(line) ||
      !g.value_store.allocate(layout.values()) || !g.bound.allocate(line) || !g.first_row.allocate(count) ||
      !g.list.allocate(layout.list_entries()) || !g.list_start.allocate(layout.list_starts()) ||
      !g.pi.allocate(layout.states())) {
    return false;
  }
  g.share.assign(static_cast<size_t>(count), HitTally(problem.niter));

  // The padding rows take part in the vector operations: their coefficients, magnitudes,
  // constants and values are zero. (The guard before the values only ever receives
  // copies.) Every other row is written below; the products, bounds and carried sums are
  // written by the sweeps before they are read.
  for (int32_t j = 0; j < items; ++j) {
    float* coefficient = g.coefficient.get() + j * line;
    float* magnitude = g.magnitude.get() + j * bound_line;
    for (int64_t r = layout.bounding; r < bound_line; ++r) coefficient[r] = magnitude[r] = 0.0f;
    for (int64_t r = bound_line + count; r < line; ++r) coefficient[r] = 0.0f;
  }
  std::memset(g.constant.get(), 0, static_cast<size_t>(line) * sizeof(float));
  std::memset(g.value_store.get(), 0, static_cast<size_t>(layout.values()) * sizeof(float));

  int64_t row = 0;
  for (int32_t s = 0; s < count; ++s) {
    const int32_t stage = first + s;
    g.first_row[s] = row;
    for (int32_t k = 0; k < stage; ++k) {
      // Rows 0 .. stage-2 bound the draws; row stage-1 is the stage's test row.
      const int64_t at = k < stage - 1 ? row + k : g.test_row(s);
      const float* r = problem.row(k);
      for (int32_t j = 0; j < items; ++j) {
        g.coefficient[j * line + at] = r[j];
        if (at < bound_line) g.magnitude[j * bound_line + at] = std::fabs(r[j]);
      }
      g.constant[at] = problem.rc[k];
    }
    row += stage - 1;
    for (int32_t j = 0; j < items; ++j) g.pi[static_cast<int64_t>(s) * items + j] = problem.initpi[j];
  }
  int64_t next = 0;
  for (int32_t j = 0; j < items; ++j) {
    for (int32_t s = 0; s < count; ++s) {
      const int64_t entry = static_cast<int64_t>(j) * count + s;
      const int64_t base = g.first_row[s];
      const int32_t earlier = first + s - 1;
      g.list_start[2 * entry] = next;
      for (int32_t k = 0; k < earlier; ++k) {
        if (problem.row(k)[j] > 0.0f) g.list[next++] = static_cast<int32_t>(base + k);
      }
      g.list_start[2 * entry + 1] = next;
      for (int32_t k = 0; k < earlier; ++k) {
        if (problem.row(k)[j] < 0.0f) g.list[next++] = static_cast<int32_t>(base + k);
      }
      // A zero or NaN coefficient sets no bound: the row is in neither list.
    }
  }
  g.list_start[2 * static_cast<int64_t>(items) * count] = next;
  return true;
}

}  // namespace group

int64_t fast_group_bytes(int32_t items, int32_t first, int32_t count) {
  // Padded for the widest vector: the most any width needs.
  return group::GroupLayout(items > 0 ? items : 0, first, count).bytes();
}

int32_t fast_group_size(const Problem& problem, int32_t first, int64_t byte_limit) {
  const int32_t last = problem.restrictions();
  int64_t rows = 0;
  int32_t count = 0;
  while (first + count <= last) {
    const int64_t more = first + count - 1;
    if (count > 0 && rows + more > group::kGroupRows) break;
    if (count > 0 && fast_group_bytes(problem.items(), first, count + 1) > std::min(byte_limit, group::kGroupBytes)) break;
    rows += more;
    ++count;
  }
  return count;
}

}  // namespace propbf::driver
