// E1LOCK: the one process-wide error-output lock.
//
// A re-entrant (nest) lock, so that a thread printing an error may take it again,
// as the unit lookup does on its own error path while the printer holds it. It is
// created on first use; the creation runs inside a named critical section so that
// two threads cannot both create it.
#include <omp.h>

#include "errors/errors.hpp"

namespace propbf::numlib {

namespace {

omp_nest_lock_t error_output_lock;
bool error_output_lock_created = false;  // read and written only inside the critical section

// How often the calling thread holds the lock; a release without a matching take is
// ignored instead of handing the runtime a lock this thread does not own.
int32_t times_held_by_this_thread = 0;
#pragma omp threadprivate(times_held_by_this_thread)

void make_sure_lock_exists() {
#pragma omp critical(propbf_e1lock_create)
  {
    if (!error_output_lock_created) {
      omp_init_nest_lock(&error_output_lock);
      error_output_lock_created = true;
    }
  }
}

}  // namespace

void E1LOCK(int32_t flag) {
  make_sure_lock_exists();
  if (flag == 1) {
    omp_set_nest_lock(&error_output_lock);
    ++times_held_by_this_thread;
  } else if (flag == 0 && times_held_by_this_thread > 0) {
    --times_held_by_this_thread;
    omp_unset_nest_lock(&error_output_lock);
  }
}

}  // namespace propbf::numlib
