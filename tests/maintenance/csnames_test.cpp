// The maintenance dispatcher over the in-process host model: catalog names,
// the process layout of each kind, the index files it writes and in which
// order, the chmod command, and every host failure passed through.
#include <sys/stat.h>
#include <unistd.h>

#include "host/inprocess/model.h"
#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::maintenance;
namespace {

namespace model = pcs::host::model;

// Catalog names n1..n9: entry k of the names stack is name 10 - k.
const std::vector<std::string> kNames = {"PARTCAT ", "PARTNO  ", "CATTYPE ", "CATSIZE ", "CLASSCAT",
                                         "CLASSIDX", "SYMCAT  ", "SYMIDX  ", "SPARE   "};

class Dispatcher : public MaintTest {
 protected:
  void SetUp() override {
    MaintTest::SetUp();
    model::clear();
    project(dir_.root());
  }
  void TearDown() override {
    model::clear();
    MaintTest::TearDown();
  }
  void project(const std::string &directory) {
    model::Model &m = model::data();
    m.setup.catalog_directory = directory;
    m.setup.current_catalog = 3;
    m.catalogs = {{2, {"OTHER   "}}, {3, kNames}};
  }
  std::string path(const std::string &name) const { return dir_.root() + "/" + name; }

  TempDir dir_;
};

std::string piece(const std::string &category, const std::string &type, const std::string &size,
                  const std::string &number) {
  return catalog_record(
      {{"PARTDEF", {{"CATEGORY", 1, 8, field(category)}, {"PARTTYPE", 1, 8, field(type)}}},
       {"PARTNUM", {{"PARTNO", 1, 40, field(number, 40)}}},
       {"PIPESIZE", {{"SIZE", 1, 8, field(size)}}}});
}

int run(int kind) {
  int rc = -1;
  EXPECT_EQ(cscprt2(&kind, &rc), 0);
  return rc;
}

mode_t mode_of(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
}

TEST_F(Dispatcher, ProcessTypes) {
  for (const auto &[name, type] : std::vector<std::pair<const char *, int>>{
           {"create_KELVA_index", 1}, {"merge_KELVA_catalogs", 6}, {"create_KELVA_piping_class", 19},
           {"convert_part_catalog", 0}, {"unknown", 9}, {"create_kelva_index", 9}, {"", 9}})
    EXPECT_EQ(maintenance::determine_type(name), type) << name;
}

TEST_F(Dispatcher, CatalogNamesStack) {
  model::data().setup.catalog_directory = "/data cat  ";
  int id = 0, names = 0, rc = -1;
  ASSERT_RC(0, (csnames(&id, &names, &rc), rc));
  EXPECT_EQ(id, 3);
  const std::vector<std::string> entries = model::stack_entries(names);
  ASSERT_EQ(entries.size(), 9u);
  EXPECT_EQ(entries[0], ("/data/cat/SPARE   " + std::string(80, '\0')).substr(0, 80));
  EXPECT_EQ(entries[8].substr(0, 19), std::string("/data/cat/PARTCAT \0", 19));
  int end_rc = 0;
  gusend(&names, &end_rc);
  id = 2;
  csnames(&id, &names, &rc);
  EXPECT_EQ(model::stack_entries(names).size(), 1u);
  gusend(&names, &end_rc);
  EXPECT_EQ(model::calls_of("pladata").size(), 1u);  // only when the id is 0
}

TEST_F(Dispatcher, KindZeroWritesThreeIndexesInOrder) {
  const std::string a = piece("ELBOW", "E90", "4", "P-2"), b = piece("ELBOW", "E45", "2", "P-1"),
                    c = piece("TEE", "EQ", "4", "P-3");
  write_file(path("PARTCAT "), a + b + c);
  const int at_b = static_cast<int>(a.size()), at_c = at_b + static_cast<int>(b.size());
  ASSERT_RC(0, run(0));
  EXPECT_EQ(read_file(path("CATSIZE ")),
            index_header(3, 24) + index_record(1, at_b, 17, "ELBOW   E45     2       ") +
                index_record(1, 0, 70, "ELBOW   E90     4       ") +
                index_record(1, at_c, 123, "TEE     EQ      4       "));
  EXPECT_EQ(read_file(path("CATTYPE ")).substr(0, 17), index_header(3, 16));
  EXPECT_EQ(read_file(path("PARTNO  ")),
            index_header(3, 40) + index_record(1, at_b, 17, field("P-1", 40)) +
                index_record(1, 0, 86, field("P-2", 40)) +
                index_record(1, at_c, 155, field("P-3", 40)));
  for (const char *name : {"CATSIZE ", "CATTYPE ", "PARTNO  "})
    EXPECT_EQ(mode_of(path(name)), 0666u) << name;

  // The second process fails: the first index is there, the third is not.
  for (const char *name : {"CATSIZE ", "CATTYPE ", "PARTNO  "}) std::remove(path(name).c_str());
  mkdir(path("CATTYPE ").c_str(), 0755);
  EXPECT_RC(5, run(0));  // the finished index cannot take the directory's place
  EXPECT_TRUE(file_exists(path("CATSIZE ")));
  EXPECT_FALSE(file_exists(path("PARTNO  ")));
}

TEST_F(Dispatcher, KindOneUsesTheCollapsingReaderKindTwoSymbols) {
  const std::string cls =
      catalog_record({{"ELCLASS", {{"AELCLASS", 1, 8, field("GASKET")}}},
                      {"PARTDEF", {{"PARTTYPE", 1, 8, field("RING")}}},
                      {"PIPESIZE", {{"SIZE", 3, 8, field("4") + field("4") + field("2")}}}});
  write_file(path("CLASSCAT"), cls);
  ASSERT_RC(0, run(1));
  EXPECT_EQ(read_file(path("CLASSIDX")),
            index_header(1, 32) + index_record(1, 0, 17, "GASKET  4       2       RING    "));
  // The layout of kind 2: one process, its key as group, attribute, length.
  int kind = 2, sources = 0, indexes = 0, specs = 0, counts = 0, processes = 0, rc = -1;
  ASSERT_RC(0, (csopts(&kind, &sources, &indexes, &specs, &counts, &processes, &rc), rc));
  std::vector<std::string> strings;
  for (auto &e : model::stack_entries(specs)) strings.push_back(e.c_str());
  EXPECT_EQ(strings, (std::vector<std::string>{"16", "SYMNAME ", "ELCATLOG"}));
  EXPECT_EQ(std::string(model::stack_entries(indexes)[0].c_str()), path("SYMIDX  "));
  EXPECT_EQ(std::string(model::stack_entries(processes)[0].c_str()), "create_KELVA_index");
  for (int *stack : {&sources, &indexes, &specs, &counts, &processes}) gusend(stack, &rc);
  write_file(path("SYMCAT  "),
             catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("SYM-A", 16)}}}}));
  ASSERT_RC(0, run(2));
  EXPECT_EQ(read_file(path("SYMIDX  ")), index_header(1, 16) + index_record(1, 0, 17, field("SYM-A", 16)));
  EXPECT_EQ(mode_of(path("SYMIDX  ")), 0666u);
}

