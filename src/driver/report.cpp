#include "driver/report.hpp"

#include <array>

#include "textio/textio.hpp"

namespace propbf::driver {

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
