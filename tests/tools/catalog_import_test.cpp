// Catalog import, export and list: typed values from the project schema,
// bytes checked against records laid out by hand, all-or-nothing imports,
// and export then import giving the same catalog byte for byte.
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/layouts.h"
#include "tests/support/support.h"

namespace {

using pcs::test::Attr;
using pcs::test::Group;
using pcs::test::catalog_record;

const char kSchema[] = R"({"format": "pcs-project", "version": 1, "groups": {
  "DIMS": {"rows": "many", "attributes": [{"name": "OD", "type": "R", "length": 8},
                                          {"name": "NPS", "type": "I", "length": 4}]},
  "PART": {"rows": "many", "attributes": [{"name": "NAME", "type": "C", "length": 12}]}}})";

std::string raw(double value) { return std::string(reinterpret_cast<const char *>(&value), 8); }
std::string raw(int value) { return std::string(reinterpret_cast<const char *>(&value), 4); }

// The record of part n as the import must write it: DIMS (NPS, OD) then
// PART (NAME), each group's attributes in name order.
std::string part_record(int n) {
  const std::string name = "P-" + std::to_string(n);
  return catalog_record({{"DIMS", {Attr{"NPS", 1, 4, raw(n)}, Attr{"OD", 2, 8, raw(n + 0.5) + raw(-1e300)}}},
                         {"PART", {Attr{"NAME", 1, 12, name + std::string(12 - name.size(), ' ')}}}});
}

void make_project(const TempDir &dir) {
  write_file(dir.path("schema.json"), kSchema);
  ASSERT_EQ(run_tool(dir, "model import schema.json --project p.db").status, 0);
}

TEST(CatalogImport, ThousandPartsFromCsvAndJsonLinesWithTheSchemasTypes) {
  TempDir dir;
  make_project(dir);
  std::string csv = "PART.NAME,DIMS.NPS,DIMS.OD,DIMS.OD#2\n", jsonl, expected;
  for (int n = 1; n <= 1000; ++n) {
    const std::string name = "P-" + std::to_string(n), od = std::to_string(n) + ".5";
    csv += name + "," + std::to_string(n) + "," + od + ",-1e300\n";
    jsonl += R"({"PART.NAME": ")" + name + R"(", "DIMS.NPS": )" + std::to_string(n) +
             R"(, "DIMS.OD": [)" + od + ", -1e300]}\n";
    expected += part_record(n);
  }
  write_file(dir.path("parts.csv"), csv);
  write_file(dir.path("parts.jsonl"), jsonl);
  ToolRun r = run_tool(dir, "catalog import a.cat parts.csv --project p.db --index a.idx -k PART.NAME:12");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "a.cat: 1000 part(s) imported, " + std::to_string(expected.size()) +
                       " bytes\na.idx: index rebuilt\n");
  EXPECT_EQ(read_file(dir.path("a.cat")), expected);
  EXPECT_EQ(read_file(dir.path("a.idx")).substr(0, 17), "        1000  12\n");
  r = run_tool(dir, "catalog import b.cat parts.jsonl --project p.db");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.path("b.cat")), expected);
  // A second import appends.
  ASSERT_EQ(run_tool(dir, "catalog import b.cat parts.csv --project p.db").status, 0);
  EXPECT_EQ(read_file(dir.path("b.cat")), expected + expected);
}

