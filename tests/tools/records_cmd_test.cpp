// record-demo runs, dumps its record to standard error and summarizes it.
#include "tests/support/support.h"

TEST(RecordsCommand, RecordDemoDumpsAndSummarizes) {
  TempDir dir;
  const ToolRun r = run_tool(dir, "record-demo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "*********AttrGroup=DIMS    ***********\n");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "part record: 4 group(s)\n");
  EXPECT_NE(r.out.find("group STD     : 1 attribute(s)\n  NAME     1 x 20 bytes\n"),
            std::string::npos);
}
