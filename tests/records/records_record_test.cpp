// Part record operations: every result code with what it reports, value
// replacement, removal, emptying and refilling.
#include <cstring>
#include <vector>

#include "tests/records/records_util.h"

namespace pcs::test_records {
using namespace pcs::records;
namespace {

class RecordTest : public RecordsTest {
 protected:
  void SetUp() override {
    RecordsTest::SetUp();
    cspgcre(&r, &rc);
    ASSERT_RC(0, rc);
  }
  void TearDown() override {
    cspgfre(r);
    RecordsTest::TearDown();
  }
  // The reports since the last call are exactly (code, parameters) in order.
  void expect_reports(const std::vector<std::pair<int, std::vector<std::string>>> &expected) {
    const auto &got = host::reports();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].message_set, "TW3CXERR");
      EXPECT_RC(expected[i].first, got[i].code);
      EXPECT_EQ(got[i].parameters, expected[i].second);
    }
    host::clear_reports();
  }
  void add(const char *g, const char *a, std::vector<double> v) {
    cspgadd(r, g, a, static_cast<int>(v.size()), 8, v.data(), &rc);
  }
  std::vector<double> values(const char *g, const char *a) {
    int count = 0, length = 0;
    QuietErrors quiet;
    cspgretn(r, g, a, &count, &length, &rc);
    std::vector<double> v(static_cast<size_t>(count));
    if (rc == 0 && length == 8) cspgretv(r, g, a, v.data(), &rc);
    return v;
  }
  PartRecord *r = nullptr;
  int rc = -1;
};

TEST_F(RecordTest, CreateAndAddCodes) {
  PartRecord *other = r;
  host::fail_allocation(1);
  cspgcre(&other, &rc);
  EXPECT_EQ(other, nullptr);
  EXPECT_RC(PCS_NO_MEMORY, rc);
  expect_reports({{PCS_NO_MEMORY, {}}});

  add("DIMS    ", "OD      ", {1, 2});
  add("DIMS    ", "OD      ", {3, 4});
  EXPECT_RC(PCS_ATTR_EXISTS, rc);
  expect_reports({{PCS_ATTR_EXISTS, {}}});
  EXPECT_EQ(values("DIMS    ", "OD      "), std::vector<double>({1, 2}));
  add("EMPTY   ", "OD      ", {});  // no values: only the group appears
  EXPECT_RC(0, rc);
  EXPECT_EQ(csgrpcnt(csgrlfnd(r, "EMPTY   ", csgrpcnm)), 0);
  // Group, its node, attribute, values, attribute node: each may fail.
  for (long nth = 1; nth <= 5; ++nth) {
    csgrldeg(r, "NEW     ", csgrpcnm);
    host::fail_allocation(nth);
    add("NEW     ", "WALL    ", {5});
    EXPECT_RC(PCS_NO_MEMORY, rc);
    expect_reports({{PCS_NO_MEMORY, {}}});
  }
  int count = 1, length = 8;
  const double v = 6;
  cspgaddf(&r, "NEW     ", "WALL    ", &count, &length, &v, &rc);
  EXPECT_EQ(values("NEW     ", "WALL    "), std::vector<double>({6}));
  expect_reports({});
}

TEST_F(RecordTest, LookupCodesReportTheMissingName) {
  add("DIMS    ", "OD      ", {1, 2, 3});
  int count = 9, length = 9;
  double got[3] = {};
  cspgretn(r, "DIMS    ", "OD      ", &count, &length, &rc);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(length, 8);
  cspgretv(r, "DIMS    ", "OD      ", got, &rc);
  EXPECT_EQ(got[2], 3);
  cspgretn(r, "PIPE    ", "OD      ", &count, &length, &rc);
  EXPECT_RC(PCS_NO_GROUP, rc);
  EXPECT_EQ(count + length, 0);
  cspgretv(r, "DIMS    ", "WALL    ", got, &rc);
  EXPECT_RC(PCS_NO_ATTR, rc);
  EXPECT_EQ(got[0], 1);
  expect_reports({{PCS_NO_GROUP, {"PIPE    "}}, {PCS_NO_ATTR, {"WALL    "}}});

  // A host that suppresses reports still gets the code, and keeps its set.
  int suppress = 0;
  gueuse("HOSTSET ", &suppress);
  host::suppress_reports(true);
  cspgretn(r, "PIPE    ", "OD      ", &count, &length, &rc);
  EXPECT_RC(PCS_NO_GROUP, rc);
  expect_reports({});
  EXPECT_EQ(host::message_set(), "HOSTSET ");
}

