// `pcs spec` on the demo's specification: the selected parts against a
// brute-force comparison of tests/query/brute_force.h, the
// explanation of one part, JSON output and the failures in words.
#include <algorithm>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tests/query/brute_force.h"
#include "tests/support/support.h"
#include "tests/tools/demo_fixture.h"

namespace {

namespace model = pcs::host::model;
using pcs::bruteforce::attribute;
using pcs::bruteforce::value;

using SpecCommand = DemoProject;

TEST_F(SpecCommand, SelectsWhatTheBruteForceSelects) {
  ToolRun r = run_tool(dir_, args("parts DEMO --json"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::vector<std::string>> selected;
  const nlohmann::json out = nlohmann::json::parse(r.out);
  for (const auto &entry : out["entries"])
    for (const auto &q : entry["queries"]) {
      auto parts = q["parts"].get<std::vector<std::string>>();
      std::sort(parts.begin(), parts.end());
      selected[entry["entry"].get<std::string>() + " " + q["size"].get<std::string>()] = parts;
    }

  ASSERT_RC(0, model::load(dir_.path("d/project.db")));
  std::vector<CgGroup *> catalog;
  FILE *file = std::fopen(dir_.path("d/SPECPART").c_str(), "rb");
  for (int position = 0, length = 0, rc = 0;; position += length) {
    CgGroup *part = nullptr;
    cggget(&file, &position, &length, &part, &rc);
    if (rc != 0) break;
    catalog.push_back(part);
  }
  std::fclose(file);
  ASSERT_EQ(catalog.size(), 11u);
  std::map<std::string, std::vector<std::string>> expected;
  for (const auto &[handle, object] : model::data().objects) {
    if (object.name.rfind("DEMO ", 0) != 0) continue;
    int owner = model::data().find_object("PSPEC", "DEMO")->handle, entries = 0, parts = 0;
    int rc = 0, count = 0, size = 4, none = 0, spare = 0;
    gusini(&size, &entries, &rc);
    guspus(&entries, &handle, &count, &rc);
    cgqfill(&owner, nullptr, &none, &entries, &parts, &rc);
    ASSERT_RC(0, rc);
    for (const std::string &e : model::stack_entries(parts)) {
      CgGroup *query;
      std::memcpy(&query, e.data(), sizeof query);
      auto &list = expected[object.name.substr(5) + " " + value(attribute(query, "PIPESIZE", "SIZE    "))];
      for (CgGroup *part : catalog)
        if (pcs::bruteforce::same_key(query, part) && pcs::bruteforce::selects(query, part))
          list.push_back(value(attribute(part, "PARTNUM ", "PARTNO  ")));
      cggfre(query);
    }
    gusend(&entries, &spare);
    gusend(&parts, &spare);
  }
  for (CgGroup *part : catalog) cggfre(part);
  EXPECT_EQ(selected, expected);
  EXPECT_EQ(selected["ELBOW 3"], (std::vector<std::string>{"ELL-3-40", "ELL-3-STD"}));
}

TEST_F(SpecCommand, ExplainsOneDecision) {
  EXPECT_NE(demo_.find("ELBOW      3        ELL-3-40, ELL-3-STD\n"), std::string::npos) << demo_;
  EXPECT_NE(demo_.find("          SCH       1  40         80         yes      "
                       "T[1][present][present] = compare   UNEQUAL\n"),
            std::string::npos)
      << demo_;
  ToolRun r = run_tool(dir_, args("explain DEMO ELBOW 3 ELL-3-STD --json"));
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json e = nlohmann::json::parse(r.out);
  EXPECT_TRUE(e["selected"].get<bool>());
  const auto &sch = e["groups"][1]["attributes"][1];
  EXPECT_EQ(sch["name"], "SCH");
  EXPECT_EQ(sch["values"][0]["cell"], "T[1][empty][present] = equal");
  r = run_tool(dir_, args("explain DEMO ELBOW 2 ELL-2-40"));
  EXPECT_NE(r.out.find("sizes within the query's limits: NO; selected: no"), std::string::npos)
      << r.out;

  struct Case {
    std::string command, message;
  };
  const Case cases[] = {
      {args("parts NOSPEC"), "the project has no piping specification \"NOSPEC\""},
      {args("explain DEMO VALVE 3 GATE-3"), "specification DEMO has no entry \"VALVE\""},
      {args("explain DEMO ELBOW 8 ELL-3-40"), "entry ELBOW has no query part of size 8"},
      {args("explain DEMO ELBOW 3 NOPART"), "no catalog part numbered NOPART"},
      {args("parts DEMX"), "no piping specification \"DEMX\"; did you mean 'DEMO'?"},
      {args("explain DEMO ELBWO 3 X"), "has no entry \"ELBWO\"; did you mean 'ELBOW'?"},
      {args("explain DEMO ELBOW 33 X"), "of size 33; did you mean '3'?"},
      {"model show PSPEC DEMX --project " + dir_.path("d/project.db"), "named DEMX; did you mean 'DEMO'?"},
      {"spec parts DEMO --project " + dir_.path("d/project.db") + " --parts " + dir_.path("none"),
       "cannot open the generic part file"},
  };
  for (const Case &c : cases) {
    r = run_tool(dir_, c.command);
    EXPECT_EQ(r.status, 1) << c.command;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST_F(SpecCommand, PrintsQueryPartsAsTextAndJson) {
  ToolRun r = run_tool(dir_, "spec queries DEMO --project " + dir_.path("d/project.db"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("entry ELBOW: 3 query parts\n  query part 1, size 2\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("    ENDSPEC   yes       RATG      - | - | - | -\n"
                       "                        SCH       40* | - | - | -\n"),
            std::string::npos)
      << r.out;
  r = run_tool(dir_, "spec queries DEMO --json --project " + dir_.path("d/project.db"));
  const nlohmann::json q = nlohmann::json::parse(r.out);
  EXPECT_EQ(q["entries"][0]["parts"].size(), 4u);
  const auto &elclass = q["entries"][1]["parts"][0]["groups"][8];
  EXPECT_EQ(elclass["name"], "ELCLASS");
  EXPECT_EQ(elclass["compared"], false);
  EXPECT_EQ(elclass["attributes"][0]["values"][0], "ELBOW");
}

// Parts written one by one with `parts put` (the demo's catalog parts, the
// first twice) go through every command that reads or writes through an
// index: index, delete, selection, merge and fold.
TEST_F(SpecCommand, PutPartsServeIndexDeleteSelectMergeAndFold) {
  const std::string project = " --project " + dir_.path("d/project.db");
  ToolRun r = run_tool(dir_, "parts show " + dir_.path("d/SPECPART") + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<int> positions;
  for (const auto &record : nlohmann::json::parse(r.out))
    if (record["state"] == "live") positions.push_back(record["position"].get<int>());
  positions.push_back(positions.front());
  for (int position : positions) {
    r = run_tool(dir_, "parts get " + dir_.path("d/SPECPART") + " " + std::to_string(position));
    ASSERT_EQ(r.status, 0) << r.err;
    write_file(dir_.path("p.json"), r.out);
    ASSERT_EQ(run_tool(dir_, "parts put s.gp p.json" + project).status, 0);
  }
  const std::string select = "spec parts DEMO" + project + " --parts " + dir_.path("s.gp");
  const struct {
    std::string command, out;
  } steps[] = {
      {"maint index s.gp s.idx -k PARTNUM.PARTNO:40", "records read: 12, duplicates: 1, deleted: 0"},
      {select, "ELBOW      3        ELL-3-40, ELL-3-STD\n"},
      {"catalog delete s.gp s.idx ELL-3-40 -k PARTNUM.PARTNO:40", "marked 1 of 1 record(s) deleted"},
      {select, "ELBOW      3        ELL-3-STD\n"},
      {"maint merge s.gp --key-length 40 --dry-run" + project, "duplicates: 1, deleted: 0"},
      {"maint merge s.gp --key-length 40" + project, "duplicates: 1, deleted: 1"},
      {select, "PIPE       2        PIPE-2-40\n"},
      {"maint index s.gp s.idx -k PARTNUM.PARTNO:40", "records read: 10, duplicates: 0, deleted: 2"},
      {"parts fold " + dir_.path("d/SPECPART") + " s.gp s.idx new.gp dup.gp", "new parts in new.gp"},
  };
  for (const auto &step : steps) {
    r = run_tool(dir_, step.command);
    EXPECT_EQ(r.status, 0) << step.command << ": " << r.err;
    EXPECT_NE(r.out.find(step.out), std::string::npos) << step.command << ": " << r.out;
  }
  // The one part deleted from s.gp is new to it; the other ten are duplicates.
  r = run_tool(dir_, "parts show new.gp --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json fresh = nlohmann::json::parse(r.out);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_NE(fresh[0].dump().find("ELL-3-40"), std::string::npos);
  r = run_tool(dir_, "parts show dup.gp --json");
  EXPECT_EQ(nlohmann::json::parse(r.out).size(), 20u);
}

}  // namespace
