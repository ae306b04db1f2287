// The keyed commands: put, replace, list, show, delete and compress a keyed
// group file, and their failures.
#include "tests/support/support.h"

namespace {

struct KeyedCommand : ::testing::Test {
  // Runs `pcs keyed <args>` in the temporary directory; returns the exit code.
  int run(const std::string &args) {
    last = run_tool(dir, "keyed " + args);
    return last.status;
  }
  TempDir dir;
  ToolRun last;
};

TEST_F(KeyedCommand, PutListShowDeleteCompress) {
  write_file(dir.path("a.json"),
             R"([{"group": "PIPE", "attributes": [{"name": "SIZE", "values": ["0100"]},
                 {"name": "SCH", "length": 3, "values": ["40", "XS"]}]},
                {"group": "END", "attributes": [{"name": "TYPE", "values": ["BW"]}]}])");
  write_file(dir.path("b.json"),
             R"([{"group": "PIPE", "attributes": [{"name": "SIZE", "values": ["0050"]}]}])");
  const std::string key = " -k PIPE.SIZE:4";
  ASSERT_EQ(run("put t.kg a.json" + key), 0) << last.err;
  EXPECT_EQ(last.out, "stored \"0100\"\n");
  ASSERT_EQ(run("put t.kg b.json" + key), 0) << last.err;
  ASSERT_EQ(run("put t.kg a.json" + key), 0) << last.err;  // replaces the first record
  ASSERT_EQ(run("list t.kg" + key), 0) << last.err;
  std::string listing = last.out;
  EXPECT_EQ(listing.substr(0, listing.find(" at")), "\"0050\"");
  EXPECT_NE(listing.find("\n\"0100\" at "), std::string::npos);
  ASSERT_EQ(run("show t.kg 0100" + key), 0) << last.err;
  EXPECT_EQ(last.out,
            "group PIPE    \n  SIZE     1 x 4: \"0100\"\n  SCH      2 x 3: \"40 \" \"XS \"\n"
            "group END     \n  TYPE     1 x 2: \"BW\"\n");
  ASSERT_EQ(run("delete t.kg 0050" + key), 0) << last.err;
  EXPECT_EQ(run("show t.kg 0050" + key), 1);
  EXPECT_EQ(last.err, "pcs: t.kg: no record has the key \"0050\"\n");
  size_t before = read_file(dir.path("t.kg")).size();
  ASSERT_EQ(run("compress t.kg"), 0) << last.err;
  EXPECT_LT(read_file(dir.path("t.kg")).size(), before);
  ASSERT_EQ(run("list t.kg" + key), 0) << last.err;
  EXPECT_EQ(last.out, "\"0100\" at 0\n");
  EXPECT_EQ(run("list t.kg -k PIPE.SIZE"), 2);
  EXPECT_EQ(run("list absent.kg" + key), 1);
  EXPECT_EQ(run("put t.kg absent.json" + key), 1);
  EXPECT_EQ(run("put t.kg a.json -k PIPE.SIZE:3"), 1);  // a key attribute of the wrong size
}

}  // namespace
