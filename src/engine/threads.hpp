// How many threads a run may start: no more than the processors the process may use,
// and no more than an address-space limit (ulimit -v) leaves room for, as each thread
// the OpenMP runtime starts reserves a whole stack. Beyond either, more threads gain
// nothing, and the runtime, when it cannot start one, ends the process with a message of
// its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace propbf::evaluate {

// The threads for a run asked to use `requested` (below 1: one per processor): at most
// the processors the process may use (its affinity mask) and at most what the
// address-space limit allows (threads_within_address_space), at least 1. When it is
// below the request (or, for a request below 1, when the limit keeps it below the
// processors) and `reason` is given, *reason says why, e.g. "the process may use 2
// processors"; otherwise *reason is left empty.
int usable_thread_count(int requested, std::string* reason = nullptr);

// The processors the process may run on: its affinity mask, or the OpenMP runtime's
// count when the mask cannot be read; at least 1.
int available_processors();

// The size of the stack of each thread the runtime starts: OMP_STACKSIZE (or
// GOMP_STACKSIZE) when set and well formed, otherwise the larger of the system's
// default for new threads and the 4 MiB clang's runtime takes.
std::uint64_t thread_stack_bytes();

// OMP_STACKSIZE's form: a whole positive number, then optionally a unit B, K, M or G
// (either case; K when none), blanks around each allowed. nullopt for anything else and
// for sizes beyond 2^62 bytes.
std::optional<std::uint64_t> parse_stack_size(std::string_view text);

// The most threads that fit within an address space of `limit_bytes` of which
// `used_bytes` are taken: the first thread runs on the caller's stack, each other one
// takes `stack_bytes` and a guard page, and together they may take half of what is free
// (the other half is left for the run's data); at least 1.
int threads_within_address_space(std::uint64_t limit_bytes, std::uint64_t used_bytes, std::uint64_t stack_bytes);

}  // namespace propbf::evaluate
