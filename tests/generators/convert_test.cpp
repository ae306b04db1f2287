// The line splitters against tables of lines and fields, and the dump
// converters' output bytes and result codes.
#include <vector>

#include "common/fileio.h"
#include "generators/generators.h"
#include "tests/support/support.h"

namespace {

using Strings = std::vector<std::string>;
namespace gen = pcs::generators;

// The fields up to the last non-empty one; the rest must be empty.
Strings split(void (*splitter)(const char *, gen::Fields), const std::string &line) {
  gen::Fields fields;
  std::memset(fields, 'x', sizeof fields);
  splitter(line.c_str(), fields);
  Strings out(fields, fields + gen::kFields);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::string numbers(int n, const char *separator) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += std::to_string(i) + separator;
  return text;
}

TEST(Splitters, DumpAndCsvLines) {
  const std::string long_keyword(80, 'K');
  Strings nineteen;
  for (int i = 1; i <= 19; ++i) nineteen.push_back(std::to_string(i));
  const auto dump = gen::SplitDumpLine, csv = gen::SplitCsvLine;
  const struct {
    void (*splitter)(const char *, gen::Fields);
    std::string line;
    Strings fields;
  } cases[] = {
      {dump, "WELDNTRY A1 F 2\n", {"WELDNTRY", "A1", "F", "2"}},
      {dump, "  BRNCNTRY A,B, C\n", {"BRNCNTRY", "A", "B", "C"}},
      {dump, "X A,,B\n", {"X", "A", "", "B"}},
      {dump, "X A ,B\n", {"X", "A", "", "B"}},
      {dump, "WELDNTRY\n", {"WELDNTRY\n"}},
      {dump, "X " + std::string(69, 'a') + "bcd efg\n", {"X", std::string(69, 'a') + "b"}},
      {dump, long_keyword + " A\n", {long_keyword}},
      {dump, "X " + numbers(20, " "), {"X", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                       "11", "12", "13", "14", "15", "16", "17", "18"}},
      {csv, "a,,b,\n", {"a", "", "b"}},
      {csv, "\n", {}},
      {csv, " x , y,\n", {" x ", " y"}},
      {csv, numbers(20, ",") + "\n", nineteen},
      {csv, std::string(255, 'v'), {std::string(255, 'v')}},
  };
  for (const auto &c : cases) EXPECT_EQ(split(c.splitter, c.line), c.fields) << c.line;
}

TEST(Splitters, EncodedEntries) {
  const struct {
    std::string line, name, code, description;
  } cases[] = {
      {"  XYZ ABC  ,  it's a|test\n", "XYZ", "ABC  ", "its atest"},
      {"NAME CODE\n", "NAME", "CODE\n", ""},
      {"abc 123\n", "", "", ""},
      {"T ,desc\r\n", "T", "", "desc"},
      {"T C," + std::string(50, 'x'), "T", "C", std::string(40, 'x')},
  };
  for (const auto &c : cases) {
    char name[256], code[256], description[256];
    gen::SplitEncodedEntry(c.line.c_str(), name, code, description);
    EXPECT_EQ(Strings({name, code, description}), Strings({c.name, c.code, c.description})) << c.line;
  }
}

class Converters : public HostTest {
 protected:
  std::string dump(const std::string &name, const std::string &text) {
    write_file(dir_.path(name), text);
    return dir_.path(name);
  }
  TempDir dir_;
  std::string out_ = dir_.path("out");
  int rc_ = 0;
};

TEST_F(Converters, WeldBranchAndEndStyleLines) {
  cgwtcr(dump("w", "junk\n WELDHEAD x\nWELDNTRY BW S 2 1.5 2.5 FW 3.0 4.0 GW\nNOTE\n"
                   "WELDNTRY SW F 1 1 2 X\nWELDNTRY XX Q -3 1 2 3\nWELDNTRY ZZ Q zz 1 2 3\nWELDNTRY XX Q -99999999999999999999 1 2 3\n"
                   "WELDNTRY YY Q 99 " + numbers(15, " ") + "\nCTFTBEN\nWELDNTRY AA S 1 1 1 1\n").c_str(),
         out_.c_str(), &rc_);
  EXPECT_RC(0, rc_);
  EXPECT_EQ(read_file(out_), "BW,BW,1.5,2.5,SHOP,FW,\nBW,BW,3.0,4.0,SHOP,GW,\nSW,SW,1,2,FIELD,X,\n"
                             "YY,YY,1,2,Q,3,\nYY,YY,4,5,Q,6,\nYY,YY,7,8,Q,9,\nYY,YY,10,11,Q,12,\n"
                             "YY,YY,13,14,Q,15,\n");
  cgbtcr(dump("b", "BRNCHEAD\nBRNCNTRY A B C D E F\nBRNCNTRYX 1 2\nCTFTBEN\n").c_str(), out_.c_str(), &rc_);
  EXPECT_EQ(read_file(out_), "A,B,F,C,D,E,\n1,2,,,,,\n");
  cgcmptcr(dump("e", "ESTYHEAD\nESTYNTRY x y\nCTFTBEN\n").c_str(), out_.c_str(), "ANSI", &rc_);
  EXPECT_EQ(read_file(out_), "End Style,ANSI,x,ANSI,y,\n");
  cgcmptcr(dump("e", "ESTYHEAD\nESTYNTRY x y\nCTFTBEN\n").c_str(), out_.c_str(), "LONGSTANDARD", &rc_);
  EXPECT_EQ(read_file(out_), "End Style,LONGSTAN,x,LONGSTAN,y,\n");
  EXPECT_RC(0, rc_);
}

TEST_F(Converters, PipeDimensionsJoinBySize) {
  const std::string od = dump("od", "PIODHEAD\nPIODNTRY 2 60.3\nPIODNTRY 4 114.3\nPIODNTRY 2 99\nCTFTBEN\n");
  const std::string wall = dump("wt", "PITHHEAD\nPITHNTRY 2 40 3.91\nPITHNTRY 3 80 5.49 7\nCTFTBEN\n");
  cgpdtcr(wall.c_str(), od.c_str(), out_.c_str(), &rc_);
  EXPECT_RC(0, rc_);
  EXPECT_EQ(read_file(out_), "2,,60.3,,\n4,,114.3,,\n2,,99,,\n2,40,60.3,3.91,\n3,80,7,5.49,\n");
  sweep_allocations([&](long) {
    int rc = 0;
    cgpdtcr(wall.c_str(), od.c_str(), out_.c_str(), &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GUS_NO_MEMORY) << rc;
  });
}

TEST_F(Converters, EncodedTablesAppendOneFilePerTable) {
  const std::string d = dump("enc", "x\nMATHEAD\nPNAMNTRY P1, Pipe\nENDNTRY BW, Butt weld\n"
                                    "PNAMNTRY P2, O'Ring|x\nENDNTRY nocomma\nCTFTBEN\nPNAMNTRY P3, z\n");
  for (int run = 0; run < 2; ++run) cgencdec(d.c_str(), dir_.root().c_str(), &rc_);
  EXPECT_RC(0, rc_);
  EXPECT_EQ(read_file(dir_.path("PNAMNTRY")), "P1,Pipe\nP2,ORingx\nP1,Pipe\nP2,ORingx\n");
  EXPECT_EQ(read_file(dir_.path("ENDNTRY")), "BW,Butt weld\nBW,Butt weld\n");
  sweep_allocations([&](long) {
    int rc = 0;
    cgencdec(d.c_str(), dir_.root().c_str(), &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY) << rc;
  });
}

TEST_F(Converters, ResultCodes) {
  const std::string weld = dump("w", "WELDHEAD\nWELDNTRY BW S 1 1 2 X\n");  // no end line
  const std::string nohead = dump("n", "WELDNTRY BW S 1 1 2 X\n");
  const std::string enc = dump("enc", "GEOHEAD\nPNAMNTRY P1, Pipe\nCTFTBEN\n");
  const std::string od = dump("od", "PIODHEAD\nPIODNTRY 2 60.3\nCTFTBEN\n");
  const std::string missing = dir_.path("missing"), nodir = dir_.path("no/out");
  const std::string deep = dir_.root() + "/" + std::string(250, 'd');
  const struct {
    std::function<void(int *)> call;
    int rc;
  } cases[] = {
      {[&](int *rc) { cgwtcr(weld.c_str(), out_.c_str(), rc); }, PCS_INPUT_ENDED},
      {[&](int *rc) { cgbtcr(nohead.c_str(), out_.c_str(), rc); }, PCS_INPUT_ENDED},
      {[&](int *rc) { cgwtcr(missing.c_str(), out_.c_str(), rc); }, PCS_CANNOT_OPEN},
      {[&](int *rc) { cgcmptcr(weld.c_str(), nodir.c_str(), "S", rc); }, PCS_CANNOT_OPEN},
      {[&](int *rc) { cgpdtcr(missing.c_str(), od.c_str(), out_.c_str(), rc); }, PCS_CANNOT_OPEN},
      {[&](int *rc) { cgpdtcr(od.c_str(), nohead.c_str(), out_.c_str(), rc); }, PCS_INPUT_ENDED},
      {[&](int *rc) { cgencdec(enc.c_str(), deep.c_str(), rc); }, PCS_PATH_TOO_LONG},
      {[&](int *rc) { cgencdec(enc.c_str(), nodir.c_str(), rc); }, PCS_CANNOT_OPEN},
      {[&](int *rc) { cgencdec(nohead.c_str(), out_.c_str(), rc); }, PCS_INPUT_ENDED},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    write_file(out_, "keep");
    int rc = 0;
    cases[i].call(&rc);
    EXPECT_RC(cases[i].rc, rc);
    EXPECT_EQ(read_file(out_), "keep");  // a failed run leaves the old file
  }
  // A write that falls short leaves the old file too.
  pcs::io::test_fail_write(2);
  int rc = 0;
  cgwtcr(dump("w2", "WELDHEAD\nWELDNTRY BW S 3 1 2 X 3 4 Y 5 6 Z\nCTFTBEN\n").c_str(), out_.c_str(), &rc);
  EXPECT_RC(PCS_SHORT_WRITE, rc);
  EXPECT_EQ(read_file(out_), "keep");
}

}  // namespace
