// Every reader under read failures: the n-th read fails, for every n up to
// the reads a clean run makes, and each time the reader gives one of its
// documented codes and leaves no host memory or stack behind.
#include <filesystem>
#include <functional>
#include <set>

#include "tests/catalog/catalog_files.h"
#include "tests/host/model_fixture.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
namespace {

using test_catalog::Catalog;
using test_catalog::sample_part;
using test_catalog::Stream;
using test_catalog::write_catalog;

struct Reader {
  const char *name;
  std::function<void(const TempDir &)> setup;
  std::function<int(const TempDir &)> run;  // the reader's code
  std::set<int> failures;                   // what a failed read may give
};

const KeyDesc kKey{{"PIPE", "SIZE", 4}};

int keyed_read(const TempDir &d) {
  KeyedFile *file = nullptr;
  int rc = open_keyed(d.path("parts.kg"), kKey, &file);
  if (rc != 0) return rc;
  KeyedGroup *list = nullptr;
  cspget("0100", &file, &list, &rc);
  cspfre(&list);
  close_keyed(&file);
  return rc;
}

int generic_read(const TempDir &d) {
  Stream s(d.path("g"), "rb");
  int position = 0, length = 0, rc = -1;
  CgGroup *part = nullptr;
  cggget(&s.f, &position, &length, &part, &rc);
  cggfre(part);
  return rc;
}

void generic_file(const TempDir &d) {
  int rc = 0, four = 4;
  CgGroup *part = cgpradd("0100", "C8      ", &four, "SIZE    ", "PIPE    ", nullptr, &rc);
  Stream s(d.path("g"), "w+b");
  cggput(s.f, &part, &rc);
  cggfre(part);
}

// A converter over a dump of `text`; a failed read ends its input.
Reader converter(const char *name, std::string text, std::function<void(const TempDir &, int *)> run) {
  return {name, [text](const TempDir &d) { write_file(d.path("dump"), text); },
          [run](const TempDir &d) {
            int rc = 0;  // the converters leave it alone on success
            run(d, &rc);
            return rc;
          },
          {PCS_INPUT_ENDED}};
}

const std::vector<Reader> &readers() {
  static const std::vector<Reader> list = {
      {"catalog record",
       [](const TempDir &d) { write_catalog(d, {{"A", 1}, {"B", 2}}, 1.5); },
       [](const TempDir &d) {
         Stream s(d.path("c.cat"), "rb");
         int length = 0, rc = -1;
         cspgfre(cspgetrc(s.f, 0, &length, &rc));
         return rc;
       },
       {PCS_RECORD_UNREADABLE}},
      {"catalog by index",
       [](const TempDir &d) { write_catalog(d, {{"A", 1}, {"B", 2}}, 1.5); },
       [](const TempDir &d) {
         Catalog c(d.path("c.cat"), d.path("i.idx"), "rb");
         if (c.rc != 0) return c.rc;
         PartRecord *part = nullptr;
         int rc = -1;
         csgget(&c.h, field("B").c_str(), &part, &rc);
         csgfree(&part);
         return rc;
       },
       {PCS_GET_UNREADABLE, PCS_GET_NOT_FOUND, PCS_OPEN_NO_CATALOG, PCS_OPEN_NO_INDEX}},
      {"keyed file",
       [](const TempDir &d) {
         write_file(d.path("parts.kg"),
                    record_bytes({{"PIPE", {{"SIZE", 1, 4, "0050"}}}}) +
                        record_bytes({{"PIPE", {{"SIZE", 1, 4, "0100"}}}}));
       },
       keyed_read, {PCS_KEYED_DAMAGED, PCS_KEYED_NOT_FOUND}},
      {"generic part file", generic_file, generic_read, {PCS_INPUT_ENDED, PCS_AT_END}},
      {"directory listing",
       [](const TempDir &d) { write_file(d.path("x"), "x"); },
       [](const TempDir &d) {
         int stack = 0, rc = -1, n = static_cast<int>(d.root().size());
         csfdir(d.root().c_str(), &n, &stack, &rc);
         if (stack != 0) gusend(&stack, &n);
         return rc;
       },
       {PCS_CANNOT_OPEN}},
      converter("table dump", "WELDHEAD\nWELDNTRY BW S 2 1.5 2.5 FW 3.0 4.0 GW\nCTFTBEN\n",
                [](const TempDir &d, int *rc) {
                  cgwtcr(d.path("dump").c_str(), d.path("w.csv").c_str(), rc);
                }),
      converter("class map dump", "* note\nCLASS CLSNAM=A1 WLDTB=W1\n&  BRHTB=B1\nCLASS CLSNAM=C2\n",
                [](const TempDir &d, int *rc) { cgclprs(d.path("dump").c_str(), d.root().c_str(), rc); }),
  };
  return list;
}

// Table files are read inside a model session: a weld table and a folder
// of encoded tables (its listing and each file).
const std::vector<Reader> &table_file_readers() {
  static const std::vector<Reader> list = {
      {"rules table file",
       [](const TempDir &d) { write_file(d.path("WT1"), "BW,BW,1.5,2.5,SHOP,FW,\nSW,SW,x,2,FIELD,X,\n"); },
       [](const TempDir &d) {
         const double one = 1.0;
         int rc = 0;
         cgwtcr2(d.path("WT1").c_str(), &one, &rc);
         return rc;
       },
       {PCS_INPUT_ENDED}},
      {"encoded table files",
       [](const TempDir &d) {
         std::filesystem::create_directory(d.path("std"));
         write_file(d.path("std/PNAMNTRY"), "P1,Pipe\nP2,Tee\n");
         write_file(d.path("std/ENDNTRY"), "BW,Butt weld\n");
       },
       [](const TempDir &d) {
         const double one = 1.0;
         int rc = 0;
         capture_stderr([&] { cgstdcr(d.path("std").c_str(), "S1", &one, &rc); });
         return rc;
       },
       {PCS_INPUT_ENDED, PCS_CANNOT_OPEN}},
  };
  return list;
}

void sweep(const std::vector<Reader> &list) {
  for (const Reader &reader : list) {
    SCOPED_TRACE(reader.name);
    for (int n = 1; n < 1000; ++n) {
      SCOPED_TRACE("read " + std::to_string(n) + " fails");
      TempDir dir;
      reader.setup(dir);
      const long blocks = host::memory().live_blocks;
      io::test_reset();
      io::test_fail_read(n);
      int rc = -1;
      capture_stdout([&] { rc = reader.run(dir); });
      const bool injected = io::test_injected() > 0;
      io::test_reset();
      EXPECT_EQ(host::memory().live_blocks, blocks) << "blocks leaked";
      EXPECT_EQ(host::live_stacks(), 0) << "stacks left open";
      if (!injected) {
        EXPECT_RC(0, rc);
        EXPECT_GT(n, 1) << "the reader reads nothing through the file layer";
        break;
      }
      EXPECT_TRUE(reader.failures.count(rc)) << "code " << rc;
      if (::testing::Test::HasFailure()) return;
    }
  }
}

using ReadFaults = HostTest;

TEST_F(ReadFaults, EveryReadFailsCleanly) { sweep(readers()); }

// What the project loads from files goes through the file layer.
using TableFileReadFaults = ModelTest;

TEST_F(TableFileReadFaults, EveryReadFailsCleanly) { sweep(table_file_readers()); }

// The project database is read by SQLite: its reads fail in a layer under
// SQLite. A load reads the whole model or fails with the bad-project code,
// and the next load reads the whole model again.
TEST_F(TableFileReadFaults, ProjectDatabaseReadsFailCleanly) {
  const std::string whole = stored(project_);
  ASSERT_NE(whole, "");
  for (long n = 1; n < 100000; ++n) {
    SCOPED_TRACE("database read " + std::to_string(n) + " fails");
    model::clear();
    model::fail_database_read(n);
    const int rc = model::load(project_);
    const bool injected = model::database_reads_injected() > 0;
    model::fail_database_read(0);
    if (!injected) {
      EXPECT_RC(0, rc);
      EXPECT_GT(n, 1) << "the load reads nothing through the layer";
      break;
    }
    EXPECT_TRUE(rc == PCS_HOST_BAD_PROJECT || rc == PCS_HOST_NO_PROJECT)
        << rc << " " << model::load_error();
    model::clear();
    ASSERT_RC(0, model::load(project_)) << model::load_error();
    EXPECT_EQ(model::to_json(), whole);
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace pcs::test
