// The rejection methods for NR <= 4 or a shape below 1: Johnk (J), switching (S) and
// log-logistic candidates (C). Each attempt takes two uniforms through RNUN(2, .).
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "random/beta_methods.hpp"
#include "random/random.hpp"

namespace propbf::numlib::beta {

// Powers, logarithms and exponentials are taken in single precision.
static_assert(std::is_same_v<decltype(std::pow(1.0f, 1.0f)), float>);
static_assert(std::is_same_v<decltype(std::log(1.0f)), float>);
static_assert(std::is_same_v<decltype(std::exp(1.0f)), float>);
static_assert(std::is_same_v<decltype(std::sqrt(1.0f)), float>);

// ---------------------------------------------------------------------------------
// J
// ---------------------------------------------------------------------------------

JohnkSetup make_johnk_setup(float pin, float qin) {
  JohnkSetup setup;
  setup.pin_reciprocal = 1.0f / pin;
  setup.qin_reciprocal = 1.0f / qin;
  // Below 1/2 (reciprocal above 2, so 0.5 exactly is out) the powers can underflow.
  setup.log_mode = setup.pin_reciprocal > 2.0f && setup.qin_reciprocal > 2.0f;
  return setup;
}

JohnkAttempt johnk_attempt(const JohnkSetup& setup, float underflow_bound) {
  float u[2];
  RNUN(2, u);
  const float x = std::pow(u[0], setup.pin_reciprocal);
  const float y = std::pow(u[1], setup.qin_reciprocal);
  const float s = x + y;
  // Accept only inside the simplex x + y <= 1.
  if (s > 1.0f) return {JohnkOutcome::SumAboveOne, 0.0f};
  // In log mode a candidate whose x or sum is below 2^-24 carries no information.
  if (setup.log_mode && (x < underflow_bound || s < underflow_bound)) {
    return {JohnkOutcome::Underflow, 0.0f};
  }
  return {JohnkOutcome::Accepted, x / s};
}

int32_t fill_johnk(const JohnkSetup& setup, const Clamp& clamp, int32_t nr, float* r) {
  for (int32_t i = 0; i < nr; ++i) {
    int32_t attempts = 1;
    for (;;) {
      const JohnkAttempt attempt = johnk_attempt(setup, clamp.floor);
      if (attempt.outcome == JohnkOutcome::Accepted) {
        r[i] = clamp(attempt.x);
        break;
      }
      if (attempt.outcome == JohnkOutcome::Underflow) {
        ++attempts;
        if (attempts > kJohnkAttemptLimit) return i + 1;
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------
// S
// ---------------------------------------------------------------------------------

SwitchingSetup make_switching_setup(float pin, float qin) {
  SwitchingSetup setup;
  setup.swapped = pin > 1.0f || std::isnan(pin);  // a is QIN
  setup.a = setup.swapped ? qin : pin;
  setup.b = setup.swapped ? pin : qin;
  const float a = setup.a;
  const float b = setup.b;
  setup.r = (a - 1.0f) / ((1.0f + b) - a);
  setup.t = -setup.r;
  setup.k = std::pow(setup.t, a - 1.0f);
  setup.p = -(setup.r * b) / (a * std::pow(1.0f + setup.r, b) - setup.r * b);
  setup.a_reciprocal = 1.0f / a;
  setup.b_reciprocal = 1.0f / b;
  setup.a_minus_one = a - 1.0f;
  setup.b_minus_one = b - 1.0f;
  return setup;
}

bool SwitchingSetup::usable() const { return !std::isnan(p); }

SwitchingAttempt switching_attempt(const SwitchingSetup& setup) {
  float u[2];
  RNUN(2, u);
  const float u1 = u[0];
  const float u2 = u[1];
  SwitchingAttempt attempt;
  attempt.left_piece = u1 <= setup.p;
  float x;
  if (attempt.left_piece) {
    // Candidate from x^(a-1) on (0, t]; accept under (1 - x)^(b-1).
    x = setup.t * std::pow(u1 / setup.p, setup.a_reciprocal);
    attempt.accepted = u2 <= std::pow(1.0f - x, setup.b_minus_one);
  } else {
    // Candidate from (1 - x)^(b-1) on (t, 1); accept under (x / t)^(a-1), i.e.
    // k u2 <= x^(a-1).
    x = 1.0f - (1.0f - setup.t) * std::pow((1.0f - u1) / (1.0f - setup.p), setup.b_reciprocal);
    attempt.accepted = setup.k * u2 <= std::pow(x, setup.a_minus_one);
  }
  attempt.x = setup.swapped ? 1.0f - x : x;
  return attempt;
}

void fill_switching(const SwitchingSetup& setup, const Clamp& clamp, int32_t nr, float* r) {
  for (int32_t i = 0; i < nr; ++i) {
    SwitchingAttempt attempt;
    do {
      attempt = switching_attempt(setup);
    } while (!attempt.accepted);
    r[i] = clamp(attempt.x);
  }
}

// ---------------------------------------------------------------------------------
// C
// ---------------------------------------------------------------------------------

LogLogisticSetup make_log_logistic_setup(float pin, float qin) {
  LogLogisticSetup setup;
  setup.small_is_first = pin <= qin;
  setup.a = setup.small_is_first ? pin : qin;
  setup.b = setup.small_is_first ? qin : pin;
  const float a = setup.a;
  const float b = setup.b;
  setup.alpha = a + b;
  setup.beta = std::sqrt((setup.alpha - 2.0f) / (2.0f * a * b - setup.alpha));
  setup.gamma = a + 1.0f / setup.beta;
  return setup;
}

LogLogisticAttempt log_logistic_attempt(const LogLogisticSetup& setup) {
  float u[2];
  RNUN(2, u);
  const LogLogisticTerms terms = log_logistic_terms(setup, u[0], u[1]);
  // Quick acceptance by the tangent of ln at 5z: s + 1 + ln 5 >= 5z.
  if (terms.s + kOnePlusLogFive >= 5.0f * terms.z) return {LogLogisticOutcome::QuickAccept, terms.x};
  const float t = std::log(terms.z);
  // Acceptance by the lower bound s of the log ratio: s >= ln z.
  if (terms.s >= t) return {LogLogisticOutcome::LogAccept, terms.x};
  // The exact log ratio: reject when r + alpha ln(alpha / (b + w)) < ln z.
  if (log_logistic_bound(setup, terms) < t) return {LogLogisticOutcome::Rejected, terms.x};
  return {LogLogisticOutcome::BoundAccept, terms.x};
}

void fill_log_logistic(const LogLogisticSetup& setup, const Clamp& clamp, int32_t nr, float* r) {
  for (int32_t i = 0; i < nr; ++i) {
    LogLogisticAttempt attempt;
    do {
      attempt = log_logistic_attempt(setup);
    } while (attempt.outcome == LogLogisticOutcome::Rejected);
    r[i] = clamp(attempt.x);
  }
}

}  // namespace propbf::numlib::beta
