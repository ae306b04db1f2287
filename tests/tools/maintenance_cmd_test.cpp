// The `pcs maint` commands, run as a program: index, reindex, merge,
// compress and split-dump, their summaries, refusals and exit codes.
#include <sys/stat.h>

#include <filesystem>

#include "host/inprocess/model.h"
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

const std::string kSummary = "records read: 2, duplicates: 0, deleted: 0, blank keys: 0\n";

TEST_F(MaintCommand, IndexByKeyFields) {
  write_file(path("cat"), part("B") + part("A"));
  ToolRun r = pcs("index cat idx -k PARTNUM.PARTNO:8");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kSummary + "cat: index idx written\n");
  EXPECT_EQ(r.err, "");  // no progress without a terminal
  EXPECT_EQ(read_file(path("idx")), index_header(2, 8) + index_record(1, 61, 17, "A       ") +
                                        index_record(1, 0, 54, "B       "));
  write_file(path("other"), "not an index");
  EXPECT_EQ(pcs("index cat other -k PARTNUM.PARTNO:8 --force").status, 0);
  EXPECT_EQ(read_file(path("other")), read_file(path("idx")));
}

// The summary of an index run, from the keys the builder read and the runs
// of the index it wrote. A field blank in every key but carried is still
// indexed; an unreadable record refuses the run with its count.
TEST_F(MaintCommand, IndexSummaryCountsWhatTheBuilderRead) {
  const std::string damaged = part("C").replace(8, 4, std::string("\0\0\x7f\0", 4));
  struct Case {
    std::string bytes, key;
    int status;
    std::string out, err;
  } cases[] = {
      {part("B") + part("A") + part("B") + part("B"), "PARTNUM.PARTNO:8", 0,
       "records read: 4, duplicates: 2, deleted: 0, blank keys: 0\n", ""},
      {part("A") + part("X", 1) + part("") + part("A", 1), "PARTNUM.PARTNO:8", 0,
       "records read: 2, duplicates: 0, deleted: 2, blank keys: 1\n",
       "pcs: warning: 1 record(s) of cat have a blank key\n"},
      {part("") + part(""), "PARTNUM.PARTNO:8", 0,
       "records read: 2, duplicates: 1, deleted: 0, blank keys: 2\n",
       "pcs: warning: 2 record(s) of cat have a blank key\n"},
      // A key below the blank one: the blank keys are the second run.
      {part("\t") + part("") + part("B") + part("\t") + part("") + part("\t"), "PARTNUM.PARTNO:8", 0,
       "records read: 6, duplicates: 3, deleted: 0, blank keys: 2\n",
       "pcs: warning: 2 record(s) of cat have a blank key\n"},
      {part("A") + damaged + damaged, "PARTNUM.PARTNO:8", 1, "",
       "cat: 2 damaged record(s); nothing changed (pcs check shows where)"},
  };
  for (const Case &c : cases) {
    write_file(path("cat"), c.bytes);
    std::filesystem::remove(path("idx"));
    const ToolRun r = pcs("index cat idx -k " + c.key);
    EXPECT_EQ(r.status, c.status) << c.out << r.err;
    EXPECT_EQ(r.out, c.status == 0 ? c.out + "cat: index idx written\n" : "") << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(std::filesystem::exists(path("idx")), c.status == 0);
  }
}

// Mistakes that would lose data are refused before anything is written.
TEST_F(MaintCommand, RefusalsLeaveEveryFileAsItWas) {
  const std::string torn = part("A") + part("B").substr(0, 30);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"cat", part("B") + part("A") + part("B")},
      {"blank", part("A", 0) + part("") + part("")},
      {"torn", torn},
      {"other", "not an index"},
      {"d.json", "[]"},
      {"T1", std::string(12, ' ') + "HEAD" + std::string(60, ' ') + "\n" + std::string(9, ' ') +
                 "T1" + std::string(60, ' ') + "\n"}};
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"maint index cat cat -k PARTNUM.PARTNO:8", 1, "cat: this is the input cat itself"},
      {"maint index cat other -k PARTNUM.PARTNO:8", 1,
       "other: the file exists; give --force to replace it"},
      {"maint index cat idx -k PARTNUM.PARTNUMBER:8", 2,
       "attribute name \"PARTNUMBER\" must have 1 to 8"},
      {"maint index cat idx -k PARTNUMXX.PARTNO:8", 2, "group name \"PARTNUMXX\" must have 1 to 8"},
      {"maint index cat idx -k PARTNUM.PARTNX:8", 1,
       "cat: no live record carries the key attribute PARTNUM.PARTNX"},
      {"maint index torn idx -k PARTNUM.PARTNO:8", 1, "torn: record at offset 61: the record runs past"},
      {"maint merge cat --attribute PARTNX --key-length 8", 1,
       "no live record carries the key attribute"},
      {"maint merge cat --group PARTNUMXX --key-length 8", 2, "group name \"PARTNUMXX\" must have"},
      {"maint merge blank --key-length 8", 1,
       "blank: 2 record(s) have a blank key and would count as duplicates of each other"},
      {"maint merge torn --key-length 8", 1, "a torn last record; nothing changed"},
      {"maint compress cat --index cat=PARTNUM.PARTNO:8", 1, "cat: this is the input cat itself"},
      {"maint compress cat --index other=PARTNUM.PARTNO:8", 1,
       "other: the file exists; give --force to replace it"},
      {"maint compress cat --index idx", 2, "index \"idx\" is not PATH=GROUP.ATTR:LENGTH"},
      {"maint compress cat --index idx=PARTNUM.PARTNX:8", 1, "no live record carries the key"},
      {"maint split-dump T1 .", 1, "./T1: this is the input T1 itself: it would be overwritten"},
      {"keyed put d.json d.json -k PIPE.SIZE:4", 1,
       "d.json: this is also the input d.json"},
  };
  for (const Case &c : cases) {
    for (const auto &[name, bytes] : files) write_file(path(name), bytes);
    const ToolRun r = run_tool(dir_, c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    for (const auto &[name, bytes] : files) EXPECT_EQ(read_file(path(name)), bytes) << c.args;
    EXPECT_FALSE(std::filesystem::exists(path("idx"))) << c.args;
  }
}

