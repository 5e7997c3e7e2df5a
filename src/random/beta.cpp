// RNBET: argument checks, the choice of method, the power method and the clamp.
#include <cmath>
#include <cstdint>

#include "errors/errors.hpp"
#include "numeric/machine.hpp"
#include "random/beta_methods.hpp"
#include "random/random.hpp"

namespace propbf::numlib {

namespace beta {

Method choose_method(int32_t nr, float pin, float qin) {
  if (pin < 1.0f && qin < 1.0f) return Method::Johnk;
  if (pin == 1.0f || qin == 1.0f) return Method::Power;
  if (pin < 1.0f || qin < 1.0f) return Method::Switching;
  return nr <= 4 ? Method::LogLogistic : Method::Batch;
}

Clamp Clamp::from_machine() {
  const float e4 = AMACH(4);  // 2^-23
  const float e3 = AMACH(3);  // 2^-24
  return Clamp{1.0f - e4, e3};
}

void fill_power(int32_t nr, float pin, float qin, const Clamp& clamp, float* r) {
  RNUN(nr, r);
  if (qin == 1.0f) {
    const float exponent = 1.0f / pin;
    for (int32_t i = 0; i < nr; ++i) r[i] = clamp(std::pow(r[i], exponent));
  } else {
    const float exponent = 1.0f / qin;
    for (int32_t i = 0; i < nr; ++i) r[i] = clamp(1.0f - std::pow(r[i], exponent));
  }
}

void fill_not_a_number(int32_t first, int32_t nr, float* r) {
  const float nan = AMACH(6);
  for (int32_t i = first; i <= nr; ++i) r[i - 1] = nan;
}

}  // namespace beta

namespace {

// One error per bad argument, codes fixed by the argument: 1 NR, 2 PIN, 3 QIN.
void report_argument_errors(int32_t nr, float pin, float qin) {
  E1PSH("RNBET");
  int32_t code = 1;
  C1IARG(nr, "NR", 1, 0, code);
  if (pin <= 0.0f) {
    E1STR(1, pin);
    E1MES(5, 2, "PIN = %(R1).  PIN must be positive.");
  }
  if (qin <= 0.0f) {
    E1STR(1, qin);
    E1MES(5, 3, "QIN = %(R1).  QIN must be positive.");
  }
  E1POP("RNBET");
}

// Element `failed` (1-based) ran out of counted attempts: it and all after it are NaN.
void report_attempts_exhausted(int32_t failed, int32_t nr, float* r) {
  E1PSH("RNBET");
  E1STI(1, failed);
  E1MES(5, 4,
        "1000 unsuccessful attempts were made to assign a beta random deviate to R(%(I1)), "
        "since PIN and QIN are so small.  All elements of R beyond %(I1) are set to "
        "not-a-number.");
  beta::fill_not_a_number(failed, nr, r);
  E1POP("RNBET");
}

}  // namespace

void RNBET(int32_t nr, float pin, float qin, float* r) {
  const beta::Clamp clamp = beta::Clamp::from_machine();
  // A NaN shape passes: its comparisons with 0 are false (see choose_method).
  if (nr < 1 || pin <= 0.0f || qin <= 0.0f) {
    report_argument_errors(nr, pin, qin);
    return;
  }
  switch (beta::choose_method(nr, pin, qin)) {
    case beta::Method::Power:
      beta::fill_power(nr, pin, qin, clamp, r);
      return;
    case beta::Method::Johnk: {
      const int32_t failed = beta::fill_johnk(beta::make_johnk_setup(pin, qin), clamp, nr, r);
      if (failed != 0) report_attempts_exhausted(failed, nr, r);
      return;
    }
    case beta::Method::Switching: {
      const beta::SwitchingSetup setup = beta::make_switching_setup(pin, qin);
      if (!setup.usable()) {
        // Only a NaN or infinite shape gets here; no candidate could ever pass.
        beta::fill_not_a_number(1, nr, r);
        return;
      }
      beta::fill_switching(setup, clamp, nr, r);
      return;
    }
    case beta::Method::LogLogistic:
      beta::fill_log_logistic(beta::make_log_logistic_setup(pin, qin), clamp, nr, r);
      return;
    case beta::Method::Batch:
      beta::fill_batch(beta::make_batch_setup(pin, qin), clamp, nr, r);
      return;
  }
}

}  // namespace propbf::numlib
