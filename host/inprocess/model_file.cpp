// The model's exchange form: JSON (docs/project-file.md), read with every
// field checked and written in one canonical layout.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "host/inprocess/model_internal.h"

namespace pcs::host::model {
namespace detail {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kMaxCharLength = 4096;
constexpr size_t kMaxDirectory = 1024;
constexpr size_t kCategoryWidth = 24;
constexpr size_t kEltimeWidth = 16;
constexpr size_t kClassWidth = 80;
constexpr int kMaxSizeLength = 40;

struct BadProject : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void bad(const std::string &where, const std::string &what) {
  throw BadProject(where + ": " + what);
}

// ---- text: bytes are kept as Latin-1, so any byte survives the JSON ------

std::string bytes_of(const Json &j, const std::string &where, size_t limit) {
  if (!j.is_string()) bad(where, "expected a string");
  const std::string &utf8 = j.get_ref<const std::string &>();
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    } else {
      bad(where, "a character beyond U+00FF");
    }
  }
  if (out.size() > limit) bad(where, "longer than " + std::to_string(limit) + " characters");
  return out;
}

Json latin1(std::string_view bytes) {
  std::string utf8;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::string name_of(const Json &j, const std::string &where) {
  return pad(bytes_of(j, where, kNameWidth), kNameWidth);
}

int int_of(const Json &j, const std::string &where, long long low, long long high) {
  if (!j.is_number_integer()) bad(where, "expected an integer");
  long long value = j.get<long long>();
  if (value < low || value > high) bad(where, "out of range");
  return static_cast<int>(value);
}

void check_keys(const Json &j, const std::string &where, std::initializer_list<const char *> keys) {
  if (!j.is_object()) bad(where, "expected an object");
  for (const auto &item : j.items()) {
    bool known = false;
    for (const char *key : keys) known = known || item.key() == key;
    if (!known) bad(where, "unknown key \"" + item.key() + "\"");
  }
}

const Json &array_at(const Json &j, const char *key, const std::string &where) {
  static const Json empty = Json::array();
  if (!j.contains(key)) return empty;
  const Json &value = j.at(key);
  if (!value.is_array()) bad(where + "." + key, "expected an array");
  return value;
}

const Json &object_at(const Json &j, const char *key, const std::string &where) {
  static const Json empty = Json::object();
  if (!j.contains(key)) return empty;
  const Json &value = j.at(key);
  if (!value.is_object()) bad(where + "." + key, "expected an object");
  return value;
}

// ---- reading ------------------------------------------------------------

void read_setup(const Json &j, Setup *setup) {
  check_keys(j, "setup", {"catalog_directory", "current_catalog", "model", "ibafr7"});
  if (j.contains("catalog_directory")) {
    setup->catalog_directory =
        bytes_of(j.at("catalog_directory"), "setup.catalog_directory", kMaxDirectory);
  }
  if (j.contains("current_catalog")) {
    setup->current_catalog = int_of(j.at("current_catalog"), "setup.current_catalog", 0, INT32_MAX);
  }
  if (j.contains("model")) setup->model = int_of(j.at("model"), "setup.model", 1, INT32_MAX);
  if (j.contains("ibafr7")) setup->ibafr7 = int_of(j.at("ibafr7"), "setup.ibafr7", INT32_MIN, INT32_MAX);
}

void read_catalogs(const Json &j, Model *model) {
  std::set<int> ids;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string where = "catalogs[" + std::to_string(i) + "]";
    check_keys(j[i], where, {"id", "names"});
    if (!j[i].contains("id")) bad(where, "no id");
    Catalog catalog;
    catalog.id = int_of(j[i].at("id"), where + ".id", 1, INT32_MAX);
    if (!ids.insert(catalog.id).second) bad(where, "a second catalog with this id");
    for (const Json &n : array_at(j[i], "names", where)) {
      catalog.names.push_back(name_of(n, where + ".names"));
    }
    model->catalogs.push_back(std::move(catalog));
  }
}

