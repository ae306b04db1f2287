// Loading the project database: every table read into the model, each value
// checked against the schema, damage reported where it was found.
#include <cstdlib>
#include <cstring>

#include "host/inprocess/model_store.h"

namespace pcs::host::model::detail {
namespace {

constexpr int kMaxCharLength = 4096;
constexpr int kMaxSizeLength = 40;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool number_character(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

// Where a row lies, for the damage report (made only when there is one).
struct RowPlace {
  int handle;
  std::string_view group;
  std::string text() const {
    return "object_row (object " + std::to_string(handle) + ", group " + trim(group) + ")";
  }
};

// Reads the encoding back; every fault is a damaged project.
class RowReader {
 public:
  RowReader(std::string_view text, RowPlace place) : text_(text), place_(place) {}

  Row read(const GroupDef &group) {
    Row row;
    row.reserve(group.attributes.size());
    expect('[');
    for (size_t i = 0; i < group.attributes.size(); ++i) {
      if (i > 0) expect(',');
      row.push_back(value(group.attributes[i]));
    }
    expect(']');
    skip_blanks();
    if (at_ != text_.size()) bad("text after the end of the row");
    return row;
  }

 private:
  [[noreturn]] void bad(const std::string &what) { damaged(place_.text(), what); }
  // Also skips the blanks before c, as JSON written by hand may have them.
  void expect(char c) {
    skip_blanks();
    if (at_ >= text_.size() || text_[at_] != c) bad(std::string("expected '") + c + "'");
    ++at_;
  }
  void skip_blanks() {
    while (at_ < text_.size() && blank(text_[at_])) ++at_;
  }

  std::string string() {
    expect('"');
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '\\') {
        out += escaped();
      } else if ((c == 0xC2 || c == 0xC3) && at_ < text_.size()) {
        out += static_cast<char>(((c & 0x03) << 6) |
                                 (static_cast<unsigned char>(text_[at_++]) & 0x3F));
      } else if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        bad("a character beyond U+00FF");
      }
    }
    expect('"');
    return out;
  }

  char escaped() {
    static constexpr std::string_view kPairs = "\"\"\\\\//b\bf\fn\nr\rt\t";
    if (at_ >= text_.size()) bad("an unfinished escape");
    const char c = text_[at_++];
    for (size_t i = 0; i < kPairs.size(); i += 2) {
      if (kPairs[i] == c) return kPairs[i + 1];
    }
    if (c != 'u' || at_ + 4 > text_.size()) bad("an unknown escape");
    unsigned code = 0;
    for (char digit : text_.substr(at_, 4)) {
      const char *hex = "0123456789abcdef0123456789ABCDEF";
      const char *found = digit ? std::strchr(hex, digit) : nullptr;
      if (!found) bad("an escape that is not hexadecimal");
      code = code * 16 + static_cast<unsigned>((found - hex) % 16);
    }
    at_ += 4;
    if (code > 0xFF) bad("a character beyond U+00FF");
    return static_cast<char>(code);
  }

  std::string number() {
    size_t start = at_;
    while (at_ < text_.size() && number_character(text_[at_])) ++at_;
    return std::string(text_.substr(start, at_ - start));
  }

  std::string value(const AttributeDef &attribute) {
    std::string bytes;
    skip_blanks();
    bool is_string = at_ < text_.size() && text_[at_] == '"';
    std::string text = is_string ? string() : number();
    if ((attribute.type == 'I' && is_string) ||
        (attribute.type != 'I' && attribute.type != 'R' && !is_string) ||
        !value_from_text(attribute, text, &bytes)) {
      bad("a value that does not fit attribute " + trim(attribute.name));
    }
    return bytes;
  }

  std::string_view text_;
  RowPlace place_;
  size_t at_ = 0;
};

// ---- reading ---------------------------------------------------------------

