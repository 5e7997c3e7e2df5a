// The replication phase: beta redraws of every stage share, the replicated factors and
// their two order statistics.
#include "driver/replications.hpp"

#include <cmath>

#include "numeric/sort.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

namespace {

// The phase's own storage, kReplications values each, obtained once per phase.
struct ReplicationArrays {
  ZeroedArray<float> ctot, ftot;  // replicated complexity and fit
  ZeroedArray<float> bfu, bfc;    // replicated factors against both alternatives
  ZeroedArray<float> sorted;      // ascending copy of one of them

  ReplicationArrays() {
    const bool ok = ctot.allocate(kReplications) && ftot.allocate(kReplications) &&
                    bfu.allocate(kReplications) && bfc.allocate(kReplications) &&
                    sorted.allocate(kReplications);
    if (!ok) textio::fatal_report(textio::kAllocationFails, textio::Statement::None, 0);
  }
};

// A factor that is not a number (no sweeps, or a phase without any hit: 0/0) has no
// estimate for the replications to bound; redrawn shares would still give a finite
// interval that looks like evidence. Both ends then show the factor itself, laid out as
// the factor is.
void mark_interval_of_undefined_factor(float factor, float& lower, float& upper) {
  if (!std::isnan(factor)) return;
  lower = factor;
  upper = factor;
}

}  // namespace

void replication_shapes(float hits, int32_t niter, float& pin, float& qin) {
  const float sweeps = static_cast<float>(niter);
  if (niter >= 1 && hits > sweeps) hits = sweeps;
  pin = 1.0f + hits;
  qin = 1.0f + (sweeps - hits);
}

void replicate_factors(const Problem& problem, Workspace& workspace, float c, float f,
                       BayesFactors& factors) {
  const int32_t stages = problem.restrictions();
  factors.versus_unconstrained = f / c;
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
  for (int32_t i = 0; i < kReplications; ++i) {
    arrays.bfu[i] = arrays.ftot[i] / arrays.ctot[i];
  }
  for (int32_t i = 0; i < kReplications; ++i) {
    arrays.bfc[i] = arrays.bfu[i] / ((1.0f - arrays.ftot[i]) / (1.0f - arrays.ctot[i]));
  }

  numlib::SVRGN(kReplications, arrays.bfu.data(), arrays.sorted.data());
  factors.lu = arrays.sorted[kLowerPosition - 1];
  factors.uu = arrays.sorted[kUpperPosition - 1];
  numlib::SVRGN(kReplications, arrays.bfc.data(), arrays.sorted.data());
  factors.lc = arrays.sorted[kLowerPosition - 1];
  factors.uc = arrays.sorted[kUpperPosition - 1];

  factors.versus_complement = factors.versus_unconstrained / ((1.0f - f) / (1.0f - c));
  mark_interval_of_undefined_factor(factors.versus_unconstrained, factors.lu, factors.uu);
  mark_interval_of_undefined_factor(factors.versus_complement, factors.lc, factors.uc);
}

}  // namespace propbf::driver
