// `pcs tables`: a dump converted, and failures told in words (loading into
// a project is run by the demo's test).
#include <filesystem>

#include "host/inprocess/model.h"
#include "tests/support/support.h"

namespace {

TEST(TablesCommand, ConvertAndFail) {
  TempDir dir;
  write_file(dir.path("w.dmp"), "WELDHEAD\nWELDNTRY BW S 2 1.5 2.5 FW 3.0 4.0 GW\nCTFTBEN\n");
  const struct {
    std::string args;
    int status;
    std::string out, err;
  } cases[] = {
      {"tables convert weld w.dmp WT1", 0, "wrote WT1: 2 line(s)\n", ""},
      {"tables convert branch w.dmp BT1", 1, "",
       "pcs: convert w.dmp: an input ended early (code 20105, PCS_INPUT_ENDED)\n"},
      {"tables rename none other", 1, "",
       "cgrnmfl: No such file or directory\npcs: rename none: a file or directory cannot be "
       "opened, or no catalog entry (code 20121, PCS_CANNOT_OPEN)\n"},
  };
  for (const auto &c : cases) {
    ToolRun r = run_tool(dir, c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
}

namespace model = pcs::host::model;

// The rows of a group in the objects of a type, side by side.
std::vector<std::string> rows_of(const std::string &type, const std::string &group,
                                 const char *attribute, size_t *objects) {
  model::clear();
  EXPECT_EQ(model::load("project.db"), 0);
  std::vector<std::string> rows;
  *objects = 0;
  for (const auto &[handle, object] : model::data().objects) {
    if (object.type != model::name(type)) continue;
    ++*objects;
    for (const std::string &v : model::data().column(handle, group, attribute)) rows.push_back(v);
  }
  model::clear();
  return rows;
}

// A table loads into an object only where it adds every row it sets: a
// second load of a file, or a load into a group that holds rows, is refused
// unless --replace, which loads in place of the old rows.
TEST(TablesCommand, LoadsNeverAddToRowsTheyDidNotMake) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "demo --dir .").status, 0);
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.root());
  size_t objects = 0;
  const std::vector<std::string> sizes = rows_of("STANDARD", "PIPEDIM", "SIZE", &objects);
  const std::vector<std::string> welds = rows_of("WLDTABLE", "PRJWRULS", "ENDS1", &objects);
  ASSERT_EQ(objects, 1u);
  const struct {
    std::string args, refusal;
  } loads[] = {
      {"tables load pipedim tables/PIPEDIM --standard ASME",
       "tables/PIPEDIM: STANDARD \"ASME\" holds " + std::to_string(sizes.size()) +
           " row(s) of PIPEDIM already; nothing loaded (give --replace"},
      {"tables load weld tables/WELD1",
       "tables/WELD1: WLDTABLE \"WELD TABLE\" holds the rows of this file already; nothing loaded"},
  };
  for (const auto &load : loads) {
    ToolRun r = run_tool(dir, load.args);
    EXPECT_EQ(r.status, 1) << load.args;
    EXPECT_NE(r.err.find(load.refusal), std::string::npos) << r.err;
    EXPECT_EQ(rows_of("STANDARD", "PIPEDIM", "SIZE", &objects), sizes) << load.args;
    EXPECT_EQ(rows_of("WLDTABLE", "PRJWRULS", "ENDS1", &objects), welds) << load.args;
    r = run_tool(dir, load.args + " --replace");
    EXPECT_EQ(r.status, 0) << load.args << ": " << r.err;
  }
  EXPECT_EQ(rows_of("STANDARD", "PIPEDIM", "SIZE", &objects), sizes);
  EXPECT_EQ(rows_of("WLDTABLE", "PRJWRULS", "ENDS1", &objects), welds);
  EXPECT_EQ(objects, 1u);
  std::filesystem::current_path(cwd);
}

}  // namespace
