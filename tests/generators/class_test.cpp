// The class map file from class statements, file rename with its result
// codes, and the host stack sort.
#include <algorithm>
#include <filesystem>
#include <random>

#include "common/fileio.h"
#include "host/model_test.h"
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

// A stack of n entries of `size` bytes made by make(i).
int stack_of(int n, int size, const std::function<std::string(int)> &make) {
  int stack = 0, rc = 0, count = 0;
  gusini(&size, &stack, &rc);
  for (int i = 0; i < n; ++i) guspus(&stack, make(i).c_str(), &count, &rc);
  return stack;
}

Strings sorted(int stack) {
  int rc = 0;
  cgsort(&stack, cgcmpsrt, &rc);
  EXPECT_RC(0, rc);
  Strings entries = pcs::host::model::stack_entries(stack);
  gusend(&stack, &rc);
  return entries;
}

TEST_F(ClassMap, StackSortDescends) {
  std::mt19937 random(7);
  for (int n : {0, 1, 2, 3, 10, 1000}) {
    Strings expected;
    const int stack = stack_of(n, 6, [&](int) {
      std::string key(6, 'a');
      for (char &c : key) c = char('a' + random() % 4);
      expected.push_back(key);
      return key;
    });
    std::sort(expected.rbegin(), expected.rend());
    EXPECT_EQ(sorted(stack), expected) << n;
  }
  const int n = 100000;
  for (int kind = 0; kind < 3; ++kind) {
    const int stack = stack_of(n, 8, [&](int i) {
      char key[9];
      std::snprintf(key, sizeof key, "%08d", kind == 0 ? 5 : kind == 1 ? i : n - i);
      return std::string(key);
    });
    const Strings result = sorted(stack);
    ASSERT_EQ(result.size(), size_t(n));
    EXPECT_TRUE(std::is_sorted(result.rbegin(), result.rend())) << kind;
  }
  const int one = 1;
  EXPECT_EQ(cgcmpsrt("a b", "abc", &one), 0);
  const int three = 3;
  EXPECT_EQ(cgcmpsrt("a b", "x c", &three), -1);
  EXPECT_EQ(cgcmpsrt("a  ", "a\xff ", &three), 0);
  EXPECT_EQ(cgcmpsrt("\xff", "a", &one), 1);
  int stack = stack_of(5, 4, [](int i) { return std::to_string(1000 + i); }), rc = 0;
  sweep_allocations([&](long) {
    int swept = 0;
    cgsort(&stack, cgcmpsrt, &swept);
    EXPECT_TRUE(swept == 0 || swept == PCS_GEN_NO_MEMORY || swept == PCS_GUS_NO_MEMORY) << swept;
  });
  gusend(&stack, &rc);
}

}  // namespace