TEST(CatalogImport, ABadRowAnywhereLeavesTheCatalogUnchanged) {
  TempDir dir;
  make_project(dir);
  const std::string good = "PART.NAME,DIMS.NPS\nA,1\n";
  write_file(dir.path("good.csv"), good);
  ASSERT_EQ(run_tool(dir, "catalog import c.cat good.csv --project p.db").status, 0);
  const std::string before = read_file(dir.path("c.cat"));
  const std::pair<std::string, std::string> csv_cases[] = {
      {good + "B,x\n", "bad.csv: line 3, column 2 (DIMS.NPS): \"x\" is not a 32-bit integer"},
      {good + "B,99999999999\n", "bad.csv: line 3, column 2 (DIMS.NPS): \"99999999999\" is not a 32-bit integer"},
      {good + "ABCDEFGHIJKLM,1\n",
       "bad.csv: line 3, column 1 (PART.NAME): \"ABCDEFGHIJKLM\" has 13 characters, more than the length 12"},
      {good + "B\n", "bad.csv: line 3: 1 fields where the header has 2"},
      {good + ",\n", "bad.csv: line 3: the row has no value (a part needs at least one)"},
      {"PART.NAME,DIMS.WALL\nA,1\n",
       "bad.csv: line 2, column 2 (DIMS.WALL): the project declares no attribute DIMS.WALL; give its "
       "type in the name, as DIMS.WALL:C8, :I4 or :R8"},
      {"PART.NAME,DIMS.ODD\nA,1\n",
       "bad.csv: line 2, column 2 (DIMS.ODD): the project declares no attribute DIMS.ODD (did you mean 'OD'?); "
       "give its type in the name, as DIMS.ODD:C8, :I4 or :R8"},
      {"PART.NAME,DIMZ.OD\nA,1\n",
       "bad.csv: line 2, column 2 (DIMZ.OD): the project declares no group DIMZ (did you mean 'DIMS'?); "
       "give its type in the name, as DIMZ.OD:C8, :I4 or :R8"},
      {"PART.NAME,DIMS.NPS#2\nA,1\n", "bad.csv: line 2, column 2 (DIMS.NPS#2): value 1 of DIMS.NPS is missing"},
      {good + "\"B,1\n", "bad.csv: line 3: a quoted field opened on line 3 never ends"},
      {std::string("PART.NAME,D\0MS.OD\nA,1\n", 22),
       "bad.csv: line 1, column 2: a column name holds a byte that is not a printable ASCII character"},
  };
  for (const auto &[text, message] : csv_cases) {
    write_file(dir.path("bad.csv"), text);
    const ToolRun r = run_tool(dir, "catalog import c.cat bad.csv --project p.db");
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "pcs: " + message) << text;
    EXPECT_EQ(read_file(dir.path("c.cat")), before) << text;
  }
  const std::pair<std::string, std::string> json_cases[] = {
      {"{\"PART.NAME\": 5}", "key \"PART.NAME\": a number where the attribute holds characters (write it as a string)"},
      {"{\"DIMS.OD\": [1, \"x\"]}", "key \"DIMS.OD\", value 2: text where the attribute holds numbers (\"x\")"},
      {"{\"DIMS\": 1}", "key \"DIMS\" is not GROUP.ATTRIBUTE"},
      {"{\"PART.NAME\": \"A\"", "not JSON (the text goes wrong at byte 19)"},
      {"[1]", "not a JSON object {\"GROUP.ATTRIBUTE\": value, ...}"},
      {"{\"DIMS.OD\": 1e999}", "a number too large to read (beyond 1.8e308)"},
  };
  for (const auto &[text, message] : json_cases) {
    write_file(dir.path("bad.jsonl"), "{\"PART.NAME\": \"OK\"}\n\n" + text + "\n");
    const ToolRun r = run_tool(dir, "catalog import c.cat bad.jsonl --project p.db");
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "pcs: bad.jsonl: line 3: " + message) << text;
    EXPECT_EQ(read_file(dir.path("c.cat")), before) << text;
  }
  EXPECT_EQ(run_tool(dir, "catalog import c.cat missing.csv").err,
            "pcs: missing.csv: cannot open the file: No such file or directory\n");
  EXPECT_EQ(run_tool(dir, "catalog import c.cat parts.txt").status, 2);
}

