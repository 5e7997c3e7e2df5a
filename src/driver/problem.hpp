// The problem read from input.txt and the run's working storage.
//
// Layout of input.txt (one read step per line below; a value step that finds too few
// values on its line goes on to the following lines):
//   heading (ignored)
//   nitem nrestr niter
//   heading
//   r(t,1) ... r(t,J) rc(t)        once per restriction t = 1..T
//   heading
//   initpi(1) ... initpi(J)
//   heading
//   x(1) ... x(J)
// Restriction t holds when sum_j r(t,j) * pi_j - rc(t) > 0.
//
// Nothing read is checked; every array starts zero-filled, so a value left null in the
// file reads as 0.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>

#include "model/bayes_factors.hpp"

namespace propbf::driver {

// Zero-filled storage of a fixed extent, released with the owner.
template <class T>
class ZeroedArray {
 public:
  ZeroedArray() = default;
  ZeroedArray(const ZeroedArray&) = delete;
  ZeroedArray& operator=(const ZeroedArray&) = delete;
  ZeroedArray(ZeroedArray&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  ZeroedArray& operator=(ZeroedArray&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~ZeroedArray() { std::free(data_); }

  // Returns false when the storage cannot be obtained.
  bool allocate(int64_t count) {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    if (count <= 0) return true;
    data_ = static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
    if (data_ == nullptr) return false;
    size_ = count;
    return true;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  int64_t size() const { return size_; }
  T& operator[](int64_t i) { return data_[i]; }
  const T& operator[](int64_t i) const { return data_[i]; }
  std::span<T> span() { return {data_, static_cast<size_t>(size_)}; }
  std::span<const T> span() const { return {data_, static_cast<size_t>(size_)}; }

 private:
  T* data_ = nullptr;
  int64_t size_ = 0;
};

using model::kReplications;

struct Problem {
  int32_t nitem = 0;   // J
  int32_t nrestr = 0;  // T
  int32_t niter = 0;   // sweeps per stage
  ZeroedArray<float> r;       // T x J, row t holds restriction t (0-based rows here)
  ZeroedArray<float> rc;      // T
  ZeroedArray<float> initpi;  // J
  ZeroedArray<int32_t> x;     // J

  int32_t items() const { return nitem > 0 ? nitem : 0; }
  int32_t restrictions() const { return nrestr > 0 ? nrestr : 0; }
  const float* row(int32_t t) const { return r.data() + static_cast<int64_t>(t) * items(); }
};

// Storage of the phases, sized once with the problem. The replication phase obtains
// its own kReplications-sized arrays when it starts.
struct Workspace {
  ZeroedArray<float> pi;      // J: the sampler's state
  ZeroedArray<float> chit;    // T: hits per stage, complexity
  ZeroedArray<float> fhit;    // T: hits per stage, fit
  ZeroedArray<float> csamp;   // T: one replication's stage shares, complexity
  ZeroedArray<float> fsamp;   // T: the same for the fit
  // What the sampler may allocate for one group of stages (from plan_storage).
  int64_t group_byte_limit = INT64_MAX;
};

// The storage of a run with counts (nitem, nrestr): `bytes`, everything it allocates at
// its peak (the problem and workspace arrays, the replication vectors, and the sampler's
// storage for one group of stages, at least a single stage), or -1 when that is out of
// reach: an extent beyond the 32-bit index range (T x J included) or more than
// `available` bytes. `group_byte_limit` is what a group of stages may take beside the
// rest. Negative counts count as 0.
struct StoragePlan {
  int64_t bytes;
  int64_t group_byte_limit;
};
StoragePlan plan_storage(int32_t nitem, int32_t nrestr, int64_t available);
// The memory the machine can give without swapping: MemAvailable of /proc/meminfo,
// else the free pages (_SC_AVPHYS_PAGES), else the physical memory.
int64_t available_memory_bytes();
// plan_storage(nitem, nrestr, available_memory_bytes()).bytes.
int64_t storage_bytes(int32_t nitem, int32_t nrestr);

// Allocates the problem's arrays and the workspace, all zero-filled. Ends the run with
// the allocation report when the storage cannot be obtained.
void allocate_storage(Problem& problem, Workspace& workspace);

// Reads input.txt (already open on its unit) from its first record: the counts, then
// seeds the generator with 1, sizes the storage and reads the rest of the problem.
void read_problem(Problem& problem, Workspace& workspace);

}  // namespace propbf::driver
