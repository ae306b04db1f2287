// `pcs model`: the project's model as an administrator sees it. `export`
// writes the model as JSON, `import` reads a JSON document into a new or
// empty project database, `show` prints objects with their groups and rows.
#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/inprocess/model.h"
#include "tools/catalog_scan.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/tables.h"

namespace pcs::tools {

void add_model_init(CLI::App *group);

namespace {

namespace model = host::model;

struct Options {
  std::string project, file, output, type, name;
  bool force = false;
  bool json = false;
};

void use_project(const Options &o) {
  if (!o.project.empty()) model::set_project_path(o.project);
}

void open_project(const Options &o) {
  use_project(o);
  if (int rc = model::load(model::project_path()))
    fail("cannot open the project: " + model::load_error() + code_text(rc));
}

void export_model(const Options &o) {
  use_project(o);
  Outputs outputs({model::project_path()}, o.force);
  const std::string temp = o.output.empty() ? "" : outputs.add(o.output);
  open_project(o);
  const std::string text = model::to_json();
  if (o.output.empty()) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  std::ofstream out(temp, std::ios::binary);
  if (!(out << text) || !out.flush()) fail(o.output + ": cannot write the exported model");
  out.close();
  outputs.commit();
}

void import_model(const Options &o) {
  use_project(o);
  // The database saves itself atomically; only its identity is checked.
  Outputs({o.file}, true).check_in_place(model::project_path());
  if (int rc = model::import_json(o.file, model::project_path()))
    fail("cannot import " + o.file + ": " + model::load_error() + code_text(rc));
  // Catalogs beside the database are named relative to it: the folder can
  // be copied or moved.
  std::string &directory = model::data().setup.catalog_directory;
  const std::filesystem::path folder = std::filesystem::path(model::project_path()).parent_path();
  if (!directory.empty() && directory[0] == '/' &&
      same_file(directory, folder.empty() ? "." : folder.string())) {
    directory = ".";
    if (int rc = model::save(model::project_path()))
      fail(model::project_path() + ": cannot save the project" + code_text(rc));
  }
  std::printf("%s: %zu objects imported into %s\n", o.file.c_str(), model::data().objects.size(),
              model::project_path().c_str());
}

// Prints rows of text cells as columns two blanks apart, the first row a
// header, each line indented.
void print_table(const std::vector<std::vector<std::string>> &rows, const char *indent) {
  std::vector<size_t> widths;
  for (const auto &row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto &row : rows) {
    std::string line = indent;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

void print_object(const model::Model &m, const model::Object &object) {
  std::printf("object %d  %s  \"%s\"\n", object.handle, trimmed(object.type).c_str(),
              object.name.c_str());
  for (const auto &[group_name, rows] : object.groups) {
    const model::GroupDef *group = m.group(group_name);
    std::printf("  %s  (%zu row%s)\n", trimmed(group_name).c_str(), rows.size(),
                rows.size() == 1 ? "" : "s");
    if (!group || rows.empty()) continue;
    std::vector<std::vector<std::string>> table(1);
    for (const model::AttributeDef &a : group->attributes) table[0].push_back(trimmed(a.name));
    for (size_t r = 1; r <= rows.size(); ++r) {
      std::vector<std::string> &line = table.emplace_back();
      for (const model::AttributeDef &a : group->attributes)
        line.push_back(m.text(object.handle, group_name, static_cast<int>(r), a.name));
    }
    print_table(table, "    ");
  }
}

}  // namespace

void show_model_object(const std::string &type, const std::string &name) {
  const model::Model &m = model::data();
  for (const auto &[handle, object] : m.objects)
    if (object.type == model::name(type) && object.name == name) print_object(m, object);
}

namespace {

std::vector<std::string> type_names(const model::Model &m) {
  std::vector<std::string> names;
  for (const auto &entry : m.types) names.push_back(trimmed(entry.first));
  return names;
}

// An object with its groups' rows, values typed by the schema.
nlohmann::json object_json(const model::Model &m, const model::Object &object) {
  nlohmann::json groups = nlohmann::json::object();
  for (const auto &[group_name, rows] : object.groups) {
    const model::GroupDef *group = m.group(group_name);
    nlohmann::json &list = groups[trimmed(group_name)] = nlohmann::json::array();
    for (size_t r = 1; group && r <= rows.size(); ++r) {
      nlohmann::json row = nlohmann::json::object();
      for (const model::AttributeDef &a : group->attributes) {
        const std::string text = m.text(object.handle, group_name, static_cast<int>(r), a.name);
        nlohmann::json &value = row[trimmed(a.name)];
        if (a.type != 'I' && a.type != 'R') value = text;
        else if (text.find_first_not_of(' ') == std::string::npos) value = nullptr;
        else value = nlohmann::json::parse(text, nullptr, false);
      }
      list.push_back(row);
    }
  }
  return {{"handle", object.handle}, {"type", trimmed(object.type)}, {"name", object.name}, {"groups", groups}};
}

void show(const Options &o) {
  open_project(o);
  const model::Model &m = model::data();
  if (o.json) {
    nlohmann::json all = nlohmann::json::array();
    for (const auto &[handle, object] : m.objects)
      if (o.type.empty() || (object.type == model::name(o.type) && (o.name.empty() || object.name == o.name)))
        all.push_back(object_json(m, object));
    if (!o.type.empty() && all.empty())
      fail("the project has no " + o.type + " object" + (o.name.empty() ? "" : " named " + o.name) +
           did_you_mean(o.type, type_names(m)));
    std::printf("%s\n", all.dump(2).c_str());
    return;
  }
  if (o.type.empty()) {
    std::vector<std::vector<std::string>> table{{"HANDLE", "TYPE", "NAME", "GROUPS", "ROWS"}};
    for (const auto &[handle, object] : m.objects) {
      size_t rows = 0;
      for (const auto &[group, values] : object.groups) rows += values.size();
      table.push_back({std::to_string(handle), trimmed(object.type), object.name,
                       std::to_string(object.groups.size()), std::to_string(rows)});
    }
    return print_table(table, "");
  }
  if (!m.types.count(model::name(o.type)))
    fail("the project has no object type " + o.type + did_you_mean(o.type, type_names(m)));
  bool found = false;
  for (const auto &[handle, object] : m.objects) {
    if (object.type != model::name(o.type) || (!o.name.empty() && object.name != o.name)) continue;
    print_object(m, object);
    found = true;
  }
  if (!found) {
    std::vector<std::string> names;
    for (const auto &[handle, object] : m.objects)
      if (object.type == model::name(o.type)) names.push_back(object.name);
    fail("the project has no " + o.type + " object" + (o.name.empty() ? "" : " named " + o.name) +
         did_you_mean(o.name, names));
  }
}

void add_project_option(CLI::App *command, Options &o) {
  command->add_option("--project", o.project,
                      "Project database (default: $PCS_PROJECT or ./project.db)");
}

Register reg([](CLI::App &app) {
  static Options o;
  CLI::App *group = app.add_subcommand("model", "The project's model: export, import, show");
  group->require_subcommand(1);
  CLI::App *out =
      group->add_subcommand("export", "Write the model as JSON (standard output by default)");
  add_project_option(out, o);
  out->add_option("-o,--output", o.output, "File to write");
  out->add_flag("--force", o.force, "Replace an existing file");
  out->callback([] { export_model(o); });
  CLI::App *in =
      group->add_subcommand("import", "Read a JSON model into a new or empty project database");
  in->add_option("file", o.file, "JSON model")->required();
  add_project_option(in, o);
  in->callback([] { import_model(o); });
  CLI::App *view = group->add_subcommand(
      "show", "Print the objects, or the groups and rows of one type's objects");
  view->add_option("type", o.type, "Object type");
  view->add_option("name", o.name, "Object name");
  view->add_flag("--json", o.json, "Print JSON, values typed");
  add_project_option(view, o);
  view->callback([] { show(o); });
  add_model_init(group);
});

}  // namespace
}  // namespace pcs::tools
