// The catalog commands: a sample catalog written by the library, its index,
// dumps, lookups, key listing and deletion, and failures naming the file.
#include <nlohmann/json.hpp>

#include "tests/support/support.h"

namespace {

TEST(CatalogCommand, SampleShowLookupKeysDelete) {
  TempDir dir;
  const std::string cat = dir.path("s.cat"), idx = dir.path("s.idx");
  ToolRun r = run_tool(dir, "catalog sample " + cat + " " + idx);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string index = read_file(idx);
  ASSERT_EQ(index.substr(0, 17), "           7  12\n");
  EXPECT_EQ(index.size(), 17u + 7 * 41);
  EXPECT_EQ(index.substr(17, 41), "   2" + index.substr(21, 12) + "          17ELBOW-90    \n");

  r = run_tool(dir, "catalog show " + cat + " 0 --dump");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("group(s)\n*********AttrGroup=DIMS    ***********\n"), std::string::npos)
      << r.out;
  // Values typed: reals and integers as numbers, text without its blanks.
  r = run_tool(dir, "catalog show " + cat + " 0");
  EXPECT_EQ(r.out, "record at offset 0: 421 bytes, 7 group(s)\n"
                   "  DIMS.OD            114.3\n  DIMS.WALL          6.02\n"
                   "  ELCATLOG.ELTIME    P-STD-4\n  PART.NAME          PIPE\n"
                   "  PARTDEF.CATEGORY   PIPE\n  PARTDEF.PARTTYPE   SMLS\n  PARTNUM.PARTNO     P-STD-4\n"
                   "  PIPE.NPS           4\n  PIPESIZE.SIZE      4 IN\n");
  r = run_tool(dir, "catalog show " + cat + " 0 --json");
  const nlohmann::json part = nlohmann::json::parse(r.out);
  EXPECT_EQ(part["part"]["DIMS.WALL:R8"], 6.02);
  EXPECT_EQ(part["part"]["PIPE.NPS:I4"], 4);
  EXPECT_EQ(part["state"], "live");
  r = run_tool(dir, "catalog keys " + idx + " --json");
  const nlohmann::json keys = nlohmann::json::parse(r.out);
  ASSERT_EQ(keys.size(), 6u);
  EXPECT_EQ(keys[0], nlohmann::json::parse(R"({"key": "ELBOW-90    ", "records": 2})"));

  r = run_tool(dir, "catalog keys " + idx);
  EXPECT_EQ(r.out,
            "   2  ELBOW-90    \n   1  FLANGE-WN   \n   1  GASKET      \n   1  PIPE        \n"
            "   1  TEE         \n   1  VALVE-GATE  \n6 key(s)\n");

  r = run_tool(dir, "catalog lookup " + cat + " " + idx + " ELBOW-90");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "key 'ELBOW-90': 2 record(s)");

  r = run_tool(dir, "catalog delete " + cat + " " + idx + " ELBOW-90 -n 2");
  EXPECT_EQ(r.out, "key 'ELBOW-90': marked 1 of 2 record(s) deleted\n");
  r = run_tool(dir, "catalog lookup " + cat + " " + idx + " ELBOW-90");
  EXPECT_NE(r.out.find("part 2, index record at 58: record at offset"), std::string::npos);
  EXPECT_NE(r.out.find("marked deleted\n"), std::string::npos);
  r = run_tool(dir, "catalog lookup " + cat + " " + idx + " ELBOW-90 --json");
  const nlohmann::json found = nlohmann::json::parse(r.out);
  ASSERT_EQ(found["records"].size(), 2u);
  EXPECT_EQ(found["records"][0]["part"]["PARTNUM.PARTNO:C40"], "E90-LR-4");
  EXPECT_EQ(found["records"][1]["state"], "deleted");
  r = run_tool(dir, "catalog delete " + cat + " " + idx + " ELBOW-90 -n 3");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pcs: " + idx + ": key 'ELBOW-90' has no record 3\n");
}

TEST(CatalogCommand, FailuresNameTheFile) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "catalog sample s.cat s.idx").status, 0);
  const std::pair<std::string, std::string> cases[] = {
      {"show s.cat 3", "s.cat: no readable record at offset 3"},
      {"lookup s.cat s.idx NOSUCH", "s.idx: key 'NOSUCH' not found"},
      {"keys s.cat", "s.cat: not an index file (its header does not match its size)"},
      {"keys missing", "missing: cannot open the file: No such file or directory"},
  };
  for (const auto &[args, message] : cases) {
    const ToolRun r = run_tool(dir, "catalog " + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.err, "pcs: " + message + "\n");
  }
  EXPECT_EQ(run_tool(dir, "catalog show s.cat").status, 2);
  // sample replaces a file only with --force, and never its own index.
  write_file(dir.path("s.cat"), "keep");
  EXPECT_EQ(run_tool(dir, "catalog sample s.cat i").status, 1);
  EXPECT_EQ(run_tool(dir, "catalog sample s.cat s.cat --force").status, 1);
  EXPECT_EQ(read_file(dir.path("s.cat")), "keep");
  EXPECT_EQ(run_tool(dir, "catalog sample s.cat i --force").status, 0);
}

// An index left stale by compression marks nothing: each offset a delete
// touches must hold a live record carrying the key asked for. Compression
// refuses to leave it stale silently, and check names it.
TEST(CatalogCommand, StaleIndexMarksNothing) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "catalog sample s.cat s.idx").status, 0);
  ASSERT_EQ(run_tool(dir, "catalog delete s.cat s.idx ELBOW-90 -n 1").status, 0);
  const std::string before = read_file(dir.path("s.cat"));
  ToolRun r = run_tool(dir, "maint compress s.cat");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("give --no-reindex to leave them stale; nothing changed"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(dir.path("s.cat")), before);
  r = run_tool(dir, "maint compress s.cat --no-reindex");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("pcs: warning: ./s.idx is now stale: rebuild it"), std::string::npos)
      << r.err;
  const std::string compressed = read_file(dir.path("s.cat"));
  for (const std::string args : {"GASKET", "GASKET -k PART.NAME:12", "FLANGE-WN", "ELBOW-90"}) {
    r = run_tool(dir, "catalog delete s.cat s.idx " + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find("pcs: s.idx: the index is stale: the record at offset "),
              std::string::npos)
        << args << ": " << r.err;
    EXPECT_NE(r.err.find("nothing changed (rebuild the index with pcs maint index s.cat s.idx"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(dir.path("s.cat")), compressed) << args;
  }
  EXPECT_EQ(run_tool(dir, "catalog delete s.cat s.idx GASKET -k PART.NAME:8").status, 2);
  r = run_tool(dir, "check s.cat s.idx");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("s.idx: offset "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": the index is stale\n"), std::string::npos) << r.out;
  // Rebuilt, the index leads to GASKET again, and only GASKET is marked.
  ASSERT_EQ(run_tool(dir, "maint index s.cat s.idx -k PART.NAME:12").status, 0);
  EXPECT_EQ(run_tool(dir, "check s.cat s.idx").status, 0);
  r = run_tool(dir, "catalog delete s.cat s.idx GASKET -k PART.NAME:12");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_tool(dir, "catalog lookup s.cat s.idx GASKET");
  EXPECT_NE(r.out.find("marked deleted"), std::string::npos) << r.out;
  r = run_tool(dir, "catalog lookup s.cat s.idx VALVE-GATE");
  EXPECT_EQ(r.out.find("marked deleted"), std::string::npos) << r.out;
}

}  // namespace
