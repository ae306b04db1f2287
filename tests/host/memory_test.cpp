// The host memory service: counters, girealoc and free edge cases, and the
// allocation failure injector.
#include <cstdint>
#include <cstring>

#include "tests/support/support.h"

namespace {

using MemoryTest = HostTest;

TEST_F(MemoryTest, CountsLiveBlocksAndBytes) {
  const auto start = pcs::host::memory();
  void *a = gimaloc(10);
  void *b = gicaloc(4, 8);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(pcs::host::memory().live_blocks, start.live_blocks + 2);
  EXPECT_EQ(pcs::host::memory().live_bytes, start.live_bytes + 42);
  EXPECT_EQ(pcs::host::memory().allocations, start.allocations + 2);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(static_cast<unsigned char *>(b)[i], 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % alignof(std::max_align_t), 0u);

  std::memcpy(a, "0123456789", 10);
  void *grown = girealoc(a, 1000);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(std::memcmp(grown, "0123456789", 10), 0);
  EXPECT_EQ(pcs::host::memory().live_bytes, start.live_bytes + 1032);
  EXPECT_EQ(pcs::host::memory().live_blocks, start.live_blocks + 2);

  gifree(grown);
  gifree(b);
  gifree(nullptr);
  EXPECT_EQ(pcs::host::memory().live_blocks, start.live_blocks);
  EXPECT_EQ(pcs::host::memory().live_bytes, start.live_bytes);

  // girealoc of null allocates; to size 0 it keeps a block.
  void *block = girealoc(nullptr, 16);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(pcs::host::memory().live_bytes, start.live_bytes + 16);
  block = girealoc(block, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(pcs::host::memory().live_bytes, start.live_bytes);
  EXPECT_EQ(pcs::host::memory().live_blocks, start.live_blocks + 1);
  gifree(block);
}

TEST_F(MemoryTest, OverflowingSizesFailWithoutInjection) {
  EXPECT_EQ(gicaloc(SIZE_MAX / 2, 4), nullptr);
  EXPECT_EQ(gimaloc(SIZE_MAX - 4), nullptr);
  EXPECT_EQ(pcs::host::memory().injected, 0);
}

TEST_F(MemoryTest, FailsTheNthAllocationOnceOrFromThenOn) {
  pcs::host::fail_allocation(3);
  void *a = gimaloc(1);
  void *b = gicaloc(1, 1);
  EXPECT_EQ(gimaloc(1), nullptr);
  void *d = gimaloc(1);
  EXPECT_TRUE(a && b && d);
  EXPECT_EQ(pcs::host::memory().injected, 1);
  EXPECT_EQ(pcs::host::memory().allocations, 3);
  gifree(b);
  gifree(d);

  std::memcpy(a, "x", 1);
  pcs::host::fail_allocation(1, true);
  EXPECT_EQ(gimaloc(1), nullptr);
  EXPECT_EQ(gicaloc(1, 1), nullptr);
  EXPECT_EQ(girealoc(a, 100), nullptr);  // a failed girealoc leaves the block
  EXPECT_EQ(*static_cast<char *>(a), 'x');
  EXPECT_EQ(pcs::host::memory().live_bytes, 1);
  EXPECT_EQ(pcs::host::memory().injected, 4);
  pcs::host::clear_allocation_failure();
  void *grown = girealoc(a, 100);
  EXPECT_NE(grown, nullptr);
  gifree(grown);
}

}  // namespace
