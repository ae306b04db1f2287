// Fixture of the `pcs spec` tests: the demo's project and generic part file,
// made by `pcs demo` in a temporary directory.
#ifndef PCS_TESTS_TOOLS_DEMO_FIXTURE_H
#define PCS_TESTS_TOOLS_DEMO_FIXTURE_H

#include <string>

#include "host/inprocess/model.h"
#include "tests/support/support.h"

class DemoProject : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ToolRun r = run_tool(dir_, "demo --dir " + dir_.path("d"));
    ASSERT_EQ(r.status, 0) << r.err;
    demo_ = r.out;
  }
  void TearDown() override {
    pcs::host::model::clear();
    HostTest::TearDown();
  }
  // A `pcs spec` command line over the demo's project and part file.
  std::string args(const std::string &command) const {
    return "spec " + command + " --project " + dir_.path("d/project.db") + " --parts " +
           dir_.path("d/SPECPART");
  }
  TempDir dir_;
  std::string demo_;  // what `pcs demo` printed
};

#endif
