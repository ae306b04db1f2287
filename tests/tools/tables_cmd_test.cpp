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

// What the loads below fill, column by column, and the objects of each type.
std::vector<std::string> loaded_state() {
  const struct {
    const char *type, *group, *attribute;
  } columns[] = {
      {"STANDARD", "PIPEDIM", "SIZE"},   {"WLDTABLE", "PRJWRULS", "ENDS1"},
      {"STANDARD", "PRJENDS", "ENDS"},   {"STANDARD", "PRJSIZE", "SIZE"},
      {"PSPEC", "PRJFNAMS", "NAME"},     {"FNCTABLE", "PRJFRULS", "PROCFUNC"},
  };
  std::vector<std::string> state;
  for (const auto &c : columns) {
    size_t objects = 0;
    std::string text = std::string(c.type) + " " + c.group + ":";
    for (const std::string &v : rows_of(c.type, c.group, c.attribute, &objects)) text += " " + v;
    state.push_back(text + " in " + std::to_string(objects) + " object(s)");
  }
  return state;
}

struct Load {
  std::string args, refusal;
};

// A table loads into an object only where it adds every row it sets: a
// second load of a file or folder, or a load into a group that holds rows,
// is refused with the object's name unless --replace, which loads in place
// of the old rows. Runs in the project folder `dir`.
void expect_refused_then_replaced(const TempDir &dir, const std::vector<Load> &loads) {
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.root());
  const std::vector<std::string> state = loaded_state();
  for (const Load &load : loads) {
    ToolRun r = run_tool(dir, load.args);
    EXPECT_EQ(r.status, 1) << load.args;
    EXPECT_NE(r.err.find(load.refusal), std::string::npos) << r.err;
    EXPECT_EQ(loaded_state(), state) << load.args;
    r = run_tool(dir, load.args + " --replace");
    EXPECT_EQ(r.status, 0) << load.args << ": " << r.err;
    EXPECT_EQ(loaded_state(), state) << load.args;
  }
  std::filesystem::current_path(cwd);
}

const std::string kRefused = " already; nothing loaded (give --replace to load the ";

TEST(TablesCommand, LoadsNeverAddToRowsTheyDidNotMake) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "demo --dir .").status, 0);
  expect_refused_then_replaced(
      dir, {{"tables load pipedim tables/PIPEDIM --standard ASME",
             "tables/PIPEDIM: STANDARD \"ASME\" holds 4 row(s) of PIPEDIM" + kRefused + "file"},
            {"tables load weld tables/WELD1",
             "tables/WELD1: WLDTABLE \"WELD TABLE\" holds the rows of this file" + kRefused},
            {"tables standard tables/encoded --standard ASME",
             "tables/encoded: STANDARD \"ASME\" holds 3 row(s) of PRJENDS, PRJSIZE" + kRefused +
                 "folder"},
            {"tables classes tables/CS150 --standard ASME",
             "tables/CS150: PSPEC \"CS150\" holds 1 row(s) of PRJFNAMS" + kRefused}});
}

TEST(TablesCommand, FunctionTablesLoadOnce) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "model import " + std::string(PCS_SOURCE_DIR) +
                              "/docs/example-project.json --project project.db")
                .status,
            0);
  std::filesystem::create_directory(dir.path("fn"));
  write_file(dir.path("fn/F1_PIPE"), "a,1,2,m,\nb,3,4,n,\n");
  ASSERT_EQ(run_tool(dir, "tables functions fn").status, 0);
  expect_refused_then_replaced(
      dir, {{"tables functions fn", "\" holds the rows of file F1_PIPE" + kRefused + "folder"}});
}

}  // namespace
