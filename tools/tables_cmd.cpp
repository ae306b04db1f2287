// Project table commands (`pcs tables ...`): convert table dumps into
// comma-separated table files, load those files, standards, function tables
// and piping classes into the project model, parse a class map dump and
// rename a file. Each says what it wrote or loaded.
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/inprocess/tools.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/tables.h"

namespace pcs::tools {

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

struct Args {
  std::string kind, input, second, output, standard = "";
  double scale = 1.0;
  bool force = false, replace = false;
};
Args args;

// The object and group a load of `kind` adds rows to: the standard's or
// the process object's table, or (for weld and branch tables, which get
// an object of their own) the table object loaded from a file of the same
// name before.
struct LoadTarget {
  std::string type, name, group;
  bool named_by_file;
};

LoadTarget load_target(const std::string &kind) {
  if (kind == "weld") return {"WLDTABLE", "", "PRJBNAME", true};
  if (kind == "branch") return {"BRTABLE ", "", "PRJBNAME", true};
  if (kind == "pipedim") return {"STANDARD", trimmed(args.standard), "PIPEDIM ", false};
  const auto type = model::data().types.find(model::name("PROCESS"));
  const std::string name = type == model::data().types.end() ? "" : type->second.host_name;
  return {"PROCESS ", trimmed(name), "PRJCMPT ", false};
}

// True when the first value of the object's `group` rows names `file`.
bool loaded_from(const model::Object &object, const std::string &group, const std::string &file) {
  const auto rows = object.groups.find(group);
  if (rows == object.groups.end() || rows->second.empty() || rows->second[0].empty()) return false;
  const std::string &cell = rows->second[0][0];
  return !cell.empty() && trimmed(cell) == trimmed(file.substr(0, cell.size()));
}

// An object a load would add to: what it holds already, and the groups
// --replace empties (none: the object goes, the load makes it anew).
struct Held {
  int handle;
  std::string holds;
  std::vector<std::string> groups;
};

// A load never adds to rows it did not make: an object that holds rows the
// load would add to is refused, or with --replace emptied (removed) first;
// the load's save stores that too.
void settle(const std::vector<Held> &held, const char *unit) {
  auto &objects = model::data().objects;
  for (const Held &h : held) {
    const model::Object &object = objects.at(h.handle);
    if (!args.replace)
      fail(args.input + ": " + trimmed(object.type) + " \"" + object.name + "\" holds " + h.holds +
           " already; nothing loaded (give --replace to load the " + unit + " in their place)");
  }
  for (const Held &h : held) {
    if (h.groups.empty()) objects.erase(h.handle);
    for (const std::string &group : h.groups) objects.at(h.handle).groups[group].clear();
  }
}

std::string row_count(size_t rows, const std::string &groups) {
  return std::to_string(rows) + " row(s) of " + groups;
}

// The objects a table file load of `kind` would add to.
std::vector<Held> held_by_file(const std::string &kind) {
  const LoadTarget target = load_target(kind);
  const std::string file = std::filesystem::path(args.input).filename().string();
  std::vector<Held> held;
  for (const auto &[handle, object] : model::data().objects) {
    if (object.type != target.type) continue;
    const auto rows = object.groups.find(target.group);
    if (target.named_by_file && loaded_from(object, target.group, file))
      held.push_back({handle, "the rows of this file", {}});
    else if (!target.named_by_file && object.name == target.name &&
             rows != object.groups.end() && !rows->second.empty())
      held.push_back({handle, row_count(rows->second.size(), trimmed(target.group)), {target.group}});
  }
  return held;
}

// The names of the files of the folder being loaded.
std::set<std::string> folder_files() {
  std::set<std::string> names;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(args.input, error))
    if (entry.is_regular_file()) names.insert(entry.path().filename().string());
  return names;
}

// The standard's encoded project tables (its groups "PRJ...").
std::vector<Held> held_by_standard() {
  const model::Object *standard = model::data().find_object("STANDARD", trimmed(args.standard));
  if (!standard) return {};
  Held held{standard->handle, "", {}};
  size_t rows = 0;
  std::string names;
  for (const auto &[group, list] : standard->groups) {
    if (group.rfind("PRJ", 0) != 0 || list.empty()) continue;
    held.groups.push_back(group);
    rows += list.size();
    names += (names.empty() ? "" : ", ") + trimmed(group);
  }
  if (held.groups.empty()) return {};
  held.holds = row_count(rows, names);
  return {held};
}

// Function tables named by a file of the folder.
std::vector<Held> held_by_functions() {
  const std::set<std::string> files = folder_files();
  std::vector<Held> held;
  for (const auto &[handle, object] : model::data().objects)
    if (object.type == model::name("FNCTABLE")) {
      const std::string file = trimmed(model::data().text(handle, "PRJTNAME", 1, "NAME"));
      if (files.count(file)) held.push_back({handle, "the rows of file " + file, {}});
    }
  return held;
}

// Piping classes of the folder's files ("CLASS_TYPE") that list files already.
std::vector<Held> held_by_classes() {
  std::set<std::string> classes;
  for (const std::string &file : folder_files())
    if (const size_t underscore = file.find('_'); underscore != std::string::npos && underscore > 0)
      classes.insert(file.substr(0, underscore));
  std::vector<Held> held;
  for (const auto &[handle, object] : model::data().objects) {
    const auto rows = object.groups.find("PRJFNAMS");
    if (object.type == model::name("PSPEC") && classes.count(object.name) &&
        rows != object.groups.end() && !rows->second.empty())
      held.push_back({handle, row_count(rows->second.size(), "PRJFNAMS"), {"PRJFNAMS"}});
  }
  return held;
}

