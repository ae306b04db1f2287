// The host error reporter, its echo and string conversion.
#include <cstring>
#include <string>

#include "include/pcs.h"
#include "tests/support/support.h"

namespace {

using ErrorTest = HostTest;

// A report keeps its set and the parameters given before it (a length cuts
// one); with the quiet action nothing is reported and parameters are dropped.
TEST_F(ErrorTest, ReportsAndQuietAction) {
  int suppress = -1, length = 8, rc = PCS_NO_ATTR, old = -1, off = 0;
  gueuse("TW3CXERR", &suppress);
  EXPECT_EQ(suppress, 0);
  guepar("PIPE    xx", &length);
  guepar("OD", nullptr);
  gueror(&rc);
  gueact(&off, &old);
  EXPECT_EQ(old, 1);
  gueuse("TW3CXERR", &suppress);
  EXPECT_NE(suppress, 0);
  guepar("dropped", nullptr);
  gueror(&rc);
  gueact(&old, &off);
  rc = PCS_NO_GROUP;
  gueror(&rc);
  ASSERT_EQ(pcs::host::reports().size(), 2u);
  const pcs::host::Report &first = pcs::host::reports()[0];
  EXPECT_EQ(first.message_set, "TW3CXERR");
  EXPECT_RC(PCS_NO_ATTR, first.code);
  EXPECT_EQ(first.parameters, (std::vector<std::string>{"PIPE    ", "OD"}));
  EXPECT_RC(PCS_NO_GROUP, pcs::host::reports()[1].code);
  EXPECT_TRUE(pcs::host::reports()[1].parameters.empty());
}

TEST_F(ErrorTest, EchoWritesTheCodeTextToStandardError) {
  pcs::host::echo_reports(true);
  testing::internal::CaptureStderr();
  int length = 4, rc = PCS_NO_GROUP, suppress = 0;
  gueuse("TW3CXERR", &suppress);
  guepar("PIPE", &length);
  gueror(&rc);
  pcs::host::echo_reports(false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "TW3CXERR 20003: the record has no group of that name [PIPE]\n");
}

using StringTest = HostTest;

// sufscs: a field of `width` bytes to a 0-terminated string without the
// trailing blanks; sucsfs: a string to a blank-padded field, code 1 when cut.
TEST_F(StringTest, FieldsAndStrings) {
  const struct {
    std::string field;
    int width;
    std::string text;
  } to_text[] = {{"PIPE    ", 8, "PIPE"},     {"        ", 8, ""},   {"ABCDEFGH", 8, "ABCDEFGH"},
                 {" A B    ", 8, " A B"},     {"ABCDEFGH", 3, "ABC"}, {"ABC", 0, ""},
                 {"\xe9\xe9  ", 4, "\xe9\xe9"}};
  for (const auto &c : to_text) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    int width = c.width, rc = -1;
    sufscs(c.field.data(), buffer, &width, &rc);
    EXPECT_EQ(std::string(buffer), c.text) << c.field;
    EXPECT_RC(0, rc);
  }
  const struct {
    const char *text;
    int width;
    std::string field;
    int rc;
  } to_field[] = {{"PIPE", 8, "PIPE    ", 0},     {"", 8, "        ", 0}, {"ABCDEFGH", 8, "ABCDEFGH", 0},
                  {"ABCDEFGHI", 8, "ABCDEFGH", 1}, {"AB", 0, "", 1}};
  for (const auto &c : to_field) {
    std::string out(static_cast<size_t>(c.width) + 1, 'x');
    int width = c.width, rc = -1;
    sucsfs(c.text, out.data(), &width, &rc);
    EXPECT_EQ(out, c.field + "x") << c.text;  // nothing written past the field
    EXPECT_RC(c.rc, rc);
  }
  char buffer[4];
  int negative = -1, width = 8, rc = -1;
  sufscs("AB", buffer, &negative, &rc);
  EXPECT_RC(2, rc);
  sucsfs(nullptr, nullptr, &width, &rc);
  EXPECT_RC(2, rc);
}

}  // namespace
