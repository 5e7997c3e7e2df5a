#include "driver/report.hpp"

#include <array>

#include "numeric/sort.hpp"
#include "random/random.hpp"
#include "textio/textio.hpp"

namespace propbf::driver {

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
    workspace.ftot[i] = ftot;
    workspace.ctot[i] = ctot;
  }
  for (int32_t i = 0; i < kReplications; ++i) {
    workspace.bfu[i] = workspace.ftot[i] / workspace.ctot[i];
  }
  for (int32_t i = 0; i < kReplications; ++i) {
    workspace.bfc[i] = workspace.bfu[i] / ((1.0f - workspace.ftot[i]) / (1.0f - workspace.ctot[i]));
  }

  numlib::SVRGN(kReplications, workspace.bfu.data(), workspace.sorted.data());
  factors.lu = workspace.sorted[kLowerPosition - 1];
  factors.uu = workspace.sorted[kUpperPosition - 1];
  numlib::SVRGN(kReplications, workspace.bfc.data(), workspace.sorted.data());
  factors.lc = workspace.sorted[kLowerPosition - 1];
  factors.uc = workspace.sorted[kUpperPosition - 1];

  factors.versus_complement = factors.versus_unconstrained / ((1.0f - f) / (1.0f - c));
}

void write_report(float c, float f, const BayesFactors& factors) {
  using textio::FieldValue;
  using textio::LayoutElement;
  constexpr int32_t out = textio::kOutputFile;
  const std::array<LayoutElement, 1> narrow{LayoutElement::fixed_point(12, 10)};
  const std::array<LayoutElement, 1> wide{LayoutElement::fixed_point(17, 10)};
  const std::array<LayoutElement, 3> interval{LayoutElement::fixed_point(17, 10), LayoutElement::blanks(3),
                                              LayoutElement::fixed_point(17, 10)};
  auto one = [](float v) { return std::array<FieldValue, 1>{FieldValue(v)}; };
  auto two = [](float a, float b) { return std::array<FieldValue, 2>{FieldValue(a), FieldValue(b)}; };

  textio::write_free(out, {"fit ="});
  textio::write_fixed(out, narrow, one(f));
  textio::write_free(out, {});
  textio::write_free(out, {"complexity ="});
  textio::write_fixed(out, narrow, one(c));
  textio::write_free(out, {});
  textio::write_free(out, {"Bayes factor for hypothesis versus unconstrained alternative ="});
  textio::write_fixed(out, wide, one(factors.versus_unconstrained));
  textio::write_free(out, {"interval for Bayes factor due to estimation error ="});
  textio::write_fixed(out, interval, two(factors.lu, factors.uu));
  textio::write_free(out, {});
  textio::write_free(out, {"Bayes factor for hypothesis versus complement ="});
  textio::write_fixed(out, wide, one(factors.versus_complement));
  textio::write_free(out, {"interval for Bayes factor due to estimation error ="});
  textio::write_fixed(out, interval, two(factors.lc, factors.uc));

  textio::write_free(textio::kConsole, {"Analysis Completed"});
}

}  // namespace propbf::driver
