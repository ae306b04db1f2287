// Keyed group file commands: `keyed list` (the keys in order), `keyed show`
// (the record of a key), `keyed put` (a record from a JSON description),
// `keyed delete` (a key) and `keyed compress` (drop dead records).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "include/pcs.h"
#include "tools/catalog_scan.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/part_json.h"

namespace pcs::tools {
namespace {

struct Options {
  std::string file, key, json;
  std::vector<std::string> fields;
};

// An open keyed file; closed at the end of the command.
class Keyed {
 public:
  Keyed(const Options &o, bool must_exist) : fields_(key_fields(o.fields)) {
    if (o.file.size() > PCS_KEYED_NAME_LEN)
      fail(o.file + ": the path is longer than 53 characters");
    if (must_exist && !std::filesystem::exists(o.file)) fail(o.file + ": no such file");
    std::string groups, attributes;
    for (const KeyField &f : fields_) {
      groups += name_field(f.group);
      attributes += name_field(f.attribute);
      lengths_.push_back(f.length);
      key_length_ += static_cast<size_t>(f.length);
    }
    std::string name = name_field(o.file, PCS_KEYED_NAME_LEN);
    int count = static_cast<int>(fields_.size()), mode = 1, rc = 0;
    errno = 0;
    cspopn(name.c_str(), &count, groups.data(), attributes.data(), lengths_.data(), &file_, &mode,
           &rc);
    if (rc != 0)
      fail(o.file + ": cannot open the keyed file" + cause("cspopn", rc, rc == 4 ? errno : 0));
    path_ = o.file;
  }
  ~Keyed() {
    int rc = 0;
    if (file_) cspcls(&file_, &rc);
  }
  Keyed(const Keyed &) = delete;
  Keyed &operator=(const Keyed &) = delete;

  KeyedFile **handle() { return &file_; }
  const std::string &path() const { return path_; }
  // The key text blank-padded (or cut) to the key length.
  std::string key(const std::string &text) const { return name_field(text, key_length_); }
  // The key of a group list as cspopn computes it.
  std::string key_of(KeyedGroup **list) const { return keyed_key(fields_, list); }

