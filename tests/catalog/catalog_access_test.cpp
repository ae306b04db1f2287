// Catalog access: opening with expanded paths, getting one or all parts of
// a key, putting them back in place, names, sort keys and directory lists.
#include <stdlib.h>

#include <filesystem>

#include "tests/catalog/catalog_files.h"

namespace pcs::test_catalog {
using namespace pcs::catalog;
namespace {

class CatalogAccess : public CatalogTest {
 protected:
  // A catalog of ELBOW (3 records, sizes 1, 2, 3), PIPE (1) and TEE (1).
  void make_catalog() {
    offsets_ = write_catalog(dir_, {{"ELBOW", 1}, {"ELBOW", 2}, {"ELBOW", 3}, {"PIPE", 1}, {"TEE", 1}}, 2.0);
  }
  std::vector<std::pair<std::string, int>> offsets_;
};

TEST_F(CatalogAccess, OpenExpandsPaths) {
  make_catalog();
  setenv("PCS_TEST_CATDIR", dir_.root().c_str(), 1);
  unsetenv("PCS_TEST_UNSET");
  Catalog cat("$PCS_TEST_CATDIR/c.cat", "$PCS_TEST_CATDIR/i.idx", "r");
  ASSERT_RC(0, cat.rc);
  EXPECT_EQ(std::string(cat.h->CatalogPath), dir_.path("c.cat"));
  EXPECT_EQ(std::string(cat.h->IndexPath), dir_.path("i.idx"));
  for (auto [catalog, index, code] : std::vector<std::tuple<std::string, std::string, int>>{
           {dir_.path("none.cat"), dir_.path("i.idx"), 2},
           {"$PCS_TEST_UNSET/c.cat", dir_.path("i.idx"), 2},
           {dir_.path("c.cat"), dir_.path("none.idx"), 3},
           {dir_.path("c.cat"), "$PCS_TEST_CATDIR/$PCS_TEST_UNSET", 3}}) {
    Catalog bad(catalog, index, "r");
    EXPECT_RC(code, bad.rc) << catalog << " " << index;
    EXPECT_EQ(bad.h, nullptr);
  }
  char out[PCS_CATALOG_PATH];
  setenv("PCS_TEST_CATDIR", "/data/cat", 1);
  EXPECT_EQ(catalog::decdir("$PCS_TEST_CATDIR/pipe.cat", out), 0);
  EXPECT_EQ(std::string(out), "/data/cat/pipe.cat");
  EXPECT_EQ(catalog::decdir("/a/$PCS_TEST_CATDIR/", out), 0);
  EXPECT_EQ(std::string(out), "/a//data/cat/");
  const std::string long_value(250, 'v');
  setenv("PCS_TEST_CATDIR", long_value.c_str(), 1);
  EXPECT_EQ(catalog::decdir("/$PCS_TEST_CATDIR", out), 0);  // 251 characters fit
  EXPECT_EQ(catalog::decdir("/abcde/$PCS_TEST_CATDIR", out), 2);
  EXPECT_EQ(catalog::decdir(("/" + std::string(300, 'p')).c_str(), out), 2);
  EXPECT_EQ(std::string(out), "");
  unsetenv("PCS_TEST_CATDIR");
}

TEST_F(CatalogAccess, GetOneOrAllPartsOfAKey) {
  make_catalog();
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"));
  PartRecord *part = nullptr;
  int rc = -1, stack = 0;
  ASSERT_RC(0, (csgget(&cat.h, field("PIPE").c_str(), &part, &rc), rc));
  EXPECT_EQ(values_of(part, "PART", "NAME"), field("PIPE"));
  int count = 0, length = 0;
  csggetn(&part, field("DIMS").c_str(), field("OD").c_str(), &count, &length, &rc);
  EXPECT_EQ(count * 100 + length, 108);
  double od = 0;
  csggetv(&part, field("DIMS").c_str(), field("OD").c_str(), &od, &rc);
  EXPECT_EQ(od, 2.0);
  csgfree(&part);
  EXPECT_RC(2, (csgget(&cat.h, field("ELBOW").c_str(), &part, &rc), rc));
  EXPECT_EQ(part, nullptr);
  EXPECT_RC(1, (csgget(&cat.h, field("NONE").c_str(), &part, &rc), rc));

  ASSERT_RC(0, (csggetm(&cat.h, field("ELBOW").c_str(), &stack, &rc), rc));
  int size = 0;
  gusinf(&stack, &size, &count, &rc);
  EXPECT_EQ(size, PCS_HANDLE_SIZE);
  ASSERT_EQ(count, 3);
  for (int i = 1; i <= 3; ++i) {  // index order: sizes 1, 2, 3
    gusrea(&stack, &i, &part, &rc);
    csggetn(&part, field("DIMS").c_str(), field("SIZES").c_str(), &count, &length, &rc);
    EXPECT_EQ(count, i);
    csgfree(&part);
  }
  gusend(&stack, &rc);

  int second = 2;
  csgdnrc(&cat.h, field("ELBOW").c_str(), &second, &rc);
  EXPECT_EQ(capture_stderr([&] { csggetm(&cat.h, field("ELBOW").c_str(), &stack, &rc); }), " \n");
  EXPECT_RC(7, rc);
  EXPECT_EQ(stack, 0);
  csgdelrc(&cat.h, field("TEE").c_str(), &rc);
  EXPECT_RC(4, (csgget(&cat.h, field("TEE").c_str(), &part, &rc), rc));
}

TEST_F(CatalogAccess, PutPartsBackInPlace) {
  make_catalog();
  const std::string before = read_file(dir_.path("c.cat"));
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"));
  const std::string elbow = field("ELBOW");
  int stack = 0, rc = -1;
  ASSERT_RC(0, (csggetm(&cat.h, elbow.c_str(), &stack, &rc), rc));
  PartRecord *parts[3];
  for (int i = 1; i <= 3; ++i) {
    gusrea(&stack, &i, &parts[i - 1], &rc);
    double od = 10.0 * i;
    cspgrepl(parts[i - 1], field("DIMS").c_str(), field("OD").c_str(), 1, 8, &od, &rc);
  }
  EXPECT_RC(0, (csgputip(&cat.h, elbow.c_str(), &stack, &rc), rc));
  std::string expected = before;
  for (int i = 1; i <= 3; ++i) {
    double od = 10.0 * i;
    std::string rec = catalog_record(sample_part("ELBOW", od, i));
    expected.replace(static_cast<size_t>(offsets_[i - 1].second), rec.size(), rec);
  }
  std::fflush(cat.h->CatalogFile);
  EXPECT_EQ(read_file(dir_.path("c.cat")), expected);

  // The third part grows: nothing is written, not even the first two.
  double od = 99.0;
  for (int i = 0; i < 3; ++i)
    cspgrepl(parts[i], field("DIMS").c_str(), field("OD").c_str(), i == 2 ? 2 : 1, 8, &od, &rc);
  EXPECT_RC(3, (csgputip(&cat.h, elbow.c_str(), &stack, &rc), rc));
  std::fflush(cat.h->CatalogFile);
  EXPECT_EQ(read_file(dir_.path("c.cat")), expected);

  int one = 0, entry = PCS_HANDLE_SIZE, pushed = 0;
  gusini(&entry, &one, &rc);
  guspus(&one, &parts[0], &pushed, &rc);
  std::string text = capture_stderr([&] { csgputip(&cat.h, elbow.c_str(), &one, &rc); });
  EXPECT_NE(rc, 0);
  EXPECT_EQ(text, "\nDebug Failed: csgputip, line 503 return code =" + std::to_string(rc) + "\n");
  EXPECT_RC(2, (csgputip(&cat.h, field("NONE").c_str(), &one, &rc), rc));
  gusend(&one, &rc);
  for (PartRecord *p : parts) cspgfre(p);
  gusend(&stack, &rc);
}

TEST_F(CatalogAccess, NamesAndSortKeys) {
  PartRecord *part = make_part({{"A", {{"X", 1, 8, "x1234567"}, {"Y", 2, 4, "yyyyzzzz"}}},
                                {"B", {{"Z", 1, 3, "zzz"}}}, {"C", {}}});
  int groups = 0, attributes = 0, rc = -1, size = 0, count = 0;
  ASSERT_RC(0, (csggetnm(&part, &groups, &attributes, &rc), rc));
  gusinf(&groups, &size, &count, &rc);
  ASSERT_EQ(count, 3);
  std::string pairs;
  for (int i = 1; i <= 3; ++i) {
    char g[8], a[8];
    gusrea(&groups, &i, g, &rc);
    gusrea(&attributes, &i, a, &rc);
    pairs += std::string(g, 1) + std::string(a, 1);
  }
  EXPECT_EQ(pairs, "AXAYBZ");
  gusend(&groups, &rc);
  gusend(&attributes, &rc);

  std::string ax = field("A") + field("X"), ay = field("A") + field("Y"), q = field("Q") + field("Q");
  char *names[] = {ax.data(), ay.data(), q.data()};
  const int widths[] = {10, 5, 2};
  char key[18];
  QuietErrors quiet;  // the missing Q/Q is reported
  EXPECT_EQ(catalog::GetSortKey(part, 3, names, widths, key), 0);
  EXPECT_EQ(std::string(key), "x1234567  yyyyz  ");
  cspgfre(part);

  make_catalog();
  cspdelrc(Stream(dir_.path("c.cat"), "r+b").f, offsets_[1].second, &rc);
  std::string name = field("PART") + field("NAME");
  char *key_names[] = {name.data()};
  const int one = 1, width[] = {6};
  std::vector<std::string> buffers(5, std::string(7, '\0'));
  std::vector<KeyRecord> keys(5);
  for (int i = 0; i < 5; ++i) keys[i] = {-7, buffers[i].data()};
  EXPECT_EQ(csgikey(dir_.path("c.cat").c_str(), &one, key_names, width, 5, nullptr, keys.data()), 0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(keys[i].RecordOffset, i == 1 ? -1 : offsets_[i].second);
    if (i != 1) { EXPECT_EQ(std::string(keys[i].Key), field(offsets_[i].first, 6)); }
  }
  EXPECT_EQ(csgikey(dir_.path("c.cat").c_str(), &one, key_names, width, 6, nullptr, keys.data()), 1);
  EXPECT_EQ(csgikey(dir_.path("none").c_str(), &one, key_names, width, 1, nullptr, keys.data()), 2);
}

TEST_F(CatalogAccess, ListsADirectory) {
  int stack = -1, rc = -1, size = 0, count = 0;
  const std::string root = dir_.root() + "/ignored part of the field";
  int length = static_cast<int>(dir_.root().size());
  ASSERT_RC(0, (csfdir(root.c_str(), &length, &stack, &rc), rc));
  gusinf(&stack, &size, &count, &rc);
  EXPECT_EQ(count, 0);
  gusend(&stack, &rc);
  write_file(dir_.path("one.cat"), "");
  std::filesystem::create_directory(dir_.path("sub"));
  csfdir(root.c_str(), &length, &stack, &rc);
  gusinf(&stack, &size, &count, &rc);
  EXPECT_EQ(size * 10 + count, 802);
  char entry[80];
  int first = 1;
  gusrea(&stack, &first, entry, &rc);
  EXPECT_TRUE(std::string(entry, 80) == field("one.cat", 80) || std::string(entry, 80) == field("sub", 80));
  gusend(&stack, &rc);
  length += 2;
  EXPECT_RC(PCS_CANNOT_OPEN, (csfdir(root.c_str(), &length, &stack, &rc), rc));
  EXPECT_EQ(stack, 0);
}

}  // namespace
}  // namespace pcs::test_catalog
