// Catalog compression over many runs of live records: more runs than one
// gathering write holds, a record larger than the read buffer, and the
// gathering write of pcs::io cut short.
#include <sys/uio.h>

#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::maintenance;
namespace {

using CompressionRuns = MaintTest;

int compress(const std::string &path) {
  int rc = -1;
  capture_stdout([&] { cscprs(path.c_str(), &rc); });
  return rc;
}

TEST_F(CompressionRuns, ManyRunsAndALargeRecord) {
  TempDir dir;
  std::string whole, live;
  for (int i = 0; i < 5000; ++i) {  // every other record deleted: 2500 runs
    const std::string r = part(std::to_string(i), i % 2);
    whole += r;
    if (i % 2 == 0) live += r;
  }
  const std::string large = part("L", 0, 5 << 20);  // beyond the 4 MiB read buffer
  whole += large + part("X", 1) + large;
  live += large + large;
  write_file(dir.path("cat"), whole);
  EXPECT_RC(0, compress(dir.path("cat")));
  EXPECT_TRUE(read_file(dir.path("cat")) == live);

  for (int nth : {1, 2, 3}) {  // a failed write at any point keeps the catalog
    write_file(dir.path("cat"), whole);
    io::test_fail_write(nth, 100);
    EXPECT_RC(2, compress(dir.path("cat"))) << nth;
    io::test_reset();
    EXPECT_TRUE(read_file(dir.path("cat")) == whole) << nth;
    EXPECT_EQ(list_dir(dir), std::vector<std::string>{"cat"});
  }
}

TEST_F(CompressionRuns, WritePiecesInOrderAndCutShort) {
  TempDir dir;
  char a[] = "abc", b[] = "", c[] = "defgh";
  const iovec pieces[] = {{a, 3}, {b, 0}, {c, 5}};
  FILE *out = io::open(dir.path("out").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(io::write_pieces(out, pieces, 3), 8u);
  io::test_fail_write(1, 4);
  EXPECT_EQ(io::write_pieces(out, pieces, 3), 4u);
  io::test_fail_write(1);
  EXPECT_EQ(io::write_pieces(out, pieces, 3), 0u);
  io::close(out);
  EXPECT_EQ(read_file(dir.path("out")), "abcdefghabcd");
}

}  // namespace
}  // namespace pcs::test_maint