 private:
  std::vector<KeyField> fields_;
  std::vector<int> lengths_;
  size_t key_length_ = 0;
  KeyedFile *file_ = nullptr;
  std::string path_;
};

std::string shown(const unsigned char *bytes, size_t n) {
  std::string out = "\"";
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = bytes[i];
    if (c == '"' || c == '\\') out += '\\';
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}
std::string shown(const std::string &s) {
  return shown(reinterpret_cast<const unsigned char *>(s.data()), s.size());
}

void list_keys(const Options &o) {
  Keyed keyed(o, true);
  FILE *stream = (*keyed.handle())->Stream;
  std::multimap<std::string, int> keys;
  for (int position = 0;;) {
    KeyedGroup *list = nullptr;
    int length = 0, rc = 0;
    cspgtr(&stream, &position, &length, &list, &rc);
    if (rc == 0) keys.emplace(keyed.key_of(&list), position);
    cspfre(&list);
    if ((rc != 0 && rc != 7) || length <= 0) break;
    position += length;
  }
  nlohmann::json all = nlohmann::json::array();
  for (const auto &[key, position] : keys) {
    if (json_output()) all.push_back({{"key", trimmed(key)}, {"position", position}});
    else std::printf("%s at %d\n", shown(key).c_str(), position);
  }
  if (json_output()) print_json(all);
}

void show_record(const Options &o) {
  Keyed keyed(o, true);
  KeyedGroup *list = nullptr;
  int rc = 0;
  std::string key = keyed.key(o.key);
  cspget(key.c_str(), keyed.handle(), &list, &rc);
  if (rc == 4) fail(keyed.path() + ": no record has the key " + shown(key));
  if (rc != 0) fail(keyed.path() + ": cannot read the record of " + shown(key) + cause("cspget", rc));
  // The list comes back reversed; show groups and attributes in file order,
  // in JSON as `keyed put` reads them.
  std::vector<const KeyedGroup *> groups;
  for (const KeyedGroup *g = list; g; g = g->NextGroup) groups.insert(groups.begin(), g);
  nlohmann::json all = nlohmann::json::array();
  for (const KeyedGroup *g : groups) {
    if (!json_output()) std::printf("group %.8s\n", g->GroupName);
    std::vector<const KeyedAttribute *> attributes;
    for (const KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr)
      attributes.insert(attributes.begin(), a);
    nlohmann::json described = nlohmann::json::array();
    for (const KeyedAttribute *a : attributes) {
      const auto length = static_cast<size_t>(a->nAttrLength);
      nlohmann::json values = nlohmann::json::array();
      if (!json_output()) std::printf("  %.8s %d x %d:", a->AttrName, a->nAttrs, a->nAttrLength);
      for (size_t i = 0; i < static_cast<size_t>(a->nAttrs); ++i) {
        const unsigned char *value = a->AttrValue + i * length;
        if (json_output()) values.push_back(trimmed(std::string_view(reinterpret_cast<const char *>(value), length)));
        else std::printf(" %s", shown(value, length).c_str());
      }
      if (!json_output()) std::printf("\n");
      described.push_back({{"name", trimmed(std::string_view(a->AttrName, 8))}, {"length", a->nAttrLength}, {"values", values}});
    }
    all.push_back({{"group", trimmed(std::string_view(g->GroupName, 8))}, {"attributes", described}});
  }
  cspfre(&list);
  if (json_output()) print_json(all);
}

// A keyed record's description read from a file (see keyed_list_from_json).
KeyedGroup *list_from_json(const std::string &path) {
  std::string error;
  KeyedGroup *list = keyed_list_from_json(read_json(path, "description"), &error);
  if (!list && !error.empty()) fail(path + ": bad description: " + error);
  return list;
}

// Releases a group list when a command ends, also when it fails.
struct ListGuard {
  KeyedGroup *list = nullptr;
  ~ListGuard() { cspfre(&list); }
};

void put_record(const Options &o) {
  Outputs({o.json}, false).check_in_place(o.file);
  ListGuard record{list_from_json(o.json)};
  Keyed keyed(o, false);
  int rc = 0;
  cspput(keyed.handle(), &record.list, &rc);
  if (rc != 0) fail(keyed.path() + ": cannot put the record" + cause("cspput", rc));
  std::printf("stored %s\n", shown(keyed.key_of(&record.list)).c_str());
}

void delete_key(const Options &o) {
  Keyed keyed(o, true);
  std::string key = keyed.key(o.key);
  int rc = 0;
  cspdel(key.c_str(), keyed.handle(), &rc);
  if (rc == 4) fail(keyed.path() + ": no record has the key " + shown(key));
  if (rc != 0) fail(keyed.path() + ": cannot delete " + shown(key) + cause("cspdel", rc));
}

void compress(const Options &o) {
  if (!std::filesystem::exists(o.file)) fail(o.file + ": no such file");
  int rc = 0;
  cscprs(o.file.c_str(), &rc);
  if (rc != 0) fail(o.file + ": cannot compress" + cause("cscprs", rc));
}

Options options;

CLI::App *command(CLI::App *keyed, const char *name, const char *help, void (*run)(const Options &),
                  bool with_key) {
  CLI::App *sub = keyed->add_subcommand(name, help);
  sub->add_option("file", options.file, "Keyed group file (at most 53 characters)")->required();
  if (with_key)
    sub->add_option("-k,--key", options.fields, "Key field GROUP.ATTR:LENGTH, in key order")
        ->required();
  sub->callback([run] { run(options); });
  return sub;
}

Register reg([](CLI::App &app) {
  CLI::App *keyed =
      app.add_subcommand("keyed", "Keyed group files: list, show, put, delete, compress");
  keyed->require_subcommand(1);
  add_json_flag(command(keyed, "list", "List the keys of the live records in key order", list_keys, true));
  CLI::App *show = command(keyed, "show", "Show the groups and attributes of the record of a key",
                           show_record, true);
  show->add_option("key", options.key, "The key (blank-padded to the key length)")->required();
  add_json_flag(show);
  command(keyed, "put", "Store a record described in JSON (replaces the record of its key)",
          put_record, true)
      ->add_option("json", options.json, "JSON file, or - for standard input")
      ->required();
  command(keyed, "delete", "Delete the record of a key", delete_key, true)
      ->add_option("key", options.key, "The key (blank-padded to the key length)")
      ->required();
  command(keyed, "compress", "Copy the live records to a new file that replaces the old one",
          compress, false);
});

}  // namespace
}  // namespace pcs::tools