TEST_F(MaintCommand, MergeDryRunThenMergeWithSummaries) {
  const std::string pipe = "PIPE";  // pipes have no model object
  const std::string bytes = elbow("P1", "T1", pipe) + elbow("P1", "T2", pipe) +
                            elbow("", "T3", pipe) + elbow("", "T4", pipe) + elbow("P2", "T5", pipe);
  const int length = static_cast<int>(elbow("P1", "T1", pipe).size());
  write_file(path("cat"), bytes);
  ToolRun r = pcs("merge cat --key-length 8 --dry-run");
  EXPECT_EQ(r.status, 1);  // as the real run would
  EXPECT_NE(r.err.find("2 record(s) have a blank key"), std::string::npos) << r.err;
  r = pcs("merge cat --key-length 8 --dry-run --allow-blank-keys");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "would delete the record at offset " + std::to_string(3 * length) +
                       ", key \"        \"\nwould delete the record at offset " +
                       std::to_string(length) + ", key \"P1      \"\n" +
                       "records read: 5, duplicates: 2, deleted: 0, blank keys: 2\n");
  EXPECT_EQ(read_file(path("cat")), bytes);
  r = pcs("merge cat --key-length 8 --newest --allow-blank-keys");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Catalog has been updated with new part"), std::string::npos);
  EXPECT_NE(r.out.find("records read: 5, duplicates: 2, deleted: 2, blank keys: 2\n"),
            std::string::npos)
      << r.out;
  const std::string merged = read_file(path("cat"));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(merged[i * length + 7], i == 0 || i == 2 ? 1 : 0) << i;
}

TEST_F(MaintCommand, MergeSavesTheProjectOrFailsWithTheReason) {
  project({"A"});
  write_file(path("cat"), elbow("P1", "T1") + elbow("P1", "T2") + elbow("P2", "T3"));
  // The library's own messages show with --verbose only.
  ToolRun r = run_tool(dir_, "--verbose maint merge cat --key-length 8 --project project.db");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, field("   Duplicate part number was found in the catalog.", 81) + "\n" +
                       field("   *** WARNING Catalog keeping old part ...", 81) + "\n" +
                       field("   Part Number = P1", 80) + "\n" +
                       "records read: 3, duplicates: 1, deleted: 1, blank keys: 0\n");
  const std::string bytes = read_file(path("cat"));
  EXPECT_EQ(bytes[bytes.size() / 3 + 7], 1);
  ASSERT_EQ(model::load(path("project.db")), 0);
  ASSERT_EQ(model::data().part_objects.size(), 1u);
  EXPECT_EQ(model::data().part_objects[0].eltime, "T1");

  // Without the project the model object cannot go: the dry run and the
  // real run refuse with the same words, before anything changed.
  const std::string two = elbow("P1", "T1") + elbow("P1", "T2");
  write_file(path("cat"), two);
  const std::string cause =
      "cat: the merge cannot delete the record at offset 0, key \"P1\": the model service "
      "glrfam failed: the project file cannot be read (code 6002";
  for (const char *dry : {" --dry-run", ""}) {
    r = pcs(std::string("merge cat --key-length 8 --newest --project none.json") + dry);
    EXPECT_EQ(r.status, 1) << dry;
    EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
    EXPECT_EQ(read_file(path("cat")), two);
  }
  EXPECT_EQ(pcs("merge cat --key-length 64").status, 2);
}

