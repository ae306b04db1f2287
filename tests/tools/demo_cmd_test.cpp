// The main job: `pcs demo` on a folder of its own, run twice over the same
// folder (the second run must start over cleanly).
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/support.h"

namespace {

TEST(DemoCommand, RunsTheWholeJobTwice) {
  TempDir dir;
  const char *fragments[] = {
      "  GSK-SW-6        GASKET      NPS 6  OD  168.3 mm  wall  3.00 mm\n",
      "  FITTING ELBOW90 ELBOW-90    NPS 6",
      "compressed to 6 records",
      "NPS 6 -> wall 3.00 mm",
      "piping class CS150: standard ASME, weld tables WELD1, branch tables BRANCH1, files CS150_PIPE (PIPECAT)",
      "  E90-LR-6     options 6 IN\n  E90-LR-4     options 4 IN\n",
      "done: 6 index records, no memory left behind\n",
  };
  for (int run = 0; run < 2; ++run) {
    ToolRun r = run_tool(dir, "demo --dir " + dir.path("demo"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *fragment : fragments) EXPECT_NE(r.out.find(fragment), std::string::npos) << fragment;
  }
  // The part number index: 6 records of 40-character keys, made writable by all.
  const std::string index = read_file(dir.path("demo/PIPEIDX1"));
  EXPECT_EQ(index.substr(0, 17), "           6  40\n");
  EXPECT_EQ(index.size(), 17u + 6 * 69);
  struct stat status {};
  ASSERT_EQ(stat(dir.path("demo/PIPEIDX3").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666u);
}

TEST(DemoCommand, RefusesFilesItDidNotMakeAndUnwritableFolders) {
  TempDir dir;
  // A folder the demo did not make keeps its files unless told otherwise.
  std::filesystem::create_directory(dir.path("mine"));
  write_file(dir.path("mine/PIPESCAT"), "keep");
  ToolRun refused = run_tool(dir, "demo --dir mine");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("PIPESCAT: the file exists and the demo did not make it"),
            std::string::npos);
  EXPECT_EQ(read_file(dir.path("mine/PIPESCAT")), "keep");
  EXPECT_EQ(run_tool(dir, "demo --dir mine --force").status, 0);
  write_file(dir.path("file"), "x");
  ToolRun r = run_tool(dir, "demo --dir " + dir.path("file/sub"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot make the folder"), std::string::npos) << r.err;
}

// The demo keeps one project database, whose catalogs are named relative
// to it: a copy of the folder re-indexes its own catalog, never the
// original's; an imported project with its catalogs beside it is stored so.
TEST(DemoCommand, ACopiedFolderWorksOnItsOwnFiles) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "demo --dir d").status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path("d/project.json")));
  std::filesystem::copy(dir.path("d"), dir.path("c"), std::filesystem::copy_options::recursive);
  const std::string index = read_file(dir.path("d/PIPEIDX1"));
  write_file(dir.path("d/PIPEIDX1"), "untouched");
  write_file(dir.path("c/PIPEIDX1"), "");
  ToolRun r = run_tool(dir, "maint reindex --kind 0 --project c/project.db");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.path("d/PIPEIDX1")), "untouched");
  EXPECT_EQ(read_file(dir.path("c/PIPEIDX1")), index);
  r = run_tool(dir, "spec queries --help");
  EXPECT_NE(r.out.find("(default: $PCS_PROJECT or ./project.db)"), std::string::npos) << r.out;

  write_file(dir.path("c/p.json"), R"({"setup": {"catalog_directory": ")" + dir.path("c") +
                                        R"(", "current_catalog": 1}, "catalogs": []})");
  ASSERT_EQ(run_tool(dir, "model import c/p.json --project c/new.db").status, 0);
  r = run_tool(dir, "model export --project c/new.db");
  EXPECT_NE(r.out.find(R"("catalog_directory": ".")"), std::string::npos) << r.out;
}

}  // namespace