TEST_F(RecordTest, ReplaceOneValue) {
  add("DIMS    ", "OD      ", {1, 2, 3, 4, 5});
  const double x = 30, y = 70;
  cspgrepl(r, "DIMS    ", "OD      ", 3, 4, &x, &rc);  // own length 8 is kept
  EXPECT_EQ(values("DIMS    ", "OD      "), std::vector<double>({1, 2, 30, 4, 5}));
  cspgrepl(r, "DIMS    ", "OD      ", 7, 8, &y, &rc);
  EXPECT_EQ(values("DIMS    ", "OD      "), std::vector<double>({1, 2, 30, 4, 5, 0, 70}));
  cspgrepl(r, "PIPE    ", "WALL    ", 2, 8, &x, &rc);  // new group and attribute
  EXPECT_EQ(values("PIPE    ", "WALL    "), std::vector<double>({0, 30}));
  expect_reports({});  // the quiet lookups of missing names report nothing
  EXPECT_EQ(host::error_action(), 1);

  cspgrepl(r, "DIMS    ", "OD      ", 0, 8, &y, &rc);
  EXPECT_RC(PCS_BAD_VALUE_INDEX, rc);
  host::fail_allocation(1);  // the work buffer: nothing changes
  cspgrepl(r, "DIMS    ", "OD      ", 1, 8, &y, &rc);
  EXPECT_RC(PCS_NO_MEMORY, rc);
  EXPECT_EQ(values("DIMS    ", "OD      ").size(), 7u);
  host::fail_allocation(2);  // adding it back: the attribute is gone
  cspgrepl(r, "DIMS    ", "OD      ", 1, 8, &y, &rc);
  EXPECT_RC(PCS_NO_MEMORY, rc);
  EXPECT_TRUE(values("DIMS    ", "OD      ").empty());
  expect_reports({{PCS_BAD_VALUE_INDEX, {}}, {PCS_NO_MEMORY, {}}, {PCS_NO_MEMORY, {}}});
}

TEST_F(RecordTest, ReplaceAllValuesReportsOnce) {
  add("DIMS    ", "OD      ", {1, 2});
  const double v[2] = {8, 9};
  csgreplv(&r, "DIMS    ", "OD      ", v, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(values("DIMS    ", "OD      "), std::vector<double>({8, 9}));
  csgreplv(&r, "PIPE    ", "OD      ", v, &rc);
  EXPECT_RC(PCS_NO_GROUP, rc);
  csgreplv(&r, "DIMS    ", "WALL    ", v, &rc);
  EXPECT_RC(PCS_NO_ATTR, rc);
  host::fail_allocation(1);
  csgreplv(&r, "DIMS    ", "OD      ", v, &rc);
  EXPECT_RC(PCS_NO_MEMORY, rc);
  expect_reports({{PCS_NO_GROUP, {"PIPE    "}}, {PCS_NO_ATTR, {"WALL    "}}, {PCS_NO_MEMORY, {}}});
  EXPECT_EQ(host::error_action(), 1);
}

TEST_F(RecordTest, DeleteEmptyAndRefill) {
  add("DIMS    ", "OD      ", {1});
  add("PIPE    ", "NPS     ", {2});
  cspgdela(r, "DIMS    ", "NONE    ");
  cspgdela(r, "NONE    ", "OD      ");
  cspgdela(r, "PIPE    ", "NPS     ");
  expect_reports({});
  EXPECT_EQ(csgrpcnt(csgrlfnd(r, "PIPE    ", csgrpcnm)), 0);  // the group stays
  EXPECT_EQ(values("DIMS    ", "OD      ").size(), 1u);
  cspgdel(r);
  EXPECT_EQ(r->GroupList, nullptr);
  EXPECT_EQ(host::memory().live_blocks, start_blocks_ + 1);  // only the record object
  add("DIMS    ", "OD      ", {3});
  EXPECT_EQ(values("DIMS    ", "OD      "), std::vector<double>({3}));
}

}  // namespace
}  // namespace pcs::test_records
