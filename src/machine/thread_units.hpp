// The per-thread unit numbers of the numerical library, by name.
//
// Each thread has its own record (an OpenMP threadprivate variable; all-zero means
// "not used yet", and the first UMACH call of the thread sets the defaults 5, 6, 6).
// The program runs on one thread. A parallel region whose workers should start with
// the encountering thread's units names the record in a copyin clause:
//
//   #pragma omp parallel copyin(propbf::numlib::thread_unit_numbers)
//
// Only code that needs copyin includes this header; everything else uses UMACH or
// unit_numbers() (machine/tables.hpp).
#pragma once

#include "machine/tables.hpp"

namespace propbf::numlib {

extern UnitNumbers thread_unit_numbers;
#pragma omp threadprivate(thread_unit_numbers)

}  // namespace propbf::numlib
