// The generic part file and query commands: put, get, show and fold parts
// given in their JSON form, and look a query up in a project of the test.
#include "tests/support/support.h"

namespace {

class PartsCommand : public ::testing::Test {
 protected:
  int run(const std::string &args) {
    last_ = run_tool(dir_, args);
    return last_.status;
  }
  TempDir dir_;
  ToolRun last_;
};

// A part in the JSON form: element class, query number, part number and,
// unless empty, options.
std::string part_json(const std::string &cls, const std::string &query, const std::string &number,
                      const std::string &options) {
  std::string json = R"([{"group": "ELCLASS", "attributes": [{"name": "AELCLASS", "length": 8, "values": [")" +
                     cls + R"("]}]}, {"group": "SPCFUNC", "attributes": [{"name": "QRYNUMBR", "length": 8, "values": [")" +
                     query + R"("]}]}, {"group": "PARTNUM", "attributes": [{"name": "PARTNO", "length": 10, "values": [")" +
                     number + R"("]}, {"name": "NPS", "type": "I", "values": [6]}]})";
  if (!options.empty())
    json += R"(, {"group": "TYPEOPTS", "attributes": [{"name": "OPTIONS", "length": 2, "values": [")" + options + R"("]}]})";
  return json + "]";
}

TEST_F(PartsCommand, PutGetShow) {
  write_file(dir_.path("a.json"), part_json("FLANGE", "Q1", "F-1", "RF"));
  ASSERT_EQ(run("parts put g.gp a.json"), 0) << last_.err;
  EXPECT_EQ(last_.out, "stored at 0\n");
  ASSERT_EQ(run("parts put g.gp a.json"), 0) << last_.err;
  const std::string second = last_.out.substr(10, last_.out.size() - 11);
  ASSERT_EQ(run("parts get g.gp " + second), 0) << last_.err;
  EXPECT_NE(last_.out.find("\"F-1       \""), std::string::npos) << last_.out;
  EXPECT_NE(last_.out.find("\"type\": \"I\""), std::string::npos) << last_.out;
  // What get prints, put stores byte for byte.
  write_file(dir_.path("b.json"), last_.out);
  ASSERT_EQ(run("parts put h.gp b.json"), 0) << last_.err;
  EXPECT_EQ(read_file(dir_.path("h.gp")), read_file(dir_.path("g.gp")).substr(std::stoul(second)));
  ASSERT_EQ(run("parts show g.gp"), 0) << last_.err;
  EXPECT_EQ(last_.out.substr(0, last_.out.find("record at " + second)),
            "record at 0, " + second + " bytes\n  group ELCLASS \n    AELCLASS 1 x 8: \"FLANGE  \"\n"
            "  group SPCFUNC \n    QRYNUMBR 1 x 8: \"Q1      \"\n  group PARTNUM \n"
            "    PARTNO   1 x 10: \"F-1       \"\n    NPS      1 x 4: 6\n"
            "  group TYPEOPTS\n    OPTIONS  1 x 2: \"RF\"\n");
  EXPECT_EQ(run("parts get g.gp 99999"), 1);
  EXPECT_EQ(last_.err, "pcs: g.gp: no record at 99999: past the end of the file\n");
  write_file(dir_.path("bad.json"), R"([{"group": "X", "attributes": [{"name": "Y", "values": []}]}])");
  EXPECT_EQ(run("parts put g.gp bad.json"), 1);
  EXPECT_EQ(last_.err, "pcs: bad.json: not a part: an attribute needs values\n");
  EXPECT_EQ(run("parts show absent.gp"), 1);
}