AttributeDef read_attribute(const Json &j, const std::string &where) {
  check_keys(j, where, {"name", "type", "length"});
  if (!j.contains("name") || !j.contains("type")) bad(where, "needs a name and a type");
  AttributeDef attribute;
  attribute.name = name_of(j.at("name"), where + ".name");
  std::string type = bytes_of(j.at("type"), where + ".type", 1);
  if (type.empty()) bad(where + ".type", "empty");
  attribute.type = type[0];
  int fixed = attribute.type == 'I' ? 4 : attribute.type == 'R' ? 8 : 0;
  if (j.contains("length")) {
    attribute.length = int_of(j.at("length"), where + ".length", 1, kMaxCharLength);
    if (fixed && attribute.length != fixed) bad(where + ".length", "must be " + std::to_string(fixed));
  } else if (fixed) {
    attribute.length = fixed;
  } else {
    bad(where, "a character attribute needs a length");
  }
  return attribute;
}

void read_groups(const Json &j, Model *model) {
  for (const auto &item : j.items()) {
    const std::string where = "groups." + item.key();
    check_keys(item.value(), where, {"rows", "attributes"});
    GroupDef group;
    group.name = name_of(Json(item.key()), where);
    if (item.value().contains("rows")) {
      std::string rows = bytes_of(item.value().at("rows"), where + ".rows", 4);
      if (rows != "one" && rows != "many") bad(where + ".rows", "\"one\" or \"many\"");
      group.single_row = rows == "one";
    }
    const Json &attributes = array_at(item.value(), "attributes", where);
    for (size_t i = 0; i < attributes.size(); ++i) {
      AttributeDef attribute =
          read_attribute(attributes[i], where + ".attributes[" + std::to_string(i) + "]");
      if (group.find(attribute.name) >= 0) bad(where, "attribute listed twice");
      group.attributes.push_back(std::move(attribute));
    }
    if (!model->groups.emplace(group.name, group).second) bad(where, "group defined twice");
  }
}

void read_types(const Json &j, Model *model) {
  for (const auto &item : j.items()) {
    const std::string where = "types." + item.key();
    check_keys(item.value(), where, {"host_name", "groups"});
    TypeDef type;
    type.name = name_of(Json(item.key()), where);
    type.host_name = item.value().contains("host_name")
                         ? bytes_of(item.value().at("host_name"), where + ".host_name", kObjectName)
                         : trim(type.name);
    for (const Json &g : array_at(item.value(), "groups", where)) {
      TypeGroup group{"", name("SETUP")};
      if (g.is_object()) {
        check_keys(g, where + ".groups", {"group", "group_type"});
        if (!g.contains("group")) bad(where + ".groups", "an entry without a group");
        group.group = name_of(g.at("group"), where + ".groups");
        if (g.contains("group_type")) group.group_type = name_of(g.at("group_type"), where + ".groups");
      } else {
        group.group = name_of(g, where + ".groups");
      }
      if (!model->groups.count(group.group)) bad(where, "unknown group " + trim(group.group));
      type.groups.push_back(std::move(group));
    }
    if (!model->types.emplace(type.name, type).second) bad(where, "type defined twice");
  }
}

std::string read_value(const Json &j, const AttributeDef &attribute, const std::string &where) {
  std::string bytes;
  if (attribute.type == 'I') {
    int32_t value = int_of(j, where, INT32_MIN, INT32_MAX);
    bytes.assign(reinterpret_cast<const char *>(&value), sizeof value);
  } else if (attribute.type == 'R') {
    double value;
    if (j.is_number()) {
      value = j.get<double>();
    } else if (j == "nan" || j == "inf" || j == "-inf") {
      value = std::strtod(j.get<std::string>().c_str(), nullptr);
    } else {
      bad(where, "expected a number");
    }
    bytes.assign(reinterpret_cast<const char *>(&value), sizeof value);
  } else {
    bytes = pad(bytes_of(j, where, static_cast<size_t>(attribute.length)),
                static_cast<size_t>(attribute.length));
  }
  return bytes;
}

