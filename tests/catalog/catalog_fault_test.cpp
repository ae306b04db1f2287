// Allocation failures injected one by one into the catalog operations: each
// run gives the normal result or the documented code and releases what it
// obtained; files are never changed by a failed read.
#include "tests/catalog/catalog_files.h"

namespace pcs::test_catalog {
namespace {

class CatalogFault : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    std::string bytes;
    std::vector<std::pair<std::string, int>> entries;
    for (auto [name, sizes] : std::vector<std::pair<std::string, int>>{
             {"ELBOW", 1}, {"ELBOW", 2}, {"ELBOW", 3}, {"PIPE", 4}}) {
      entries.push_back({name, static_cast<int>(bytes.size())});
      bytes += catalog_record(sample_part(name, 3.0, sizes));
    }
    write_file(dir_.path("c.cat"), bytes);
    write_file(dir_.path("i.idx"), index_bytes(8, entries));
    catalog_ = read_file(dir_.path("c.cat"));
  }
  void TearDown() override {
    EXPECT_EQ(read_file(dir_.path("c.cat")), catalog_) << "a read changed the catalog";
    CatalogTest::TearDown();
  }
  std::string catalog_;
};

TEST_F(CatalogFault, GetAndGetMany) {
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"), "rb");
  host::suppress_reports(true);
  sweep_allocations([&](long) {
    PartRecord *part = nullptr;
    int rc = -1;
    csgget(&cat.h, field("PIPE").c_str(), &part, &rc);
    EXPECT_TRUE(rc == 0 || rc == 3) << rc;
    EXPECT_EQ(part != nullptr, rc == 0);
    csgfree(&part);
  });
  sweep_allocations([&](long) {
    int stack = -1, rc = -1;
    capture_stderr([&] { csggetm(&cat.h, field("ELBOW").c_str(), &stack, &rc); });
    EXPECT_EQ(stack != 0, rc == 0) << rc;
    if (rc != 0) return;
    for (int i = 1; i <= 3; ++i) {
      PartRecord *part = nullptr;
      gusrea(&stack, &i, &part, &rc);
      csgfree(&part);
    }
    gusend(&stack, &rc);
  });
}

TEST_F(CatalogFault, ReadWriteAndNames) {
  Stream s(dir_.path("c.cat"), "rb");
  Stream out(dir_.path("w.cat"), "w+b");
  host::suppress_reports(true);
  sweep_allocations([&](long) {
    int length = 0, rc = -1;
    PartRecord *part = cspgetrc(s.f, 0, &length, &rc);
    EXPECT_EQ(part != nullptr, rc == 0);
    EXPECT_TRUE(rc == 0 || rc == 1);
    if (!part) return;
    int groups = -1, attributes = -1;
    csggetnm(&part, &groups, &attributes, &rc);
    EXPECT_EQ(groups != 0 && attributes != 0, rc == 0);
    if (rc == 0) {
      gusend(&groups, &rc);
      gusend(&attributes, &rc);
    }
    int written = cspgwrt(part, out.f, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_NO_MEMORY) << rc;
    EXPECT_EQ(written, rc == 0 ? length : 0);
    cspgfre(part);
  });
}

// Rewriting a record with its own part leaves the same bytes whatever
// fails; a failed rewrite leaves no rollback journal.
TEST_F(CatalogFault, RewriteInPlace) {
  const int at = static_cast<int>(catalog_.rfind(catalog_record(sample_part("PIPE", 3.0, 4))));
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"));
  int length = 0, rc = -1, stack = 0, entry = PCS_HANDLE_SIZE, count = 0;
  PartRecord *part = cspgetrc(cat.h->CatalogFile, at, &length, &rc);
  ASSERT_RC(0, rc);
  gusini(&entry, &stack, &rc);
  guspus(&stack, &part, &count, &rc);
  host::suppress_reports(true);
  sweep_allocations([&](long) {
    const int written = csgrewrt(&at, &part, cat.h->CatalogFile, &rc);
    EXPECT_EQ(written, rc == 0 ? length : 0);
    EXPECT_TRUE(rc == 0 || rc == PCS_NO_MEMORY) << rc;
    csgputip(&cat.h, field("PIPE").c_str(), &stack, &rc);
    EXPECT_TRUE(rc == 0 || rc == 3) << rc;
    EXPECT_FALSE(file_exists(dir_.path("c.cat-journal")));
  });
  gusend(&stack, &rc);
  cspgfre(part);
}

}  // namespace
}  // namespace pcs::test_catalog
