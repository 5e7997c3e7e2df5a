// The threads a run may start: OMP_STACKSIZE's form, the room an address-space limit
// leaves, and the count asked for lowered to the processors.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/threads.hpp"

namespace propbf::evaluate {
namespace {

TEST(Threads, StackSizesAsTheOpenMpVariableWritesThem) {
  const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases{
      {"100", 100 << 10}, {"8M", 8 << 20}, {" 8 m ", 8 << 20}, {"2g", std::uint64_t{2} << 30}, {"512k", 512 << 10},
      {"4096B", 4096}, {"0", std::nullopt}, {"", std::nullopt}, {"M", std::nullopt}, {"8MB", std::nullopt},
      {"-1", std::nullopt}, {"1.5M", std::nullopt}, {"8T", std::nullopt}, {"99999999999999999999", std::nullopt},
      {"4294967296G", std::uint64_t{1} << 62}, {"4294967297G", std::nullopt}};
  for (const auto& [text, bytes] : cases) EXPECT_EQ(parse_stack_size(text), bytes) << "'" << text << "'";
}

TEST(Threads, HalfOfTheFreeAddressSpaceForStacks) {
  constexpr std::uint64_t kMiB = 1 << 20;
  struct Case {
    std::uint64_t limit, used, stack;
    int threads;
  };
  // Each thread beyond the first takes its stack and 64 KiB.
  const std::vector<Case> cases{
      {4096 * kMiB, 96 * kMiB, 8 * kMiB, 1 + 2000 * kMiB / (8 * kMiB + 65536)},  // 249
      {4096 * kMiB, 96 * kMiB, 2048 * kMiB, 1},
      {1024 * kMiB, 1024 * kMiB, 8 * kMiB, 1},
      {1024 * kMiB, 2048 * kMiB, 8 * kMiB, 1},
      {~std::uint64_t{0}, 0, 1, 2147483647}};
  for (const Case& c : cases) EXPECT_EQ(threads_within_address_space(c.limit, c.used, c.stack), c.threads) << c.limit;
  EXPECT_EQ(threads_within_address_space(4096 * kMiB, 96 * kMiB, 8 * kMiB), 249);
}

TEST(Threads, LoweredToTheProcessorsWithTheReason) {
  const int processors = available_processors();
  ASSERT_GE(processors, 1);
  std::string reason = "left over";
  EXPECT_EQ(usable_thread_count(1, &reason), 1);
  EXPECT_EQ(reason, "");
  EXPECT_LE(usable_thread_count(0, &reason), processors);
  EXPECT_EQ(usable_thread_count(processors + 1, &reason), processors);
  EXPECT_EQ(reason, "the process may use " + std::to_string(processors) + (processors == 1 ? " processor" : " processors"));
  EXPECT_GE(thread_stack_bytes(), std::uint64_t{4} << 20);
}

}  // namespace
}  // namespace propbf::evaluate
