// Catalog records as rows of typed values: column names, the project
// schema, value text to bytes and back, rows to part records and back.
#include "tools/catalog_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "host/host_services.h"
#include "host/inprocess/model.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

bool all_blank(const unsigned char *bytes, int length) {
  for (int i = 0; i < length; ++i)
    if (bytes[i] != ' ') return false;
  return true;
}

bool printable(const unsigned char *bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i] < 32 || bytes[i] > 126) return false;
  return true;
}

template <class T>
bool parse_number(const std::string &text, T *value) {
  const char *end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && at == end;
}

bool parse_type(const std::string &text, ValueType *type) {
  if (text.size() < 2 || (text[0] != 'C' && text[0] != 'I' && text[0] != 'R')) return false;
  int length = 0;
  if (!parse_number(text.substr(1), &length) || length < 1 || length > 4096) return false;
  if ((text[0] == 'I' && length != 4) || (text[0] == 'R' && length != 8)) return false;
  *type = {text[0], length};
  return true;
}

}  // namespace

bool parse_column(const std::string &name, Column *column, std::string *error) {
  *column = Column{};
  if (name == "@offset" || name == "@state") {
    column->meta = name;
    return true;
  }
  std::string rest = name;
  if (const size_t colon = rest.find(':'); colon != std::string::npos) {
    ValueType type;
    if (!parse_type(rest.substr(colon + 1), &type)) {
      *error = "\"" + name + "\": the type after ':' must be C1 to C4096, I4 or R8";
      return false;
    }
    column->type = type;
    rest.resize(colon);
  }
  if (const size_t hash = rest.find('#'); hash != std::string::npos) {
    if (!parse_number(rest.substr(hash + 1), &column->index) || column->index < 1) {
      *error = "\"" + name + "\": the value number after '#' must be 1 or more";
      return false;
    }
    rest.resize(hash);
  }
  const size_t dot = rest.find('.');
  if (dot == std::string::npos) {
    *error = "\"" + name + "\" is not GROUP.ATTRIBUTE";
    return false;
  }
  column->group = rest.substr(0, dot);
  column->attribute = rest.substr(dot + 1);
  for (const std::string *part : {&column->group, &column->attribute}) {
    if (part->empty() || part->size() > PCS_NAME_LEN || part->find(' ') != std::string::npos) {
      *error = "\"" + name + "\": group and attribute names have 1 to 8 characters, no blanks";
      return false;
    }
    // A name field holds text: a control byte (a zero ends the name for
    // the library) or a byte outside ASCII is refused here, by column.
    if (std::any_of(part->begin(), part->end(), [](unsigned char c) { return c < 33 || c > 126; })) {
      *error = "a column name holds a byte that is not a printable ASCII character";
      return false;
    }
  }
  return true;
}

std::string column_name(const std::string &group, const std::string &attribute, int index,
                        const std::optional<ValueType> &type) {
  std::string name = group + "." + attribute;
  if (index > 1) name += "#" + std::to_string(index);
  if (type) name += ":" + std::string(1, type->type) + std::to_string(type->length);
  return name;
}

Schema Schema::load(const std::string &project) {
  namespace model = host::model;
  Schema schema;
  if (!project.empty()) model::set_project_path(project);
  const std::string path = model::project_path();
  if (project.empty() && !std::filesystem::exists(path)) return schema;
  if (int rc = model::load(path)) fail(path + ": cannot read the project: " + model::load_error() + code_text(rc));
  for (const auto &[name, group] : model::data().groups)
    for (const model::AttributeDef &a : group.attributes)
      schema.declare(trimmed(name.data(), name.size()), trimmed(a.name.data(), a.name.size()),
                     {a.type == 'I' || a.type == 'R' ? a.type : 'C', a.length});
  return schema;
}

void Schema::declare(const std::string &group, const std::string &attribute, ValueType type) {
  groups_[group][attribute] = type;
}

const ValueType *Schema::find(const std::string &group, const std::string &attribute) const {
  auto g = groups_.find(group);
  if (g == groups_.end()) return nullptr;
  auto a = g->second.find(attribute);
  return a == g->second.end() ? nullptr : &a->second;
}

