// Failures across the commands: a wrong command line exits 2, a failed
// operation 1, and the message names the file and the cause in words.
#include "tests/support/support.h"

namespace {

TEST(CommandFailures, ExitCodesAndMessages) {
  TempDir dir;
  ASSERT_EQ(run_tool(dir, "catalog sample s.cat s.idx").status, 0);
  write_file(dir.path("k.json"), R"([{"group": "PIPE", "attributes": [{"name": "SIZE", "values": ["0100"]}]}])");
  ASSERT_EQ(run_tool(dir, "keyed put t.kg k.json -k PIPE.SIZE:4").status, 0);
  write_file(dir.path("bad.json"), "[{\"group\": \"PIPE\",\n  \"attributes\": [}]");
  write_file(dir.path("nogroup.json"), R"([{"attributes": []}])");
  write_file(dir.path("long.json"), R"([{"group": "P", "attributes": [{"name": "S", "length": 5000, "values": ["1"]}]}])");
  write_file(dir.path("real.json"), R"([{"group": "P", "attributes": [{"name": "S", "length": 1e10, "values": ["1"]}]}])");
  write_file(dir.path("huge.json"), R"([{"group": "P", "attributes": [{"name": "S", "length": 1e999}]}])");
  struct Case {
    std::string args;
    int status;
    std::string message;  // a part of standard error
  };
  const Case cases[] = {
      {"check absent.cat", 1, "absent.cat: cannot open the file: No such file or directory"},
      {"check s.idx", 2, "s.idx: an index is checked against its catalog"},
      {"check s.cat -k PIPE.SIZE", 2, "key field \"PIPE.SIZE\" is not GROUP.ATTR:LENGTH"},
      {"repair absent.cat", 1, "pcs: absent.cat: cannot open the file: No such file or directory"},
      {"keyed list absent.kg -k PIPE.SIZE:4", 1, "absent.kg: no such file"},
      {"keyed show t.kg 0200 -k PIPE.SIZE:4", 1, "t.kg: no record has the key \"0200\""},
      {"keyed put t.kg absent.json -k PIPE.SIZE:4", 1,
       "absent.json: cannot open the description: No such file or directory"},
      {"keyed put t.kg bad.json -k PIPE.SIZE:4", 1,
       "bad.json: the description is not JSON: the text goes wrong at line 2, column 18"},
      {"keyed put t.kg nogroup.json -k PIPE.SIZE:4", 1, "nogroup.json: bad description: key 'group' not found"},
      {"keyed put t.kg long.json -k PIPE.SIZE:4", 1, "long.json: bad description: a length outside 0..4096"},
      {"keyed put t.kg real.json -k PIPE.SIZE:4", 1, "real.json: bad description: a length that is not a whole number"},
      {"keyed put t.kg huge.json -k PIPE.SIZE:4", 1,
       "huge.json: the description holds a number too large to read (beyond 1.8e308)"},
      {"parts show absent.gp", 1, "absent.gp: cannot open the generic part file: No such file"},
      {"parts put g.gp bad.json", 1, "bad.json: the part file is not JSON: the text goes wrong at line 2"},
      {"maint index absent.cat i -k PART.NAME:12", 1, "absent.cat: no such file"},
      {"maint merge s.cat --key-length 99", 2, "the key length must be 1 to 63"},
      {"maint compress s.cat", 1, "no index of it is known to rebuild"},
      {"catalog show s.cat 5", 1, "s.cat: no readable record at offset 5"},
      {"catalog keys s.cat", 1, "s.cat: not an index file"},
      {"catalog lookup s.cat s.idx NOKEY", 1, "s.idx: key 'NOKEY' not found"},
      {"catalog show s.cat", 2, "offset"},
      {"catalog lsit s.cat", 2, "did you mean 'list'?"},
  };
  for (const Case &c : cases) {
    const ToolRun r = run_tool(dir, c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

}  // namespace
