// Host stacks: entry order, emptying, reading by number, result codes,
// growth through host memory and injected failures.
#include <cstring>
#include <string>

#include "tests/support/support.h"

namespace {

class StackTest : public HostTest {
 protected:
  int open(int size) {
    int stack = -1, rc = -1;
    gusini(&size, &stack, &rc);
    EXPECT_RC(0, rc);
    EXPECT_NE(stack, 0);
    return stack;
  }
  void end(int stack) {
    int rc = -1;
    gusend(&stack, &rc);
    EXPECT_RC(0, rc);
  }
};

TEST_F(StackTest, PushReadPopInOrder) {
  int stack = open(8);
  int count = 0, rc = -1;
  for (const char *entry : {"FIRST   ", "SECOND  ", "THIRD   "}) guspus(&stack, entry, &count, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(count, 3);
  char buffer[8];
  int size = 0;
  gusinf(&stack, &size, &count, &rc);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(count, 3);

  int empty = -1;
  for (const char *expected : {"THIRD   ", "SECOND  ", "FIRST   "}) {
    guspop(&stack, buffer, &empty, &rc);
    EXPECT_RC(0, rc);
    EXPECT_EQ(empty, 0);
    EXPECT_EQ(std::string(buffer, 8), expected);
  }
  std::memset(buffer, 'x', 8);
  guspop(&stack, buffer, &empty, &rc);
  EXPECT_RC(0, rc);
  EXPECT_NE(empty, 0);
  EXPECT_EQ(std::string(buffer, 8), "xxxxxxxx");
  guspus(&stack, "FIRST   ", &count, &rc);
  gusemp(&stack, &rc);
  EXPECT_RC(0, rc);
  guspus(&stack, "AGAIN   ", &count, &rc);
  EXPECT_EQ(count, 1);
  end(stack);
}

TEST_F(StackTest, BadEntryNumbersAndSizes) {
  int stack = open(4);
  int count = 0, rc = -1, value = 7;
  guspus(&stack, &value, &count, &rc);
  int out = 0;
  for (int index : {0, -1, 2}) {
    gusrea(&stack, &index, &out, &rc);
    EXPECT_RC(PCS_GUS_BAD_INDEX, rc) << index;
  }
  gusrea(&stack, nullptr, &out, &rc);
  EXPECT_RC(PCS_GUS_BAD_INDEX, rc);
  guspus(&stack, nullptr, &count, &rc);
  EXPECT_RC(PCS_GUS_BAD_ARGUMENT, rc);
  EXPECT_EQ(count, 1);
  end(stack);

  for (int size : {0, -8}) {
    int made = -1;
    gusini(&size, &made, &rc);
    EXPECT_RC(PCS_GUS_BAD_SIZE, rc);
    EXPECT_EQ(made, 0);
  }
  EXPECT_EQ(pcs::host::live_stacks(), 0);
}

TEST_F(StackTest, BadHandlesIncludingAReleasedOneWhoseSlotIsReused) {
  int rc = -1, count = 0, size = 0, empty = 0, one = 1;
  char buffer[4] = {};
  for (int handle : {0, -1, 12345}) {
    guspus(&handle, buffer, &count, &rc);
    EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
    guspop(&handle, buffer, &empty, &rc);
    EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
    EXPECT_NE(empty, 0);
    gusrea(&handle, &one, buffer, &rc);
    EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
    gusinf(&handle, &size, &count, &rc);
    EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
    gusemp(&handle, &rc);
    EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
    gusend(&handle, &rc);
    EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
  }
  int old = open(4);
  end(old);
  int reused = open(4);
  EXPECT_NE(reused, old);
  gusend(&old, &rc);
  EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);
  EXPECT_EQ(pcs::host::live_stacks(), 1);
  end(reused);
}

TEST_F(StackTest, AllocationFailuresGiveNoMemoryAndKeepTheEntries) {
  sweep_allocations([](long) {
    int size = 2, stack = 0, rc = 0, count = 0;
    gusini(&size, &stack, &rc);
    if (rc != 0) {
      EXPECT_RC(PCS_GUS_NO_MEMORY, rc);
      EXPECT_EQ(stack, 0);
      return;
    }
    int pushed = 0;
    for (int i = 0; i < 1000; ++i) {
      const short value = static_cast<short>(i);
      guspus(&stack, &value, &count, &rc);
      if (rc != 0) break;
      pushed = count;
    }
    if (rc != 0) EXPECT_RC(PCS_GUS_NO_MEMORY, rc);
    int entries = -1;
    gusinf(&stack, &size, &entries, &rc);
    EXPECT_EQ(entries, pushed);
    for (int index = 1; index <= pushed; ++index) {
      short value = -1;
      gusrea(&stack, &index, &value, &rc);
      EXPECT_EQ(value, index - 1);
    }
    gusend(&stack, &rc);
  });
}

}  // namespace
