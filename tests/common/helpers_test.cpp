// The shared helpers: fields cut at their first blank, key descriptions,
// and the owner of host stacks.
#include "common/coding.h"
#include "common/host_stack.h"
#include "common/key_description.h"
#include "include/pcs.h"
#include "tests/support/support.h"

namespace pcs::test {
namespace {

using Helpers = HostTest;

TEST_F(Helpers, FieldTextStopsAtBlankOrZeroAndNeverCuts) {
  struct Case {
    const char *field;
    size_t limit;
    bool whole;
    const char *text;
  };
  for (const Case &c : {Case{"ab cd", 8, true, "ab"}, Case{"abc def", 3, true, "abc"},
                        Case{"abcd", 4, true, "abcd"}, Case{"abcdef", 3, false, ""},
                        Case{" x", 5, true, ""}, Case{"a\0b", 5, true, "a"},
                        Case{nullptr, 5, true, ""}, Case{"abc", 0, false, ""}}) {
    char out[16];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(field_text(c.field, c.limit, out), c.whole) << c.text;
    EXPECT_STREQ(out, c.text);
  }
}

TEST_F(Helpers, KeyDescriptionsArePaddedPairs) {
  const std::string groups = field("PARTNUM") + field("PIPESIZE");
  const std::string attributes = field("PARTNO") + field("SIZE");
  void *description = key_description(2, groups.data(), attributes.data());
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(std::string(static_cast<char *>(pparyget(description, 1)), 16), "PIPESIZESIZE    ");
  ASSERT_TRUE(set_key_field(description, 0, "AB\0", 2, "LONGER THAN", 11));
  EXPECT_EQ(std::string(static_cast<char *>(pparyget(description, 0)), 16), "AB      LONGER T");
  free_key_description(description);
  sweep_allocations([&](long) {
    free_key_description(key_description(2, groups.data(), attributes.data()));
  });
}

TEST_F(Helpers, StackGuardEndsWhatIsNotKept) {
  int kept = 0, ended = 0, parts = 0;
  {
    StackGuard guard{&kept};
    ASSERT_EQ(make_stack(8, &kept), 0);
    guard.keep();
  }
  {
    StackGuard guard{&ended};
    StackGuard part_guard({&parts}, true);
    ASSERT_EQ(make_stack(8, &ended), 0);
    ASSERT_EQ(make_stack(PCS_HANDLE_SIZE, &parts), 0);
    PartRecord *part = nullptr;
    int rc = -1;
    cspgcre(&part, &rc);
    EXPECT_EQ(push_entry(parts, &part), 0);
  }
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(parts, 0);
  EXPECT_EQ(host::live_stacks(), 1);
  end_stack(&kept);
  EXPECT_EQ(kept, 0);
}

}  // namespace
}  // namespace pcs::test
