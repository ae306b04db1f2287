// Generic part file commands: `parts put` (a part from its JSON form),
// `parts get` (the part at a position as JSON), `parts show` (every record)
// and `parts fold` (new and duplicate parts against a reference catalog).
// The JSON part form is described in docs/part-json.md.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/index_check.h"
#include "tools/part_json.h"

namespace pcs::tools {
namespace {

struct Options {
  std::string file, json, reference, index, fresh, duplicates, project;
  int position = 0;
};
Options options;

// An open generic part file, closed at the end of the command.
struct PartFile {
  FILE *stream = nullptr;
  PartFile(const std::string &path, const char *mode) {
    stream = std::fopen(path.c_str(), mode);
    if (!stream) fail(path + ": cannot open the generic part file: " + std::strerror(errno));
  }
  ~PartFile() {
    if (stream) std::fclose(stream);
  }
  PartFile(const PartFile &) = delete;
  PartFile &operator=(const PartFile &) = delete;
};

// Releases a part when a command ends, also when it fails.
struct PartGuard {
  CgGroup *part = nullptr;
  ~PartGuard() { cggfre(part); }
};

// The value lengths the project declares, when there is a project.
DeclaredLength declared_lengths(const Options &o) {
  namespace model = host::model;
  if (!o.project.empty()) model::set_project_path(o.project);
  const std::string path = model::project_path();
  if (!std::filesystem::exists(path)) {
    if (!o.project.empty()) fail(path + ": no such project");
    return nullptr;
  }
  if (int rc = model::load(path)) fail(path + ": cannot read the project: " + model::load_error() + code_text(rc));
  return [](const std::string &group, const std::string &attribute) {
    const auto &groups = model::data().groups;
    auto it = groups.find(group);
    if (it == groups.end()) it = groups.find(group.substr(0, group.find_last_not_of(' ') + 1));
    if (it == groups.end()) return 0;
    const int at = it->second.find(attribute);
    return at < 0 ? 0 : it->second.attributes[static_cast<size_t>(at)].length;
  };
}

void put_part(const Options &o) {
  Outputs({o.json}, false).check_in_place(o.file);
  PartGuard part;
  std::string error;
  part.part = part_from_json(read_json(o.json, "part file"), &error, declared_lengths(o));
  if (!part.part) fail(o.json + ": not a part: " + error);
  PartFile file(o.file, std::filesystem::exists(o.file) ? "r+b" : "w+b");
  std::fseek(file.stream, 0, SEEK_END);
  const long position = std::ftell(file.stream);
  int rc = 0;
  cggput(file.stream, &part.part, &rc);
  if (rc != 0) fail(o.file + ": cannot append the part" + code_text(rc));
  std::printf("stored at %ld\n", position);
}

// The record at a position; fails with the reason in words.
CgGroup *read_at(const PartFile &file, const std::string &path, int position, int *length) {
  CgGroup *part = nullptr;
  int rc = 0;
  FILE *stream = file.stream;
  cggget(&stream, &position, length, &part, &rc);
  if (rc == PCS_AT_END) fail(path + ": no record at " + std::to_string(position) + ": past the end of the file");
  if (rc == PCS_RECORD_DELETED)
    fail(path + ": the record at " + std::to_string(position) + " was replaced or deleted");
  if (rc != 0) fail(path + ": cannot read the record at " + std::to_string(position) + code_text(rc));
  return part;
}

void get_part(const Options &o) {
  PartFile file(o.file, "rb");
  int length = 0;
  PartGuard part{read_at(file, o.file, o.position, &length)};
  std::printf("%s\n", part_to_json(part.part).dump(2).c_str());
}

void show_parts(const Options &o) {
  PartFile file(o.file, "rb");
  std::fseek(file.stream, 0, SEEK_END);
  const long size = std::ftell(file.stream);
  nlohmann::json all = nlohmann::json::array();
  for (int position = 0; position < size;) {
    CgGroup *part = nullptr;
    int length = 0, rc = 0;
    FILE *stream = file.stream;
    cggget(&stream, &position, &length, &part, &rc);
    if (rc != 0 && rc != PCS_RECORD_DELETED)
      fail(o.file + ": the record at " + std::to_string(position) + " is damaged" + code_text(rc));
    const bool live = rc == 0;
    if (json_output()) {
      all.push_back({{"position", position}, {"length", length}, {"state", live ? "live" : "deleted"}});
      if (live) all.back()["part"] = part_to_json(part);
    } else if (live) {
      std::printf("record at %d, %d bytes\n%s", position, length, part_text(part).c_str());
    } else {
      std::printf("record at %d, %d bytes: replaced or deleted\n", position, length);
    }
    cggfre(part);
    position += length;
  }
  if (json_output()) print_json(all);
}

void fold_parts(const Options &o) {
  // The new-parts and duplicates files grow: their old parts are kept.
  Outputs outputs({o.file, o.reference, o.index}, false);
  require_part_index(o.reference, o.index);
  const std::string fresh = outputs.add(o.fresh, Outputs::kExtend);
  const std::string duplicates = o.duplicates.empty() ? "" : outputs.add(o.duplicates, Outputs::kExtend);
  int rc = 0;
  cgfold(o.file.c_str(), o.reference.c_str(), o.index.c_str(), fresh.c_str(), duplicates.c_str(),
         &rc);
  if (rc == PCS_QUERY_CATALOG) fail("cannot open one of the fold's files" + code_text(rc));
  if (rc != 0) fail(o.file + ": the fold stopped" + code_text(rc));
  outputs.commit();
  std::printf("new parts in %s%s\n", o.fresh.c_str(),
              o.duplicates.empty() ? "" : (", duplicates in " + o.duplicates).c_str());
}

CLI::App *command(CLI::App *parts, const char *name, const char *help, void (*run)(const Options &)) {
  CLI::App *sub = parts->add_subcommand(name, help);
  sub->add_option("file", options.file, "Generic part file")->required();
  sub->callback([run] { run(options); });
  return sub;
}

Register reg([](CLI::App &app) {
  CLI::App *parts = app.add_subcommand("parts", "Generic part files: put, get, show, fold");
  parts->require_subcommand(1);
  CLI::App *put = command(parts, "put", "Append a part given in its JSON form", put_part);
  put->add_option("json", options.json, "JSON file, or - for standard input")->required();
  put->add_option("--project", options.project,
                  "Project database whose groups give value lengths (default: $PCS_PROJECT or "
                  "./project.db, when it exists)");
  command(parts, "get", "Print the part at a record position in its JSON form", get_part)
      ->add_option("position", options.position, "Byte position of the record")
      ->required();
  add_json_flag(
      command(parts, "show", "List every record of the file with its groups and values", show_parts));
  CLI::App *fold = command(parts, "fold",
                           "Append parts the reference index does not list to a new-parts file, "
                           "the others with their reference part to a duplicates file",
                           fold_parts);
  fold->add_option("reference", options.reference, "Reference generic part file")->required();
  fold->add_option("index", options.index, "Index of the reference file by PARTNUM/PARTNO")
      ->required();
  fold->add_option("new", options.fresh, "New-parts file (made if absent)")->required();
  fold->add_option("duplicates", options.duplicates, "Duplicates file (made if absent)");
});

}  // namespace
}  // namespace pcs::tools
