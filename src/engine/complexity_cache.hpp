// Complexities computed once and reused: a hypothesis's complexity chains run under the
// prior from its start point on streams keyed by the seed and the hypothesis, so their
// counts do not depend on the data. A batch of data sets against the same hypothesis and
// prior runs them once; a complexity file (command layer) carries them to later runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/results.hpp"
#include "sampling/sampler.hpp"

namespace propbf::evaluate {

// Everything a hypothesis's complexity counts depend on. Two keys are equal when every
// field is, doubles compared by their bit patterns.
struct ComplexityKey {
  std::uint64_t hypothesis = 0;        // hypothesis_key: the chains' restrictions, ties, simplexes
  std::vector<double> prior_a;         // the prior shapes of the chains' coordinates
  std::vector<double> prior_b;
  std::vector<double> start;           // the start point, over the chains' coordinates
  std::vector<std::size_t> stage_ends; // per complexity stage, the restrictions it checks
  std::uint64_t seed = 0;              // the streams' seed and per-problem part
  std::uint64_t stream = 0;
  std::int64_t niter = 0;              // sweeps per complexity stage

  bool operator==(const ComplexityKey& other) const;
};

// A complexity: its key and, per stage, its counts at key.niter sweeps, with the levels
// of its rare stages (their bounds, chosen by the pilots, and the counts of levels
// 2 ... L; empty when no stage is split: rare_stages.hpp).
struct ComplexityRecord {
  ComplexityKey key;
  std::string hypothesis_name;  // where it was computed; for messages only
  std::vector<StageCount> stages;
  std::vector<StageLevels> levels;
  bool loaded = false;  // read from a complexity file
};

// The records of a run or a batch, found by key. Holds at most kMaxStages stage and level
// counts in all (about 40 MB): beyond, new complexities are not kept (and not saved), so a batch of
// many different hypotheses keeps its memory bounded.
class ComplexityCache {
 public:
  static constexpr std::size_t kMaxStages = std::size_t{1} << 20;

  // The record of `key`, or null.
  const ComplexityRecord* find(const ComplexityKey& key) const;
  // Keeps `record` unless one of its key is kept or the cache is full; returns whether it
  // was added.
  bool add(ComplexityRecord record);
  const std::vector<ComplexityRecord>& records() const { return records_; }
  // The file the loaded records came from (empty: none was loaded).
  std::string& source() { return source_; }
  const std::string& source() const { return source_; }

  // With records loaded from a file, why they cannot serve a problem whose hypotheses'
  // complexity keys are `keys` (nullopt: not reusable) with names `names`: a hypothesis
  // whose polytope has a loaded record but none with its whole key (another prior, seed,
  // niter, start point or stages: the message says which), or no loaded record used at
  // all. Empty when they serve it, or when nothing was loaded.
  std::string refusal(const std::vector<std::optional<ComplexityKey>>& keys, const std::vector<std::string>& names,
                      bool precision_without_niter) const;
  // How many complexities were taken from the cache instead of being computed.
  std::size_t reused() const { return reused_; }
  void count_reuse() { ++reused_; }

 private:
  std::vector<ComplexityRecord> records_;
  std::string source_;
  std::size_t stages_ = 0;
  std::size_t reused_ = 0;
};

}  // namespace propbf::evaluate