void read_rows(const Json &j, const GroupDef &group, const std::string &where,
               std::vector<Row> *rows) {
  if (!j.is_array()) bad(where, "expected an array of rows");
  for (size_t r = 0; r < j.size(); ++r) {
    const std::string at = where + "[" + std::to_string(r) + "]";
    if (!j[r].is_object()) bad(at, "expected an object");
    Row row = blank_row(group);
    for (const auto &value : j[r].items()) {
      int i = group.find(value.key());
      if (i < 0) bad(at, "unknown attribute " + value.key());
      row[static_cast<size_t>(i)] = read_value(value.value(), group.attributes[i], at + "." + value.key());
    }
    rows->push_back(std::move(row));
  }
}

void read_object(const Json &j, const std::string &where, Model *model, Object *object) {
  check_keys(j, where, {"handle", "type", "name", "element_class", "groups", "sets"});
  if (!j.contains("type")) bad(where, "no type");
  object->type = name_of(j.at("type"), where + ".type");
  if (!model->types.count(object->type)) bad(where, "unknown type " + trim(object->type));
  if (j.contains("name")) object->name = trim(bytes_of(j.at("name"), where + ".name", kObjectName));
  if (j.contains("element_class")) {
    object->element_class = trim(bytes_of(j.at("element_class"), where + ".element_class", kClassWidth));
  }
  for (const auto &item : object_at(j, "groups", where).items()) {
    const std::string at = where + ".groups." + item.key();
    auto group = model->groups.find(name_of(Json(item.key()), at));
    if (group == model->groups.end()) bad(at, "unknown group");
    read_rows(item.value(), group->second, at, &object->groups[group->first]);
  }
  for (const auto &item : object_at(j, "sets", where).items()) {
    const std::string at = where + ".sets." + item.key();
    if (!item.value().is_array()) bad(at, "expected an array of names");
    std::vector<std::string> &set = object->sets[name_of(Json(item.key()), at)];
    for (const Json &n : item.value()) set.push_back(name_of(n, at));
  }
}

void read_objects(const Json &j, Model *model) {
  std::vector<Object> unnumbered;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string where = "objects[" + std::to_string(i) + "]";
    Object object;
    read_object(j[i], where, model, &object);
    if (j[i].contains("handle")) {
      object.handle = int_of(j[i].at("handle"), where + ".handle", 1, INT32_MAX - 1);
      if (model->objects.count(object.handle)) bad(where, "a second object with this handle");
      model->objects[object.handle] = std::move(object);
    } else {
      unnumbered.push_back(std::move(object));
    }
  }
  for (Object &object : unnumbered) {
    object.handle = model->next_handle();
    if (object.handle <= 0) bad("objects", "no handle left");
    model->objects[object.handle] = std::move(object);
  }
}

void read_standards(const Json &j, Model *model) {
  for (const auto &standard : j.items()) {
    const std::string where = "standards." + standard.key();
    if (!standard.value().is_object()) bad(where, "expected an object of size tables");
    auto &tables = model->standards[name_of(Json(standard.key()), where)];
    for (const auto &table : standard.value().items()) {
      const std::string at = where + "." + table.key();
      check_keys(table.value(), at, {"length", "sizes"});
      SizeTable sizes;
      if (table.value().contains("length")) {
        sizes.length = int_of(table.value().at("length"), at + ".length", 1, kMaxSizeLength);
      }
      for (const Json &size : array_at(table.value(), "sizes", at)) {
        sizes.sizes.push_back(trim(bytes_of(size, at + ".sizes", static_cast<size_t>(sizes.length))));
      }
      tables[name_of(Json(table.key()), at)] = std::move(sizes);
    }
  }
}

void read_families(const Json &j, Model *model) {
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string where = "families[" + std::to_string(i) + "]";
    check_keys(j[i], where, {"family", "categories"});
    if (!j[i].contains("family")) bad(where, "no family");
    Family family;
    family.id = int_of(j[i].at("family"), where + ".family", INT32_MIN, INT32_MAX);
    for (const Json &c : array_at(j[i], "categories", where)) {
      family.categories.push_back(trim(bytes_of(c, where + ".categories", kCategoryWidth)));
    }
    model->families.push_back(std::move(family));
  }
}

