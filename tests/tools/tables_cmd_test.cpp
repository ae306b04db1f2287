// `pcs tables`: a dump converted, and failures told in words (loading into
// a project is run by the demo's test).
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

}  // namespace
