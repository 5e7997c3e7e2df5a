// Storage for arrays that a run writes once, end to end.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace propbf::concurrency {

// `bytes` of storage (not initialised), aligned to 2 MB and rounded up to a multiple of
// it, advised for huge pages; nullptr when it cannot be obtained. Released with
// std::free. Where the system grants huge pages on request, the first write of each
// 2 MB costs one page fault instead of 512 (some 2.6 us each on a virtual machine, which
// adds up to about a millisecond per 2 MB); otherwise the storage is paged as usual.
void* allocate_huge_page_aligned(std::size_t bytes);

struct FreeStorage {
  void operator()(void* storage) const { std::free(storage); }
};

}  // namespace propbf::concurrency
