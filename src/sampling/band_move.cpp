#include "sampling/band_move.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace propbf::evaluate {
namespace {

// +1 when two bands' normals point the same way, -1 when opposite ways, 0 when they are
// not parallel: over the same items, both divided by their first coefficient must agree
// to a relative 1e-9. (The tolerance only decides whether a move is made; any
// direction keeps the distribution invariant.)
int parallel(const Band& g, const Band& h) {
  if (g.items != h.items || g.items.empty()) return 0;
  const double g0 = g.normal.front();
  const double h0 = h.normal.front();
  for (std::size_t i = 0; i < g.items.size(); ++i) {
    const double x = g.normal[i] / g0;
    const double y = h.normal[i] / h0;
    if (!(std::abs(x - y) <= 1e-9 * std::max(1.0, std::abs(x)))) return 0;
  }
  return (g0 > 0.0) == (h0 > 0.0) ? 1 : -1;
}

// A restriction's coefficients over the items it names, scaled to length 1 (empty when
// it names none or its length is not a positive finite number).
struct UnitRow {
  std::vector<std::size_t> items;
  std::vector<double> unit;
};

UnitRow unit_row(const std::vector<double>& coefficients) {
  UnitRow row;
  double largest = 0.0;
  for (double c : coefficients) largest = std::max(largest, std::abs(c));
  if (!(largest > 0.0) || !std::isfinite(largest)) return row;
  double squares = 0.0;
  for (std::size_t j = 0; j < coefficients.size(); ++j) {
    if (coefficients[j] == 0.0) continue;
    const double scaled = coefficients[j] / largest;
    row.items.push_back(j);
    row.unit.push_back(scaled);
    squares += scaled * scaled;
  }
  const double length = std::sqrt(squares);
  for (double& u : row.unit) u /= length;
  return row;
}

// A standard normal by Marsaglia's polar method.
double normal(CounterStream& stream) {
  while (true) {
    const double v1 = 2.0 * stream.next() - 1.0;
    const double v2 = 2.0 * stream.next() - 1.0;
    const double s = v1 * v1 + v2 * v2;
    if (s < 1.0 && s > 0.0) return v1 * std::sqrt(-2.0 * std::log(s) / s);
  }
}

// The log density, up to a constant, of the band's items at x (+-infinity or NaN at
// 0 or 1 for shapes other than 1).
double log_density(const std::vector<std::size_t>& items, const double* x, const std::vector<double>& shape_a,
                   const std::vector<double>& shape_b) {
  double value = 0.0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t j = items[i];
    if (shape_a[j] != 1.0) value += (shape_a[j] - 1.0) * std::log(x[i]);
    if (shape_b[j] != 1.0) value += (shape_b[j] - 1.0) * std::log1p(-x[i]);
  }
  return value;
}

// Two restrictions bound a band (or a thin wedge) when the cosine of their coefficient
// vectors is at most this: they point within about 26 degrees of opposite ways.
constexpr double kOppositeCosine = -0.9;

// Shrinkage steps after which the slice step gives up and keeps the state (the
// interval has then shrunk to the state itself, where the density is always accepted,
// long before).
constexpr int kMaxShrinks = 200;

void move_along(const Band& band, const std::vector<Restriction>& restrictions, std::size_t stage,
                const std::vector<double>& shape_a, const std::vector<double>& shape_b, std::vector<double>& state,
                CounterStream& stream) {
  const std::vector<std::size_t>& items = band.items;
  const std::size_t n = items.size();
  // The direction d, the state's values x0 and a point x on the line, in one buffer per
  // thread (a move runs inside one chain, on one thread).
  static thread_local std::vector<double> scratch;
  scratch.resize(3 * n);
  double* const d = scratch.data();
  double* const x0 = d + n;
  double* const x = x0 + n;
  if (n == 2) {
    d[0] = band.normal[1];
    d[1] = -band.normal[0];
  } else {
    double zg = 0.0;
    double gg = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      d[i] = normal(stream);
      zg += d[i] * band.normal[i];
      gg += band.normal[i] * band.normal[i];
    }
    for (std::size_t i = 0; i < n; ++i) d[i] -= zg / gg * band.normal[i];
  }
  // The segment [low, up] of s where x + s d stays in [0, 1] and restrictions
  // 1 ... stage-1 hold.
  const double infinity = std::numeric_limits<double>::infinity();
  double low = -infinity;
  double up = infinity;
  for (std::size_t i = 0; i < n; ++i) {
    x0[i] = state[items[i]];
    if (d[i] > 0.0) {
      low = std::max(low, -x0[i] / d[i]);
      up = std::min(up, (1.0 - x0[i]) / d[i]);
    } else if (d[i] < 0.0) {
      low = std::max(low, (1.0 - x0[i]) / d[i]);
      up = std::min(up, -x0[i] / d[i]);
    }
  }
  // A restriction that names none of the band's items has along = +0 and is passed over,
  // so only those that name one are looked at.
  for (std::size_t k : band.restrictions) {
    if (k + 1 >= stage) break;
    const std::vector<double>& g = restrictions[k].coefficients;
    double along = 0.0;
    for (std::size_t i = 0; i < n; ++i) along += g[items[i]] * d[i];
    if (along == 0.0) continue;
    double value = 0.0;
    for (std::size_t j = 0; j < state.size(); ++j) value += g[j] * state[j];
    const double bound = (restrictions[k].constant - value) / along;
    if (along > 0.0) {
      low = std::max(low, bound);
    } else {
      up = std::min(up, bound);
    }
  }
  // The state lies in the segment; rounding may put it just outside.
  low = std::min(low, 0.0);
  up = std::max(up, 0.0);
  if (!(low < up) || !std::isfinite(low) || !std::isfinite(up)) return;
  const auto place = [&](double s) {
    for (std::size_t i = 0; i < n; ++i) x[i] = std::clamp(x0[i] + s * d[i], 0.0, 1.0);
  };
  bool uniform = true;
  for (std::size_t j : items) uniform = uniform && shape_a[j] == 1.0 && shape_b[j] == 1.0;
  if (uniform) {
    place(low + (up - low) * stream.next());
  } else {
    const double at_state = log_density(items, x0, shape_a, shape_b);
    if (!std::isfinite(at_state)) return;
    // The slice: the points whose density exceeds u times the state's.
    const double level = std::log(stream.next());
    bool accepted = false;
    for (int step = 0; step < kMaxShrinks && !accepted; ++step) {
      const double s = low + (up - low) * stream.next();
      place(s);
      const double value = log_density(items, x, shape_a, shape_b);
      accepted = std::isfinite(value) && value - at_state > level;
      if (!accepted) (s < 0.0 ? low : up) = s;
    }
    if (!accepted) return;
  }
  for (std::size_t i = 0; i < n; ++i) state[items[i]] = x[i];
}

}  // namespace

