// The `pcs maint` commands, run as a program: index, reindex, merge,
// compress and split-dump, their output and exit codes.
#include <sys/stat.h>

#include "host/model_test.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
namespace {

namespace model = pcs::host::model;

class MaintCommand : public ::testing::Test {
 protected:
  void TearDown() override { model::clear(); }

  // Runs `pcs maint <args>` in the temporary directory.
  ToolRun pcs(const std::string &args) { return run_tool(dir_, "maint " + args); }
  std::string path(const std::string &name) const { return dir_.path(name); }

  // A project whose catalog directory is the temporary directory.
  void project(const std::vector<std::string> &names) {
    model::clear();
    model::Model &m = model::data();
    m.setup.catalog_directory = dir_.root();
    m.setup.current_catalog = 1;
    m.catalogs = {{1, {}}};
    for (const std::string &n : names) m.catalogs[0].names.push_back(field(n));
    m.families.push_back({5, {"ELBOW"}});
    m.part_objects = {{5, "ELBOW", "T1"}, {5, "ELBOW", "T2"}};
    ASSERT_EQ(model::save(path("project.db")), 0);
  }

  TempDir dir_;
};

TEST_F(MaintCommand, IndexByKeyFields) {
  write_file(path("cat"), part("B") + part("A"));
  ToolRun r = pcs("index cat idx -k PARTNUM.PARTNO:8");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cat: index idx written\n");
  EXPECT_EQ(r.err, "");  // no progress without a terminal
  EXPECT_EQ(read_file(path("idx")), index_header(2, 8) + index_record(1, 61, 17, "A       ") +
                                        index_record(1, 0, 54, "B       "));
  EXPECT_EQ(pcs("index cat idx -k PARTNUM.PARTNO").status, 2);
  r = pcs("index none idx -k PARTNUM.PARTNO:8");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pcs: none: no such file\n");
  r = pcs("index cat idx -k PARTNUM.PARTNO:0");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot build the index idx (code 2)"), std::string::npos) << r.err;
}

TEST_F(MaintCommand, ReindexFromTheProjectFile) {
  project({"A", "B", "C", "D", "E", "F", "SYMCAT", "SYMIDX", "I"});
  write_file(path("SYMCAT  "),
             catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("S1", 16)}}}}));
  ToolRun r = pcs("reindex --kind 2 --project project.db");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(path("SYMIDX  ")),
            index_header(1, 16) + index_record(1, 0, 17, field("S1", 16)));
  struct stat status {};
  stat(path("SYMIDX  ").c_str(), &status);
  EXPECT_EQ(status.st_mode & 0777, 0666u);
  r = pcs("reindex --kind 2 --project none.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("none.json: cannot read the project"), std::string::npos) << r.err;
}

TEST_F(MaintCommand, MergeReportsAndSavesTheProject) {
  project({"A"});
  write_file(path("cat"), elbow("P1", "T1") + elbow("P1", "T2") + elbow("P2", "T3"));
  ToolRun r = pcs("merge cat --key-length 8 --project project.db");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, field("   Duplicate part number was found in the catalog.", 81) + "\n" +
                       field("   *** WARNING Catalog keeping old part ...", 81) + "\n" +
                       field("   Part Number = P1", 80) + "\n");
  const std::string bytes = read_file(path("cat"));
  EXPECT_EQ(bytes[bytes.size() / 3 + 7], 1);
  ASSERT_EQ(model::load(path("project.db")), 0);
  ASSERT_EQ(model::data().part_objects.size(), 1u);
  EXPECT_EQ(model::data().part_objects[0].eltime, "T1");

  // Without the project the model object cannot go: the merge stops.
  write_file(path("cat"), elbow("P1", "T1") + elbow("P1", "T2"));
  r = pcs("merge cat --key-length 8 --newest --project none.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the merge stopped: glrfam failed"), std::string::npos) << r.err;
  EXPECT_EQ(pcs("merge cat --key-length 64").status, 2);
}

TEST_F(MaintCommand, CompressAndSplit) {
  write_file(path("cat"), part("A") + part("B", 1));
  ToolRun r = pcs("compress cat");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3  cat  cat.bak\n");
  EXPECT_EQ(read_file(path("cat")), part("A"));
  EXPECT_EQ(pcs("compress none").status, 1);

  std::string dump = std::string(12, ' ') + "HEAD" + std::string(60, ' ') + "\n";
  dump += std::string(9, ' ') + "T1" + std::string(7, ' ') + "row'1\n";
  write_file(path("dump"), dump);
  mkdir(path("tables").c_str(), 0755);
  r = pcs("split-dump dump tables");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, " open file tables/T1\n");
  EXPECT_EQ(read_file(path("tables/T1")), field("row1", 50) + "\n");
}

}  // namespace
}  // namespace pcs::test_maint