void read_meta(Store &store) {
  Query q(store,
          "SELECT (SELECT value FROM meta WHERE key = 'format'),"
          " (SELECT value FROM meta WHERE key = 'schema_version'),"
          " (SELECT value FROM meta WHERE key = 'generation')",
          PCS_HOST_BAD_PROJECT);
  q.next();
  if (q.text(0, 64) != "pcs-project") damaged("meta", "not a pcs project");
  const int version = q.integer(1, INT32_MIN, INT32_MAX);
  if (version != kSchemaVersion) {
    damaged("meta", "schema version " + std::to_string(version) +
                        " is not known (this program reads " + std::to_string(kSchemaVersion) +
                        ")");
  }
  store.generation = q.integer(2);
}

void read_setup(Store &store, Model *model) {
  Query q(store, "SELECT catalog_directory, current_catalog, model, ibafr7 FROM setup",
          PCS_HOST_BAD_PROJECT);
  if (!q.next()) damaged("setup", "no setup row");
  model->setup = Setup{q.text(0, 1024), q.integer(1, 0, INT32_MAX), q.integer(2, 1, INT32_MAX),
                       q.integer(3, INT32_MIN, INT32_MAX)};
}

void read_catalogs(Store &store, Model *model) {
  Query q(store, "SELECT id FROM catalog ORDER BY position", PCS_HOST_BAD_PROJECT);
  while (q.next()) model->catalogs.push_back(Catalog{q.integer(0, 1, INT32_MAX), {}});
  for (Catalog &catalog : model->catalogs) {
    Query names(store, "SELECT name FROM catalog_file WHERE catalog = ? ORDER BY position",
                PCS_HOST_BAD_PROJECT);
    names.bind(catalog.id);
    while (names.next()) catalog.names.push_back(names.name(0));
  }
}

void read_groups(Store &store, Model *model) {
  Query q(store, "SELECT name, one_row FROM attr_group", PCS_HOST_BAD_PROJECT);
  while (q.next()) {
    std::string group_name = q.name(0);
    model->groups[group_name] = GroupDef{group_name, q.integer(1) != 0, {}};
  }
  Query a(store, "SELECT grp, name, type, length FROM attribute ORDER BY grp, position",
          PCS_HOST_BAD_PROJECT);
  while (a.next()) {
    auto group = model->groups.find(a.name(0));
    if (group == model->groups.end()) damaged("attribute", "of an unknown group");
    AttributeDef attribute{a.name(1), 'C', a.integer(3, 1, kMaxCharLength)};
    std::string type = a.text(2, 1);
    if (type.empty()) damaged("attribute", "an empty type");
    attribute.type = type[0];
    int fixed = attribute.type == 'I' ? 4 : attribute.type == 'R' ? 8 : 0;
    if (fixed && attribute.length != fixed) damaged("attribute", "a number of the wrong length");
    group->second.attributes.push_back(std::move(attribute));
  }
}

void read_types(Store &store, Model *model) {
  Query q(store, "SELECT name, host_name FROM object_type", PCS_HOST_BAD_PROJECT);
  while (q.next()) {
    std::string type_name = q.name(0);
    model->types[type_name] = TypeDef{type_name, q.text(1, kObjectName), {}};
  }
  Query g(store, "SELECT type, grp, group_type FROM type_group ORDER BY type, position",
          PCS_HOST_BAD_PROJECT);
  while (g.next()) {
    auto type = model->types.find(g.name(0));
    TypeGroup group{g.name(1), g.name(2)};
    if (type == model->types.end() || !model->groups.count(group.group)) {
      damaged("type_group", "an unknown type or group");
    }
    type->second.groups.push_back(std::move(group));
  }
}

