// The host error reporter, code texts and string conversion.
#include <cstring>
#include <string>

#include "common/report.h"
#include "tests/support/support.h"

namespace {

using ErrorTest = HostTest;

TEST_F(ErrorTest, RecordsEachReportWithItsSetAndParameters) {
  int suppress = -1;
  gueuse("TW3CXERR", &suppress);
  EXPECT_EQ(suppress, 0);
  EXPECT_EQ(pcs::host::message_set(), "TW3CXERR");
  int length = 8;
  guepar("PIPE    xx", &length);
  guepar("OD", nullptr);
  int rc = PCS_NO_ATTR;
  gueror(&rc);
  rc = PCS_NO_GROUP;
  gueror(&rc);
  ASSERT_EQ(pcs::host::reports().size(), 2u);
  const pcs::host::Report &first = pcs::host::reports()[0];
  EXPECT_EQ(first.message_set, "TW3CXERR");
  EXPECT_RC(PCS_NO_ATTR, first.code);
  EXPECT_EQ(first.parameters, (std::vector<std::string>{"PIPE    ", "OD"}));
  EXPECT_TRUE(pcs::host::reports()[1].parameters.empty());
  pcs::host::clear_reports();
  EXPECT_TRUE(pcs::host::reports().empty());
}

TEST_F(ErrorTest, QuietActionAndSuppressionReportNothing) {
  int old = -1, off = 0;
  gueact(&off, &old);
  EXPECT_EQ(old, 1);
  EXPECT_EQ(pcs::host::error_action(), 0);
  int suppress = 0;
  gueuse("TW3CXERR", &suppress);
  EXPECT_NE(suppress, 0);
  int rc = PCS_NO_MEMORY;
  guepar("dropped", nullptr);
  gueror(&rc);
  EXPECT_TRUE(pcs::host::reports().empty());
  gueact(&old, &off);
  gueror(&rc);
  ASSERT_EQ(pcs::host::reports().size(), 1u);
  EXPECT_TRUE(pcs::host::reports()[0].parameters.empty());

  pcs::host::suppress_reports(true);
  gueuse("TW3CXERR", &suppress);
  EXPECT_NE(suppress, 0);
  pcs::host::suppress_reports(false);
  gueuse("TW3CXERR", &suppress);
  EXPECT_EQ(suppress, 0);
}

TEST_F(ErrorTest, LibraryReportRestoresTheMessageSetAndQuietErrors) {
  int suppress = 0;
  gueuse("OUTERSET", &suppress);
  pcs::report(PCS_NO_GROUP, "PIPE    ");
  pcs::report(0, "PIPE    ");
  {
    pcs::QuietErrors quiet;
    pcs::report(PCS_NO_ATTR);
  }
  EXPECT_EQ(pcs::host::error_action(), 1);
  ASSERT_EQ(pcs::host::reports().size(), 1u);
  EXPECT_EQ(pcs::host::reports()[0].message_set, PCS_MESSAGE_SET);
  EXPECT_RC(PCS_NO_GROUP, pcs::host::reports()[0].code);
  EXPECT_EQ(pcs::host::reports()[0].parameters, (std::vector<std::string>{"PIPE    "}));
  EXPECT_EQ(pcs::host::message_set(), "OUTERSET");
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

TEST_F(ErrorTest, RejectedLookupsAreCountedAndResetClearsTheContextAndStacks) {
  int size = 16, stack = 0;
  gusini(&size, &stack, &size);
  EXPECT_EQ(pcs::host::live_stacks(), 1);
  guerjo();
  guerjo();
  EXPECT_EQ(pcs::host::rejected_lookups(), 2);
  int off = 0, old = 0, suppress = 0, rc = 1;
  gueact(&off, &old);
  gueuse("OTHERSET", &suppress);
  gueact(&old, &off);
  gueror(&rc);
  pcs::host::reset();
  EXPECT_EQ(pcs::host::rejected_lookups(), 0);
  EXPECT_EQ(pcs::host::error_action(), 1);
  EXPECT_EQ(pcs::host::message_set(), "        ");
  EXPECT_TRUE(pcs::host::reports().empty());
  EXPECT_EQ(pcs::host::live_stacks(), 0);
}

TEST_F(ErrorTest, CodeNamesAndTextsComeFromTheTable) {
  EXPECT_EQ(pcs::host::code_name(PCS_NO_GROUP), "PCS_NO_GROUP");
  EXPECT_EQ(pcs::host::code_name(0), "PCS_OK");
  EXPECT_EQ(pcs::host::code_name(42), "42");
  EXPECT_STREQ(pcs::host::code_text(PCS_RENAME_OTHER), "rename: the file could not be renamed");
  EXPECT_STREQ(pcs::host::code_text(42), "");
  EXPECT_FALSE(pcs::test::rc_equal("a", "b", PCS_NO_GROUP, PCS_NO_ATTR));
  EXPECT_NE(std::string(pcs::test::rc_equal("a", "b", 20003, 20005).message()).find("PCS_NO_ATTR"),
            std::string::npos);
}

using StringTest = HostTest;

std::string to_string(const std::string &field_bytes, int width, int *rc) {
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  sufscs(field_bytes.data(), buffer, &width, rc);
  return buffer;
}

std::string to_field(const char *text, int width, int *rc) {
  std::string out(static_cast<size_t>(width) + 1, 'x');
  sucsfs(text, out.data(), &width, rc);
  EXPECT_EQ(out.back(), 'x') << "wrote past the field";
  out.pop_back();
  return out;
}

TEST_F(StringTest, FieldToString) {
  int rc = -1;
  EXPECT_EQ(to_string("PIPE    ", 8, &rc), "PIPE");
  EXPECT_RC(0, rc);
  EXPECT_EQ(to_string("        ", 8, &rc), "");
  EXPECT_EQ(to_string("ABCDEFGH", 8, &rc), "ABCDEFGH");
  EXPECT_EQ(to_string(" A B    ", 8, &rc), " A B");
  EXPECT_EQ(to_string("ABCDEFGH", 3, &rc), "ABC");
  EXPECT_EQ(to_string("ABC", 0, &rc), "");
  EXPECT_RC(0, rc);
  EXPECT_EQ(to_string("\xe9\xe9  ", 4, &rc), "\xe9\xe9");
  char buffer[4];
  int negative = -1;
  sufscs("AB", buffer, &negative, &rc);
  EXPECT_RC(2, rc);
}

TEST_F(StringTest, StringToField) {
  int rc = -1;
  EXPECT_EQ(to_field("PIPE", 8, &rc), "PIPE    ");
  EXPECT_RC(0, rc);
  EXPECT_EQ(to_field("", 8, &rc), "        ");
  EXPECT_EQ(to_field("ABCDEFGH", 8, &rc), "ABCDEFGH");
  EXPECT_RC(0, rc);
  EXPECT_EQ(to_field("ABCDEFGHI", 8, &rc), "ABCDEFGH");
  EXPECT_RC(1, rc);
  EXPECT_EQ(to_field("AB", 0, &rc), "");
  EXPECT_RC(1, rc);
  int width = 8;
  sucsfs(nullptr, nullptr, &width, &rc);
  EXPECT_RC(2, rc);
}

TEST(SupportTest, BigEndianWordsAndNameFields) {
  EXPECT_EQ(be32(0x01020304), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(be32(-2), std::string("\xff\xff\xff\xfe", 4));
  EXPECT_EQ(field("AB"), "AB      ");
  EXPECT_EQ(field("ABCDEFGHIJ"), "ABCDEFGH");
  EXPECT_EQ(field("A", 3), "A  ");
}

}  // namespace
