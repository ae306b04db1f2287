// `pcs model`: import and export round trips, the show tables, and the
// messages for a project that cannot be used.
#include <nlohmann/json.hpp>

#include "tests/support/support.h"

namespace {

const std::string kExample = std::string(PCS_SOURCE_DIR) + "/docs/example-project.json";

TEST(ModelCommand, ExportImportExportGivesTheSameBytes) {
  TempDir dir;
  ToolRun r = run_tool(dir, "model import " + kExample);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kExample + ": 5 objects imported into ./project.db\n");
  r = run_tool(dir, "model export");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, read_file(kExample));
  ASSERT_EQ(run_tool(dir, "model export -o copy.json").status, 0);
  ASSERT_EQ(run_tool(dir, "model import copy.json --project copy.db").status, 0);
  r = run_tool(dir, "model export --project copy.db");
  EXPECT_EQ(r.out, read_file(kExample));
  write_file(dir.path("empty.db"), "");
  EXPECT_EQ(run_tool(dir, "model import copy.json --project empty.db").status, 0);
  r = run_tool(dir, "model import copy.json --project copy.db");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("holds a model already"), std::string::npos) << r.err;
}

TEST(ModelCommand, ShowPrintsObjectsGroupsAndRows) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "model import " + kExample + " --project p.db").status, 0);
  struct Case {
    const char *args, *expected;
  };
  const Case cases[] = {
      {"",
       "HANDLE  TYPE      NAME        GROUPS  ROWS\n"
       "1       PROCESS   PROCESS     1       1\n"
       "2       STANDARD  ASME        2       3\n"
       "3       WLDTABLE  WELD TABLE  2       2\n"
       "4       PSPEC     A1          4       2\n"
       "5       SPCENTRY  A1 PIPE     10      20\n"},
      {"WLDTABLE",
       "object 3  WLDTABLE  \"WELD TABLE\"\n"
       "  PRJBNAME  (1 row)\n"
       "    NAME\n"
       "    W1\n"
       "  PRJWRULS  (1 row)\n"
       "    ENDS1  ENDS2  WALL1  WALL2  FABSITE  WELDTYPE\n"
       "    BW     BW     3.91   3.91   SHOP     BUTT\n"},
      {"PSPEC A1",
       "object 4  PSPEC  \"A1\"\n"
       "  PRJBNAMS  (0 rows)\n"
       "  PRJFNAMS  (0 rows)\n"
       "  PRJWNAMS  (1 row)\n"
       "    NAME\n"
       "    W1\n"
       "  SPCDATA  (1 row)\n"
       "    STANDARD\n"
       "    ASME\n"},
  };
  for (const Case &c : cases) {
    ToolRun r = run_tool(dir, std::string("model show ") + c.args + " --project p.db");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.expected) << c.args;
  }
  // JSON: values typed by the schema, reals as numbers.
  ToolRun r = run_tool(dir, "model show WLDTABLE --json --project p.db");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json rows = nlohmann::json::parse(r.out)[0]["groups"]["PRJWRULS"];
  EXPECT_EQ(rows, nlohmann::json::parse(R"([{"ENDS1": "BW", "ENDS2": "BW", "WALL1": 3.91, "WALL2": 3.91,
                                             "FABSITE": "SHOP", "WELDTYPE": "BUTT"}])"));
  r = run_tool(dir, "model show WLDTABL --json --project p.db");
  EXPECT_EQ(r.err, "pcs: the project has no WLDTABL object; did you mean 'WLDTABLE'?\n");
}

TEST(ModelCommand, ProjectsThatCannotBeUsedAreNamed) {
  TempDir dir;
  write_file(dir.path("text.db"), "not a database at all, just some text that is long enough");
  ASSERT_EQ(run_tool(dir, "model import " + kExample + " --project p.db").status, 0);
  struct Case {
    const char *args, *message;
  };
  const Case cases[] = {
      {"model export --project text.db",
       "cannot open the project: text.db: not a project database"},
      {"model show --project missing.db",
       "missing.db: cannot be opened: the project file cannot be read (code 6002"},
      {"model show NOPE --project p.db", "the project has no object type NOPE"},
      {"model show PSPC --project p.db", "the project has no object type PSPC; did you mean 'PSPEC'?"},
      {"model show PSPEC B2 --project p.db", "the project has no PSPEC object named B2"},
      {"model import missing.json --project new.db", "missing.json: cannot be read"},
  };
  for (const Case &c : cases) {
    ToolRun r = run_tool(dir, c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
