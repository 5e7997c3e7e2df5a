#include "engine/complexity_cache.hpp"

#include <algorithm>
#include <bit>
#include <utility>

#include "messages/messages.hpp"

namespace propbf::evaluate {
namespace {

bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
  return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  });
}

// What differs between a loaded key and the one a hypothesis needs (same polytope).
std::string difference(const ComplexityKey& loaded, const ComplexityKey& needed) {
  if (loaded.prior_a.size() != needed.prior_a.size() || !same_bits(loaded.prior_a, needed.prior_a) ||
      !same_bits(loaded.prior_b, needed.prior_b)) {
    for (std::size_t j = 0; j < std::min(loaded.prior_a.size(), needed.prior_a.size()); ++j) {
      if (std::bit_cast<std::uint64_t>(loaded.prior_a[j]) != std::bit_cast<std::uint64_t>(needed.prior_a[j]) ||
          std::bit_cast<std::uint64_t>(loaded.prior_b[j]) != std::bit_cast<std::uint64_t>(needed.prior_b[j])) {
        return "another prior (coordinate " + std::to_string(j + 1) + ": shapes " + format_number(loaded.prior_a[j], 17) +
               ", " + format_number(loaded.prior_b[j], 17) + " in the file, " + format_number(needed.prior_a[j], 17) +
               ", " + format_number(needed.prior_b[j], 17) + " here)";
      }
    }
    return "another prior (" + std::to_string(loaded.prior_a.size()) + " coordinates in the file, " +
           std::to_string(needed.prior_a.size()) + " here)";
  }
  if (loaded.seed != needed.seed || loaded.stream != needed.stream) {
    return "another seed (" + std::to_string(loaded.seed) + (loaded.stream != 0 ? " with a stream per problem" : "") +
           " in the file, " + std::to_string(needed.seed) + (needed.stream != 0 ? " with a stream per problem" : "") +
           " here)";
  }
  if (loaded.niter != needed.niter) {
    return "another number of sweeps per stage (" + std::to_string(loaded.niter) + " in the file, " +
           std::to_string(needed.niter) + " here; set complexity_niter to the file's)";
  }
  if (loaded.stage_ends != needed.stage_ends) {
    return "other stages (" + std::to_string(loaded.stage_ends.size()) + " in the file, " +
           std::to_string(needed.stage_ends.size()) + " here: another version of the program)";
  }
  return "another start point (another version of the program)";
}

}  // namespace

std::string ComplexityCache::refusal(const std::vector<std::optional<ComplexityKey>>& keys,
                                     const std::vector<std::string>& names, bool precision_without_niter) const {
  if (source_.empty()) return {};
  const std::string file = "complexity file " + source_;
  bool used = false;
  for (std::size_t h = 0; h < keys.size(); ++h) {
    if (!keys[h]) continue;
    const ComplexityRecord* same_polytope = nullptr;
    bool found = false;
    for (const ComplexityRecord& record : records_) {
      if (!record.loaded || record.key.hypothesis != keys[h]->hypothesis) continue;
      if (record.key == *keys[h]) found = true;
      if (same_polytope == nullptr) same_polytope = &record;
    }
    if (found) {
      used = true;
    } else if (same_polytope != nullptr) {
      return file + ": its complexity of hypothesis " + names[h] + "'s polytope was computed with " +
             difference(same_polytope->key, *keys[h]);
    }
  }
  if (used) return {};
  if (precision_without_niter) {
    return file + ": in precision mode a complexity is reused only at a fixed number of sweeps: set complexity_niter "
                  "(--complexity-niter) to the file's";
  }
  return file + ": holds no complexity of a hypothesis of this problem (another polytope, or hypotheses whose "
                "complexity is exact)";
}

bool ComplexityKey::operator==(const ComplexityKey& other) const {
  return hypothesis == other.hypothesis && seed == other.seed && stream == other.stream && niter == other.niter &&
         stage_ends == other.stage_ends && same_bits(prior_a, other.prior_a) && same_bits(prior_b, other.prior_b) &&
         same_bits(start, other.start);
}

const ComplexityRecord* ComplexityCache::find(const ComplexityKey& key) const {
  for (const ComplexityRecord& record : records_) {
    if (record.key == key) return &record;
  }
  return nullptr;
}

bool ComplexityCache::add(ComplexityRecord record) {
  std::size_t counts = record.stages.size();
  for (const StageLevels& stage : record.levels) counts += stage.counts.size();
  if (find(record.key) != nullptr || counts > kMaxStages - stages_) return false;
  stages_ += counts;
  records_.push_back(std::move(record));
  return true;
}

}  // namespace propbf::evaluate