std::vector<std::string> Schema::attributes(const std::string &group) const {
  std::vector<std::string> names;
  if (auto g = groups_.find(group); g != groups_.end())
    for (const auto &entry : g->second) names.push_back(entry.first);
  return names;
}

std::vector<std::string> Schema::groups() const {
  std::vector<std::string> names;
  for (const auto &entry : groups_) names.push_back(entry.first);
  return names;
}

bool encode_value(const Cell &cell, ValueType type, unsigned char *out, std::string *error) {
  const auto length = static_cast<size_t>(type.length);
  if (cell.kind != Cell::filled || (type.type != 'C' && cell.text.empty())) {
    std::memset(out, ' ', length);
    return true;
  }
  // Numbers only at their own lengths (a schema cannot declare others).
  if (type.type == 'I' && length == 4) {
    int32_t number = 0;
    if (!parse_number(cell.text, &number)) {
      *error = "\"" + cell.text + "\" is not a 32-bit integer";
      return false;
    }
    std::memcpy(out, &number, 4);
    return true;
  }
  if (type.type == 'R' && length == 8) {
    double number = 0;
    if (!parse_number(cell.text, &number) || !std::isfinite(number)) {
      *error = "\"" + cell.text + "\" is not a number";
      return false;
    }
    std::memcpy(out, &number, 8);
    return true;
  }
  if (cell.text.size() > length) {
    *error = "\"" + cell.text + "\" has " + std::to_string(cell.text.size()) +
             " characters, more than the length " + std::to_string(type.length);
    return false;
  }
  std::memcpy(out, cell.text.data(), cell.text.size());
  std::memset(out + cell.text.size(), ' ', length - cell.text.size());
  return true;
}

bool encode_value(const Cell &cell, ValueType type, std::string *bytes, std::string *error) {
  bytes->assign(static_cast<size_t>(type.length), ' ');
  return encode_value(cell, type, reinterpret_cast<unsigned char *>(bytes->data()), error);
}

Shown decode_value(const unsigned char *bytes, ValueType type) {
  if (all_blank(bytes, type.length)) return {};
  char text[32];
  if (type.type == 'I' && type.length == 4) {
    int32_t number = 0;
    std::memcpy(&number, bytes, 4);
    auto end = std::to_chars(text, text + sizeof text, number).ptr;
    return {Shown::integer, std::string(text, end)};
  }
  if (type.type == 'R' && type.length == 8) {
    double number = 0;
    std::memcpy(&number, bytes, 8);
    if (std::isfinite(number)) {
      auto end = std::to_chars(text, text + sizeof text, number).ptr;
      return {Shown::real, std::string(text, end)};
    }
  }
  // Trailing blanks are dropped before the text is made: most values then
  // fit the string's own room.
  size_t length = static_cast<size_t>(type.length);
  while (length > 0 && bytes[length - 1] == ' ') --length;
  return {Shown::characters, std::string(reinterpret_cast<const char *>(bytes), length)};
}

char guess_type(const unsigned char *values, int count, int length) {
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(length);
  if (length == 4) return printable(values, bytes) ? 'C' : 'I';
  if (length != 8) return 'C';
  // Finite values not all printable are reals whatever their decimal form:
  // no need to write them out.
  bool finite = true;
  for (int k = 0; k < count && finite; ++k) {
    double number = 0;
    std::memcpy(&number, values + static_cast<size_t>(k) * 8, 8);
    finite = std::isfinite(number);
  }
  if (finite && !printable(values, bytes)) return 'R';
  // Reals whose bytes happen to be printable (219.1 is "33333ck@") are
  // told from text by their short decimal form.
  bool short_form = true;
  finite = true;
  for (int k = 0; k < count; ++k) {
    const unsigned char *v = values + static_cast<size_t>(k) * 8;
    if (all_blank(v, 8)) continue;
    double number = 0;
    std::memcpy(&number, v, 8);
    char text[32];
    finite = finite && std::isfinite(number);
    short_form = short_form && finite && std::to_chars(text, text + sizeof text, number).ptr - text <= 10;
  }
  if (short_form) return 'R';
  return printable(values, bytes) || !finite ? 'C' : 'R';
}

