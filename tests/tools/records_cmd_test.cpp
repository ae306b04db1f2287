// record-demo runs, dumps its record to standard error and summarizes it.
#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/support.h"

TEST(RecordsCommand, RecordDemoDumpsAndSummarizes) {
  TempDir dir;
  std::string out = dir.path("out"), err = dir.path("err");
  int status = std::system((std::string(PCS_TOOL) + " record-demo >" + out + " 2>" + err).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string dump = read_file(err), summary = read_file(out);
  EXPECT_EQ(dump.substr(0, dump.find('\n') + 1), "*********AttrGroup=DIMS    ***********\n");
  EXPECT_EQ(summary.substr(0, summary.find('\n') + 1), "part record: 4 group(s)\n");
  EXPECT_NE(summary.find("group STD     : 1 attribute(s)\n  NAME     1 x 20 bytes\n"),
            std::string::npos);
}