TEST_F(Dispatcher, OtherKindsRunNothing) {
  write_file(path("PARTCAT "), piece("TEE", "EQ", "4", "P-3"));
  for (int kind : {3, -1, 99}) EXPECT_RC(0, run(kind));
  for (const std::string &name : kNames)
    EXPECT_EQ(file_exists(path(name)), name == "PARTCAT ") << name;
}

TEST_F(Dispatcher, IndexBuilderCodesPassThrough) {
  EXPECT_RC(1, run(2));  // SYMCAT does not exist
  model::data().catalogs[1].names.resize(2);
  EXPECT_RC(PCS_CANNOT_OPEN, run(2));  // fewer names than the kind refers to
  model::data().setup.catalog_directory = "";
  EXPECT_RC(PCS_CANNOT_OPEN, run(0));  // no catalog entry in the setup
  model::data().setup.catalog_directory = std::string(72, 'd');
  EXPECT_RC(PCS_PATH_TOO_LONG, run(0));
}

TEST_F(Dispatcher, HostFailuresPassThrough) {
  write_file(path("SYMCAT  "),
             catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("S", 16)}}}}));
  for (const char *service : {"gj0frd", "pladata", "pu3catn"}) {
    model::fail_service(service, 6123);
    EXPECT_RC(6123, run(2)) << service;
    model::clear_failures();
  }
  model::data().setup.current_catalog = 0;
  EXPECT_RC(PCS_HOST_NO_CATALOG, run(2));
  model::data().setup.current_catalog = 3;
  // Every stack call of a run, failed in turn: its code comes back, and no
  // stack is left open, except where the failed call was a gusend (whose
  // outcome nothing checks; the host then keeps that one stack).
  int failed_runs = 0;
  for (long nth = 1;; ++nth) {
    const long injected = host::stack_calls_injected();
    host::fail_stack_call(nth, 4000 + static_cast<int>(nth));
    const int rc = run(2);
    host::fail_stack_call(0, 0);
    if (host::stack_calls_injected() == injected) break;
    if (rc != 0) {
      ++failed_runs;
      EXPECT_EQ(rc, 4000 + nth);
      EXPECT_EQ(host::live_stacks(), 0) << nth;
    } else {
      EXPECT_EQ(host::live_stacks(), 1) << nth;
      host::reset();
    }
  }
  EXPECT_GT(failed_runs, 10);
}