void read_part_objects(const Json &j, Model *model) {
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string where = "part_objects[" + std::to_string(i) + "]";
    check_keys(j[i], where, {"family", "category", "eltime"});
    if (!j[i].contains("family")) bad(where, "no family");
    PartObject part;
    part.family = int_of(j[i].at("family"), where + ".family", INT32_MIN, INT32_MAX);
    if (j[i].contains("category")) {
      part.category = trim(bytes_of(j[i].at("category"), where + ".category", kCategoryWidth));
    }
    if (j[i].contains("eltime")) {
      part.eltime = trim(bytes_of(j[i].at("eltime"), where + ".eltime", kEltimeWidth));
    }
    model->part_objects.push_back(std::move(part));
  }
}

void read_model(const Json &j, Model *model) {
  check_keys(j, "project", {"format", "version", "setup", "catalogs", "groups", "types", "objects",
                            "standards", "families", "part_objects"});
  if (j.contains("format") && j.at("format") != "pcs-project") bad("format", "not \"pcs-project\"");
  if (j.contains("version") && j.at("version") != 1) bad("version", "only version 1 is known");
  if (j.contains("setup")) read_setup(j.at("setup"), &model->setup);
  read_catalogs(array_at(j, "catalogs", "project"), model);
  read_groups(object_at(j, "groups", "project"), model);
  read_types(object_at(j, "types", "project"), model);
  read_objects(array_at(j, "objects", "project"), model);
  read_standards(object_at(j, "standards", "project"), model);
  read_families(array_at(j, "families", "project"), model);
  read_part_objects(array_at(j, "part_objects", "project"), model);
}

// ---- writing ------------------------------------------------------------

Json trimmed(std::string_view bytes) { return latin1(trim(bytes)); }
// An object key: a name without its trailing blanks, Latin-1 as UTF-8.
std::string key_of(std::string_view name) { return trimmed(name).get<std::string>(); }

Json write_value(const AttributeDef &attribute, const std::string &bytes) {
  if (attribute.type == 'I') {
    int32_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    return value;
  }
  if (attribute.type == 'R') {
    double value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
  }
  return trimmed(bytes);
}

Json write_object(const Model &model, const Object &object) {
  Json j = Json::object();
  j["handle"] = object.handle;
  j["type"] = trimmed(object.type);
  j["name"] = latin1(object.name);
  if (!object.element_class.empty()) j["element_class"] = latin1(object.element_class);
  Json groups = Json::object();
  for (const auto &[group_name, rows] : object.groups) {
    const GroupDef &group = model.groups.at(group_name);
    Json out = Json::array();
    for (Row row : rows) {
      Json values = Json::object();
      for (size_t i = 0; i < group.attributes.size(); ++i) {
        values[key_of(group.attributes[i].name)] = write_value(group.attributes[i], cell(row, group, i));
      }
      out.push_back(std::move(values));
    }
    groups[key_of(group_name)] = std::move(out);
  }
  j["groups"] = std::move(groups);
  if (!object.sets.empty()) {
    Json sets = Json::object();
    for (const auto &[set_name, names] : object.sets) {
      Json list = Json::array();
      for (const std::string &n : names) list.push_back(trimmed(n));
      sets[key_of(set_name)] = std::move(list);
    }
    j["sets"] = std::move(sets);
  }
  return j;
}

