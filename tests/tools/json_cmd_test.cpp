// --json on the commands that print data: each run's output parses back and
// holds typed values; keyed show and parts get print what put reads back;
// mistyped names are named with the closest known ones.
#include <nlohmann/json.hpp>

#include "tests/support/support.h"

namespace {

using nlohmann::json;

class JsonOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(run("catalog sample s.cat s.idx").status, 0);
    write_file(dir_.path("k.json"),
               R"([{"group": "PIPE", "attributes": [{"name": "SIZE", "values": ["0100"]},
                   {"name": "SCH", "length": 3, "values": ["40", "XS"]}]}])");
    ASSERT_EQ(run("keyed put t.kg k.json -k PIPE.SIZE:4").status, 0);
    write_file(dir_.path("p.json"),
               R"([{"group": "PARTNUM", "attributes": [{"name": "PARTNO", "length": 6, "values": ["F-1"]},
                   {"name": "NPS", "type": "I", "values": [6, null]},
                   {"name": "OD", "type": "R", "values": [168.3]}]}])");
    ASSERT_EQ(run("parts put g.gp p.json").status, 0);
    write_file(dir_.path("p.csv"), "PART.NAME:C12,PIPE.NPS:I4\nA,1\nB,2\n");
  }
  ToolRun run(const std::string &args) { return run_tool(dir_, args); }
  TempDir dir_;
};

TEST_F(JsonOutput, EachCommandParsesBackTyped) {
  struct Case {
    std::string args, pointer, expected;  // expected: a JSON text
    int status = 0;
  };
  // In order: later cases see what earlier ones changed.
  const Case cases[] = {
      {"check s.cat s.idx", "/files/1/file", R"("s.idx")"},
      {"check s.cat s.idx", "/damaged", "0"},
      {"catalog list s.cat --index s.idx", "/1/key", R"("ELBOW-90    ")"},
      {"catalog keys s.idx", "/0/records", "2"},
      {"keyed list t.kg -k PIPE.SIZE:4", "/0", R"({"key": "0100", "position": 0})"},
      {"keyed show t.kg 0100 -k PIPE.SIZE:4", "/0/attributes/1",
       R"({"name": "SCH", "length": 3, "values": ["40", "XS"]})"},
      {"parts show g.gp", "/0/part/0/attributes/1", R"({"name": "NPS", "type": "I", "length": 4, "values": [6, null]})"},
      {"parts show g.gp", "/0/part/0/attributes/2/values/0", "168.3"},
      {"maint index s.cat n.idx -k PART.NAME:12", "/records_read", "7"},
      {"maint index s.cat n.idx -k PART.NAME:12", "/duplicates", "1"},
      {"catalog delete s.cat s.idx ELBOW-90 -n 2", "", R"({"key": "ELBOW-90", "deleted": 1, "records": 2})"},
      {"maint compress s.cat --no-reindex", "/stale", R"(["./n.idx", "./s.idx"])"},
      {"maint compress s.cat --index s.idx=PART.NAME:12", "/indexes_rebuilt", R"(["s.idx"])"},
      {"repair s.cat", "", R"({"file": "s.cat", "action": "none"})"},
      {"catalog import c.cat p.csv", "/parts", "2"},
      {"catalog import c.cat p.csv --index c.idx -k PART.NAME:12", "/index", R"("c.idx")"},
  };
  for (const Case &c : cases) {
    const ToolRun r = run(c.args + " --json");
    ASSERT_EQ(r.status, c.status) << c.args << ": " << r.err;
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << c.args << ": " << r.out;
    EXPECT_EQ(doc.at(json::json_pointer(c.pointer)), json::parse(c.expected)) << c.args << ": " << r.out;
  }
}

// Damage and a torn last record in JSON: exit 1 with every place listed;
// repair says what it removed.
TEST_F(JsonOutput, DamageAndRepair) {
  const std::string catalog = read_file(dir_.path("s.cat"));
  write_file(dir_.path("s.cat"), catalog + catalog.substr(0, 30));
  ToolRun r = run("check s.cat --json");
  EXPECT_EQ(r.status, 1);
  const json found = json::parse(r.out);
  EXPECT_EQ(found["damaged"], 1);
  EXPECT_EQ(found["files"][0]["places"][0]["offset"], catalog.size());
  r = run("repair s.cat --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(json::parse(r.out),
            json({{"file", "s.cat"}, {"action", "removed"}, {"offset", catalog.size()}, {"backup", "s.cat.before-repair"}}));
  EXPECT_EQ(read_file(dir_.path("s.cat")), catalog);
}

// What show and get print in JSON, put stores again byte for byte.
TEST_F(JsonOutput, ShownRecordsPutBack) {
  ToolRun r = run("keyed show t.kg 0100 -k PIPE.SIZE:4 --json");
  write_file(dir_.path("shown.json"), r.out);
  ASSERT_EQ(run("keyed put u.kg shown.json -k PIPE.SIZE:4").status, 0);
  EXPECT_EQ(read_file(dir_.path("u.kg")), read_file(dir_.path("t.kg")));
  r = run("parts get g.gp 0");
  write_file(dir_.path("got.json"), r.out);
  ASSERT_EQ(run("parts put h.gp got.json").status, 0);
  EXPECT_EQ(read_file(dir_.path("h.gp")), read_file(dir_.path("g.gp")));
  r = run("parts show g.gp");
  EXPECT_NE(r.out.find("    NPS      2 x 4: 6 blank\n    OD       1 x 8: 168.3\n"), std::string::npos) << r.out;
}

TEST_F(JsonOutput, MistypedNamesAreSuggested) {
  struct Case {
    std::string args, message;
    int status;
  };
  const Case cases[] = {
      {"maint index s.cat n.idx -k PART.NAEM:12",
       "no live record carries the key attribute PART.NAEM; did you mean 'PART.NAME'?", 1},
      {"catalog lsit s.cat", "did you mean 'list'?", 2},
  };
  for (const Case &c : cases) {
    const ToolRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

}  // namespace
