#include "sampling/row_filter.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "sampling/sampler.hpp"

namespace propbf::evaluate {

namespace {

double plain_value(const SparseRestrictions& r, std::size_t k, const std::vector<double>& state) {
  double value = 0.0;
  for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
    value += term->coefficient * state[term->item];
  }
  return value;
}

bool representable(double x) { return x == 0.0 || (std::abs(x) >= 1e-30 && std::abs(x) <= 1e30); }

}  // namespace

// The single-precision value of a row adds n = items products of a coefficient and a
// value in [0, 1], each rounded to single precision before (coefficient, value) and
// after (product, sum): with u = 2^-24 its error is at most about (n + 3) u times the sum
// of the absolute coefficients, and the constant's rounding adds u |c|. The tolerance is
// four times that bound, (n + 3) 2^-22 (|c| + sum |g|), far above it and still far below
// the spread of the values the chains meet; the double sums of the plain check differ
// from the exact values by less than 2^-50 of the same scale.
std::unique_ptr<const RowFilter> RowFilter::make(const SparseRestrictions& r) {
  const std::size_t items = r.items();
  const std::vector<std::size_t>& rows = r.shared_restrictions();
  std::size_t terms = 0;
  for (std::size_t k : rows) {
    if (!representable(r.constant(k))) return nullptr;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      if (!representable(term->coefficient)) return nullptr;
      ++terms;
    }
  }
  const std::size_t blocks = (rows.size() + kBlock - 1) / kBlock;
  // Dense single precision (4 bytes per item and row) against the sparse terms (16 bytes each).
  if (rows.empty() || blocks * kBlock * items * 4 > terms * 16) return nullptr;
  std::unique_ptr<RowFilter> filter(new RowFilter());
  filter->items_ = items;
  filter->rows_ = rows;
  filter->coefficients_.assign(blocks * items * kBlock, 0.0f);
  filter->constants_.assign(blocks * kBlock, 0.0f);
  filter->tolerances_.assign(blocks * kBlock, 0.0f);
  const double unit = std::ldexp(static_cast<double>(items + 3), -22);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t k = rows[i];
    const std::size_t block = i / kBlock;
    const std::size_t lane = i % kBlock;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      filter->coefficients_[(block * items + term->item) * kBlock + lane] = static_cast<float>(term->coefficient);
    }
    filter->constants_[i] = static_cast<float>(r.constant(k));
    filter->tolerances_[i] = static_cast<float>(unit * r.scale(k));
  }
  return filter;
}

template <class Visit>
bool RowFilter::scan(std::size_t from, std::size_t limit, const std::vector<double>& state, Visit visit) const {
  const auto first = static_cast<std::size_t>(std::lower_bound(rows_.begin(), rows_.end(), from) - rows_.begin());
  const auto last = static_cast<std::size_t>(std::lower_bound(rows_.begin(), rows_.end(), limit) - rows_.begin());
  std::vector<float> x(items_);
  for (std::size_t j = 0; j < items_; ++j) x[j] = static_cast<float>(state[j]);
  for (std::size_t block = first / kBlock; block * kBlock < last; ++block) {
    std::array<float, kBlock> value{};
    const float* coefficients = coefficients_.data() + block * items_ * kBlock;
    for (std::size_t j = 0; j < items_; ++j) {
      const float xj = x[j];
      const float* column = coefficients + j * kBlock;
      for (std::size_t lane = 0; lane < kBlock; ++lane) value[lane] += column[lane] * xj;
    }
    const std::size_t begin = std::max(first, block * kBlock);
    const std::size_t end = std::min(last, (block + 1) * kBlock);
    for (std::size_t i = begin; i < end; ++i) {
      const float slack = value[i % kBlock] - constants_[i];
      const int decided = slack > tolerances_[i] ? 1 : slack < -tolerances_[i] ? -1 : 0;
      if (decided == 1) continue;
      if (!visit(rows_[i], decided)) return false;
    }
  }
  return true;
}

bool RowFilter::holds(const SparseRestrictions& r, std::size_t from, std::size_t limit,
                      const std::vector<double>& state) const {
  return scan(from, limit, state, [&](std::size_t k, int decided) {
    return decided == 0 && plain_value(r, k, state) > r.constant(k);
  });
}

std::size_t RowFilter::first_failure(const SparseRestrictions& r, std::size_t from,
                                     const std::vector<double>& state) const {
  std::size_t failed = r.restrictions();
  scan(from, r.restrictions(), state, [&](std::size_t k, int decided) {
    if (decided == 0 && plain_value(r, k, state) > r.constant(k)) return true;
    failed = k;
    return false;
  });
  return failed;
}

}  // namespace propbf::evaluate
