// The per-thread record of the error machine, by name.
//
// Each thread has its own ErrorState (an OpenMP threadprivate variable; all-zero in a
// thread that has not used the machine yet). The program runs on one thread. A
// parallel region whose workers should start from the encountering thread's state
// (its initialised flag, settings and routine-name stack as they are at that moment)
// names the record in a copyin clause:
//
//   #pragma omp parallel copyin(propbf::numlib::thread_error_state)
//
// Without copyin a worker starts from its own record, fresh on first use. Only code
// that needs copyin includes this header; everything else uses error_state().
#pragma once

#include "errors/errors.hpp"

namespace propbf::numlib {

extern ErrorState thread_error_state;
#pragma omp threadprivate(thread_error_state)

}  // namespace propbf::numlib