void read_objects(Store &store, Model *model) {
  Query q(store, "SELECT handle, type, name, element_class FROM object", PCS_HOST_BAD_PROJECT);
  while (q.next()) {
    Object object;
    object.handle = q.integer(0, 1, INT32_MAX - 1);
    object.type = q.name(1);
    if (!model->types.count(object.type))
      damaged("object", "of an unknown type " + trim(object.type));
    object.name = q.text(2, kObjectName);
    object.element_class = q.text(3, 80);
    model->objects[object.handle] = std::move(object);
  }
  Query g(store, "SELECT object, grp FROM object_group", PCS_HOST_BAD_PROJECT);
  while (g.next()) {
    Object *object = model->object(g.integer(0, INT32_MIN, INT32_MAX));
    std::string group = g.name(1);
    if (!object || !model->groups.count(group))
      damaged("object_group", "an unknown object or group");
    object->groups[group];
  }
  Query s(store, "SELECT object, set_name, name FROM name_set ORDER BY object, set_name, position",
          PCS_HOST_BAD_PROJECT);
  while (s.next()) {
    Object *object = model->object(s.integer(0, INT32_MIN, INT32_MAX));
    if (!object) damaged("name_set", "of an unknown object");
    object->sets[s.name(1)].push_back(s.name(2));
  }
}

void read_rows(Store &store, Model *model) {
  Query q(store, "SELECT object, grp, row, vals FROM object_row ORDER BY object, grp, row",
          PCS_HOST_BAD_PROJECT);
  std::vector<Row> *rows = nullptr;
  const GroupDef *group = nullptr;
  int last_object = 0;
  std::string last_group;  // as stored, unpadded
  while (q.next()) {
    const int handle = q.integer(0, INT32_MIN, INT32_MAX);
    const std::string_view group_text = q.text_view(1, kNameWidth);
    const RowPlace place{handle, group_text};
    if (!rows || handle != last_object || group_text != last_group) {
      const std::string group_name = pad(group_text, kNameWidth);
      Object *object = model->object(handle);
      if (!object || !object->groups.count(group_name))
        damaged(place.text(), "a group the object does not hold");
      rows = &object->groups[group_name];
      group = &model->groups.at(group_name);
      last_object = handle;
      last_group = group_text;
    }
    if (q.integer(2) != static_cast<long long>(rows->size()) + 1)
      damaged(place.text(), "rows out of sequence");
    rows->push_back(RowReader(q.text_view(3, 1u << 24), place).read(*group));
  }
}

void read_standards(Store &store, Model *model) {
  Query q(store, "SELECT standard, name, length FROM size_table", PCS_HOST_BAD_PROJECT);
  while (q.next())
    model->standards[q.name(0)][q.name(1)] = SizeTable{q.integer(2, 1, kMaxSizeLength), {}};
  Query s(store,
          "SELECT standard, size_table, size FROM size ORDER BY standard, size_table, position",
          PCS_HOST_BAD_PROJECT);
  while (s.next()) {
    auto standard = model->standards.find(s.name(0));
    const std::string table = s.name(1);
    if (standard == model->standards.end() || !standard->second.count(table)) {
      damaged("size", "of an unknown size table");
    }
    SizeTable &sizes = standard->second[table];
    sizes.sizes.push_back(s.text(2, static_cast<size_t>(sizes.length)));
  }
}

void read_families(Store &store, Model *model) {
  Query q(store, "SELECT id FROM family ORDER BY position", PCS_HOST_BAD_PROJECT);
  while (q.next()) model->families.push_back(Family{q.integer(0, INT32_MIN, INT32_MAX), {}});
  Query c(store, "SELECT family, category FROM family_category ORDER BY family, position",
          PCS_HOST_BAD_PROJECT);
  while (c.next()) {
    const long long family = c.integer(0);
    if (family < 1 || family > static_cast<long long>(model->families.size())) {
      damaged("family_category", "of an unknown family");
    }
    model->families[static_cast<size_t>(family - 1)].categories.push_back(c.text(1, 24));
  }
  Query p(store, "SELECT family, category, eltime FROM part_object ORDER BY position",
          PCS_HOST_BAD_PROJECT);
  while (p.next())
    model->part_objects.push_back(
        PartObject{p.integer(0, INT32_MIN, INT32_MAX), p.text(1, 24), p.text(2, 16)});
}

}  // namespace

void read_model(Store &store, Model *model) {
  read_meta(store);
  read_setup(store, model);
  read_catalogs(store, model);
  read_groups(store, model);
  read_types(store, model);
  read_objects(store, model);
  read_rows(store, model);
  read_standards(store, model);
  read_families(store, model);
}
}  // namespace pcs::host::model::detail
