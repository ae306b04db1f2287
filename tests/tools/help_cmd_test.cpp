// Help around the command tree: mistyped commands named with suggestions,
// exit codes, `pcs help`, completion scripts that list every command of the
// tree (read from the help texts, so a new command cannot be missed), man
// pages, and `pcs model init`.
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>

#include "tests/support/support.h"

namespace {

// The subcommands a help text lists under "Subcommands:".
std::vector<std::string> listed_subcommands(const std::string &help) {
  std::vector<std::string> names;
  size_t at = help.find("Subcommands:\n");
  if (at == std::string::npos) return names;
  for (at = help.find('\n', at) + 1; at < help.size() && help.compare(at, 2, "  ") == 0;
       at = help.find('\n', at) + 1) {
    const size_t start = help.find_first_not_of(' ', at);
    names.push_back(help.substr(start, help.find(' ', start) - start));
  }
  return names;
}

// Every command path below `path`, from the help texts.
void command_tree(const TempDir &dir, const std::string &path, std::vector<std::string> *paths) {
  const ToolRun r = run_tool(dir, path + " --help");
  for (const std::string &name : listed_subcommands(r.out)) {
    const std::string sub = path.empty() ? name : path + " " + name;
    paths->push_back(sub);
    command_tree(dir, sub, paths);
  }
}

TEST(HelpCommand, CompletionListsEveryCommandOfTheTree) {
  TempDir dir;
  std::vector<std::string> paths;
  command_tree(dir, "", &paths);
  ASSERT_GT(paths.size(), 30u);
  const std::string bash = run_tool(dir, "completion bash").out, zsh = run_tool(dir, "completion zsh").out;
  for (const std::string &path : paths) {
    const size_t space = path.rfind(' ');
    const std::string parent = space == std::string::npos ? "" : path.substr(0, space);
    const std::string name = path.substr(space == std::string::npos ? 0 : space + 1);
    for (const std::string *script : {&bash, &zsh}) {
      // The parent's line offers the command, and the command has its own line.
      const size_t line = script->find("    \"" + parent + "\") echo \"");
      ASSERT_NE(line, std::string::npos) << path;
      const size_t from = script->find("echo \"", line) + 6;
      std::istringstream words(script->substr(from, script->find('"', from) - from));
      const std::set<std::string> offered{std::istream_iterator<std::string>(words), {}};
      EXPECT_EQ(offered.count(name), 1u) << path;
      EXPECT_NE(script->find("    \"" + path + "\") echo \""), std::string::npos) << path;
    }
  }
  EXPECT_NE(bash.find("\"catalog import\") echo \"--help -h --format --project --index --key -k --force --json\""),
            std::string::npos);
  // A man page per command.
  ASSERT_EQ(run_tool(dir, "man .").status, 0);
  for (const std::string &path : paths) {
    std::string file = "pcs-" + path;
    std::replace(file.begin(), file.end(), ' ', '-');
    EXPECT_EQ(read_file(dir.path(file + ".1")).substr(0, 4 + file.size()), ".TH " + file) << path;
  }
  EXPECT_NE(read_file(dir.path("pcs-catalog-import.1")).find(".TP\n.B \\-\\-index\n"), std::string::npos);
}

TEST(HelpCommand, MistakesAreNamedWithTheClosestCommands) {
  TempDir dir;
  const std::pair<std::string, std::string> cases[] = {
      {"catlog keys x", "'pcs' has no command 'catlog'; did you mean 'catalog'? (pcs --help lists them)"},
      {"catalog improt a b", "'pcs catalog' has no command 'improt'; did you mean 'import'? "
                             "(pcs help catalog lists them)"},
      {"--verbose catalog lst a", "'pcs catalog' has no command 'lst'; did you mean 'list'? "
                                  "(pcs help catalog lists them)"},
      {"maint zzzzzz", "'pcs maint' has no command 'zzzzzz' (pcs help maint lists them)"},
      {"help catalog kees", "'pcs catalog' has no command 'kees'; did you mean 'keys'?"},
  };
  for (const auto &[args, message] : cases) {
    const ToolRun r = run_tool(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.err, "pcs: " + message + "\n") << args;
  }
  // Usage errors exit 2, failures 1, help 0.
  EXPECT_EQ(run_tool(dir, "catalog keys").status, 2);
  EXPECT_EQ(run_tool(dir, "catalog keys --bogus x").status, 2);
  EXPECT_EQ(run_tool(dir, "catalog keys missing.idx").status, 1);
  const ToolRun help = run_tool(dir, "help catalog import");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--index"), std::string::npos);
}

TEST(ModelInit, NewProjectFromTheTemplate) {
  TempDir dir;
  ToolRun r = run_tool(dir, "model init --project p.db");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(dir.path("catalogs")));
  r = run_tool(dir, "model export --project p.db");
  const std::string model = r.out;
  EXPECT_NE(model.find("\"catalog_directory\": \"catalogs\""), std::string::npos) << model;
  EXPECT_NE(model.find("\"PIPEDIM\""), std::string::npos);
  EXPECT_EQ(model.find("\"objects\": [{"), std::string::npos);
  // A second init keeps the project.
  r = run_tool(dir, "model init --project p.db");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pcs: p.db: the file exists; a new project needs a new file\n");
  EXPECT_EQ(run_tool(dir, "model init --project q.db --catalogs /abs").status, 2);
  write_file(dir.path("t.json"), "{\"format\": ");
  r = run_tool(dir, "model init --project q.db --template t.json");
  EXPECT_EQ(r.err, "pcs: t.json: not JSON (the text goes wrong at byte 12)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path("q.db")));
}

}  // namespace