TEST_F(Dispatcher, NumericKeyFromTheSpecificationStack) {
  write_file(dir_.path("text"), "xxxxxxxxxxxxxxxBBBx\nxxxxxxxxxxxxxxxAAAx\n");
  int entry = 80, four = 4, specs = 0, counts = 0, rc = 0, pushed = 0;
  gusini(&entry, &specs, &rc);
  gusini(&four, &counts, &rc);
  char text[80] = "3";
  guspus(&specs, text, &pushed, &rc);
  std::strcpy(text, "16");
  guspus(&specs, text, &pushed, &rc);
  const int strings = 2;
  guspus(&counts, &strings, &pushed, &rc);
  EXPECT_RC(0, maintenance::create_index(0, specs, counts, dir_.path("text").c_str(), dir_.path("idx").c_str()));
  EXPECT_EQ(read_file(dir_.path("idx")),
            index_header(2, 3) + index_record(1, 20, 17, "AAA") + index_record(1, 0, 49, "BBB"));
  EXPECT_TRUE(model::stack_entries(specs).empty());
  EXPECT_RC(PCS_BUILD_NO_KEY, maintenance::create_index(0, specs, counts, "x", "y"));  // nothing left
  gusend(&specs, &rc);
  gusend(&counts, &rc);
}

TEST_F(Dispatcher, ChmodCommandQuotesThePath) {
  char command[512];
  ASSERT_TRUE(maintenance::chmod_command("/a b/it's", command, sizeof command));
  EXPECT_STREQ(command, "chmod 666 '/a b/it'\\''s' 2>/dev/null ");
  ASSERT_TRUE(maintenance::chmod_command("-R", command, sizeof command));
  EXPECT_STREQ(command, "chmod 666 './-R' 2>/dev/null ");
  EXPECT_FALSE(maintenance::chmod_command("abc", command, 20));
}

TEST_F(Dispatcher, HostilePathsRunNothingButChmod) {
  // A catalog directory and names full of shell syntax (the setup turns
  // blanks in the directory into "/", so only the names carry blanks).
  // Unquoted, each of them would create a file P<n> in the working directory.
  const std::string hostile = "d;>P1;$(>P2)`>P3`&>P8|>P9";
  mkdir(path(hostile).c_str(), 0755);
  project(path(hostile));
  model::data().catalogs[1].names = {"A", "B", "C", "D", "K$(>P4)", "C'>P5'", "S;t P6", "I;>P7",
                                     "N"};
  for (std::string &name : model::data().catalogs[1].names) name = field(name);
  const std::string in_dir = path(hostile) + "/";
  const std::string symbol_index = in_dir + field("I;>P7"), class_index = in_dir + field("C'>P5'");
  ASSERT_LT(symbol_index.size(), 80u);
  for (const char *source : {"S;t P6", "K$(>P4)"})
    write_file(in_dir + field(source),
               catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("S", 16)}}}}));
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir_.root().c_str()), 0);
  const int rc2 = run(2), rc1 = run(1);
  ASSERT_EQ(chdir(here), 0);
  EXPECT_RC(0, rc2);
  EXPECT_RC(0, rc1);
  EXPECT_EQ(mode_of(symbol_index), 0666u);
  EXPECT_EQ(mode_of(class_index), 0666u);
  for (const char *marker : {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8", "P9", "t"}) {
    EXPECT_FALSE(file_exists(path(marker))) << marker;
    EXPECT_FALSE(file_exists(in_dir + marker)) << marker;
  }
}

}  // namespace
}  // namespace pcs::test_maint