template <class Call>
void load_into_model(const std::string &what, Call &&call) {
  Outputs({args.input}, false).check_in_place(model::project_path());
  loaded_model();
  const Snapshot before = snapshot();
  int rc = 0;
  call(&rc);
  print_changes(before);
  check_table_call(rc, what);
}


void convert() {
  Outputs outputs({args.input, args.second}, args.force);
  const bool encoded = args.kind == "encoded";
  const std::string temp = encoded ? outputs.add_folder(args.output) : outputs.add(args.output);
  const char *in = args.input.c_str(), *out = temp.c_str();
  int rc = 0;
  if (args.kind == "weld") cgwtcr(in, out, &rc);
  else if (args.kind == "branch") cgbtcr(in, out, &rc);
  else if (args.kind == "endstyle") cgcmptcr(in, out, args.standard.c_str(), &rc);
  else if (args.kind == "pipedim") cgpdtcr(in, args.second.c_str(), out, &rc);
  else cgencdec(in, out, &rc);
  check_table_call(rc, "convert " + args.input);
  if (!encoded) {
    std::printf("wrote %s: %d line(s)\n", args.output.c_str(), count_lines(temp));
    outputs.commit();
    return;
  }
  for (const auto &entry : std::filesystem::directory_iterator(temp))
    std::printf("%s: %d line(s)\n",
                (std::filesystem::path(args.output) / entry.path().filename()).c_str(),
                count_lines(entry.path()));
  outputs.commit();
}

void load() {
  const char *path = args.input.c_str();
  load_into_model("load " + args.input, [&](int *rc) {
    settle(held_by_file(args.kind), "file");
    if (args.kind == "weld") cgwtcr2(path, &args.scale, rc);
    else if (args.kind == "branch") cgbtcr2(path, rc);
    else if (args.kind == "pipedim") cgpdtcr2(path, args.standard.c_str(), &args.scale, rc);
    else cgcmtcr2(path, rc);
  });
}

void classes() {
  int stack = 0;
  load_into_model("create the piping classes of " + args.input, [&](int *rc) {
    settle(held_by_classes(), "folder");
    cgpscr(args.input.c_str(), args.standard.c_str(), &stack, rc);
  });
  int ignored = 0;
  if (stack != 0) gusend(&stack, &ignored);
}

void rename_file() {
  Outputs outputs({args.input}, args.force);
  outputs.check(args.output);  // the library renames the file itself
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

void add_replace(CLI::App *load) {
  load->add_flag("--replace", args.replace,
                 "Load in place of the rows the object holds already (they are dropped in the "
                 "same save)");
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
  conv->add_flag("--force", args.force, "Replace existing table files");

  auto *ld = command(tables, "load", "Load a comma-separated table file into the project model", load);
  ld->add_option("kind", args.kind, "weld, branch, pipedim or compat")
      ->required()->check(CLI::IsMember({"weld", "branch", "pipedim", "compat"}));
  ld->add_option("file", args.input, "Table file")->required();
  ld->add_option("--scale", args.scale, "weld, pipedim: factor for every real value");
  ld->add_option("--standard", args.standard, "pipedim: the standard to load into");
  add_replace(ld);

  auto *std_cmd = command(tables, "standard", "Load a folder of encoded tables into a standard", [] {
    load_into_model("load the standard tables of " + args.input, [](int *rc) {
      settle(held_by_standard(), "folder");
      cgstdcr(args.input.c_str(), args.standard.c_str(), &args.scale, rc);
    });
  });
  std_cmd->add_option("folder", args.input, "Folder of encoded table files")->required();
  std_cmd->add_option("--standard", args.standard, "The standard's name")->required();
  std_cmd->add_option("--scale", args.scale, "Factor for every real value");
  add_replace(std_cmd);

  auto *fn = command(tables, "functions", "Load a folder of function rules files", [] {
    load_into_model("load the function tables of " + args.input,
                    [](int *rc) {
                      settle(held_by_functions(), "folder");
                      cgfnctcr(args.input.c_str(), rc);
                    });
  });
  fn->add_option("folder", args.input, "Folder of files named <class>_<part type>")->required();
  add_replace(fn);

  auto *map = command(tables, "classmap", "Write the CLASSMAP file of a class map dump", [] {
    Outputs outputs({args.input}, args.force);
    const std::string temp = outputs.add_in_folder(args.output, "CLASSMAP");
    int rc = 0;
    cgclprs(args.input.c_str(), temp.c_str(), &rc);
    check_table_call(rc, "parse " + args.input);
    const std::string path = args.output + "/CLASSMAP";
    std::printf("wrote %s: %d class(es)\n", path.c_str(), count_lines(temp + "/CLASSMAP"));
    outputs.commit();
  });
  map->add_option("dump", args.input, "Class map dump")->required();
  map->add_option("folder", args.output, "Folder for the CLASSMAP file")->required();
  map->add_flag("--force", args.force, "Replace an existing CLASSMAP file");

  auto *cls = command(tables, "classes", "Create the piping classes of a folder", classes);
  cls->add_option("folder", args.input, "Folder of function rules files and CLASSMAP")->required();
  cls->add_option("--standard", args.standard, "Standard of new classes")->required();
  add_replace(cls);

  auto *ren = command(tables, "rename", "Rename a file", rename_file);
  ren->add_option("from", args.input, "File to rename")->required();
  ren->add_option("to", args.output, "New name")->required();
  ren->add_flag("--force", args.force, "Replace an existing file of the new name");
});

}  // namespace
}  // namespace pcs::tools