bool build_row(const std::vector<std::pair<const Column *, Cell>> &cells, const Schema &schema,
               Row *row, std::string *error, size_t *at) {
  // Per attribute, its cells by value number.
  std::map<std::pair<std::string, std::string>, std::map<int, size_t>> attributes;
  for (size_t i = 0; i < cells.size(); ++i) {
    const auto &[c, cell] = cells[i];
    *at = i;
    if (c->meta == "@state" && cell.kind == Cell::filled) {
      if (cell.text != "live" && cell.text != "deleted") {
        *error = "\"" + cell.text + "\" is neither live nor deleted";
        return false;
      }
      row->deleted = cell.text == "deleted";
    }
    if (c->meta.empty() && cell.kind != Cell::absent) {
      size_t &slot = attributes[{c->group, c->attribute}][c->index];
      if (slot != 0) {
        *error = "the value is given twice";
        return false;
      }
      slot = i + 1;
    }
  }
  row->fields.clear();
  for (const auto &[name, values] : attributes) {
    *at = values.begin()->second - 1;
    const Column &first = *cells[*at].first;
    const ValueType *declared = schema.find(name.first, name.second);
    if (!first.type && !declared) {
      const std::vector<std::string> known = schema.attributes(name.first);
      std::string hint = known.empty() ? did_you_mean(name.first, schema.groups())
                                       : did_you_mean(name.second, known);
      if (!hint.empty()) hint = " (" + hint.substr(2) + ")";
      *error = "the project declares no " +
               (known.empty() ? "group " + name.first : "attribute " + name.first + "." + name.second) +
               hint + "; give its type in the name, as " +
               column_name(name.first, name.second, 1, ValueType{'C', 8}) + ", :I4 or :R8";
      return false;
    }
    Field field{name.first, name.second, first.type ? *first.type : *declared, {}};
    for (const auto &[index, slot] : values) {
      *at = slot - 1;
      const auto &[column, cell] = cells[*at];
      if (index != static_cast<int>(field.values.size()) + 1) {
        *error = "value " + std::to_string(field.values.size() + 1) + " of " + name.first + "." +
                 name.second + " is missing";
        return false;
      }
      if (column->type && *column->type != field.type) {
        *error = "its type differs from that of value 1";
        return false;
      }
      std::string bytes;
      if (!encode_value(cell, field.type, &bytes, error)) return false;
      field.values.push_back(std::move(bytes));
    }
    row->fields.push_back(std::move(field));
  }
  *at = cells.size();
  if (row->fields.empty()) *error = "the row has no value (a part needs at least one)";
  return !row->fields.empty();
}

PartRecord *row_record(const Row &row, std::string *error) {
  PartRecord *record = nullptr;
  int rc = 0;
  cspgcre(&record, &rc);
  std::string values;
  for (const Field &f : row.fields) {
    if (rc != 0) break;
    values.clear();
    for (const std::string &v : f.values) values += v;
    const std::string group = name_field(f.group), attribute = name_field(f.attribute);
    cspgadd(record, group.c_str(), attribute.c_str(), static_cast<int>(f.values.size()),
            f.type.length, values.data(), &rc);
  }
  if (rc == 0) return record;
  if (record) cspgfre(record);
  *error = rc == PCS_ATTR_EXISTS ? "an attribute is given twice" : "no memory" + code_text(rc);
  return nullptr;
}

RowRecords::~RowRecords() {
  for (auto &entry : plans_) cspgfre(entry.second.record);
}

