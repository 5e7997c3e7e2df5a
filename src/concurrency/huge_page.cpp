#include "concurrency/huge_page.hpp"

#include <sys/mman.h>

namespace propbf::concurrency {

void* allocate_huge_page_aligned(std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t rounded = (bytes / kHugePage + (bytes % kHugePage != 0 ? 1 : 0)) * kHugePage;
  if (rounded == 0 || rounded < bytes) return nullptr;
  void* storage = std::aligned_alloc(kHugePage, rounded);
  if (storage != nullptr) madvise(storage, rounded, MADV_HUGEPAGE);  // advice only: refused, nothing changes
  return storage;
}

}  // namespace propbf::concurrency