// The shipped example project lets the sample catalog merge: the dry run
// and the real run agree.
TEST_F(MaintCommand, SampleCatalogMergesWithTheExampleProject) {
  ASSERT_EQ(run_tool(dir_, "catalog sample s.cat s.idx").status, 0);
  ASSERT_EQ(run_tool(dir_, "model import " + std::string(PCS_SOURCE_DIR) +
                               "/docs/example-project.json --project ex.db")
                .status,
            0);
  const std::string merge = "merge s.cat --project ex.db --group PART --attribute NAME --key-length 12";
  ToolRun r = pcs(merge + " --dry-run");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("duplicates: 1, deleted: 0"), std::string::npos) << r.out;
  r = pcs(merge);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("duplicates: 1, deleted: 1"), std::string::npos) << r.out;
}

// After compression no index the command knows of points at old offsets.
TEST_F(MaintCommand, CompressRebuildsTheKnownIndexesOrWarns) {
  project({"A", "B", "C", "D", "E", "F", "SYMCAT", "SYMIDX", "I"});
  const std::string sym = catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("S1", 16)}}}});
  write_file(path("SYMCAT  "), part("X", 1) + sym);
  write_file(path("SYMIDX  "), index_header(1, 16) + index_record(1, 61, 17, field("S1", 16)));
  ToolRun r = pcs("compress 'SYMCAT  ' --project project.db");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("the project's indexes of catalog kind 2 rebuilt"), std::string::npos);
  EXPECT_EQ(read_file(path("SYMIDX  ")),
            index_header(1, 16) + index_record(1, 0, 17, field("S1", 16)));
  write_file(path("SYMIDX  "), "");
  r = pcs("reindex --kind 2 --project project.db");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(path("SYMIDX  ")),
            index_header(1, 16) + index_record(1, 0, 17, field("S1", 16)));
  r = pcs("reindex --kind 2 --project none.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("none.json: cannot read the project"), std::string::npos) << r.err;

  write_file(path("cat"), part("A", 1) + part("B"));
  r = pcs("compress cat --project project.db --index idx=PARTNUM.PARTNO:8");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("cat: index idx rebuilt"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(path("idx")), index_header(1, 8) + index_record(1, 0, 17, field("B", 8)));
  EXPECT_EQ(r.err, "");

  // With no index known to rebuild, compression is refused unless told to
  // leave the indexes stale; then it names the index files beside it.
  write_file(path("cat"), part("A", 1) + part("B"));
  r = pcs("compress cat --project project.db");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cat: compression moves the records, and no index of it is known to "
                       "rebuild (the project "),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(path("cat")), part("A", 1) + part("B"));
  r = pcs("compress cat --project project.db --no-reindex");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cat: compressed from " + std::to_string(part("A", 1).size() + part("B").size()) +
                       " to " + std::to_string(part("B").size()) + " bytes\n");
  EXPECT_EQ(read_file(path("cat")), part("B"));
  EXPECT_NE(r.err.find("pcs: warning: ./idx is now stale: rebuild it"), std::string::npos)
      << r.err;
  EXPECT_EQ(pcs("compress none").status, 1);
}

// Failures say the cause in words, with the system's text where a call failed.
TEST_F(MaintCommand, FailuresSayTheCause) {
  write_file(path("cat"), part("A"));
  std::string dump = std::string(12, ' ') + "HEAD" + std::string(60, ' ') + "\n";
  write_file(path("dump"), dump + std::string(9, ' ') + "T1" + std::string(7, ' ') + "row'1\n");
  mkdir(path("tables").c_str(), 0755);
  write_file(path("a.json"),
             R"([{"group": "PIPE", "attributes": [{"name": "SIZE", "values": ["0100"]}]}])");
  const std::pair<std::string, std::string> cases[] = {
      {"maint index cat idx -k PARTNUM.PARTNO:0",
       "cat: cannot build the index idx: the key has no length, or a width is negative (code 2, "
       "PCS_BUILD_NO_KEY)"},
      {"maint index cat no/idx -k PARTNUM.PARTNO:8",
       "cannot build the index no/idx: the index file cannot be created, or it names the source "
       "file (code 5, PCS_BUILD_NOT_CREATED): No such file or directory"},
      {"maint split-dump dump none",
       "dump: cannot split the dump into none: a file cannot be opened or written, or a name or "
       "path is refused (code 1, PCS_TABLE_CANNOT_OPEN): No such file or directory"},
      {"keyed put no/t.kg a.json -k PIPE.SIZE:4",
       "no/t.kg: cannot open the keyed file: no record has the key, or the file cannot be opened, "
       "written or closed (code 4, PCS_KEYED_NOT_FOUND): No such file or directory"},
  };
  for (const auto &[args, message] : cases) {
    const ToolRun r = run_tool(dir_, args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find(message), std::string::npos) << args << "\n" << r.err;
  }
  ToolRun r = pcs("split-dump dump tables");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, " open file tables/T1\n");
  EXPECT_EQ(read_file(path("tables/T1")), field("row1", 50) + "\n");
}

}  // namespace
}  // namespace pcs::test_maint
