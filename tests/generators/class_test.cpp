// The class map file from class statements, and file rename with its
// result codes.
#include <filesystem>

#include "common/fileio.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tests/support/support.h"

namespace {

using Strings = std::vector<std::string>;

class ClassMap : public HostTest {
 protected:
  TempDir dir_;
};

TEST_F(ClassMap, StatementsBecomeLines) {
  write_file(dir_.path("dump"),
             "* comment CLASS CLSNAM=NO\nCLASS CLSNAM=A1 WLDTB=W1 WLDTB=W2 BRHTB=B1\n&  BRHTB=B2\n"
             "* between\nCL CLSNAM=C2\nOTHER CLSNAM=X\nCLASS WLDTB=W3, :junk\n\nCLASS CLSNAM\n"
             "CLASS CLSNAM=" + std::string(100, 'L') + "\n");
  int rc = 0;
  cgclprs(dir_.path("dump").c_str(), dir_.root().c_str(), &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(read_file(dir_.path("CLASSMAP")),
            "A1,W2,weld_table,W1,weld_table,B2,branch_table,B1,branch_table,\nC2,\n"
            ",W3,weld_table,\n,\n" + std::string(79, 'L') + ",\n");
  const std::string deep = dir_.root() + "/" + std::string(250, 'd');
  const struct {
    std::string dump, dir;
    int rc;
  } cases[] = {
      {dir_.path("none"), dir_.root(), PCS_CANNOT_OPEN},
      {dir_.path("dump"), deep, PCS_PATH_TOO_LONG},
      {dir_.path("dump"), dir_.path("none"), PCS_CANNOT_OPEN},
  };
  for (const auto &c : cases) {
    rc = 0;
    cgclprs(c.dump.c_str(), c.dir.c_str(), &rc);
    EXPECT_RC(c.rc, rc) << c.dir;
  }
  sweep_allocations([&](long) {
    int swept = 0;
    cgclprs(dir_.path("dump").c_str(), dir_.root().c_str(), &swept);
    EXPECT_TRUE(swept == 0 || swept == PCS_GUS_NO_MEMORY) << swept;
  });
}

TEST_F(ClassMap, RenameResultCodes) {
  std::filesystem::create_directories(dir_.path("dir/sub"));
  auto rename = [&](const std::string &from, const std::string &to, int width = 0) {
    const std::string a = from + "   ", b = to + " ";
    const int wa = width ? width : int(a.size()), wb = int(b.size());
    int rc = 0;
    const int result = cgrnmfl(a.c_str(), &wa, b.c_str(), &wb, &rc);
    EXPECT_EQ(result, rc != 0 ? 1 : 0);
    return rc;
  };
  const std::string file = dir_.path("file");
  write_file(file, "x");
  const struct {
    std::string from, to;
    int rc;
  } real[] = {
      {file, dir_.path("renamed"), 0},
      {dir_.path("renamed"), file, 0},
      {dir_.path("none"), dir_.path("x"), PCS_CANNOT_OPEN},
      {file, dir_.path("dir"), PCS_RENAME_ISDIR},
  };
  for (const auto &c : real) EXPECT_RC(c.rc, rename(c.from, c.to)) << c.from << " -> " << c.to;
  const struct {
    int error, rc;
  } injected[] = {
      {ENOENT, PCS_CANNOT_OPEN},      {EINVAL, PCS_CANNOT_OPEN},
      {EACCES, PCS_RENAME_ACCESS},    {EXDEV, PCS_RENAME_ACCESS},
      {EROFS, PCS_RENAME_ACCESS},     {EILSEQ, PCS_RENAME_ILSEQ},
      {EISDIR, PCS_RENAME_ISDIR},     {EMLINK, PCS_RENAME_MLINK},
      {ENOSPC, PCS_RENAME_NOSPC},     {ETXTBSY, PCS_RENAME_TXTBSY},
      {ENAMETOOLONG, PCS_RENAME_NAMETOOLONG}, {ENOTDIR, PCS_RENAME_OTHER},
  };
  for (const auto &c : injected) {
    pcs::io::test_fail_rename(1, c.error);
    EXPECT_RC(c.rc, rename(file, dir_.path("y"))) << c.error;
  }
  EXPECT_TRUE(file_exists(file));
  EXPECT_RC(2, rename(file, dir_.path("y"), -1));  // sufscs refuses the width
  sweep_allocations([&](long) {
    const int rc = rename(file, file);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY) << rc;
  });
}

}  // namespace
