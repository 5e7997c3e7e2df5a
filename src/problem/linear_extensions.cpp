#include "problem/linear_extensions.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace propbf::evaluate {

std::optional<double> ordering_probability(std::size_t items,
                                           const std::vector<std::pair<std::size_t, std::size_t>>& greater) {
  if (items > kMostBlockItems) return std::nullopt;
  if (items == 0) return 1.0;
  // below[x]: the items x must follow (those it is greater than).
  std::vector<std::uint64_t> below(items, 0);
  for (const auto& [high, low] : greater) below[high] |= std::uint64_t{1} << low;
  const std::uint64_t all = items == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << items) - 1;
  // One level: its downsets in increasing order with their g. The terms of the next
  // level are made in that order (then x increasing), sorted stably by their set and
  // added in turn.
  using Entry = std::pair<std::uint64_t, double>;
  std::vector<Entry> level{{0, 1.0}};
  std::vector<Entry> terms;
  std::size_t downsets = 1;
  for (std::size_t size = 1; size <= items; ++size) {
    terms.clear();
    for (const auto& [set, share] : level) {
      for (std::size_t x = 0; x < items; ++x) {
        const std::uint64_t bit = std::uint64_t{1} << x;
        if ((set & bit) != 0 || (below[x] & ~set) != 0) continue;
        terms.emplace_back(set | bit, share);
      }
    }
    std::stable_sort(terms.begin(), terms.end(), [](const Entry& x, const Entry& y) { return x.first < y.first; });
    level.clear();
    for (const auto& [set, share] : terms) {
      if (level.empty() || level.back().first != set) {
        if (++downsets > kMostDownsets) return std::nullopt;
        level.emplace_back(set, 0.0);
      }
      level.back().second += share;
    }
    for (Entry& entry : level) entry.second /= static_cast<double>(size);
    if (level.empty()) return 0.0;  // a cycle: no downset grows further
  }
  return level.size() == 1 && level.front().first == all ? level.front().second : 0.0;
}

std::optional<double> exact_order_complexity(const std::vector<Restriction>& restrictions,
                                             const std::vector<double>& prior_a, const std::vector<double>& prior_b) {
  if (restrictions.empty()) return std::nullopt;
  const std::size_t items = prior_a.size();
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  for (const Restriction& restriction : restrictions) {
    if (restriction.constant != 0.0 || restriction.coefficients.size() != items) return std::nullopt;
    std::vector<std::size_t> named;
    for (std::size_t j = 0; j < items; ++j) {
      if (restriction.coefficients[j] != 0.0) named.push_back(j);
    }
    if (named.size() != 2) return std::nullopt;
    const double first = restriction.coefficients[named[0]];
    const double second = restriction.coefficients[named[1]];
    if (first != -second) return std::nullopt;
    pairs.push_back(first > 0.0 ? std::pair{named[0], named[1]} : std::pair{named[1], named[0]});
  }
  // Connected blocks by union-find over the pairs.
  std::vector<std::size_t> parent(items);
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  const auto root = [&](std::size_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  };
  for (const auto& [high, low] : pairs) parent[root(high)] = root(low);
  double complexity = 1.0;
  std::vector<bool> done(items, false);
  for (std::size_t j = 0; j < items; ++j) {
    const std::size_t block = root(j);
    if (done[block]) continue;
    done[block] = true;
    std::vector<std::size_t> members;  // in item order
    for (std::size_t i = 0; i < items; ++i) {
      if (root(i) == block) members.push_back(i);
    }
    if (members.size() < 2) continue;  // an item in no restriction
    for (std::size_t i : members) {
      if (prior_a[i] != prior_a[members.front()] || prior_b[i] != prior_b[members.front()]) return std::nullopt;
    }
    std::vector<std::size_t> index(items, 0);
    for (std::size_t k = 0; k < members.size(); ++k) index[members[k]] = k;
    std::vector<std::pair<std::size_t, std::size_t>> local;
    for (const auto& [high, low] : pairs) {
      if (root(high) == block) local.emplace_back(index[high], index[low]);
    }
    const std::optional<double> share = ordering_probability(members.size(), local);
    if (!share) return std::nullopt;
    complexity *= *share;
  }
  return complexity;
}

}  // namespace propbf::evaluate
