// The shared helpers: fields cut at their first blank and key
// descriptions (the owner of host stacks is covered by the stack failure
// sweeps of the operations that use it).
#include "common/coding.h"
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
}

}  // namespace
}  // namespace pcs::test
