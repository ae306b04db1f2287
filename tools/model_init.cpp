// `pcs model init`: a new project database from a template (by default the
// built-in copy of docs/example-project.json without its objects), with a
// catalog directory relative to the project, made when absent.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "host/inprocess/model.h"
#include "host/inprocess/tools.h"
#include "tools/command.h"

namespace pcs::tools {

extern const char *const kProjectTemplate;

namespace {

namespace fs = std::filesystem;
namespace model = host::model;

struct Options {
  std::string project, template_file, catalogs = "catalogs";
};

nlohmann::json read_template(const std::string &path) {
  try {
    if (path.empty()) {
      nlohmann::json doc = nlohmann::json::parse(kProjectTemplate);
      doc.erase("objects");
      return doc;
    }
    std::ifstream in(path);
    if (!in) fail(path + ": cannot open the file: " + std::strerror(errno));
    return nlohmann::json::parse(in);
  } catch (const nlohmann::json::parse_error &e) {
    fail(path + ": not JSON (the text goes wrong at byte " + std::to_string(e.byte) + ")");
  } catch (const nlohmann::json::out_of_range &) {
    fail(path + ": the template holds " + kNumberTooLarge);
  }
}

void init_project(const Options &o) {
  if (!o.project.empty()) model::set_project_path(o.project);
  const std::string project = model::project_path();
  if (fs::exists(project)) fail(project + ": the file exists; a new project needs a new file");
  if (fs::path(o.catalogs).is_absolute())
    fail("--catalogs " + o.catalogs + ": give a directory relative to the project", kUsage);
  nlohmann::json doc = read_template(o.template_file);
  if (!doc.is_object()) fail(o.template_file + ": not a project template (a JSON object)");
  doc["setup"]["catalog_directory"] = o.catalogs;
  const fs::path base = fs::absolute(project).parent_path();
  const std::string staged = (base / (fs::path(project).filename().string() + ".template.json")).string();
  {
    std::ofstream out(staged, std::ios::binary);
    if (!(out << doc.dump(2)) || !out.flush()) fail(staged + ": cannot write the file: " + std::strerror(errno));
  }
  const int rc = model::import_json(staged, project);
  std::remove(staged.c_str());
  if (rc != 0) fail(project + ": cannot make the project: " + model::load_error() + code_text(rc));
  std::error_code error;
  fs::create_directories(base / o.catalogs, error);
  if (error) fail((base / o.catalogs).string() + ": cannot make the catalog directory: " + error.message());
  const model::Model &m = model::data();
  std::printf("%s: new project, %zu object type(s), %zu group(s), catalogs in %s\n", project.c_str(),
              m.types.size(), m.groups.size(), (base / o.catalogs).string().c_str());
}

}  // namespace

void add_project_option(CLI::App *command) {
  command->add_option_function<std::string>(
      "--project", [](const std::string &path) { host::tools::use_project(path); },
      "Project database (default: $PCS_PROJECT or ./project.db)");
}

void add_model_init(CLI::App *group) {
  static Options o;
  CLI::App *init = group->add_subcommand(
      "init", "Make a new project database from a template, with a catalog directory beside it");
  init->add_option("--project", o.project, "Project database to make (default: $PCS_PROJECT or ./project.db)");
  init->add_option("--template", o.template_file,
                   "JSON model to start from (default: the built-in piping template, "
                   "docs/example-project.json without its objects)");
  init->add_option("--catalogs", o.catalogs, "Catalog directory, relative to the project (default: catalogs)");
  init->callback([] { init_project(o); });
}

}  // namespace pcs::tools