bool RowRecords::plan(const std::vector<Cell> &cells, Plan *plan, std::string *error, size_t *at) {
  std::vector<std::pair<const Column *, Cell>> pairs;
  pairs.reserve(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) pairs.emplace_back(&columns_[i], cells[i]);
  Row row;
  if (!build_row(pairs, schema_, &row, error, at)) return false;
  plan->record = row_record(row, error);
  *at = cells.size();
  if (!plan->record) return false;
  for (size_t i = 0; i < cells.size(); ++i)
    if (columns_[i].meta == "@state" && cells[i].kind != Cell::absent) plan->states.push_back(i);
  for (const Field &f : row.fields) {
    Attribute *attribute = nullptr;
    const std::string group = name_field(f.group), name = name_field(f.attribute);
    for (void *g = plan->record->GroupList; g && !attribute; g = pplstnxt(g)) {
      const auto *found = static_cast<const AttrGroup *>(pplstgtd(g));
      if (std::memcmp(found->GroupName, group.data(), PCS_NAME_LEN) != 0) continue;
      for (void *a = found->AttrList; a && !attribute; a = pplstnxt(a)) {
        auto *candidate = static_cast<Attribute *>(pplstgtd(a));
        if (std::memcmp(candidate->AttrName, name.data(), PCS_NAME_LEN) == 0) attribute = candidate;
      }
    }
    if (!attribute) {
      *error = "no memory";
      return false;
    }
    // In build_row's order: by attribute, then by value number.
    const size_t first = plan->values.size();
    for (size_t i = 0; i < cells.size(); ++i) {
      const Column &c = columns_[i];
      if (cells[i].kind == Cell::absent || !c.meta.empty() || c.group != f.group || c.attribute != f.attribute)
        continue;
      const size_t value = static_cast<size_t>(c.index - 1);
      plan->values.push_back({i, f.type, attribute->AttrValue + value * static_cast<size_t>(f.type.length)});
    }
    std::sort(plan->values.begin() + static_cast<std::ptrdiff_t>(first), plan->values.end(),
              [](const Value &a, const Value &b) { return a.bytes < b.bytes; });
  }
  return true;
}

PartRecord *RowRecords::build(const std::vector<Cell> &cells, bool *deleted, std::string *error, size_t *at) {
  mask_.assign(cells.size(), '0');
  for (size_t i = 0; i < cells.size(); ++i)
    if (cells[i].kind != Cell::absent) mask_[i] = '1';
  auto found = plans_.find(mask_);
  if (found == plans_.end()) {
    Plan made;
    if (!plan(cells, &made, error, at)) {
      if (made.record) cspgfre(made.record);
      return nullptr;
    }
    found = plans_.emplace(mask_, std::move(made)).first;
  }
  const Plan &p = found->second;
  *deleted = false;
  for (size_t i : p.states) {
    if (cells[i].kind != Cell::filled) continue;
    *at = i;
    if (cells[i].text != "live" && cells[i].text != "deleted") {
      *error = "\"" + cells[i].text + "\" is neither live nor deleted";
      return nullptr;
    }
    *deleted = cells[i].text == "deleted";
  }
  for (const Value &v : p.values) {
    *at = v.cell;
    if (!encode_value(cells[v.cell], v.type, v.bytes, error)) return nullptr;
  }
  return p.record;
}

std::vector<Field> record_fields(PartRecord *record, const Schema &schema) {
  std::vector<Field> fields;
  for (void *g = record ? record->GroupList : nullptr; g; g = pplstnxt(g)) {
    const auto *group = static_cast<const AttrGroup *>(pplstgtd(g));
    const std::string group_name = trimmed(group->GroupName, PCS_NAME_LEN);
    for (void *a = group->AttrList; a; a = pplstnxt(a)) {
      const auto *attribute = static_cast<const Attribute *>(pplstgtd(a));
      Field field{group_name, trimmed(attribute->AttrName, PCS_NAME_LEN), {}, {}};
      const int length = attribute->nAttrLength;
      const ValueType *declared = schema.find(field.group, field.attribute);
      field.type = declared && declared->length == length
                       ? *declared
                       : ValueType{guess_type(attribute->AttrValue, attribute->nAttrs, length), length};
      for (int k = 0; k < attribute->nAttrs; ++k)
        field.values.emplace_back(
            reinterpret_cast<const char *>(attribute->AttrValue) + static_cast<size_t>(k) * static_cast<size_t>(length),
            static_cast<size_t>(length));
      fields.push_back(std::move(field));
    }
  }
  return fields;
}

std::optional<ValueType> written_type(const Schema &schema, const std::string &group,
                                      const std::string &attribute, ValueType type) {
  const ValueType *declared = schema.find(group, attribute);
  if (declared && *declared == type) return std::nullopt;
  return type;
}

}  // namespace pcs::tools
