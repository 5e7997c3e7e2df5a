#include "sampling/stream.hpp"

#include <Random123/philox.h>

namespace propbf::evaluate {

namespace {
constexpr std::uint64_t kStreamTag = 0x70726f7062662d65;  // "propbf-e": the key's second word
}

CounterStream::CounterStream(StreamSeed seed, std::uint64_t hypothesis_key, StreamKind phase, std::uint64_t stage,
                             std::uint64_t part)
    : key_{seed.seed, kStreamTag ^ seed.problem},
      counter_{part << 48, hypothesis_key, static_cast<std::uint64_t>(phase), stage} {}

void CounterStream::refill() {
  r123::Philox4x64 generator;
  const r123::Philox4x64::ctr_type counter = {{counter_[0], counter_[1], counter_[2], counter_[3]}};
  const r123::Philox4x64::key_type key = {{key_[0], key_[1]}};
  const r123::Philox4x64::ctr_type block = generator(counter, key);
  for (int i = 0; i < 4; ++i) words_[i] = block.v[i];
  ++counter_[0];
  used_ = 0;
}

}  // namespace propbf::evaluate