Json write_model(const Model &model) {
  Json j = Json::object();
  j["format"] = "pcs-project";
  j["version"] = 1;
  j["setup"] = {{"catalog_directory", latin1(model.setup.catalog_directory)},
                {"current_catalog", model.setup.current_catalog},
                {"model", model.setup.model},
                {"ibafr7", model.setup.ibafr7}};
  j["catalogs"] = Json::array();
  for (const Catalog &catalog : model.catalogs) {
    Json names = Json::array();
    for (const std::string &n : catalog.names) names.push_back(trimmed(n));
    j["catalogs"].push_back({{"id", catalog.id}, {"names", std::move(names)}});
  }
  j["groups"] = Json::object();
  for (const auto &[group_name, group] : model.groups) {
    Json attributes = Json::array();
    for (const AttributeDef &a : group.attributes) {
      attributes.push_back({{"name", trimmed(a.name)},
                            {"type", latin1(std::string(1, a.type))},
                            {"length", a.length}});
    }
    j["groups"][key_of(group_name)] = {{"rows", group.single_row ? "one" : "many"},
                                     {"attributes", std::move(attributes)}};
  }
  j["types"] = Json::object();
  for (const auto &[type_name, type] : model.types) {
    Json groups = Json::array();
    for (const TypeGroup &g : type.groups) {
      groups.push_back({{"group", trimmed(g.group)}, {"group_type", trimmed(g.group_type)}});
    }
    j["types"][key_of(type_name)] = {{"host_name", latin1(type.host_name)}, {"groups", std::move(groups)}};
  }
  j["objects"] = Json::array();
  for (const auto &[handle, object] : model.objects) j["objects"].push_back(write_object(model, object));
  j["standards"] = Json::object();
  for (const auto &[standard, tables] : model.standards) {
    Json out = Json::object();
    for (const auto &[table, sizes] : tables) {
      Json list = Json::array();
      for (const std::string &s : sizes.sizes) list.push_back(trimmed(s));
      out[key_of(table)] = {{"length", sizes.length}, {"sizes", std::move(list)}};
    }
    j["standards"][key_of(standard)] = std::move(out);
  }
  j["families"] = Json::array();
  for (const Family &family : model.families) {
    Json categories = Json::array();
    for (const std::string &c : family.categories) categories.push_back(latin1(c));
    j["families"].push_back({{"family", family.id}, {"categories", std::move(categories)}});
  }
  j["part_objects"] = Json::array();
  for (const PartObject &part : model.part_objects) {
    j["part_objects"].push_back(
        {{"family", part.family}, {"category", latin1(part.category)}, {"eltime", latin1(part.eltime)}});
  }
  return j;
}

// The file's layout: a container whose one-line form fits in kLineWidth
// columns stays on one line, larger ones get one member per line.
constexpr size_t kLineWidth = 100;

// Appends j's one-line form to *out; false as soon as *out passes `limit`.
bool one_line(const Json &j, size_t limit, std::string *out) {
  if (!j.is_structured()) {
    *out += j.dump();
    return out->size() <= limit;
  }
  *out += j.is_object() ? "{" : "[";
  bool first = true;
  for (const auto &item : j.items()) {
    if (!first) *out += ", ";
    first = false;
    if (j.is_object()) *out += Json(item.key()).dump() + ": ";
    if (out->size() > limit || !one_line(item.value(), limit, out)) return false;
  }
  *out += j.is_object() ? "}" : "]";
  return out->size() <= limit;
}

void layout(const Json &j, size_t indent, std::string *out) {
  std::string flat;
  const size_t limit = indent < kLineWidth ? kLineWidth - indent : 0;
  if (!j.is_structured() || j.empty() || one_line(j, limit, &flat)) {
    *out += j.is_structured() && !j.empty() ? flat : j.dump();
    return;
  }
  *out += j.is_object() ? "{\n" : "[\n";
  bool first = true;
  for (const auto &item : j.items()) {
    if (!first) *out += ",\n";
    first = false;
    out->append(indent + 2, ' ');
    if (j.is_object()) *out += Json(item.key()).dump() + ": ";
    layout(item.value(), indent + 2, out);
  }
  *out += "\n";
  out->append(indent, ' ');
  *out += j.is_object() ? "}" : "]";
}

}  // namespace

std::string project_text(const Model &model) {
  std::string out;
  layout(write_model(model), 0, &out);
  return out + "\n";
}

namespace {

bool read_all(const std::string &path, std::string *text) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

}  // namespace

int parse_project(const std::string &text, const std::string &origin, Model *into,
                  std::string *error) {
  const int code = guarded(error, PCS_HOST_BAD_PROJECT, [&] { read_model(Json::parse(text), into); });
  if (code != 0) *error = origin + ": " + *error;
  return code;
}

int read_json_file(const std::string &path, Model *into, std::string *error) {
  std::string text;
  try {
    if (!read_all(path, &text)) {
      *error = path + ": cannot be read";
      return PCS_HOST_NO_PROJECT;
    }
  } catch (const std::bad_alloc &) {
    *error = path + ": out of memory";
    return PCS_HOST_NO_MEMORY;
  }
  return parse_project(text, path, into, error);
}

}  // namespace detail

std::string to_json() { return detail::project_text(detail::state().model); }

}  // namespace pcs::host::model
