// Allocation failures injected one by one into every maintenance operation:
// each run gives the normal result or its documented code, leaves files
// whole and releases every block and stack.
#include "host/inprocess/model.h"
#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::maintenance;
namespace {

namespace model = pcs::host::model;

class MaintenanceFaults : public MaintTest {
 protected:
  void SetUp() override {
    MaintTest::SetUp();
    model::clear();
  }
  void TearDown() override {
    model::clear();
    MaintTest::TearDown();
  }
  TempDir dir_;
};

std::string sample() {
  return part("P2") + part("P1", 1) + part("P3") + part("P2") +
         catalog_record(
             {{"PARTNUM", {{"PARTNO", 2, 4, "AAAABBBB"}}}, {"PIPESIZE", {{"SIZE", 1, 2, "4 "}}}});
}

TEST_F(MaintenanceFaults, IndexBuilder) {
  const std::string cat = dir_.path("cat"), idx = dir_.path("idx");
  write_file(cat, sample());
  const std::string groups = field("PARTNUM") + field("PIPESIZE");
  const std::string attrs = field("PARTNO") + field("SIZE");
  int fields = 2, widths[] = {6, 2}, rc = -1;
  csgbldx(&fields, groups.data(), attrs.data(), widths, cat.c_str(), idx.c_str(), &rc);
  ASSERT_RC(0, rc);
  const std::string expected = read_file(idx);
  sweep_allocations([&](long) {
    std::remove(idx.c_str());
    csgbldx(&fields, groups.data(), attrs.data(), widths, cat.c_str(), idx.c_str(), &rc);
    if (rc == 0)
      EXPECT_EQ(read_file(idx), expected);
    else
      EXPECT_TRUE(rc == PCS_GEN_NO_MEMORY || rc == PCS_BUILD_NO_MEMORY || rc == PCS_BUILD_READER_FAILED)
          << rc;
  });

  write_file(dir_.path("text"), "B1\nA2\nB3\n");
  int columns[] = {1}, width = 1, one = 1;
  sweep_allocations([&](long) {
    csbndx(csgrc, csrikr, &one, columns, &width, dir_.path("text").c_str(), idx.c_str(), &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_BUILD_NO_MEMORY) << rc;
  });
}

TEST_F(MaintenanceFaults, Compression) {
  const std::string cat = dir_.path("cat");
  const std::string whole = sample();
  const std::string live = part("P2") + part("P3") + part("P2") + whole.substr(4 * 61);
  sweep_allocations([&](long) {
    write_file(cat, whole);
    int rc = -1;
    capture_stdout([&] { cscprs(cat.c_str(), &rc); });
    EXPECT_TRUE(rc == 0 || rc == 1) << rc;
    EXPECT_EQ(read_file(cat), rc == 0 ? live : whole);
    EXPECT_EQ(list_dir(dir_), std::vector<std::string>{"cat"});
  });
}

TEST_F(MaintenanceFaults, DuplicateMerge) {
  model::Model &m = model::data();
  m.families.push_back({5, {"ELBOW"}});
  const std::string cat = dir_.path("cat");
  const std::string whole = elbow("P1", "T1") + elbow("P1", "T2") + elbow("P1", "T3");
  const int unit = 3;
  const size_t third = whole.size() / 3;
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode);
    sweep_allocations([&](long) {
      write_file(cat, whole);
      m.part_objects = {{5, "ELBOW", "T1"}, {5, "ELBOW", "T2"}, {5, "ELBOW", "T3"}};
      csprtdup(mode, cat.c_str(), &unit, "PARTNUM ", "PARTNO  ", 8);
      const std::string bytes = read_file(cat);
      const int deleted = bytes[7] + bytes[third + 7] + bytes[2 * third + 7];
      // Mode 0 keeps the oldest record, mode 1 the newest.
      EXPECT_EQ(bytes[mode == 0 ? 7 : 2 * third + 7], 0);
      // Each deleted record lost its model object first.
      EXPECT_EQ(m.part_objects.size(), 3u - static_cast<size_t>(deleted));
    });
  }
}

TEST_F(MaintenanceFaults, Dispatcher) {
  model::Model &m = model::data();
  m.setup.catalog_directory = dir_.root();
  m.setup.current_catalog = 1;
  m.catalogs = {{1, {"CAT     ", "IDX8    ", "IDX7    ", "IDX6    ", "E       ", "F       ",
                     "G       ", "H       ", "I       "}}};
  write_file(dir_.path("CAT     "),
             catalog_record(
                 {{"PARTDEF", {{"CATEGORY", 1, 8, field("TEE")}, {"PARTTYPE", 1, 8, field("EQ")}}},
                  {"PARTNUM", {{"PARTNO", 1, 40, field("X", 40)}}}}));
  // Kind 1 reads "E" into "F", kind 2 "G" into "H".
  write_file(dir_.path("E       "),
             catalog_record({{"ELCLASS", {{"AELCLASS", 1, 8, field("GASKET")}}},
                             {"PIPESIZE", {{"SIZE", 2, 8, field("4") + field("2")}}}}));
  write_file(dir_.path("G       "),
             catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("S", 16)}}}}));
  struct Kind {
    int kind;
    std::vector<const char *> indexes;
  };
  for (const Kind &k : {Kind{0, {"IDX6    ", "IDX7    ", "IDX8    "}}, Kind{1, {"F       "}},
                        Kind{2, {"H       "}}}) {
    SCOPED_TRACE(k.kind);
    int kind = k.kind, rc = -1;
    ASSERT_RC(0, (cscprt2(&kind, &rc), rc));
    std::vector<std::string> expected;
    for (const char *name : k.indexes) expected.push_back(read_file(dir_.path(name)));
    sweep_allocations([&](long) {
      for (const char *name : k.indexes) std::remove(dir_.path(name).c_str());
      cscprt2(&kind, &rc);
      if (rc == 0) {
        int i = 0;
        for (const char *name : k.indexes)
          EXPECT_EQ(read_file(dir_.path(name)), expected[i++]) << name;
      } else {
        EXPECT_TRUE(rc == PCS_GEN_NO_MEMORY || rc == PCS_GUS_NO_MEMORY ||
                    rc == PCS_BUILD_NO_MEMORY || rc == PCS_BUILD_READER_FAILED)
            << rc;
      }
    });
  }
}

}  // namespace
}  // namespace pcs::test_maint
