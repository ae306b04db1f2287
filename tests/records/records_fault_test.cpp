// Allocation failures injected one by one into a session that uses every
// part record operation: each run ends normally or with 20001 at the failing
// step, leaves a consistent record and leaks nothing.
#include "tests/records/records_util.h"

namespace pcs::test_records {
using namespace pcs::records;
namespace {

using RecordFaultTest = RecordsTest;

void expect_consistent(PartRecord *record) {
  int groups = 0;
  csgrlset(record);
  for (AttrGroup *group; (group = csgrlnxt(record)); ++groups) {
    int attributes = 0;
    csgrpset(group);
    while (csgrpnxt(group)) ++attributes;
    EXPECT_EQ(attributes, csgrpcnt(group));
  }
  EXPECT_EQ(groups, csgrlgng(record));
}

// One step of the session after another until one fails; its code.
int session(PartRecord *r) {
  const double sizes[4] = {2, 4, 6, 8}, point[3] = {1, 2, 3}, v = 10;
  const int schedule = 40, four = 4, eight = 8;
  const char text[21] = "ASME B36.10M        ";
  int rc = 0, n = 0, len = 0;
  double got[4];
  const std::function<void()> steps[] = {
      [&] { cspgadd(r, "PIPE    ", "SIZE    ", 4, 8, sizes, &rc); },
      [&] { cspgadd(r, "PIPE    ", "SCHED   ", 1, 4, &schedule, &rc); },
      [&] { cspgadd(r, "GEOM    ", "POINT   ", 1, 24, point, &rc); },
      [&] { cspgadd(r, "STD     ", "NAME    ", 1, 20, text, &rc); },
      [&] { cspgaddf(&r, "DIMS    ", "OD      ", &four, &eight, sizes, &rc); },
      [&] { cspgretn(r, "PIPE    ", "SIZE    ", &n, &len, &rc); },
      [&] { cspgretv(r, "PIPE    ", "SIZE    ", got, &rc); },
      [&] { cspgrepl(r, "PIPE    ", "SIZE    ", 2, 8, &v, &rc); },
      [&] { cspgrepl(r, "PIPE    ", "SIZE    ", 6, 8, &v, &rc); },
      [&] { cspgrepl(r, "NEWGRP  ", "WALL    ", 3, 8, &v, &rc); },
      [&] { csgreplv(&r, "DIMS    ", "OD      ", sizes, &rc); },
      [&] { cspgdela(r, "STD     ", "NAME    "), csgrldeg(r, "GEOM    ", csgrpcnm); },
      [&] { cspgdel(r); },
      [&] { cspgadd(r, "PIPE    ", "SIZE    ", 2, 8, sizes, &rc); },
  };
  for (const auto &step : steps) {
    long injected = host::memory().injected;
    step();
    if (rc != 0) {
      EXPECT_GT(host::memory().injected, injected) << "a failure without an injected one";
      return rc;
    }
  }
  return 0;
}

long runs = 0;

void run(long k) {
  runs = k;
  PartRecord *record = nullptr;
  int rc = -1;
  cspgcre(&record, &rc);
  if (rc == 0) rc = session(record);
  if (rc != 0) EXPECT_RC(PCS_NO_MEMORY, rc);
  if (!record) return;
  expect_consistent(record);
  cspgfre(record);
}

TEST_F(RecordFaultTest, EveryAllocationOfASessionFailsOnce) {
  sweep_allocations(run);
  EXPECT_GT(runs, 40);  // the session allocates throughout
}

TEST_F(RecordFaultTest, AllocationsFailFromThenOn) {
  sweep_allocations(run, true);
  EXPECT_GT(runs, 40);
}

// A record's groups and attributes in list order, with counts and values.
std::string shape(PartRecord *record) {
  std::string text;
  csgrlset(record);
  for (AttrGroup *group; (group = csgrlnxt(record));) {
    text += "[" + raw(group->GroupName, 8) + " " + std::to_string(csgrpcnt(group)) + "]";
    csgrpset(group);
    for (Attribute *a; (a = csgrpnxt(group));)
      text += raw(a->AttrName, 8) + std::to_string(a->nAttrs) + "x" +
              std::to_string(a->nAttrLength) +
              raw(a->AttrValue, static_cast<size_t>(a->nAttrs * a->nAttrLength));
  }
  return text;
}

// The appender that decodes records answers every add, and leaves the
// record, exactly as record_add does, with every allocation failing in turn:
// names in order, out of order, repeated, equal only up to a 0 byte, and
// adds of no values.
TEST_F(RecordFaultTest, AppenderAddsAsRecordAddDoes) {
  struct Add {
    const char *group, *name;
    int count;
  };
  const std::vector<std::vector<Add>> cases = {
      {{"DIMS    ", "OD      ", 1}, {"DIMS    ", "WALL    ", 2}, {"GEOM    ", "ENDS    ", 1},
       {"PIPE    ", "NPS     ", 3}},
      {{"G       ", "A2      ", 1}, {"G       ", "A1      ", 1}, {"G       ", "A3      ", 1},
       {"G       ", "A1      ", 2}, {"G       ", "A3      ", 1}},
      {{"G2      ", "A       ", 1}, {"G1      ", "A       ", 1}, {"G2      ", "B       ", 1},
       {"G2      ", "A       ", 1}, {"G3      ", "A       ", 1}},
      {{"G       ", "A       ", 0}, {"G       ", "A       ", 1}, {"G       ", "A       ", 1},
       {"H       ", "B       ", 0}, {"G       ", "B       ", 1}},
      {{"AB\0xxxxx", "X\0aaaaaa", 1}, {"AB\0yyyyy", "X\0bbbbbb", 1}, {"AB      ", "Y       ", 1}},
      {{"G       ", "A       ", 1}, {"G       ", "A       ", 1}, {"F       ", "A       ", 1},
       {"F       ", "B       ", 1}, {"G       ", "B       ", 1}},
  };
  const char values[] = "0123456789";
  for (size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    sweep_allocations([&](long k) {
      host::clear_allocation_failure();
      PartRecord *expected = csgrlnew(), *got = csgrlnew();
      std::vector<int> expected_rc, got_rc;
      host::fail_allocation(k, false);
      for (const Add &a : cases[c])
        expected_rc.push_back(record_add(expected, a.group, a.name, a.count, 3, values));
      host::fail_allocation(k, false);
      RecordAppender appender(got);
      for (const Add &a : cases[c])
        got_rc.push_back(appender.add(a.group, a.name, a.count, 3, values));
      EXPECT_EQ(got_rc, expected_rc);
      EXPECT_EQ(shape(got), shape(expected));
      cspgfre(expected);
      cspgfre(got);
    });
  }
}

}  // namespace
}  // namespace pcs::test_records