// CSV rows as text can hold them (quotes, commas and line ends inside
// quotes, CRLF lines), rows that fill different columns in turn, and states:
// each checked against records laid out by hand.
TEST(CatalogImport, CsvRowsOfEveryFormAndMix) {
  TempDir dir;
  make_project(dir);
  auto name = [](const std::string &text) { return Group{"PART", {Attr{"NAME", 1, 12, text + std::string(12 - text.size(), ' ')}}}; };
  auto nps = [](int n) { return Group{"DIMS", {Attr{"NPS", 1, 4, raw(n)}}}; };
  const std::pair<std::string, std::string> rows[] = {
      {"A,1,live\n", catalog_record({nps(1), name("A")})},
      {"\"B,\"\"b\"\"\",2,\n", catalog_record({nps(2), name("B,\"b\"")})},
      {",3,deleted\r\n", catalog_record({nps(3)}, 1)},
      {"\"C\nc\",,\n", catalog_record({name("C\nc")})},
      {"\"\",4,\"deleted\"\n", catalog_record({nps(4), name("")}, 1)},
      {"D,\"\",live\n", catalog_record({Group{"DIMS", {Attr{"NPS", 1, 4, "    "}}}, name("D")})},
      {",5,\n", catalog_record({nps(5)})},
      {"E,6,", catalog_record({nps(6), name("E")})},
  };
  std::string csv = "PART.NAME,DIMS.NPS,@state\n", expected;
  for (const auto &[row, record] : rows) csv += row, expected += record;
  write_file(dir.path("mix.csv"), csv);
  const ToolRun r = run_tool(dir, "catalog import m.cat mix.csv --project p.db");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "m.cat: 8 part(s) imported (2 marked deleted), " + std::to_string(expected.size()) + " bytes\n");
  EXPECT_EQ(read_file(dir.path("m.cat")), expected);
  // Faults in rows whose columns an earlier row already filled.
  const std::pair<std::string, std::string> faults[] = {
      {"B,x,\n", "line 3, column 2 (DIMS.NPS): \"x\" is not a 32-bit integer"},
      {"B,2,gone\n", "line 3, column 3 (@state): \"gone\" is neither live nor deleted"},
      {"ABCDEFGHIJKLM,2,live\n", "line 3, column 1 (PART.NAME): \"ABCDEFGHIJKLM\" has 13 characters, more than the length 12"},
      {"\"B\"x,2,\n", "line 3: text after the closing quote of field 1"},
  };
  for (const auto &[row, message] : faults) {
    write_file(dir.path("bad.csv"), "PART.NAME,DIMS.NPS,@state\nA,1,live\n" + row);
    const ToolRun bad = run_tool(dir, "catalog import m.cat bad.csv --project p.db");
    EXPECT_EQ(bad.status, 1) << row;
    EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')), "pcs: bad.csv: " + message) << row;
    EXPECT_EQ(read_file(dir.path("m.cat")), expected) << row;
  }
}

// A record that holds one attribute twice cannot be a part: the export
// names it, whatever the other records.
TEST(CatalogExport, RepeatedAttributeIsDamage) {
  TempDir dir;
  const std::string good = catalog_record({{"PART", {Attr{"NAME", 1, 4, "GOOD"}}}});
  const std::string twice = catalog_record({{"PART", {Attr{"NAME", 1, 4, "ONE "}, Attr{"NAME", 1, 4, "TWO "}}}});
  write_file(dir.path("d.cat"), good + twice);
  for (const std::string format : {"csv", "jsonl"}) {
    const ToolRun r = run_tool(dir, "catalog export d.cat --format " + format);
    EXPECT_EQ(r.status, 1) << format;
    EXPECT_EQ(r.err, "pcs: d.cat: the record at offset " + std::to_string(good.size()) +
                         " is damaged (pcs check shows more)\n")
        << format;
  }
}

TEST(CatalogExport, ExportThenImportGivesTheSameCatalog) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "catalog sample s.cat s.idx").status, 0);
  ASSERT_EQ(run_tool(dir, "catalog delete s.cat s.idx ELBOW-90 -n 2").status, 0);
  // A record with several values, an odd length and a blank real, no schema.
  const std::string odd = catalog_record(
      {{"GEOM", {Attr{"PTS", 3, 8, raw(1.0) + std::string(8, ' ') + raw(2.5)}, Attr{"TAG", 2, 5, "a,b\" c    "}}}});
  write_file(dir.path("s.cat"), read_file(dir.path("s.cat")) + odd);
  const std::string original = read_file(dir.path("s.cat"));
  for (const std::string format : {"csv", "jsonl"}) {
    ToolRun r = run_tool(dir, "catalog export s.cat --state -o out." + format);
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_tool(dir, "catalog import copy-" + format + ".cat out." + format);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.path("copy-" + format + ".cat")), original) << format;
  }
  // Values typed: reals and integers as numbers, the blank real as null.
  ToolRun r = run_tool(dir, "catalog export s.cat --offsets");
  ASSERT_EQ(r.status, 0);
  std::vector<nlohmann::json> lines;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(nlohmann::json::parse(r.out.substr(at, end - at)));
  ASSERT_EQ(lines.size(), 7u);  // the deleted record is left out
  EXPECT_EQ(lines[0]["DIMS.OD:R8"], 114.3);
  EXPECT_EQ(lines[0]["PIPE.NPS:I4"], 4);
  EXPECT_EQ(lines[0]["PART.NAME:C12"], "PIPE");
  EXPECT_EQ(lines[0]["@offset"], 0);
  EXPECT_EQ(lines[6]["GEOM.PTS:R8"], nlohmann::json::parse("[1.0, null, 2.5]"));
  EXPECT_EQ(lines[6]["GEOM.TAG:C5"], nlohmann::json::parse(R"(["a,b\"", "c"])"));
  r = run_tool(dir, "catalog export s.cat --format csv");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "DIMS.OD:R8,DIMS.WALL:R8,ELCATLOG.ELTIME:C16,GEOM.PTS:R8,GEOM.PTS#2,GEOM.PTS#3,GEOM.TAG:C5,GEOM.TAG#2,PART.NAME:C12,"
            "PARTDEF.CATEGORY:C8,PARTDEF.PARTTYPE:C8,PARTNUM.PARTNO:C40,PIPE.NPS:I4,PIPESIZE.SIZE:C8");
  EXPECT_NE(r.out.find("\n,,,1,\"\",2.5,\"a,b\"\"\",c,,,,,,\n"), std::string::npos) << r.out;
}