TEST_F(PartsCommand, FoldAndLookup) {
  std::string parts;
  const char *rows[][4] = {{"FLANGE", "Q1", "F-1", "RF"}, {"FLANGE", "Q1", "F-2", ""},
                           {"FLANGE", "Q2", "F-3", "FF"}, {"ELBOW", "Q1", "E-1", "LR"}};
  for (auto &r : rows) {
    write_file(dir_.path("p.json"), part_json(r[0], r[1], r[2], r[3]));
    ASSERT_EQ(run("parts put GENPARTS p.json"), 0) << last_.err;
  }
  write_file(dir_.path("CATALOG1"), "");
  write_file(dir_.path("project.json"),
             R"({"setup": {"catalog_directory": ")" + dir_.root() +
                 R"(", "current_catalog": 1}, "catalogs": [{"id": 1, "names": ["CATALOG1", "X", "GENPARTS"]}],
                 "groups": {"ELCLASS": {"attributes": [{"name": "AELCLASS", "type": "C", "length": 8}]},
                            "SPCFUNC": {"attributes": [{"name": "QRYNUMBR", "type": "C", "length": 8}]}}})");
  ASSERT_EQ(run("model import project.json"), 0) << last_.err;
  ASSERT_EQ(run("query lookup --class ELBOW --query Q1"), 0) << last_.err;
  EXPECT_EQ(last_.out, "E-1  LR\n");
  ASSERT_EQ(run("query lookup --class ELBOW --query Q7"), 0) << last_.err;
  EXPECT_EQ(last_.out, "no catalog part answers ELBOW Q7\n");
  std::remove(dir_.path("CATALOG1").c_str());
  EXPECT_EQ(run("query lookup --class ELBOW --query Q1"), 1);
  EXPECT_NE(last_.err.find("cannot open the project's catalog"), std::string::npos) << last_.err;

  // Fold against a reference of F-1 indexed by PARTNUM/PARTNO (10).
  write_file(dir_.path("p.json"), part_json("FLANGE", "Q1", "F-1", "RF"));
  ASSERT_EQ(run("parts put ref.gp p.json"), 0);
  write_file(dir_.path("ref.idx"), "           1  10\n   1           0          17F-1       \n");
  ASSERT_EQ(run("parts fold GENPARTS ref.gp ref.idx new.gp dup.gp"), 0) << last_.err;
  ASSERT_EQ(run("parts show dup.gp"), 0);
  const size_t first = last_.out.find("\"F-1"), second = last_.out.find("\"F-1", first + 1);
  EXPECT_NE(second, std::string::npos) << last_.out;  // the source's and the reference's
  EXPECT_EQ(last_.out.find("F-2"), std::string::npos);
  ASSERT_EQ(run("parts show new.gp"), 0);
  EXPECT_EQ(last_.out.find("F-1"), std::string::npos);
  EXPECT_NE(last_.out.find("E-1"), std::string::npos);
  // A stale reference index (its key is not the part's there) folds nothing.
  write_file(dir_.path("ref.idx"), "           1  10\n   1           0          17F-2       \n");
  const std::string duplicates = read_file(dir_.path("dup.gp"));
  EXPECT_EQ(run("parts fold GENPARTS ref.gp ref.idx new.gp dup.gp"), 1);
  EXPECT_NE(last_.err.find("ref.idx: the index is stale: the record at offset 0 of ref.gp does "
                           "not carry the key 'F-2'; nothing changed"),
            std::string::npos)
      << last_.err;
  EXPECT_EQ(read_file(dir_.path("dup.gp")), duplicates);
  EXPECT_EQ(run("parts fold GENPARTS ref.gp absent.idx new.gp"), 1);
}

// Names are never cut, and a text's length is the project's where it
// declares the attribute: a size "1" is not stored one character long,
// where it would equal every size that begins with 1.
TEST_F(PartsCommand, PutTakesNamesAndLengthsAsDeclared) {
  const auto attribute = [](const std::string &group, const std::string &name,
                            const std::string &length, const std::string &value) {
    return R"([{"group": ")" + group + R"(", "attributes": [{"name": ")" + name + R"(")" +
           (length.empty() ? "" : R"(, "length": )" + length) + R"(, "values": [")" + value +
           R"("]}]}])";
  };
  const struct {
    std::string json, error;
  } refused[] = {
      {attribute("PIPESIZES", "SIZE", "8", "1"),
       "group name \"PIPESIZES\" must have 1 to 8 characters"},
      {attribute("PIPESIZE", "NOMINALSIZE", "8", "1"),
       "attribute name \"NOMINALSIZE\" must have 1 to 8 characters"},
      {attribute("PIPESIZE", "SIZE", "", "1"),
       "SIZE needs its length: the project does not declare PIPESIZE.SIZE"},
  };
  for (const auto &c : refused) {
    write_file(dir_.path("p.json"), c.json);
    EXPECT_EQ(run("parts put g.gp p.json"), 1) << c.json;
    EXPECT_EQ(last_.err, "pcs: p.json: not a part: " + c.error + "\n");
  }
  EXPECT_FALSE(file_exists(dir_.path("g.gp")));
  write_file(dir_.path("project.json"),
             R"({"groups": {"PIPESIZE": {"attributes": [{"name": "SIZE", "type": "C", "length": 8}]}}})");
  ASSERT_EQ(run("model import project.json"), 0) << last_.err;
  write_file(dir_.path("p.json"), attribute("PIPESIZE", "SIZE", "4", "1"));
  EXPECT_EQ(run("parts put g.gp p.json"), 1);
  EXPECT_EQ(last_.err, "pcs: p.json: not a part: SIZE has length 4, the project declares 8\n");
  write_file(dir_.path("p.json"), attribute("PIPESIZE", "SIZE", "", "1"));
  ASSERT_EQ(run("parts put g.gp p.json"), 0) << last_.err;
  ASSERT_EQ(run("parts show g.gp"), 0);
  EXPECT_NE(last_.out.find("SIZE     1 x 8: \"1       \""), std::string::npos) << last_.out;
}

}  // namespace
