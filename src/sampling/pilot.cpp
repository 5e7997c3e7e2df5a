#include "sampling/pilot.hpp"

#include <algorithm>
#include <cmath>

namespace propbf::evaluate {

std::size_t next_stage_end(std::vector<std::size_t> first_failures, std::size_t end, std::size_t restrictions) {
  if (first_failures.empty()) return restrictions;
  // Sorted from the latest failure down, the i-th (from 1) is the latest e for which i
  // sweeps hold restrictions end ... e - 1 (their first failure at e or later).
  std::sort(first_failures.begin(), first_failures.end(), [](std::size_t x, std::size_t y) { return x > y; });
  const auto needed = static_cast<std::size_t>(
      std::ceil(kPilotShare * static_cast<double>(first_failures.size())));
  const std::size_t at = first_failures[std::max<std::size_t>(needed, 1) - 1];
  return std::clamp(at, end + 1, restrictions);
}

PilotEnds pilot_stage_ends(const std::shared_ptr<const SparseRestrictions>& restrictions,
                           const std::vector<double>& start,
                           const std::shared_ptr<const std::vector<TruncatedBeta>>& draws,
                           const std::shared_ptr<const Simplex>& simplex, StreamSeed seed, std::uint64_t key,
                           StreamKind pilot) {
  const SparseRestrictions& r = *restrictions;
  const std::size_t count = r.restrictions();
  const std::size_t most = std::max(kGroupedStages, 2 * r.items());
  // The restrictions on one item alone (the filter checks the others).
  std::vector<std::size_t> alone;
  for (std::size_t k = 0; k < count; ++k) {
    if (r.terms_end(k) - r.terms_begin(k) == 1) alone.push_back(k);
  }
  const auto holds = [&](std::size_t k, const std::vector<double>& state) {
    double value = 0.0;
    for (const SparseRestrictions::Term* term = r.terms_begin(k); term != r.terms_end(k); ++term) {
      value += term->coefficient * state[term->item];
    }
    return value > r.constant(k);
  };
  PilotEnds result;
  std::size_t end = 0;
  std::vector<std::size_t> first_failures;
  while (end < count) {
    const std::size_t stage = result.ends.size() + 1;
    // The pilot samples what the rows so far leave; its own hits (one row further) are not used.
    StageChain chain(restrictions, stage, start, draws, ChainSettings{0, seed, key, pilot}, nullptr, simplex,
                     StageRange{end, end + 1});
    first_failures.clear();
    chain.run_to(kPilotSweeps, [&](const std::vector<double>& state) {
      std::size_t failed = count;
      if (r.filter() != nullptr) {
        failed = r.filter()->first_failure(r, end, state);
        const auto first = std::lower_bound(alone.begin(), alone.end(), end);
        for (auto k = first; k != alone.end() && *k < failed; ++k) {
          if (!holds(*k, state)) {
            failed = *k;
            break;
          }
        }
      } else {
        for (failed = end; failed < count && holds(failed, state); ++failed) {
        }
      }
      first_failures.push_back(failed);
    });
    const std::size_t next = stage == most ? count : next_stage_end(first_failures, end, count);
    result.last_share = static_cast<double>(std::count_if(first_failures.begin(), first_failures.end(),
                                                          [&](std::size_t f) { return f >= next; })) /
                        static_cast<double>(first_failures.size());
    end = next;
    result.ends.push_back(end);
  }
  return result;
}

}  // namespace propbf::evaluate
