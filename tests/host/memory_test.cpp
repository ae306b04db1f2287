// The host memory service: zeroed and aligned blocks, girealoc and free
// edge cases, overflowing sizes, and a failed girealoc keeping its block.
#include <cstdint>
#include <cstring>

#include "tests/support/support.h"

namespace {

using MemoryTest = HostTest;

TEST_F(MemoryTest, BlocksReallocationAndFailures) {
  void *a = gimaloc(10);
  void *b = gicaloc(4, 8);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(pcs::host::memory().live_bytes, 42);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(static_cast<unsigned char *>(b)[i], 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % alignof(std::max_align_t), 0u);
  std::memcpy(a, "0123456789", 10);
  a = girealoc(a, 1000);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(std::memcmp(a, "0123456789", 10), 0);
  EXPECT_EQ(pcs::host::memory().live_bytes, 1032);
  gifree(b);
  gifree(nullptr);
  // A failed girealoc leaves the block as it was.
  pcs::host::fail_allocation(1, true);
  EXPECT_EQ(girealoc(a, 2000), nullptr);
  EXPECT_EQ(std::memcmp(a, "0123456789", 10), 0);
  pcs::host::clear_allocation_failure();
  // girealoc of null allocates; to size 0 it keeps a block.
  void *block = girealoc(nullptr, 16);
  ASSERT_NE(block, nullptr);
  block = girealoc(block, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(pcs::host::memory().live_blocks, 2);
  gifree(block);
  gifree(a);
  // Sizes that overflow fail without an injected failure.
  EXPECT_EQ(gicaloc(SIZE_MAX / 2, 4), nullptr);
  EXPECT_EQ(gimaloc(SIZE_MAX - 4), nullptr);
  EXPECT_EQ(pcs::host::memory().injected, 1);
}

}  // namespace
