// The host's interface for the command-line program, over the in-process
// host's own state.
#include "host/inprocess/tools.h"

#include <cstdio>
#include <map>

#include "host/host_model.h"
#include "host/inprocess/testing.h"
#include "host/inprocess/model.h"

namespace pcs::host::tools {
namespace {

const std::map<int, const char *> &model_meanings() {
  static const std::map<int, const char *> meanings = {
      {PCS_HOST_NO_ENTRY, "an entry reference names no object"},
      {PCS_HOST_BAD_ARGUMENT, "a null pointer or a value out of range"},
      {PCS_HOST_NO_PROJECT, "the project file cannot be read"},
      {PCS_HOST_BAD_PROJECT, "the project file is not a valid project"},
      {PCS_HOST_SAVE_FAILED, "the project file could not be written"},
      {PCS_HOST_NO_WORKSPACE, "no model session is open"},
      {PCS_HOST_SESSION_OPEN, "a model session is open already"},
      {PCS_HOST_READ_ONLY, "the model is not open for writing"},
      {PCS_HOST_NO_TYPE, "the model has no object type of that name"},
      {PCS_HOST_NO_GROUP, "the model has no group of that name"},
      {PCS_HOST_NO_ATTRIBUTE, "the model's group has no attribute of that name"},
      {PCS_HOST_NO_OBJECT, "the model has no such object"},
      {PCS_HOST_NOT_ATTACHED, "the object does not hold that group"},
      {PCS_HOST_ATTACHED, "the object holds that group already"},
      {PCS_HOST_NO_ROW, "the group has no such row"},
      {PCS_HOST_NO_CATALOG, "the project has no such catalog, or none is current"},
      {PCS_HOST_NO_STANDARD, "the project has no size table of that standard"},
      {PCS_HOST_NO_SIZE, "the size table does not list that size"},
      {PCS_HOST_NO_FAMILY, "no part family holds that category"},
      {PCS_HOST_NO_MEMORY, "the host ran out of memory"},
      {PCS_HOST_NO_MODEL, "not the project's model"},
      {PCS_HOST_NO_PART_OBJECT, "the model holds no such part object"},
  };
  return meanings;
}

bool is_model_code(int code) { return code >= 800 && code < 7000; }

}  // namespace

void echo_reports(bool on) { host::echo_reports(on); }

std::string code_meaning(int code) {
  if (!is_model_code(code)) return host::code_text(code);
  const auto found = model_meanings().find(code);
  return found == model_meanings().end() ? "" : found->second;
}

std::string code_constant(int code) {
  const std::string name = is_model_code(code) ? model::code_name(code) : host::code_name(code);
  return name == std::to_string(code) ? "" : name;
}

long live_blocks() { return host::memory().live_blocks; }

void use_project(const std::string &path) { model::set_project_path(path); }
std::string project_path() { return model::project_path(); }
std::string project_error() { return model::load_error(); }
int load_project() { return model::load(model::project_path()); }
int create_project(const std::string &path, const std::string &catalog_directory,
                   const std::vector<std::string> &catalog_names) {
  for (const char *suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  model::Model &m = model::data();
  m.setup.catalog_directory = catalog_directory;
  m.setup.current_catalog = 1;
  m.catalogs = {model::Catalog{1, {}}};
  for (const std::string &name : catalog_names) m.catalogs[0].names.push_back(model::name(name));
  if (int rc = model::save(path)) return rc;
  model::set_project_path(path);
  return 0;
}

int save_project() { return model::save(model::project_path()); }

void copy_unit(int unit, FILE *file) { model::set_unit_file(unit, file); }

std::vector<ServiceFailure> service_failures() {
  std::vector<ServiceFailure> failed;
  for (const model::Call &call : model::calls()) {
    if (call.rc != 0 && !(call.service == "gldobj" && call.rc == PCS_HOST_NO_PART_OBJECT))
      failed.push_back({call.service, call.rc});
  }
  return failed;
}

int removed_part_objects() {
  int removed = 0;
  for (const model::Call &call : model::calls_of("gldobj")) removed += call.rc == 0 ? 1 : 0;
  return removed;
}

}  // namespace pcs::host::tools
