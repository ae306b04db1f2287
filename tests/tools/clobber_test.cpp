// Every writing command of `pcs`, found by walking the program's own command
// tree, refuses to write over one of its inputs (also through a symlink, a
// hard link or ".."), replaces an unrelated file only with --force, and
// leaves the old file when it fails.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/support.h"

namespace {

// The subcommands `pcs <path> --help` lists.
std::vector<std::string> subcommands(const TempDir &dir, const std::string &path) {
  const ToolRun r = run_tool(dir, path + " --help");
  std::istringstream lines(r.out);
  std::vector<std::string> names;
  bool listing = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == "Subcommands:" || line == "SUBCOMMANDS:") listing = true;
    else if (line.empty()) listing = false;
    else if (listing && line.rfind("  ", 0) == 0) names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

// Every command that takes no subcommand, as "family command".
void leaves(const TempDir &dir, const std::string &path, std::vector<std::string> *found) {
  const std::vector<std::string> names = subcommands(dir, path);
  if (names.empty() && !path.empty()) found->push_back(path);
  for (const std::string &name : names) leaves(dir, path.empty() ? name : path + " " + name, found);
}

// How a command is tried: with an output that is one of its inputs, and the
// file that must stay as it was. Commands that write nothing, or change only
// the one file they are given, have no such call (empty args).
struct Case {
  std::string args;
  std::string kept;
};

const std::map<std::string, Case> &cases() {
  static const std::map<std::string, Case> all = {
      {"catalog sample", {"catalog sample s.cat s.cat --force", "s.cat"}},
      {"catalog show", {}},
      {"catalog lookup", {}},
      {"catalog keys", {}},
      {"catalog delete", {"catalog delete s.cat s.cat PIPE", "s.cat"}},
      {"maint index", {"maint index s.cat s.cat -k PART.NAME:12 --force", "s.cat"}},
      {"maint reindex", {"maint reindex --kind 0 --project s.cat", "s.cat"}},
      {"maint merge",
       {"maint merge s.cat --project s.cat --group PART --attribute NAME --key-length 12",
        "s.cat"}},
      {"maint compress", {"maint compress s.cat --index s.cat=PART.NAME:12 --force", "s.cat"}},
      {"maint split-dump", {"maint split-dump T1 . --force", "T1"}},
      {"parts put", {"parts put p.gp p.gp", "p.gp"}},
      {"parts get", {}},
      {"parts show", {}},
      {"parts fold", {"parts fold p.gp ref.gp ref.idx ref.gp", "ref.gp"}},
      {"keyed list", {}},
      {"catalog import", {"catalog import s.cat s.cat --format csv", "s.cat"}},
      {"catalog export", {"catalog export s.cat -o s.cat --force", "s.cat"}},
      {"catalog list", {}},
      {"help", {}},
      {"completion", {}},  // reads no file
      {"man", {}},         // reads no file; writes its pages into the folder given
      {"model init", {"model init --project project.db", "project.db"}},
      {"spec coverage", {"spec coverage S --project project.db --parts p.gp --html p.gp --force", "p.gp"}},
      {"keyed show", {}},
      {"keyed put", {"keyed put k.kg k.kg -k PIPE.SIZE:4", "k.kg"}},
      {"keyed delete", {}},
      {"keyed compress", {}},
      {"model export", {"model export --project project.db -o project.db --force", "project.db"}},
      {"model import", {"model import project.db --project project.db", "project.db"}},
      {"model show", {}},
      {"tables convert", {"tables convert weld w.dmp w.dmp --force", "w.dmp"}},
      {"tables load", {"tables load weld project.db", "project.db"}},
      {"tables standard", {"tables standard project.db --standard S", "project.db"}},
      {"tables functions", {"tables functions project.db", "project.db"}},
      {"tables classmap", {"tables classmap D/CLASSMAP D --force", "D/CLASSMAP"}},
      {"tables classes", {"tables classes project.db --standard S", "project.db"}},
      {"tables rename", {"tables rename w.dmp ./w.dmp --force", "w.dmp"}},
      {"spec queries", {}},
      {"spec parts", {}},
      {"spec explain", {}},
      {"query lookup", {}},
      {"record-demo", {}},
      {"demo", {}},  // writes only the files of its own folder (see its test)
      {"check", {}},
      {"repair", {}},  // changes its one file in place, after a backup
  };
  return all;
}

class WritingCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(run("catalog sample s.cat s.idx"), 0) << last_.err;
    write_file(dir_.path("p.json"),
               R"([{"group": "PARTNUM", "attributes": [{"name": "PARTNO", "length": 8, "values": ["P-1"]}]}])");
    ASSERT_EQ(run("parts put p.gp p.json"), 0) << last_.err;
    ASSERT_EQ(run("parts put ref.gp p.json"), 0) << last_.err;
    write_file(dir_.path("ref.idx"), "           1   8\n   1           0          17P-1     \n");
    ASSERT_EQ(run("model import " + std::string(PCS_SOURCE_DIR) +
                  "/docs/example-project.json --project project.db"),
              0)
        << last_.err;
    write_file(dir_.path("k.kg"), "keep");
    write_file(dir_.path("w.dmp"), "WELDHEAD\nWELDNTRY BW S 2 1.5 2.5 FW 3.0 4.0 GW\nCTFTBEN\n");
    write_file(dir_.path("T1"), std::string(12, ' ') + "HEAD" + std::string(60, ' ') + "\n" +
                                    std::string(9, ' ') + "T1" + std::string(60, ' ') + "\n");
    std::filesystem::create_directory(dir_.path("D"));
    write_file(dir_.path("D/CLASSMAP"), "keep");
  }
  int run(const std::string &args) {
    last_ = run_tool(dir_, args);
    return last_.status;
  }
  TempDir dir_;
  ToolRun last_;
};

