// Project table commands (`pcs tables ...`): convert table dumps into
// comma-separated table files, load those files, standards, function tables
// and piping classes into the project model, parse a class map dump and
// rename a file. Each says what it wrote or loaded.
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "host/inprocess/tools.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tools/command.h"
#include "tools/tables.h"

namespace pcs::tool {

namespace model = pcs::host::model;

void check_table_call(int rc, const std::string &what) {
  if (rc == 0) return;
  const bool unnamed = host::tools::code_meaning(rc).empty();
  fail(what + (unnamed ? ": the project model refused it" : "") + code_text(rc));
}

int count_lines(const std::string &path) {
  std::ifstream in(path);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

namespace {

void loaded_model() {
  if (model::loaded()) return;
  if (model::load(model::project_path()) != 0) fail(model::load_error());
}

using Snapshot = std::map<int, std::map<std::string, size_t>>;

Snapshot snapshot() {
  Snapshot rows;
  for (const auto &[handle, object] : model::data().objects) {
    auto &groups = rows[handle];
    for (const auto &[group, list] : object.groups) groups[group] = list.size();
  }
  return rows;
}

// Prints the objects created and the rows added since `before`.
void print_changes(const Snapshot &before) {
  for (const auto &[handle, object] : model::data().objects) {
    const auto old = before.find(handle);
    std::string type = object.type;
    type.erase(type.find_last_not_of(' ') + 1);
    if (old == before.end()) std::printf("created %s \"%s\"\n", type.c_str(), object.name.c_str());
    for (const auto &[group, list] : object.groups) {
      size_t was = 0;
      if (old != before.end() && old->second.count(group)) was = old->second.at(group);
      if (list.size() > was)
        std::printf("  %s \"%s\" %s: %zu row(s) added\n", type.c_str(), object.name.c_str(),
                    group.c_str(), list.size() - was);
    }
  }
}

template <class Call>
void load_into_model(const std::string &what, Call &&call) {
  loaded_model();
  const Snapshot before = snapshot();
  int rc = 0;
  call(&rc);
  print_changes(before);
  check_table_call(rc, what);
}

struct Args {
  std::string kind, input, second, output, standard = "";
  double scale = 1.0;
};
Args args;

void convert() {
  const char *in = args.input.c_str(), *out = args.output.c_str();
  int rc = 0;
  if (args.kind == "weld") cgwtcr(in, out, &rc);
  else if (args.kind == "branch") cgbtcr(in, out, &rc);
  else if (args.kind == "endstyle") cgcmptcr(in, out, args.standard.c_str(), &rc);
  else if (args.kind == "pipedim") cgpdtcr(in, args.second.c_str(), out, &rc);
  else cgencdec(in, out, &rc);
  check_table_call(rc, "convert " + args.input);
  if (args.kind != "encoded") {
    std::printf("wrote %s: %d line(s)\n", out, count_lines(out));
    return;
  }
  for (const auto &entry : std::filesystem::directory_iterator(args.output))
    std::printf("%s: %d line(s)\n", entry.path().c_str(), count_lines(entry.path()));
}

void load() {
  const char *path = args.input.c_str();
  load_into_model("load " + args.input, [&](int *rc) {
    if (args.kind == "weld") cgwtcr2(path, &args.scale, rc);
    else if (args.kind == "branch") cgbtcr2(path, rc);
    else if (args.kind == "pipedim") cgpdtcr2(path, args.standard.c_str(), &args.scale, rc);
    else cgcmtcr2(path, rc);
  });
}

void classes() {
  int stack = 0;
  load_into_model("create the piping classes of " + args.input, [&](int *rc) {
    cgpscr(args.input.c_str(), args.standard.c_str(), &stack, rc);
  });
  int ignored = 0;
  if (stack != 0) gusend(&stack, &ignored);
}

void rename_file() {
  const int from = int(args.input.size()), to = int(args.output.size());
  int rc = 0;
  cgrnmfl(args.input.c_str(), &from, args.output.c_str(), &to, &rc);
  check_table_call(rc, "rename " + args.input);
  std::printf("renamed %s to %s\n", args.input.c_str(), args.output.c_str());
}

CLI::App *command(CLI::App *parent, const char *name, const char *about, void (*run)()) {
  auto *sub = parent->add_subcommand(name, about);
  add_project_option(sub);
  sub->callback(run);
  return sub;
}

Register reg([](CLI::App &app) {
  auto *tables = app.add_subcommand("tables", "Project tables: convert dumps, load them into the model");
  tables->require_subcommand(1);
  auto *conv = command(tables, "convert", "Convert a table dump into a comma-separated table file", convert);
  conv->add_option("kind", args.kind, "weld, branch, endstyle, pipedim or encoded")
      ->required()->check(CLI::IsMember({"weld", "branch", "endstyle", "pipedim", "encoded"}));
  conv->add_option("dump", args.input, "The dump (pipedim: the wall thickness dump)")->required();
  conv->add_option("output", args.output, "Table file (encoded: the folder of table files)")->required();
  conv->add_option("--diameters", args.second, "pipedim: the outside diameter dump");
  conv->add_option("--standard", args.standard, "endstyle: the standard name");

  auto *ld = command(tables, "load", "Load a comma-separated table file into the project model", load);
  ld->add_option("kind", args.kind, "weld, branch, pipedim or compat")
      ->required()->check(CLI::IsMember({"weld", "branch", "pipedim", "compat"}));
  ld->add_option("file", args.input, "Table file")->required();
  ld->add_option("--scale", args.scale, "weld, pipedim: factor for every real value");
  ld->add_option("--standard", args.standard, "pipedim: the standard to load into");

  auto *std_cmd = command(tables, "standard", "Load a folder of encoded tables into a standard", [] {
    load_into_model("load the standard tables of " + args.input, [](int *rc) {
      cgstdcr(args.input.c_str(), args.standard.c_str(), &args.scale, rc);
    });
  });
  std_cmd->add_option("folder", args.input, "Folder of encoded table files")->required();
  std_cmd->add_option("--standard", args.standard, "The standard's name")->required();
  std_cmd->add_option("--scale", args.scale, "Factor for every real value");

  auto *fn = command(tables, "functions", "Load a folder of function rules files", [] {
    load_into_model("load the function tables of " + args.input,
                    [](int *rc) { cgfnctcr(args.input.c_str(), rc); });
  });
  fn->add_option("folder", args.input, "Folder of files named <class>_<part type>")->required();

  auto *map = command(tables, "classmap", "Write the CLASSMAP file of a class map dump", [] {
    int rc = 0;
    cgclprs(args.input.c_str(), args.output.c_str(), &rc);
    check_table_call(rc, "parse " + args.input);
    const std::string path = args.output + "/CLASSMAP";
    std::printf("wrote %s: %d class(es)\n", path.c_str(), count_lines(path));
  });
  map->add_option("dump", args.input, "Class map dump")->required();
  map->add_option("folder", args.output, "Folder for the CLASSMAP file")->required();

  auto *cls = command(tables, "classes", "Create the piping classes of a folder", classes);
  cls->add_option("folder", args.input, "Folder of function rules files and CLASSMAP")->required();
  cls->add_option("--standard", args.standard, "Standard of new classes")->required();

  auto *ren = command(tables, "rename", "Rename a file", rename_file);
  ren->add_option("from", args.input, "File to rename")->required();
  ren->add_option("to", args.output, "New name")->required();
});

}  // namespace
}  // namespace pcs::tool