// A CSV export of records of several layouts (attributes present or not,
// value counts that differ) over more than one 4 MiB read, each line
// checked against text written by hand; a torn last record or a record cut
// short in the middle is named with its offset.
TEST(CatalogExport, CsvOfMixedLayoutsOverLargeReads) {
  TempDir dir;
  std::string catalog, csv = "@offset,DIMS.NPS:I4,PART.NAME:C4,PART.TAGS:C4,PART.TAGS#2\n";
  for (int n = 0; n < 80000; ++n) {
    const std::string offset = std::to_string(catalog.size());
    const std::string name = "N" + std::to_string(n % 1000);
    const std::string padded = name + std::string(4 - name.size(), ' ');
    switch (n % 4) {
      case 0:
        catalog += catalog_record({{"PART", {Attr{"NAME", 1, 4, padded}}}});
        csv += offset + ",," + name + ",,\n";
        break;
      case 1:
        catalog += catalog_record({{"DIMS", {Attr{"NPS", 1, 4, raw(-n)}}}, {"PART", {Attr{"NAME", 1, 4, padded}}}});
        csv += offset + "," + std::to_string(-n) + "," + name + ",,\n";
        break;
      case 2:
        catalog += catalog_record({{"PART", {Attr{"TAGS", 2, 4, "a,b c\"d "}}}});
        csv += offset + ",,,\"a,b\",\"c\"\"d\"\n";
        break;
      default:
        catalog += catalog_record({{"DIMS", {Attr{"NPS", 1, 4, raw(0)}}}, {"PART", {Attr{"TAGS", 1, 4, "x   "}}}});
        csv += offset + ",0,,x,\n";
    }
  }
  ASSERT_GT(catalog.size(), size_t{4} << 20);
  write_file(dir.path("m.cat"), catalog);
  ToolRun r = run_tool(dir, "catalog export m.cat --format csv --offsets -o m.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.path("m.csv")), csv);
  const std::string last = catalog_record({{"PART", {Attr{"NAME", 1, 4, "LAST"}}}});
  std::string cut = catalog_record({{"PART", {Attr{"NAME", 1, 4, "CUT "}}}});
  cut.replace(8, 4, be32(4000));  // its group count lies past the record
  const std::pair<std::string, std::string> damaged[] = {
      {catalog + last.substr(0, 30), "record at offset " + std::to_string(catalog.size()) +
                                         ": the record runs past the end of the file (length word " +
                                         std::to_string(last.size()) + ", 30 bytes present): a torn last record"},
      {catalog + cut + last, "the record at offset " + std::to_string(catalog.size()) +
                                 " is damaged (pcs check shows more)"},
  };
  for (const auto &[bytes, message] : damaged) {
    write_file(dir.path("d.cat"), bytes);
    r = run_tool(dir, "catalog export d.cat --format csv -o d.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pcs: d.cat: " + message + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path("d.csv")));
  }
}

TEST(CatalogList, RecordsWithStateAndKey) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "catalog sample s.cat s.idx").status, 0);
  ASSERT_EQ(run_tool(dir, "catalog delete s.cat s.idx GASKET").status, 0);
  ToolRun r = run_tool(dir, "catalog list s.cat --index s.idx");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "         0      421 live     PIPE        ");
  EXPECT_NE(r.out.find(" deleted  GASKET      \n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "6 live, 1 deleted record(s)\n");
  r = run_tool(dir, "catalog list s.cat -k PART.NAME:12 --json");
  const nlohmann::json all = nlohmann::json::parse(r.out);
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[1]["key"], "ELBOW-90    ");
  EXPECT_EQ(all[1]["offset"], 421);
  EXPECT_EQ(all[5]["state"], "deleted");
  EXPECT_TRUE(all[5]["key"].is_null());
}

}  // namespace