std::vector<Band> find_bands(const std::vector<Restriction>& restrictions) {
  const std::size_t count = restrictions.size();
  std::vector<UnitRow> rows(count);
  for (std::size_t k = 0; k < count; ++k) rows[k] = unit_row(restrictions[k].coefficients);
  const std::size_t items = count > 0 ? restrictions.front().coefficients.size() : 0;
  std::vector<std::vector<std::size_t>> by_item(items);  // the earlier restrictions naming each item
  std::vector<std::size_t> stamp(count, count);
  std::map<std::vector<std::size_t>, std::vector<std::size_t>> by_support;  // bands by their items
  std::vector<Band> bands;
  std::vector<std::size_t> candidates;
  for (std::size_t l = 0; l < count; ++l) {
    const UnitRow& h = rows[l];
    // Only restrictions that share an item can point in opposite directions.
    candidates.clear();
    for (std::size_t j : h.items) {
      for (std::size_t k : by_item[j]) {
        if (stamp[k] != l) {
          stamp[k] = l;
          candidates.push_back(k);
        }
      }
    }
    std::sort(candidates.begin(), candidates.end());
    for (std::size_t k : candidates) {
      const UnitRow& g = rows[k];
      // The cosine and the normal g - h, merging the two item lists.
      Band band;
      double cosine = 0.0;
      std::size_t a = 0;
      std::size_t b = 0;
      while (a < g.items.size() || b < h.items.size()) {
        const std::size_t j = b == h.items.size() || (a < g.items.size() && g.items[a] < h.items[b]) ? g.items[a]
                                                                                                      : h.items[b];
        const double x = a < g.items.size() && g.items[a] == j ? g.unit[a++] : 0.0;
        const double y = b < h.items.size() && h.items[b] == j ? h.unit[b++] : 0.0;
        cosine += x * y;
        if (x - y != 0.0) {
          band.items.push_back(j);
          band.normal.push_back(x - y);
        }
      }
      if (!(cosine <= kOppositeCosine) || band.items.size() < 2) continue;
      std::vector<std::size_t>& same_items = by_support[band.items];
      bool seen = false;
      for (std::size_t other : same_items) seen = seen || parallel(band, bands[other]) != 0;
      if (seen) continue;
      band.first_stage = l + 2;
      same_items.push_back(bands.size());
      bands.push_back(std::move(band));
    }
    for (std::size_t j : h.items) by_item[j].push_back(l);
  }
  std::vector<std::vector<std::size_t>> naming(items);  // per item, the restrictions with a nonzero coefficient
  for (std::size_t k = 0; k < count && !bands.empty(); ++k) {
    for (std::size_t j = 0; j < items; ++j) {
      if (restrictions[k].coefficients[j] != 0.0) naming[j].push_back(k);
    }
  }
  for (Band& band : bands) {
    for (std::size_t j : band.items) band.restrictions.insert(band.restrictions.end(), naming[j].begin(), naming[j].end());
    std::sort(band.restrictions.begin(), band.restrictions.end());
    band.restrictions.erase(std::unique(band.restrictions.begin(), band.restrictions.end()), band.restrictions.end());
  }
  return bands;
}

void move_along_bands(const std::vector<Band>& bands, const std::vector<Restriction>& restrictions, std::size_t stage,
                      const std::vector<double>& shape_a, const std::vector<double>& shape_b,
                      std::vector<double>& state, CounterStream& stream) {
  for (const Band& band : bands) {
    if (band.first_stage > stage) break;
    move_along(band, restrictions, stage, shape_a, shape_b, state, stream);
  }
}

}  // namespace propbf::evaluate
