// The host memory service: zeroed and aligned blocks, girealoc and free
// edge cases, overflowing sizes, a failed girealoc keeping its block, and
// the reuse of released small blocks.
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

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

// Released small blocks come back whole: zero-filled by gicaloc over the
// size asked, large enough for any size of their class (also one that
// girealoc shrank), counted as live only while handed out, and kept up to a
// bound per class and thread.
TEST_F(MemoryTest, SmallBlocksAreReusedWhole) {
  if (pcs::host::cached_blocks() < 0) GTEST_SKIP() << "this build keeps no released blocks";
  struct Case {
    size_t first, shrunk, second;  // gimaloc(first), girealoc(shrunk), gicaloc(second)
  } cases[] = {{1, 1, 16}, {17, 17, 32}, {0, 0, 16}, {1000, 20, 32}, {256, 241, 256}, {300, 300, 300}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.first);
    void *block = gimaloc(c.first);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xA5, c.first);
    block = girealoc(block, c.shrunk);
    ASSERT_NE(block, nullptr);
    gifree(block);
    EXPECT_EQ(pcs::host::memory().live_blocks, 0);
    EXPECT_EQ(pcs::host::memory().live_bytes, 0);
    auto *again = static_cast<unsigned char *>(gicaloc(1, c.second));
    ASSERT_NE(again, nullptr);
    if (c.second <= 256) EXPECT_EQ(again, block);
    EXPECT_GE(malloc_usable_size(again - alignof(std::max_align_t)),
              alignof(std::max_align_t) + c.second);
    for (size_t i = 0; i < c.second; ++i) ASSERT_EQ(again[i], 0) << i;
    EXPECT_EQ(pcs::host::memory().live_bytes, static_cast<long>(c.second));
    gifree(again);
  }
  // Whatever earlier tests left, 300 releases fill the class to its bound.
  std::vector<void *> blocks(300);
  for (void *&b : blocks) b = gimaloc(40);
  for (void *b : blocks) gifree(b);
  const long full = pcs::host::cached_blocks();
  for (void *&b : blocks) b = gimaloc(40);
  EXPECT_EQ(pcs::host::cached_blocks(), full - 256);
  for (void *b : blocks) gifree(b);
  EXPECT_EQ(pcs::host::cached_blocks(), full);
  // Another thread keeps blocks of its own and releases them as it ends.
  long in_thread = -1;
  std::thread([&] {
    gifree(gimaloc(8));
    in_thread = pcs::host::cached_blocks();
  }).join();
  EXPECT_EQ(in_thread, 1);
}

}  // namespace
