// The replication phase: beta redraws of every stage share, the replicated factors and
// their two order statistics.
//
// The program's path draws the 2 x T deviates of all replications through
// RepeatedBetaDraws (the same deviates and generator as one RNBET call per deviate)
// and takes the two order statistics by selection (the same values as SVRGN's sorted
// vector). The literal path keeps the plain loop and both sorts as the reference.
#include "driver/replications.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "concurrency/huge_page.hpp"
#include "driver/sampler.hpp"
#include "numeric/sort.hpp"
#include "random/beta_sequence.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

namespace {

// The literal phase's own storage, kReplications values each, obtained once per phase.
struct ReplicationArrays {
  ZeroedArray<float> ctot, ftot;  // replicated complexity and fit
  ZeroedArray<float> bfu, bfc;    // replicated factors against both alternatives
  ZeroedArray<float> sorted;      // ascending copy of one of them, or scratch

  ReplicationArrays() {
    const bool ok = ctot.allocate(kReplications) && ftot.allocate(kReplications) &&
                    bfu.allocate(kReplications) && bfc.allocate(kReplications) &&
                    sorted.allocate(kReplications);
    if (!ok) textio::fatal_report(textio::kAllocationFails, textio::Statement::None, 0);
  }
};

// The program's phase needs three arrays of kReplications values, not five: the factors
// take the storage of the shares they are formed from, and the first share array, once
// read, is the scratch of the order statistics. The three share one block on a huge
// page where the system grants one (about 300 page faults fewer).
class FactorArrays {
 public:
  FactorArrays()
      : block_(static_cast<float*>(
            concurrency::allocate_huge_page_aligned(3 * sizeof(float) * static_cast<size_t>(kReplications)))) {
    if (!block_) textio::fatal_report(textio::kAllocationFails, textio::Statement::None, 0);
  }

  float* ctot_then_bfc() { return block_.get(); }  // replicated complexity, then the factor against the complement
  float* ftot_then_work() { return block_.get() + kReplications; }  // replicated fit, then scratch
  float* bfu() { return block_.get() + 2 * static_cast<size_t>(kReplications); }  // factor against the unconstrained model

 private:
  std::unique_ptr<float[], concurrency::FreeStorage> block_;
};

// Whether two arrays of n values share storage.
[[maybe_unused]] bool overlap(const float* a, const float* b, int32_t n) {
  const auto x = reinterpret_cast<std::uintptr_t>(a);
  const auto y = reinterpret_cast<std::uintptr_t>(b);
  const auto bytes = sizeof(float) * static_cast<std::uintptr_t>(n);
  return x < y + bytes && y < x + bytes;
}

// A factor that is not a number (no sweeps, or a phase without any hit: 0/0) has no
// estimate for the replications to bound; redrawn shares would still give a finite
// interval that looks like evidence. Both ends then show the factor itself, laid out as
// the factor is.
void mark_interval_of_undefined_factor(float factor, float& lower, float& upper) {
  if (!std::isnan(factor)) return;
  lower = factor;
  upper = factor;
}

// bfu and bfc from ctot and ftot, replication by replication. bfc may be ctot itself:
// each replication's ctot is read before its bfc is written.
void form_replicated_factors(const float* ctot, const float* ftot, float* bfu, float* bfc) {
  assert(!overlap(ctot, ftot, kReplications) && !overlap(bfu, ctot, kReplications) &&
         !overlap(bfu, ftot, kReplications) && !overlap(bfc, ftot, kReplications) &&
         !overlap(bfc, bfu, kReplications) && (bfc == ctot || !overlap(bfc, ctot, kReplications)));
  for (int32_t i = 0; i < kReplications; ++i) {
    bfu[i] = model::factor_against_unconstrained(ftot[i], ctot[i]);
  }
  for (int32_t i = 0; i < kReplications; ++i) {
    bfc[i] = model::factor_against_complement(bfu[i], ftot[i], ctot[i]);
  }
}

void finish_factors(float c, float f, BayesFactors& factors) {
  factors.versus_complement = model::factor_against_complement(factors.versus_unconstrained, f, c);
  mark_interval_of_undefined_factor(factors.versus_unconstrained, factors.lu, factors.uu);
  mark_interval_of_undefined_factor(factors.versus_complement, factors.lc, factors.uc);
}

// Deviates per block of replications: room for a few thousand, at least one replication.
int32_t replications_per_block(int32_t stages) {
  const int32_t per_replication = 2 * stages;
  return std::clamp<int32_t>(8192 / std::max<int32_t>(per_replication, 1), 1, kReplications);
}

}  // namespace

void replication_shapes(float hits, int32_t niter, float& pin, float& qin) {
  const float sweeps = static_cast<float>(niter);
  if (niter >= 1 && hits > sweeps) hits = sweeps;
  pin = 1.0f + hits;
  qin = 1.0f + (sweeps - hits);
}

std::unique_ptr<numlib::AttemptLogsAhead> replication_logs_ahead(const Problem& problem) {
  const int32_t stages = problem.restrictions();
  if (stages < 1 || stages > kArrangedStageLimit) return nullptr;
  const std::optional<numlib::UniformStream> start = numlib::uniforms_after(2 * phase_deviates(problem));
  if (!start) return nullptr;
  // About 1.13 attempts a deviate, 2 x T deviates a replication; at most 12 MB.
  const int64_t attempts = static_cast<int64_t>(1.15 * 2.0 * stages * kReplications);
  return std::make_unique<numlib::AttemptLogsAhead>(start->seed(), start->scale(),
                                                    std::min<int64_t>(attempts, 1 << 20));
}

