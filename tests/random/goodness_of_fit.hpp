// A chi-square goodness-of-fit test of single-precision deviates in [2^-24, 1) against
// an exact distribution function.
//
// Bin edges are placed at midpoints between adjacent values the deviates can take: a
// deviate that is the exact variate rounded to the nearest such value then falls in a
// bin exactly when the exact variate does, so the expected counts need no allowance for
// rounding. Usually those values are all floats; a deviate formed as 1 - v with v a
// float near 1 can only take multiples of 2^-24. The lowest bin holds 2^-24 (where
// smaller values are clamped) and the highest 0.99999988 and 0.99999994 (where 1 is
// clamped).
//
// The threshold is the upper 1e-6 quantile of the chi-square law with the bins' degrees
// of freedom (Wilson-Hilferty), so a correct generator fails a given shape with
// probability about 1e-6.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace propbf::numlib::testing {

inline constexpr double kFalseFailureRate = 1e-6;
inline constexpr double kNormalQuantile = 4.753424;  // P(Z > z) = 1e-6

using DistributionFunction = std::function<double(double)>;

struct FitResult {
  double statistic = 0.0;
  int degrees_of_freedom = 0;
  double threshold = 0.0;
  std::string table;  // edges, observed and expected counts
  bool passes() const { return statistic <= threshold; }
};

// Upper quantile of chi-square(df) at the false-failure rate, Wilson-Hilferty.
inline double chi_square_threshold(int df) {
  const double v = 2.0 / (9.0 * df);
  const double root = 1.0 - v + kNormalQuantile * std::sqrt(v);
  return df * root * root * root;
}

enum class Grid {
  Floats,                 // every float in [2^-24, 1)
  StepsOfTwoToMinus24,    // k 2^-24, k = 1 ... 2^24 - 1
};

// The values are numbered in increasing order from 2^-24 up to 0.99999982 (the last
// one whose upper midpoint may end an inner bin); upper_midpoint(i) lies between value
// i and value i + 1.
struct GridIndex {
  Grid grid;
  uint32_t first() const {
    return grid == Grid::Floats ? std::bit_cast<uint32_t>(0x1p-24f) : 1u;
  }
  uint32_t last() const {
    return grid == Grid::Floats ? std::bit_cast<uint32_t>(std::nextafter(1.0f - 0x1p-23f, 0.0f))
                                : (1u << 24) - 3u;
  }
  double upper_midpoint(uint32_t i) const {
    if (grid == Grid::StepsOfTwoToMinus24) return (i + 0.5) * 0x1p-24;
    const float v = std::bit_cast<float>(i);
    const float next = std::nextafter(v, 2.0f);
    return (static_cast<double>(v) + static_cast<double>(next)) / 2.0;
  }
};

inline FitResult chi_square_fit(std::vector<float> sample, const DistributionFunction& cdf,
                                Grid grid = Grid::Floats, int bins = 20) {
  const double n = static_cast<double>(sample.size());
  const GridIndex index{grid};
  // Edges: for each target share k / bins the first value i with
  // cdf(upper_midpoint(i)) >= target, by bisection over the value numbers.
  std::vector<double> edges{0.0};
  for (int k = 1; k < bins; ++k) {
    const double target = static_cast<double>(k) / bins;
    uint32_t lo = index.first();
    uint32_t hi = index.last();
    while (lo < hi) {
      const uint32_t mid = lo + (hi - lo) / 2;
      if (cdf(index.upper_midpoint(mid)) >= target) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    const double edge = index.upper_midpoint(lo);
    if (edge > edges.back()) edges.push_back(edge);
  }
  edges.push_back(1.0);

  std::sort(sample.begin(), sample.end());
  auto count_below = [&](double edge) {
    return static_cast<double>(
        std::lower_bound(sample.begin(), sample.end(), edge,
                         [](float v, double e) { return static_cast<double>(v) < e; }) -
        sample.begin());
  };

  // Observed and expected per bin; a bin expecting fewer than 20 joins the next one.
  std::vector<double> observed;
  std::vector<double> expected;
  std::vector<double> upper_edges;
  double pending_observed = 0.0;
  double pending_expected = 0.0;
  for (std::size_t k = 1; k < edges.size(); ++k) {
    const double below_high = k + 1 == edges.size() ? n : count_below(edges[k]);
    const double below_low = k == 1 ? 0.0 : count_below(edges[k - 1]);
    pending_observed += below_high - below_low;
    const double f_high = k + 1 == edges.size() ? 1.0 : cdf(edges[k]);
    const double f_low = k == 1 ? 0.0 : cdf(edges[k - 1]);
    pending_expected += n * (f_high - f_low);
    if (pending_expected >= 20.0 || k + 1 == edges.size()) {
      observed.push_back(pending_observed);
      expected.push_back(pending_expected);
      upper_edges.push_back(edges[k]);
      pending_observed = 0.0;
      pending_expected = 0.0;
    }
  }

  if (observed.size() > 1 && expected.back() < 20.0) {
    observed[observed.size() - 2] += observed.back();
    expected[expected.size() - 2] += expected.back();
    upper_edges[upper_edges.size() - 2] = upper_edges.back();
    observed.pop_back();
    expected.pop_back();
    upper_edges.pop_back();
  }

  FitResult result;
  std::ostringstream table;
  table.precision(10);
  table << "bin upper edge, observed, expected\n";
  for (std::size_t k = 0; k < observed.size(); ++k) {
    const double diff = observed[k] - expected[k];
    result.statistic += expected[k] > 0.0 ? diff * diff / expected[k] : (diff != 0.0 ? 1e300 : 0.0);
    table << "  " << upper_edges[k] << ", " << observed[k] << ", " << expected[k] << "\n";
  }
  result.degrees_of_freedom = static_cast<int>(observed.size()) - 1;
  result.threshold = chi_square_threshold(result.degrees_of_freedom);
  result.table = table.str();
  return result;
}

}  // namespace propbf::numlib::testing