TEST_F(WritingCommands, NoCommandWritesOverItsInput) {
  std::vector<std::string> found;
  leaves(dir_, "", &found);
  ASSERT_GT(found.size(), 30u);
  for (const std::string &command : found) {
    const auto it = cases().find(command);
    if (it == cases().end()) {
      ADD_FAILURE() << "pcs " << command << ": add it to the cases with an output that is an input";
      continue;
    }
    if (it->second.args.empty()) continue;
    const std::string kept = dir_.path(it->second.kept), before = read_file(kept);
    EXPECT_NE(run(it->second.args), 0) << it->second.args;
    EXPECT_EQ(read_file(kept), before) << it->second.args << "\n" << last_.err;
    EXPECT_NE(last_.err, "") << it->second.args;
  }
  for (const auto &[command, c] : cases())
    EXPECT_NE(std::find(found.begin(), found.end(), command), found.end())
        << "no command \"" << command << "\" any more";
}

// The same file by other names, and files the command did not make.
TEST_F(WritingCommands, OtherNamesOfTheInputAndExistingFiles) {
  std::filesystem::create_symlink("w.dmp", dir_.path("link.dmp"));
  ASSERT_EQ(link(dir_.path("w.dmp").c_str(), dir_.path("hard.dmp").c_str()), 0);
  const std::string dump = read_file(dir_.path("w.dmp"));
  for (const std::string output : {"link.dmp", "hard.dmp", "D/../w.dmp", "./w.dmp"}) {
    EXPECT_EQ(run("tables convert weld w.dmp " + output + " --force"), 1) << output;
    EXPECT_NE(last_.err.find(": this is the input w.dmp itself: it would be overwritten"),
              std::string::npos)
        << last_.err;
    EXPECT_EQ(read_file(dir_.path("w.dmp")), dump) << output;
  }
  // An unrelated existing file is replaced only with --force; a failing
  // conversion leaves it and no temporary file behind.
  write_file(dir_.path("branch.dmp"), "mine");
  EXPECT_EQ(run("tables convert weld w.dmp branch.dmp"), 1);
  EXPECT_EQ(last_.err, "pcs: branch.dmp: the file exists; give --force to replace it\n");
  EXPECT_EQ(run("tables convert branch w.dmp branch.dmp --force"), 1);
  EXPECT_EQ(read_file(dir_.path("branch.dmp")), "mine");
  const std::vector<std::string> files = list_dir(dir_);
  for (const std::string &name : files) EXPECT_EQ(name.find(".pcs"), std::string::npos) << name;
  ASSERT_EQ(run("tables convert weld w.dmp branch.dmp --force"), 0) << last_.err;
  EXPECT_EQ(last_.out, "wrote branch.dmp: 2 line(s)\n");
  EXPECT_EQ(read_file(dir_.path("branch.dmp")).substr(0, 3), "BW,");
  // The class map goes beside an existing CLASSMAP only with --force.
  EXPECT_EQ(run("tables classmap w.dmp D"), 1);
  EXPECT_EQ(last_.err, "pcs: D/CLASSMAP: the file exists; give --force to replace it\n");
  EXPECT_EQ(read_file(dir_.path("D/CLASSMAP")), "keep");
  // The exported model replaces an existing file only with --force.
  write_file(dir_.path("model.json"), "mine");
  EXPECT_EQ(run("model export --project project.db -o model.json"), 1);
  EXPECT_EQ(read_file(dir_.path("model.json")), "mine");
  ASSERT_EQ(run("model export --project project.db -o model.json --force"), 0) << last_.err;
  EXPECT_EQ(read_file(dir_.path("model.json")).substr(0, 1), "{");
  // The fold's new-parts file keeps the parts it had.
  const std::string fresh = read_file(dir_.path("p.gp"));
  write_file(dir_.path("p.json"),
             R"([{"group": "PARTNUM", "attributes": [{"name": "PARTNO", "length": 8, "values": ["P-2"]}]}])");
  ASSERT_EQ(run("parts put src.gp p.json"), 0) << last_.err;
  ASSERT_EQ(run("parts fold src.gp ref.gp ref.idx p.gp"), 0) << last_.err;
  EXPECT_EQ(read_file(dir_.path("p.gp")), fresh + read_file(dir_.path("src.gp")));
}

}  // namespace