void draw_replicated_shares(const Problem& problem, const Workspace& workspace, float* ctot, float* ftot,
                            const numlib::AttemptLogsAhead* ahead, concurrency::Executor* executor) {
  // Two arrays of kReplications values each, apart (the blocks below fill both).
  assert(!overlap(ctot, ftot, kReplications));
  const int32_t stages = problem.restrictions();
  // The cycle of one replication: stage by stage, complexity before fit.
  std::vector<float> pins(2 * static_cast<size_t>(stages));
  std::vector<float> qins(pins.size());
  for (int32_t t = 0; t < stages; ++t) {
    replication_shapes(workspace.chit[t], problem.niter, pins[2 * t], qins[2 * t]);
    replication_shapes(workspace.fhit[t], problem.niter, pins[2 * t + 1], qins[2 * t + 1]);
  }
  numlib::RepeatedBetaDraws draws(pins.data(), qins.data(), 2 * stages);
  const int32_t block = replications_per_block(stages);
  int32_t first = 0;
  draws.draw_in_blocks(kReplications, block, [&](const float* shares, int32_t count) {
    assert(count >= 1 && first + count <= kReplications);
    for (int32_t i = 0; i < count; ++i) {
      const float* row = shares + static_cast<size_t>(i) * pins.size();
      float f = 1.0f;
      float c = 1.0f;
      for (int32_t t = 0; t < stages; ++t) {
        f = f * row[2 * t + 1];
        c = c * row[2 * t];
      }
      ftot[first + i] = f;
      ctot[first + i] = c;
    }
    first += count;
  }, ahead, executor);
  assert(first == kReplications);
}

void replicate_factors(const Problem& problem, Workspace& workspace, float c, float f,
                       BayesFactors& factors, const numlib::AttemptLogsAhead* ahead,
                       concurrency::Executor* executor) {
  if (problem.restrictions() > kArrangedStageLimit) {
    // The arranged draws keep a set-up per shape and a block of a replication's shares;
    // for this many stages the plain loop, which needs neither, is kept instead (such
    // a run takes days either way).
    literal_replicate_factors(problem, workspace, c, f, factors);
    return;
  }
  factors.versus_unconstrained = model::factor_against_unconstrained(f, c);
  FactorArrays arrays;
  draw_replicated_shares(problem, workspace, arrays.ctot_then_bfc(), arrays.ftot_then_work(), ahead, executor);
  form_replicated_factors(arrays.ctot_then_bfc(), arrays.ftot_then_work(), arrays.bfu(), arrays.ctot_then_bfc());
  float* work = arrays.ftot_then_work();  // ftot is no longer read
  assert(!overlap(work, arrays.bfu(), kReplications) && !overlap(work, arrays.ctot_then_bfc(), kReplications));
  numlib::order_statistics(kReplications, arrays.bfu(), work, kLowerPosition, kUpperPosition, factors.lu,
                           factors.uu);
  numlib::order_statistics(kReplications, arrays.ctot_then_bfc(), work, kLowerPosition, kUpperPosition,
                           factors.lc, factors.uc);
  finish_factors(c, f, factors);
}

void literal_replicate_factors(const Problem& problem, Workspace& workspace, float c, float f,
                               BayesFactors& factors) {
  const int32_t stages = problem.restrictions();
  factors.versus_unconstrained = model::factor_against_unconstrained(f, c);
  ReplicationArrays arrays;

  const int32_t nr = 1;
  float pin = 0.0f;
  float qin = 0.0f;
  float rr[1] = {0.0f};
  for (int32_t i = 0; i < kReplications; ++i) {
    for (int32_t t = 0; t < stages; ++t) {
      replication_shapes(workspace.chit[t], problem.niter, pin, qin);
      numlib::RNBET(nr, pin, qin, rr);
      workspace.csamp[t] = rr[0];
      replication_shapes(workspace.fhit[t], problem.niter, pin, qin);
      numlib::RNBET(nr, pin, qin, rr);
      workspace.fsamp[t] = rr[0];
    }
    float ftot = 1.0f;
    float ctot = 1.0f;
    for (int32_t t = 0; t < stages; ++t) {
      ftot = ftot * workspace.fsamp[t];
      ctot = ctot * workspace.csamp[t];
    }
    arrays.ftot[i] = ftot;
    arrays.ctot[i] = ctot;
  }
  form_replicated_factors(arrays.ctot.data(), arrays.ftot.data(), arrays.bfu.data(), arrays.bfc.data());

  numlib::SVRGN(kReplications, arrays.bfu.data(), arrays.sorted.data());
  factors.lu = arrays.sorted[kLowerPosition - 1];
  factors.uu = arrays.sorted[kUpperPosition - 1];
  numlib::SVRGN(kReplications, arrays.bfc.data(), arrays.sorted.data());
  factors.lc = arrays.sorted[kLowerPosition - 1];
  factors.uc = arrays.sorted[kUpperPosition - 1];
  finish_factors(c, f, factors);
}

}  // namespace propbf::driver
