// Stage ends of grouped hypotheses chosen from pilot chains (method.md, "Stages for many
// restrictions"). Stage s + 1 samples what stage s's rows leave; a short pilot chain of
// that distribution, on a stream of its own (never one whose hits are counted), shows
// for each of its sweeps the first later restriction that fails, and the next stage ends
// at the last restriction up to which a share of at least kPilotShare of the pilot's
// sweeps still holds (at least one restriction further). Rows that cut almost nothing
// thus fall into few stages, whose number follows the hypothesis, not its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sampling/sampler.hpp"

namespace propbf::evaluate {

inline constexpr std::int64_t kPilotSweeps = 128;
inline constexpr double kPilotShare = 0.2;

// The stage ends (as stage_ends gives them: each stage's last restriction, counted from
// 1; the last is restrictions.size()) of a grouped hypothesis's chains of one phase,
// from pilot chains that start at `start` and draw `draws`, stage s's pilot from
// CounterStream(seed, key, pilot, s). At most max(kGroupedStages, 2 * coordinates)
// stages: the last takes what is left. `last_share`: the share of the last pilot's
// sweeps in which the last stage's restrictions held.
struct PilotEnds {
  std::vector<std::size_t> ends;
  double last_share = 0.0;
};
PilotEnds pilot_stage_ends(const std::shared_ptr<const SparseRestrictions>& restrictions,
                           const std::vector<double>& start,
                           const std::shared_ptr<const std::vector<TruncatedBeta>>& draws,
                           const std::shared_ptr<const Simplex>& simplex, StreamSeed seed, std::uint64_t key,
                           StreamKind pilot);

// The next end after `end` from the first failing restrictions of the pilot's sweeps
// (`restrictions` where none failed): the largest e in end + 1 ... restrictions at
// which at least kPilotShare of them have their first failure at index e or later
// (counted from 0), and end + 1 when none has.
std::size_t next_stage_end(std::vector<std::size_t> first_failures, std::size_t end, std::size_t restrictions);

}  // namespace propbf::evaluate
