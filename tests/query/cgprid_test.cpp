// The index file of an open table and the standard option pairs.
#include "common/fileio.h"
#include "host/inprocess/model.h"
#include "keyed/tree.h"
#include "tests/keyed/keyed_fixture.h"
#include "tests/support/support.h"

namespace {

using pcs::test::Group;
using pcs::test::index_bytes;
using pcs::test::record_bytes;

class TableIndex : public HostTest {
 protected:
  // A table file of one record per key ("" makes a deleted record); the
  // record positions in file order.
  std::vector<int> write_table(const std::vector<std::string> &keys) {
    std::string bytes;
    std::vector<int> positions;
    for (const std::string &key : keys) {
      positions.push_back(static_cast<int>(bytes.size()));
      std::vector<Group> groups = {{"G", {{"K", 1, 8, field(key.empty() ? "X" : key)}}}};
      bytes += record_bytes(groups, key.empty() ? -1 : 0);
    }
    write_file(dir_.path("table"), bytes);
    return positions;
  }
  KeyedFile *open() {
    KeyedFile *table = nullptr;
    int count = 1, lengths[] = {8}, rc = -1;
    cgtopn(field(dir_.path("table"), 53).c_str(), field("G").c_str(), field("K").c_str(), &count,
           lengths, &table, &rc);
    EXPECT_RC(0, rc);
    return table;
  }
  void close(KeyedFile *table) {
    int rc = -1;
    EXPECT_RC(0, (cspcls(&table, &rc), rc));
  }
  TempDir dir_;
};

TEST_F(TableIndex, WritesTheIndexOfTheTable) {
  const std::vector<int> at = write_table({"B", "A", "", "B", "C", "B"});
  KeyedFile *table = open();
  ASSERT_NE(table, nullptr);
  int rc = -1;
  ASSERT_RC(0, (cgprid(&table, field(dir_.path("index"), 53).c_str(), &rc), rc));
  EXPECT_EQ(table->Index->state->root, nullptr);
  EXPECT_EQ(read_file(dir_.path("index")),
            index_bytes(8, {{"A", at[1]}, {"B", at[0]}, {"B", at[3]}, {"B", at[5]}, {"C", at[4]}}));
  EXPECT_RC(0, (cgprid(&table, field(dir_.path("index"), 53).c_str(), &rc), rc));
  EXPECT_EQ(read_file(dir_.path("index")), "           0   8\n");
  close(table);
}

TEST_F(TableIndex, FailuresGiveTheirCodes) {
  write_table({"A", "B"});
  KeyedFile *none = nullptr;
  int rc = -1;
  EXPECT_RC(5, (cgprid(&none, field(dir_.path("index"), 53).c_str(), &rc), rc));
  EXPECT_RC(5, (cgprid(nullptr, field(dir_.path("index"), 53).c_str(), &rc), rc));

  struct Case {
    const char *what;
    std::string name;
    int write_fails;  // 0: none
  };
  const Case cases[] = {
      {"unset variable", "$PCS_UNSET_FOR_TEST/index", 0},
      {"missing directory", dir_.path("no/index"), 0},
      {"records write", dir_.path("index"), 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    KeyedFile *table = open();
    if (c.write_fails) pcs::io::test_fail_write(c.write_fails, 3);
    EXPECT_RC(1, (cgprid(&table, field(c.name, 53).c_str(), &rc), rc));
    pcs::io::test_reset();
    close(table);
  }
}

using OptionPairs = HostTest;

TEST_F(OptionPairs, StandInOrder) {
  int groups = -1, attributes = -1, rc = -1;
  ASSERT_RC(0, (cgopts(&groups, &attributes, &rc), rc));
  const std::vector<std::string> g = pcs::host::model::stack_entries(groups);
  const std::vector<std::string> a = pcs::host::model::stack_entries(attributes);
  EXPECT_EQ(g, (std::vector<std::string>{"PIPESIZE", "ENDSPEC ", "ENDSPEC ", "ENDSPEC ", "ELMMATL "}));
  EXPECT_EQ(a, (std::vector<std::string>{"SIZE    ", "RATG    ", "ENDS    ", "SCH     ", "MAINCODE"}));
  gusend(&groups, &rc);
  gusend(&attributes, &rc);
  sweep_allocations([&](long) {
    cgopts(&groups, &attributes, &rc);
    EXPECT_EQ(rc == 0, groups != 0 && attributes != 0);
    if (rc == 0) {
      gusend(&groups, &rc);
      gusend(&attributes, &rc);
    }
  });
}

}  // namespace
