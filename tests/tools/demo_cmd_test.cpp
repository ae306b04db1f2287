// The main job: `pcs demo` on a folder of its own, run twice over the same
// folder (the second run must start over cleanly).
#include "tests/support/support.h"

namespace {

TEST(DemoCommand, RunsTheWholeJobTwice) {
  TempDir dir;
  for (int run = 0; run < 2; ++run) {
    ToolRun r = run_tool(dir, "demo --dir " + dir.path("demo"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1. catalog "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  GASKET        NPS 6  OD   168.3 mm  wall  3.00 mm\n"), std::string::npos);
    EXPECT_NE(r.out.find("compressed to 6 records"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NPS 6 -> wall 3.00 mm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("done: 6 index records, no memory left behind\n"), std::string::npos);
  }
  const std::string index = read_file(dir.path("demo/pipes.idx"));
  EXPECT_EQ(index.substr(0, 17), "           6  12\n");
  EXPECT_EQ(index.size(), 17u + 6 * 41);
}

TEST(DemoCommand, UnwritableFolderFails) {
  TempDir dir;
  write_file(dir.path("file"), "x");
  ToolRun r = run_tool(dir, "demo --dir " + dir.path("file/sub"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err, "");
}

}  // namespace
