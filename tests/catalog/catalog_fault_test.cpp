// Allocation failures injected one by one into the catalog operations: each
// run gives the normal result or the documented code and releases what it
// obtained; files are never changed by a failed read.
#include "tests/catalog/catalog_files.h"

namespace pcs::test_catalog {
using namespace pcs::catalog;
namespace {

// Releases a stack of part handles with its parts.
void release_parts(int stack) {
  int size = 0, count = 0, rc = 0;
  gusinf(&stack, &size, &count, &rc);
  for (int i = 1; i <= count; ++i) {
    PartRecord *part = nullptr;
    gusrea(&stack, &i, &part, &rc);
    cspgfre(part);
  }
  gusend(&stack, &rc);
}

class CatalogFault : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    write_catalog(dir_, {{"ELBOW", 1}, {"ELBOW", 2}, {"ELBOW", 3}, {"PIPE", 4}}, 3.0);
    catalog_ = read_file(dir_.path("c.cat"));
    host::suppress_reports(true);
  }
  void TearDown() override {
    EXPECT_EQ(read_file(dir_.path("c.cat")), catalog_) << "a read changed the catalog";
    CatalogTest::TearDown();
  }
  std::string catalog_;
};

TEST_F(CatalogFault, GetAndGetMany) {
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"), "rb");
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
    if (rc == 0) release_parts(stack);
  });
}

TEST_F(CatalogFault, ReadWriteAndNames) {
  Stream s(dir_.path("c.cat"), "rb");
  Stream out(dir_.path("w.cat"), "w+b");
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

TEST_F(CatalogFault, OpenScanKeysAndDirectory) {
  sweep_allocations([&](long) {
    Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"), "rb");
    EXPECT_TRUE(cat.rc == PCS_OK || cat.rc == PCS_OPEN_NO_MEMORY) << cat.rc;
    EXPECT_EQ(cat.h != nullptr, cat.rc == 0);
  });
  Stream s(dir_.path("c.cat"), "rb");
  sweep_allocations([&](long) {
    int stack = 0, size = 8, rc = -1, count = 0;
    gusini(&size, &stack, &rc);
    if (rc != 0) return;
    cspgkey(&s.f, &size, field("PART").c_str(), field("NAME").c_str(), &stack, &rc);
    int info = 0;
    gusinf(&stack, &size, &count, &info);
    EXPECT_TRUE(rc == 0 || rc == catalog::kCollectNoMemory || rc == PCS_GUS_NO_MEMORY) << rc;
    if (rc == 0) { EXPECT_EQ(count, 4); }
    gusend(&stack, &rc);
  });
  std::string name = field("PART") + field("NAME");
  char *names[] = {name.data()};
  const int one = 1, width[] = {8};
  sweep_allocations([&](long) {
    std::vector<std::string> buffers(4, std::string(9, '\0'));
    std::vector<KeyRecord> keys(4);
    for (int i = 0; i < 4; ++i) keys[i] = {-7, buffers[i].data()};
    const int rc = csgikey(dir_.path("c.cat").c_str(), &one, names, width, 4, nullptr, keys.data());
    EXPECT_TRUE(rc == PCS_OK || rc == PCS_IKEY_UNREADABLE) << rc;
    if (rc == 0) { EXPECT_EQ(std::string(keys[3].Key), field("PIPE")); }
  });
  const int length = static_cast<int>(dir_.root().size());
  sweep_allocations([&](long) {
    int stack = -1, rc = -1;
    csfdir(dir_.root().c_str(), &length, &stack, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY || rc == PCS_GUS_NO_MEMORY) << rc;
    EXPECT_EQ(stack != 0, rc == 0);
    if (stack != 0) gusend(&stack, &rc);
  });
}

// Each host stack call failed in turn: the service's code (or the
// operation's own) comes back and no stack is left open.
TEST_F(CatalogFault, StackFailures) {
  constexpr int kCode = 4321;
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"));
  int stack = 0, rc = -1, size = 8;
  sweep_stack_calls(
      kCode, [&] { gusini(&size, &stack, &rc); },
      [&] {
        cspgkey(&cat.h->CatalogFile, &size, field("PART").c_str(), field("NAME").c_str(), &stack,
                &rc);
        EXPECT_TRUE(rc == 0 || rc == kCode) << rc;
      },
      [&] { gusend(&stack, &rc); });
  const int length = static_cast<int>(dir_.root().size());
  sweep_stack_calls(
      kCode, [] {},
      [&] {
        stack = -1;
        csfdir(dir_.root().c_str(), &length, &stack, &rc);
        EXPECT_TRUE(rc == 0 || rc == kCode) << rc;
        EXPECT_EQ(stack != 0, rc == 0);
      },
      [&] {
        if (stack != 0) gusend(&stack, &rc);
      });
  sweep_stack_calls(
      kCode, [] {},
      [&] {
        capture_stderr([&] { csggetm(&cat.h, field("ELBOW").c_str(), &stack, &rc); });
        EXPECT_TRUE(rc == PCS_OK || rc == PCS_GETM_UNREADABLE || rc == kCode) << rc;
        EXPECT_EQ(stack != 0, rc == 0);
      },
      [&] {
        if (stack != 0) release_parts(stack);
      });
  ASSERT_RC(0, (csggetm(&cat.h, field("ELBOW").c_str(), &stack, &rc), rc));
  sweep_stack_calls(
      kCode, [] {},
      [&] {
        capture_stderr([&] { csgputip(&cat.h, field("ELBOW").c_str(), &stack, &rc); });
        EXPECT_TRUE(rc == 0 || rc == kCode) << rc;
      },
      [] {});
  PartRecord *part = nullptr;
  const int one = 1;
  gusrea(&stack, &one, &part, &rc);
  int groups = 0, attributes = 0;
  sweep_stack_calls(
      kCode, [] {},
      [&] {
        csggetnm(&part, &groups, &attributes, &rc);
        EXPECT_TRUE(rc == 0 || rc == kCode) << rc;
        EXPECT_EQ(groups != 0 && attributes != 0, rc == 0);
        EXPECT_EQ(groups == 0 && attributes == 0, rc != 0);
      },
      [&] {
        if (groups != 0) gusend(&groups, &rc);
        if (attributes != 0) gusend(&attributes, &rc);
      });
  std::fflush(cat.h->CatalogFile);
  release_parts(stack);
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
  sweep_allocations([&](long) {
    const int written = csgrewrt(&at, &part, cat.h->CatalogFile, &rc);
    EXPECT_EQ(written, rc == 0 ? length : 0);
    EXPECT_TRUE(rc == 0 || rc == PCS_NO_MEMORY) << rc;
    csgputip(&cat.h, field("PIPE").c_str(), &stack, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_PUT_REFUSED) << rc;
    EXPECT_FALSE(file_exists(dir_.path("c.cat-journal")));
  });
  gusend(&stack, &rc);
  cspgfre(part);
}

}  // namespace
}  // namespace pcs::test_catalog
