// Catalog commands: `catalog sample` writes a small catalog and its index,
// `catalog show` prints the record at an offset, `catalog lookup` prints the
// parts of a key (values typed, or as JSON, or the library's dump), `catalog keys` lists the keys of an index in order and
// `catalog delete` marks the records of a key deleted.
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "include/pcs.h"
#include "tools/catalog_scan.h"
#include "tools/catalog_text.h"
#include "tools/catalog_values.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/index_check.h"
#include "tools/sample.h"

namespace pcs::tools {
namespace {

// The sample replaces existing files only when told to.
void write_sample(const std::string &catalog_path, const std::string &index_path, bool force) {
  Outputs outputs({}, force);
  const std::string catalog = outputs.add(catalog_path), index = outputs.add(index_path);
  const int size = write_sample_catalog(catalog);
  index_sample_catalog(catalog, index);
  outputs.commit();
  const size_t parts = sample_parts().size();
  std::printf("%s: %zu parts, %d bytes\n%s: %zu records, key length %d\n", catalog_path.c_str(),
              parts, size, index_path.c_str(), parts, kSampleKeyLength);
}

void dump_group(void *group) { csgrpdmp(static_cast<const AttrGroup *>(group)); }

// The library's dump of a part, sent to standard output.
void dump_part(PartRecord *part) {
  std::fflush(stdout);
  std::fflush(stderr);
  int saved = dup(2);
  dup2(1, 2);
  csgrltrs(part, dump_group);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
}

FILE *open_or_fail(const std::string &path, const char *mode) {
  FILE *stream = std::fopen(path.c_str(), mode);
  if (!stream) fail(path + ": cannot open the file: " + std::strerror(errno));
  return stream;
}

// How records are shown: typed by the project's schema as text or JSON, or
// as the library's dump.
struct Shape {
  std::string project;
  bool json = false, dump = false;
  Schema schema;
};
Shape shape;

// Shows the record at `offset`; false (with a note) when it is deleted.
// In JSON the record is added to *out.
bool show_record(FILE *catalog, const std::string &path, int offset, nlohmann::json *out = nullptr) {
  int length = 0, rc = 0;
  PartRecord *part = cspgetrc(catalog, offset, &length, &rc);
  if (rc == 2) {
    if (out) out->push_back({{"offset", offset}, {"length", length}, {"state", "deleted"}});
    else std::printf("record at offset %d: %d bytes, marked deleted\n", offset, length);
    return false;
  }
  if (!part) {
    std::fclose(catalog);
    fail(path + ": no readable record at offset " + std::to_string(offset));
  }
  const std::vector<Field> fields = record_fields(part, shape.schema);
  if (out) {
    std::string text, error;
    if (!json_part(&text, fields, shape.schema, &error)) text = "null";
    out->push_back({{"offset", offset}, {"length", length}, {"state", "live"}, {"part", nlohmann::json::parse(text)}});
  } else {
    std::printf("record at offset %d: %d bytes, %d group(s)\n", offset, length, part->GroupCount);
    if (shape.dump) dump_part(part);
    else std::printf("%s", text_part(fields).c_str());
  }
  cspgfre(part);
  return true;
}

void show(const std::string &path, int offset) {
  shape.schema = Schema::load(shape.project);
  FILE *catalog = open_or_fail(path, "rb");
  nlohmann::json records = nlohmann::json::array();
  bool live = show_record(catalog, path, offset, shape.json ? &records : nullptr);
  std::fclose(catalog);
  if (shape.json) print_json(records[0]);
  if (!live) fail(path + ": the record at offset " + std::to_string(offset) + " is marked deleted");
}

// The key length of an index, or a failure naming the file.
int key_length(FILE *index, const std::string &path) {
  int r = 0, rc = 0;
  csailn(&index, &r, &rc);
  if (rc != 0) {
    std::fclose(index);
    fail(path + ": not an index file (its header does not match its size)");
  }
  return r - PCS_INDEX_OVERHEAD;
}

void lookup(const std::string &catalog_path, const std::string &index_path, const std::string &key) {
  shape.schema = Schema::load(shape.project);
  FILE *index = open_or_fail(index_path, "rb");
  int k = key_length(index, index_path);
  std::string padded = name_field(key, static_cast<size_t>(k));
  int count = 0, first = 0, rc = 0;
  csalku(&index, padded.c_str(), &count, &first, &rc);
  if (rc != 0) {
    std::fclose(index);
    fail(index_path + ": key '" + key + "' not found");
  }
  FILE *catalog = std::fopen(catalog_path.c_str(), "rb");
  if (!catalog) {
    std::fclose(index);
    fail(catalog_path + ": cannot open the file: " + std::strerror(errno));
  }
  nlohmann::json records = nlohmann::json::array();
  if (!shape.json) std::printf("key '%s': %d record(s)\n", key.c_str(), count);
  for (int n = 1; n <= count; ++n) {
    int at = first + (n - 1) * (k + PCS_INDEX_OVERHEAD), data = 0;
    csaget(&index, &at, &data, &rc);
    if (!shape.json) std::printf("part %d, index record at %d: ", n, at);
    if (rc != 0) {
      if (shape.json) records.push_back({{"index_offset", at}, {"state", "unreadable"}});
      else std::printf("unreadable\n");
      continue;
    }
    show_record(catalog, catalog_path, data, shape.json ? &records : nullptr);
  }
  std::fclose(catalog);
  std::fclose(index);
  if (shape.json) print_json(nlohmann::json{{"key", key}, {"records", records}});
}

void keys(const std::string &path) {
  FILE *index = open_or_fail(path, "rb");
  int k = key_length(index, path);
  std::vector<char> key(static_cast<size_t>(k));
  int rc = 0, data = 0, listed = 0;
  nlohmann::json all = nlohmann::json::array();
  for (int at = PCS_INDEX_HEADER;; ++listed) {
    int count = cspgread(index, at, &data, key.data(), &rc);
    if (rc != 0) {
      std::fclose(index);
      fail(path + ": unreadable index record at offset " + std::to_string(at));
    }
    if (count == 0) break;
    if (shape.json) all.push_back({{"key", std::string(key.data(), key.size())}, {"records", count}});
    else std::printf("%4d  %.*s\n", count, k, key.data());
    at += std::max(count, 1) * (k + PCS_INDEX_OVERHEAD);
  }
  std::fclose(index);
  if (shape.json) print_json(all);
  else std::printf("%d key(s)\n", listed);
}

void remove_key(const std::string &catalog_path, const std::string &index_path,
                const std::string &key, int number, const std::vector<std::string> &key_specs) {
  const std::vector<IndexTarget> targets = index_targets(index_path, key, number);
  const std::vector<KeyField> fields = key_fields(key_specs);
  size_t width = 0;
  for (const KeyField &f : fields) width += static_cast<size_t>(f.length);
  if (!fields.empty() && width != targets.front().key.size())
    fail(index_path + ": the key fields are " + std::to_string(width) +
             " characters long, the index's keys " + std::to_string(targets.front().key.size()),
         kUsage);
  require_index_targets(catalog_path, index_path, targets, fields);
  CatalogHandle *catalog = nullptr;
  int rc = 0, count = 0;
  std::string mode = name_field("r+b"), cpath = catalog_path + " ", ipath = index_path + " ";
  errno = 0;
  csgopen(mode.c_str(), cpath.c_str(), ipath.c_str(), &catalog, &rc);
  if (rc == 1) fail(catalog_path + ": cannot open the catalog" + code_text(PCS_NO_MEMORY));
  if (rc != 0)
    fail((rc == 3 ? index_path : catalog_path) + ": cannot open the file for update: " +
         std::strerror(errno));
  const std::string &padded = targets.front().key;
  csggnrc(&catalog, padded.c_str(), &count, &rc);
  if (rc == 0 && number > 0) csgdnrc(&catalog, padded.c_str(), &number, &rc);
  else if (rc == 0) csgdelrc(&catalog, padded.c_str(), &rc);
  std::fclose(catalog->CatalogFile);
  std::fclose(catalog->IndexFile);
  gifree(catalog);
  if (rc == 2) fail(index_path + ": key '" + key + "' has no record " + std::to_string(number));
  if (rc != 0) fail(index_path + ": key '" + key + "' not found");
  const int deleted = number > 0 ? 1 : count;
  if (json_output()) print_json({{"key", key}, {"deleted", deleted}, {"records", count}});
  else std::printf("key '%s': marked %d of %d record(s) deleted\n", key.c_str(), deleted, count);
}

Register reg([](CLI::App &app) {
  auto *catalog = app.add_subcommand("catalog", "Part catalog files and their index files");
  catalog->require_subcommand(1);
  static std::string cat, idx, key;
  static std::vector<std::string> key_specs;
  static int offset = 0, number = 0;
  static bool force = false;

  auto *sample = catalog->add_subcommand("sample", "Write a small sample catalog and its index");
  sample->add_option("catalog", cat, "Catalog file to create")->required();
  sample->add_option("index", idx, "Index file to create")->required();
  sample->add_flag("--force", force, "Replace existing files");
  sample->callback([] { write_sample(cat, idx, force); });

  auto *show_cmd = catalog->add_subcommand("show", "Dump the record at a byte offset");
  show_cmd->add_option("catalog", cat, "Catalog file")->required();
  show_cmd->add_option("offset", offset, "Byte offset of the record")->required();
  show_cmd->add_flag("--json", shape.json, "Print JSON");
  show_cmd->add_flag("--dump", shape.dump, "Print the library's dump of the record instead");
  show_cmd->add_option("--project", shape.project, "Project database whose schema types the values");
  show_cmd->callback([] { show(cat, offset); });

  auto *lookup_cmd = catalog->add_subcommand("lookup", "Look a key up and dump its parts");
  lookup_cmd->add_option("catalog", cat, "Catalog file")->required();
  lookup_cmd->add_option("index", idx, "Index file")->required();
  lookup_cmd->add_option("key", key, "Key (blank-padded to the key length)")->required();
  lookup_cmd->add_flag("--json", shape.json, "Print JSON");
  lookup_cmd->add_flag("--dump", shape.dump, "Print the library's dump of each record instead");
  lookup_cmd->add_option("--project", shape.project, "Project database whose schema types the values");
  lookup_cmd->callback([] { lookup(cat, idx, key); });

  auto *keys_cmd = catalog->add_subcommand("keys", "List the keys of an index in order");
  keys_cmd->add_option("index", idx, "Index file")->required();
  keys_cmd->add_flag("--json", shape.json, "Print JSON");
  keys_cmd->callback([] { keys(idx); });

  auto *delete_cmd = catalog->add_subcommand("delete", "Mark the records of a key deleted");
  delete_cmd->add_option("catalog", cat, "Catalog file")->required();
  delete_cmd->add_option("index", idx, "Index file")->required();
  delete_cmd->add_option("key", key, "Key")->required();
  delete_cmd->add_option("-n,--number", number, "Only record number N (from 1) of the key")
      ->check(CLI::PositiveNumber);
  delete_cmd->add_option("-k,--key-field", key_specs,
                         "Key field GROUP.ATTR:LENGTH of the index, in key order (checks that "
                         "each record deleted carries the key; default: the key begins with the values of one of its attributes)");
  add_json_flag(delete_cmd);
  delete_cmd->callback([] { remove_key(cat, idx, key, number, key_specs); });

  add_catalog_io_commands(catalog);
});

}  // namespace
}  // namespace pcs::tools
