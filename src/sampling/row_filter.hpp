// A quick exact check of many restrictions at once, for grouped hypotheses (method.md,
// "Checking many restrictions"). The restrictions on two or more items are kept again,
// dense, in single precision, in blocks of kBlock rows (per block, per item, the rows'
// coefficients side by side, so that a block's values are formed together). A value in
// single precision differs from the double sum of the plain check by far less than its
// tolerance (tolerance(), below), so a row whose single-precision slack lies beyond the
// tolerance holds (fails) as the plain check says; only a row within it is summed again
// term by term in double precision. The answers are those of the plain check, always.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace propbf::evaluate {

class SparseRestrictions;

class RowFilter {
 public:
  static constexpr std::size_t kBlock = 32;

  // The filter of r's restrictions on two or more items, or nullptr where it is not worth
  // its memory (its dense blocks would take more than the sparse terms) or a coefficient
  // or constant lies outside what single precision holds with room (1e-30 ... 1e30 in size).
  static std::unique_ptr<const RowFilter> make(const SparseRestrictions& r);

  // Whether the restrictions on two or more items among [from, limit) all hold at
  // `state` (every value in [0, 1]), as the plain check computes them: the sum of
  // coefficient times value in item order, greater than the constant.
  bool holds(const SparseRestrictions& r, std::size_t from, std::size_t limit, const std::vector<double>& state) const;
  // The first restriction on two or more items at or after `from` that fails at
  // `state`, or r.restrictions() when none does.
  std::size_t first_failure(const SparseRestrictions& r, std::size_t from, const std::vector<double>& state) const;

 private:
  RowFilter() = default;
  // Visits the rows among [from, limit) that the single-precision values do not show to
  // hold, in order, with -1 (they fail) or 0 (undecided), while visit returns true.
  template <class Visit>
  bool scan(std::size_t from, std::size_t limit, const std::vector<double>& state, Visit visit) const;

  std::size_t items_ = 0;
  std::vector<std::size_t> rows_;    // the restrictions on two or more items, in order
  std::vector<float> coefficients_;  // [block][item][lane]
  std::vector<float> constants_;     // per row, its constant in single precision
  std::vector<float> tolerances_;    // per row
};

}  // namespace propbf::evaluate
