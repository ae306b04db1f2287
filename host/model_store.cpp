// The project database: the model stored in SQLite tables a person can read
// (docs/project-file.md). Loading reads every table into the in-memory
// model and keeps a copy of what the database holds; a save compares the
// model with that copy and writes only what differs, in one transaction.
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unordered_map>

#include "host/model_internal.h"

namespace pcs::host::model::detail {

constexpr int kSchemaVersion = 1;

struct Store {
  sqlite3 *db = nullptr;
  std::string path;
  Model saved;               // what the database holds
  bool saved_known = false;  // false after a failed save: reread before comparing
  long long generation = 0;  // bumped by every save, to notice other writers
  std::unordered_map<const char *, sqlite3_stmt *> statements;
  int steps = 0;  // write statements run in the current save
};

void StoreDeleter::operator()(Store *store) const {
  if (!store) return;
  for (auto &[sql, statement] : store->statements) sqlite3_finalize(statement);
  sqlite3_close(store->db);
  delete store;
}

namespace {

const char *const kSchema = R"(
CREATE TABLE meta(key TEXT PRIMARY KEY, value);
CREATE TABLE setup(id INTEGER PRIMARY KEY CHECK (id = 1), catalog_directory TEXT NOT NULL,
  current_catalog INTEGER NOT NULL, model INTEGER NOT NULL, ibafr7 INTEGER NOT NULL);
CREATE TABLE catalog(position INTEGER PRIMARY KEY, id INTEGER NOT NULL UNIQUE);
CREATE TABLE catalog_file(catalog INTEGER NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL,
  PRIMARY KEY (catalog, position));
CREATE TABLE attr_group(name TEXT PRIMARY KEY, one_row INTEGER NOT NULL);
CREATE TABLE attribute(grp TEXT NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL,
  type TEXT NOT NULL, length INTEGER NOT NULL, PRIMARY KEY (grp, position));
CREATE TABLE object_type(name TEXT PRIMARY KEY, host_name TEXT NOT NULL);
CREATE TABLE type_group(type TEXT NOT NULL, position INTEGER NOT NULL, grp TEXT NOT NULL,
  group_type TEXT NOT NULL, PRIMARY KEY (type, position));
CREATE TABLE object(handle INTEGER PRIMARY KEY, type TEXT NOT NULL, name TEXT NOT NULL,
  element_class TEXT NOT NULL);
CREATE TABLE object_group(object INTEGER NOT NULL, grp TEXT NOT NULL, PRIMARY KEY (object, grp))
  WITHOUT ROWID;
CREATE TABLE object_row(object INTEGER NOT NULL, grp TEXT NOT NULL, row INTEGER NOT NULL,
  vals TEXT NOT NULL, PRIMARY KEY (object, grp, row)) WITHOUT ROWID;
CREATE TABLE name_set(object INTEGER NOT NULL, set_name TEXT NOT NULL, position INTEGER NOT NULL,
  name TEXT NOT NULL, PRIMARY KEY (object, set_name, position)) WITHOUT ROWID;
CREATE TABLE size_table(standard TEXT NOT NULL, name TEXT NOT NULL, length INTEGER NOT NULL,
  PRIMARY KEY (standard, name));
CREATE TABLE size(standard TEXT NOT NULL, size_table TEXT NOT NULL, position INTEGER NOT NULL,
  size TEXT NOT NULL, PRIMARY KEY (standard, size_table, position));
CREATE TABLE family(position INTEGER PRIMARY KEY, id INTEGER NOT NULL);
CREATE TABLE family_category(family INTEGER NOT NULL, position INTEGER NOT NULL,
  category TEXT NOT NULL, PRIMARY KEY (family, position));
CREATE TABLE part_object(position INTEGER PRIMARY KEY, family INTEGER NOT NULL,
  category TEXT NOT NULL, eltime TEXT NOT NULL);
CREATE VIEW cell AS
  SELECT r.object, r.grp, r.row, a.name AS attribute,
         json_extract(r.vals, '$[' || (a.position - 1) || ']') AS value
  FROM object_row r JOIN attribute a ON a.grp = r.grp;
INSERT INTO meta VALUES ('format', 'pcs-project'), ('schema_version', 1), ('generation', 0);
INSERT INTO setup VALUES (1, '', 0, 1, 0);
)";

constexpr int kMaxCharLength = 4096;
constexpr int kMaxSizeLength = 40;

struct StoreError {
  int code;
  std::string message;
};

[[noreturn]] void fail(int code, const std::string &message) { throw StoreError{code, message}; }
[[noreturn]] void damaged(const std::string &where, const std::string &what) {
  fail(PCS_HOST_BAD_PROJECT, where + ": " + what);
}

// SQLite's answer as a store error: damage is a bad project, a lock is a
// busy project, anything else (full disk, I/O) the caller's `code`.
[[noreturn]] void sqlite_failed(Store &store, int rc, int code) {
  const std::string what = sqlite3_errmsg(store.db);
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      fail(PCS_HOST_BUSY, "project is busy (another process is writing it): " + what);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_ERROR:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
      if (code != PCS_HOST_SAVE_FAILED) fail(PCS_HOST_BAD_PROJECT, "not a project database: " + what);
      break;
    case SQLITE_NOMEM:
      fail(PCS_HOST_NO_MEMORY, what);
    default:
      break;
  }
  fail(code, what);
}

// ---- statements -------------------------------------------------------------

// A cached prepared statement, bound in order, reset when done with.
class Query {
 public:
  Query(Store &store, const char *sql, int code) : store_(store), code_(code) {
    sqlite3_stmt *&cached = store.statements[sql];
    if (!cached) {
      int rc = sqlite3_prepare_v2(store.db, sql, -1, &cached, nullptr);
      if (rc != SQLITE_OK) {
        store.statements.erase(sql);
        sqlite_failed(store, rc, code);
      }
    }
    statement_ = cached;
  }
  ~Query() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Query(const Query &) = delete;
  Query &operator=(const Query &) = delete;

  Query &bind(long long value) {
    sqlite3_bind_int64(statement_, ++bound_, value);
    return *this;
  }
  Query &bind(std::string_view text) {
    sqlite3_bind_text(statement_, ++bound_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // A name field, stored without its trailing blanks.
  Query &bind_name(std::string_view field) { return bind(std::string_view(trim(field))); }

  // Next result row: true while there is one.
  bool next() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) sqlite_failed(store_, rc, code_);
    return false;
  }
  // Runs a write statement; the store's fault and hook apply.
  void run();

  long long integer(int column) {
    if (sqlite3_column_type(statement_, column) != SQLITE_INTEGER) {
      damaged(sqlite3_column_name(statement_, column), "expected an integer");
    }
    return sqlite3_column_int64(statement_, column);
  }
  int integer(int column, long long low, long long high) {
    long long value = integer(column);
    if (value < low || value > high) damaged(sqlite3_column_name(statement_, column), "out of range");
    return static_cast<int>(value);
  }
  std::string text(int column, size_t limit) {
    if (sqlite3_column_type(statement_, column) != SQLITE_TEXT) {
      damaged(sqlite3_column_name(statement_, column), "expected text");
    }
    const char *p = reinterpret_cast<const char *>(sqlite3_column_text(statement_, column));
    std::string out(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
    if (out.size() > limit) {
      damaged(sqlite3_column_name(statement_, column), "longer than " + std::to_string(limit));
    }
    return out;
  }
  std::string name(int column) { return pad(text(column, kNameWidth), kNameWidth); }

 private:
  Store &store_;
  int code_;
  sqlite3_stmt *statement_ = nullptr;
  int bound_ = 0;
};

void Query::run() {
  State &s = state();
  if (s.save_fault == SaveFault::full) {
    s.save_fault = SaveFault::none;
    fail(PCS_HOST_SAVE_FAILED, sqlite3_errstr(SQLITE_FULL));
  }
  while (next()) {
  }
  ++store_.steps;
  if (s.save_hook) s.save_hook(store_.steps);
}

void execute(Store &store, const char *sql, int code) {
  char *message = nullptr;
  int rc = sqlite3_exec(store.db, sql, nullptr, nullptr, &message);
  sqlite3_free(message);
  if (rc != SQLITE_OK) sqlite_failed(store, rc, code);
}

// ---- row values: a JSON array, one element per attribute ---------------------
// Characters are strings (trailing blanks dropped, each byte the character of
// the same number), I integers, R numbers or "nan", "inf", "-inf".

void append_string(std::string_view bytes, std::string *out) {
  *out += '"';
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      *out += escape;
    } else if (c < 0x80) {
      *out += static_cast<char>(c);
    } else {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  *out += '"';
}

void append_value(const AttributeDef &attribute, const std::string &bytes, std::string *out) {
  char number[40];
  if (attribute.type == 'I') {
    int32_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    std::snprintf(number, sizeof number, "%d", static_cast<int>(value));
  } else if (attribute.type == 'R') {
    double value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    if (!std::isfinite(value)) return append_string(std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf", out);
    std::snprintf(number, sizeof number, "%.15g", value);
    if (std::strtod(number, nullptr) != value) std::snprintf(number, sizeof number, "%.17g", value);
  } else {
    return append_string(trim(bytes), out);
  }
  *out += number;
}

std::string encode_row(const GroupDef &group, Row row) {
  std::string out = "[";
  for (size_t i = 0; i < group.attributes.size(); ++i) {
    if (i > 0) out += ',';
    append_value(group.attributes[i], cell(row, group, i), &out);
  }
  return out + "]";
}

// Reads the encoding back; every fault is a damaged project.
class RowReader {
 public:
  RowReader(std::string_view text, std::string where) : text_(text), where_(std::move(where)) {}

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
  [[noreturn]] void bad(const std::string &what) { damaged(where_, what); }
  // Also skips the blanks before c, as JSON written by hand may have them.
  void expect(char c) {
    skip_blanks();
    if (at_ >= text_.size() || text_[at_] != c) bad(std::string("expected '") + c + "'");
    ++at_;
  }
  void skip_blanks() {
    while (at_ < text_.size() && std::strchr(" \t\n\r", text_[at_]) && text_[at_] != '\0') ++at_;
  }

  std::string string() {
    expect('"');
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '\\') {
        out += escaped();
      } else if ((c == 0xC2 || c == 0xC3) && at_ < text_.size()) {
        out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text_[at_++]) & 0x3F));
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
    while (at_ < text_.size() && std::strchr("+-.0123456789eE", text_[at_])) ++at_;
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
  std::string where_;
  size_t at_ = 0;
};

// ---- reading ---------------------------------------------------------------

void read_meta(Store &store) {
  Query q(store, "SELECT (SELECT value FROM meta WHERE key = 'format'),"
                 " (SELECT value FROM meta WHERE key = 'schema_version'),"
                 " (SELECT value FROM meta WHERE key = 'generation')", PCS_HOST_BAD_PROJECT);
  q.next();
  if (q.text(0, 64) != "pcs-project") damaged("meta", "not a pcs project");
  const int version = q.integer(1, INT32_MIN, INT32_MAX);
  if (version != kSchemaVersion) {
    damaged("meta", "schema version " + std::to_string(version) + " is not known (this program reads " +
                        std::to_string(kSchemaVersion) + ")");
  }
  store.generation = q.integer(2);
}

void read_setup(Store &store, Model *model) {
  Query q(store, "SELECT catalog_directory, current_catalog, model, ibafr7 FROM setup", PCS_HOST_BAD_PROJECT);
  if (!q.next()) damaged("setup", "no setup row");
  model->setup = Setup{q.text(0, 1024), q.integer(1, 0, INT32_MAX), q.integer(2, 1, INT32_MAX),
                       q.integer(3, INT32_MIN, INT32_MAX)};
}

void read_catalogs(Store &store, Model *model) {
  Query q(store, "SELECT id FROM catalog ORDER BY position", PCS_HOST_BAD_PROJECT);
  while (q.next()) model->catalogs.push_back(Catalog{q.integer(0, 1, INT32_MAX), {}});
  for (Catalog &catalog : model->catalogs) {
    Query names(store, "SELECT name FROM catalog_file WHERE catalog = ? ORDER BY position", PCS_HOST_BAD_PROJECT);
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
  Query a(store, "SELECT grp, name, type, length FROM attribute ORDER BY grp, position", PCS_HOST_BAD_PROJECT);
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
  Query g(store, "SELECT type, grp, group_type FROM type_group ORDER BY type, position", PCS_HOST_BAD_PROJECT);
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
    if (!model->types.count(object.type)) damaged("object", "of an unknown type " + trim(object.type));
    object.name = q.text(2, kObjectName);
    object.element_class = q.text(3, 80);
    model->objects[object.handle] = std::move(object);
  }
  Query g(store, "SELECT object, grp FROM object_group", PCS_HOST_BAD_PROJECT);
  while (g.next()) {
    Object *object = model->object(g.integer(0, INT32_MIN, INT32_MAX));
    std::string group = g.name(1);
    if (!object || !model->groups.count(group)) damaged("object_group", "an unknown object or group");
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
  Query q(store, "SELECT object, grp, row, vals FROM object_row ORDER BY object, grp, row", PCS_HOST_BAD_PROJECT);
  std::vector<Row> *rows = nullptr;
  const GroupDef *group = nullptr;
  int last_object = 0;
  std::string last_group;
  while (q.next()) {
    const int handle = q.integer(0, INT32_MIN, INT32_MAX);
    std::string group_name = q.name(1);
    const std::string where = "object_row (object " + std::to_string(handle) + ", group " +
                              trim(group_name) + ")";
    if (!rows || handle != last_object || group_name != last_group) {
      Object *object = model->object(handle);
      if (!object || !object->groups.count(group_name)) damaged(where, "a group the object does not hold");
      rows = &object->groups[group_name];
      group = &model->groups.at(group_name);
      last_object = handle;
      last_group = std::move(group_name);
    }
    if (q.integer(2) != static_cast<long long>(rows->size()) + 1) damaged(where, "rows out of sequence");
    rows->push_back(RowReader(q.text(3, 1u << 24), where).read(*group));
  }
}

void read_standards(Store &store, Model *model) {
  Query q(store, "SELECT standard, name, length FROM size_table", PCS_HOST_BAD_PROJECT);
  while (q.next()) model->standards[q.name(0)][q.name(1)] = SizeTable{q.integer(2, 1, kMaxSizeLength), {}};
  Query s(store, "SELECT standard, size_table, size FROM size ORDER BY standard, size_table, position",
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
  Query c(store, "SELECT family, category FROM family_category ORDER BY family, position", PCS_HOST_BAD_PROJECT);
  while (c.next()) {
    const long long family = c.integer(0);
    if (family < 1 || family > static_cast<long long>(model->families.size())) {
      damaged("family_category", "of an unknown family");
    }
    model->families[static_cast<size_t>(family - 1)].categories.push_back(c.text(1, 24));
  }
  Query p(store, "SELECT family, category, eltime FROM part_object ORDER BY position", PCS_HOST_BAD_PROJECT);
  while (p.next()) model->part_objects.push_back(PartObject{p.integer(0, INT32_MIN, INT32_MAX), p.text(1, 24), p.text(2, 16)});
}

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

// ---- writing: what differs from the saved copy ---------------------------------

class Writer {
 public:
  Writer(Store &store) : store_(store), saved_(store.saved) {}

  void save(const Model &model) {
    if (!(saved_.setup == model.setup)) write_setup(model.setup);
    if (saved_.catalogs != model.catalogs) write_catalogs(model.catalogs);
    changed_groups_.clear();
    for_each_change(saved_.groups, model.groups, [&](const std::string &key, const GroupDef *now) {
      write_group(key, now);
      changed_groups_.insert(key);
    });
    for_each_change(saved_.types, model.types,
                    [&](const std::string &key, const TypeDef *now) { write_type(key, now); });
    write_objects(model);
    for_each_change(saved_.standards, model.standards, [&](const std::string &key, const auto *now) {
      write_standard(key, now);
    });
    if (saved_.families != model.families) write_families(model.families);
    if (saved_.part_objects != model.part_objects) write_part_objects(model.part_objects);
  }

 private:
  Query sql(const char *text) { return Query(store_, text, PCS_HOST_SAVE_FAILED); }

  // Calls change(key, now) for every key whose value differs (now is
  // nullptr for a key that is gone) and makes the saved copy match.
  template <class Map, class F>
  void for_each_change(Map &saved, const Map &now, F change) {
    for (auto it = saved.begin(); it != saved.end();) {
      if (now.count(it->first)) {
        ++it;
        continue;
      }
      change(it->first, static_cast<const typename Map::mapped_type *>(nullptr));
      it = saved.erase(it);
    }
    for (const auto &[key, value] : now) {
      auto found = saved.find(key);
      if (found != saved.end() && found->second == value) continue;
      change(key, &value);
      saved[key] = value;
    }
  }

  void write_setup(const Setup &setup) {
    sql("UPDATE setup SET catalog_directory = ?, current_catalog = ?, model = ?, ibafr7 = ?")
        .bind(setup.catalog_directory).bind(setup.current_catalog).bind(setup.model).bind(setup.ibafr7).run();
    saved_.setup = setup;
  }

  void write_catalogs(const std::vector<Catalog> &catalogs) {
    sql("DELETE FROM catalog").run();
    sql("DELETE FROM catalog_file").run();
    for (size_t i = 0; i < catalogs.size(); ++i) {
      sql("INSERT INTO catalog VALUES (?, ?)").bind(static_cast<long long>(i + 1)).bind(catalogs[i].id).run();
      for (size_t k = 0; k < catalogs[i].names.size(); ++k) {
        sql("INSERT INTO catalog_file VALUES (?, ?, ?)")
            .bind(catalogs[i].id).bind(static_cast<long long>(k + 1)).bind_name(catalogs[i].names[k]).run();
      }
    }
    saved_.catalogs = catalogs;
  }

  void write_group(const std::string &key, const GroupDef *group) {
    sql("DELETE FROM attr_group WHERE name = ?").bind_name(key).run();
    sql("DELETE FROM attribute WHERE grp = ?").bind_name(key).run();
    if (!group) return;
    sql("INSERT INTO attr_group VALUES (?, ?)").bind_name(key).bind(group->single_row).run();
    for (size_t i = 0; i < group->attributes.size(); ++i) {
      const AttributeDef &a = group->attributes[i];
      sql("INSERT INTO attribute VALUES (?, ?, ?, ?, ?)")
          .bind_name(key).bind(static_cast<long long>(i + 1)).bind_name(a.name).bind(std::string_view(&a.type, 1))
          .bind(a.length).run();
    }
  }

  void write_type(const std::string &key, const TypeDef *type) {
    sql("DELETE FROM object_type WHERE name = ?").bind_name(key).run();
    sql("DELETE FROM type_group WHERE type = ?").bind_name(key).run();
    if (!type) return;
    sql("INSERT INTO object_type VALUES (?, ?)").bind_name(key).bind(type->host_name).run();
    for (size_t i = 0; i < type->groups.size(); ++i) {
      sql("INSERT INTO type_group VALUES (?, ?, ?, ?)")
          .bind_name(key).bind(static_cast<long long>(i + 1)).bind_name(type->groups[i].group)
          .bind_name(type->groups[i].group_type).run();
    }
  }

  void write_objects(const Model &model) {
    auto old = saved_.objects.begin();
    for (const auto &[handle, object] : model.objects) {
      while (old != saved_.objects.end() && old->first < handle) {
        delete_object(old->first);
        old = saved_.objects.erase(old);
      }
      if (old == saved_.objects.end() || old->first != handle) {
        old = saved_.objects.emplace_hint(old, handle, Object{handle, object.type, object.name, object.element_class, {}, {}});
        insert_object(object);
      } else if (old->second.type != object.type || old->second.name != object.name ||
                 old->second.element_class != object.element_class) {
        insert_object(object);
        old->second.type = object.type;
        old->second.name = object.name;
        old->second.element_class = object.element_class;
      }
      write_object_groups(model, old->second, object);
      if (old->second.sets != object.sets) write_sets(object);
      old->second.sets = object.sets;
      ++old;
    }
    while (old != saved_.objects.end()) {
      delete_object(old->first);
      old = saved_.objects.erase(old);
    }
  }

  void delete_object(int handle) {
    for (const char *text : {"DELETE FROM object WHERE handle = ?", "DELETE FROM object_group WHERE object = ?",
                             "DELETE FROM object_row WHERE object = ?", "DELETE FROM name_set WHERE object = ?"}) {
      sql(text).bind(handle).run();
    }
  }

  void insert_object(const Object &object) {
    sql("INSERT OR REPLACE INTO object VALUES (?, ?, ?, ?)")
        .bind(object.handle).bind_name(object.type).bind(object.name).bind(object.element_class).run();
  }

  void write_sets(const Object &object) {
    sql("DELETE FROM name_set WHERE object = ?").bind(object.handle).run();
    for (const auto &[set_name, names] : object.sets) {
      for (size_t i = 0; i < names.size(); ++i) {
        sql("INSERT INTO name_set VALUES (?, ?, ?, ?)")
            .bind(object.handle).bind_name(set_name).bind(static_cast<long long>(i + 1)).bind_name(names[i]).run();
      }
    }
  }

  void write_object_groups(const Model &model, Object &saved, const Object &now) {
    for (auto it = saved.groups.begin(); it != saved.groups.end();) {
      if (now.groups.count(it->first)) {
        ++it;
        continue;
      }
      sql("DELETE FROM object_group WHERE object = ? AND grp = ?").bind(now.handle).bind_name(it->first).run();
      sql("DELETE FROM object_row WHERE object = ? AND grp = ?").bind(now.handle).bind_name(it->first).run();
      it = saved.groups.erase(it);
    }
    for (const auto &[group_name, rows] : now.groups) {
      auto found = saved.groups.find(group_name);
      if (found == saved.groups.end()) {
        sql("INSERT INTO object_group VALUES (?, ?)").bind(now.handle).bind_name(group_name).run();
        found = saved.groups.emplace(group_name, std::vector<Row>{}).first;
      }
      auto def = model.groups.find(group_name);
      if (def == model.groups.end()) fail(PCS_HOST_SAVE_FAILED, "object " + std::to_string(now.handle) +
                                                                    " holds group " + trim(group_name) +
                                                                    ", which is not defined");
      write_rows(now.handle, def->second, found->second, rows, changed_groups_.count(group_name) > 0);
    }
  }

  // Rewrites the rows between the common head and tail of the saved and the
  // current rows, and renumbers the tail when the count changed.
  void write_rows(int handle, const GroupDef &group, std::vector<Row> &saved, const std::vector<Row> &now,
                  bool rewrite_all) {
    size_t head = 0, tail = 0;
    if (!rewrite_all) {
      while (head < saved.size() && head < now.size() && saved[head] == now[head]) ++head;
      while (tail < saved.size() - head && tail < now.size() - head &&
             saved[saved.size() - 1 - tail] == now[now.size() - 1 - tail]) {
        ++tail;
      }
    }
    if (head == saved.size() && head == now.size()) return;
    sql("DELETE FROM object_row WHERE object = ? AND grp = ? AND row > ? AND row <= ?")
        .bind(handle).bind_name(group.name).bind(static_cast<long long>(head))
        .bind(static_cast<long long>(saved.size() - tail)).run();
    const long long shift = static_cast<long long>(now.size()) - static_cast<long long>(saved.size());
    if (tail > 0 && shift != 0) {
      // Through negative numbers, so no two rows share a number on the way.
      sql("UPDATE object_row SET row = -(row + ?) WHERE object = ? AND grp = ? AND row > ?")
          .bind(shift).bind(handle).bind_name(group.name).bind(static_cast<long long>(saved.size() - tail)).run();
      sql("UPDATE object_row SET row = -row WHERE object = ? AND grp = ? AND row < 0")
          .bind(handle).bind_name(group.name).run();
    }
    for (size_t r = head; r < now.size() - tail; ++r) {
      sql("INSERT INTO object_row VALUES (?, ?, ?, ?)")
          .bind(handle).bind_name(group.name).bind(static_cast<long long>(r + 1)).bind(encode_row(group, now[r])).run();
    }
    saved.erase(saved.begin() + static_cast<long>(head), saved.end() - static_cast<long>(tail));
    saved.insert(saved.begin() + static_cast<long>(head), now.begin() + static_cast<long>(head),
                 now.end() - static_cast<long>(tail));
  }

  void write_standard(const std::string &key, const std::map<std::string, SizeTable> *tables) {
    sql("DELETE FROM size_table WHERE standard = ?").bind_name(key).run();
    sql("DELETE FROM size WHERE standard = ?").bind_name(key).run();
    if (!tables) return;
    for (const auto &[table, sizes] : *tables) {
      sql("INSERT INTO size_table VALUES (?, ?, ?)").bind_name(key).bind_name(table).bind(sizes.length).run();
      for (size_t i = 0; i < sizes.sizes.size(); ++i) {
        sql("INSERT INTO size VALUES (?, ?, ?, ?)")
            .bind_name(key).bind_name(table).bind(static_cast<long long>(i + 1)).bind(sizes.sizes[i]).run();
      }
    }
  }

  void write_families(const std::vector<Family> &families) {
    sql("DELETE FROM family").run();
    sql("DELETE FROM family_category").run();
    for (size_t i = 0; i < families.size(); ++i) {
      const long long position = static_cast<long long>(i + 1);
      sql("INSERT INTO family VALUES (?, ?)").bind(position).bind(families[i].id).run();
      for (size_t k = 0; k < families[i].categories.size(); ++k) {
        sql("INSERT INTO family_category VALUES (?, ?, ?)")
            .bind(position).bind(static_cast<long long>(k + 1)).bind(families[i].categories[k]).run();
      }
    }
    saved_.families = families;
  }

  void write_part_objects(const std::vector<PartObject> &parts) {
    sql("DELETE FROM part_object").run();
    for (size_t i = 0; i < parts.size(); ++i) {
      sql("INSERT INTO part_object VALUES (?, ?, ?, ?)")
          .bind(static_cast<long long>(i + 1)).bind(parts[i].family).bind(parts[i].category)
          .bind(parts[i].eltime).run();
    }
    saved_.part_objects = parts;
  }

  Store &store_;
  Model &saved_;
  std::set<std::string> changed_groups_;
};

// ---- opening and the save transaction ---------------------------------------------

bool has_schema(Store &store) {
  Query q(store, "SELECT count(*) FROM sqlite_master", PCS_HOST_BAD_PROJECT);
  q.next();
  return q.integer(0) > 0;
}

StorePtr open_store(const std::string &path, bool create) {
  StorePtr store(new Store);
  store->path = path;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &store->db, flags, nullptr);
  if (rc != SQLITE_OK) {
    fail(create ? PCS_HOST_SAVE_FAILED : PCS_HOST_NO_PROJECT, path + ": cannot be opened");
  }
  sqlite3_extended_result_codes(store->db, 1);
  sqlite3_busy_timeout(store->db, state().busy_timeout_ms);
  execute(*store, "PRAGMA synchronous = FULL", create ? PCS_HOST_SAVE_FAILED : PCS_HOST_BAD_PROJECT);
  return store;
}

// Reads the whole model; the store's copy becomes what was read.
void reread(Store &store, Model *into) {
  execute(store, "BEGIN", PCS_HOST_BAD_PROJECT);
  try {
    read_model(store, into);
  } catch (...) {
    execute(store, "ROLLBACK", PCS_HOST_BAD_PROJECT);
    throw;
  }
  execute(store, "COMMIT", PCS_HOST_BAD_PROJECT);
}

void create_schema(Store &store) {
  execute(store, "PRAGMA journal_mode = WAL", PCS_HOST_SAVE_FAILED);
  execute(store, "BEGIN IMMEDIATE", PCS_HOST_SAVE_FAILED);
  try {
    if (!has_schema(store)) execute(store, kSchema, PCS_HOST_SAVE_FAILED);
    execute(store, "COMMIT", PCS_HOST_SAVE_FAILED);
  } catch (...) {
    sqlite3_exec(store.db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

long long stored_generation(Store &store) {
  Query q(store, "SELECT value FROM meta WHERE key = 'generation'", PCS_HOST_SAVE_FAILED);
  if (!q.next()) damaged("meta", "no generation");
  return q.integer(0);
}

void save_in_transaction(Store &store, const Model &model) {
  State &s = state();
  if (s.save_fault == SaveFault::busy) {
    s.save_fault = SaveFault::none;
    fail(PCS_HOST_BUSY, "project is busy (another process is writing it)");
  }
  execute(store, "BEGIN IMMEDIATE", PCS_HOST_SAVE_FAILED);
  store.steps = 0;
  try {
    if (!store.saved_known || stored_generation(store) != store.generation) {
      store.saved = Model{};
      read_model(store, &store.saved);
    }
    store.saved_known = false;  // until the commit succeeds
    Writer(store).save(model);
    Query(store, "UPDATE meta SET value = ? WHERE key = 'generation'", PCS_HOST_SAVE_FAILED)
        .bind(store.generation + 1).run();
    if (s.save_fault == SaveFault::commit) {
      s.save_fault = SaveFault::none;
      fail(PCS_HOST_SAVE_FAILED, "the commit failed");
    }
    execute(store, "COMMIT", PCS_HOST_SAVE_FAILED);
  } catch (...) {
    sqlite3_exec(store.db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  ++store.generation;
  store.saved_known = true;
}

template <class F>
int guarded(std::string *error, int code, F body) {
  try {
    body();
  } catch (const StoreError &e) {
    *error = e.message;
    return e.code;
  } catch (const std::bad_alloc &) {
    *error = "out of memory";
    return PCS_HOST_NO_MEMORY;
  } catch (const std::exception &e) {
    *error = e.what();
    return code;
  }
  error->clear();
  return 0;
}

}  // namespace

int store_load(const std::string &path, Model *into, std::string *error) {
  int code = guarded(error, PCS_HOST_BAD_PROJECT, [&] {
    StorePtr store = open_store(path, false);
    if (!has_schema(*store)) fail(PCS_HOST_BAD_PROJECT, "not a project database: it holds no tables");
    reread(*store, into);
    store->saved = *into;
    store->saved_known = true;
    state().store = std::move(store);
  });
  if (code != 0) *error = path + ": " + *error;
  return code;
}

int store_save(const Model &model, const std::string &path, std::string *error) {
  State &s = state();
  int code = guarded(error, PCS_HOST_SAVE_FAILED, [&] {
    StorePtr other;
    Store *store = s.store && s.store->path == path ? s.store.get() : nullptr;
    if (!store) {
      other = open_store(path, true);
      create_schema(*other);
      store = other.get();
    }
    save_in_transaction(*store, model);
    if (other && path == project_path()) s.store = std::move(other);
  });
  if (code == PCS_HOST_BAD_PROJECT) code = PCS_HOST_SAVE_FAILED;
  if (code != 0) *error = path + ": " + *error;
  return code;
}

int store_is_empty(const std::string &path, bool *empty, std::string *error) {
  int code = guarded(error, PCS_HOST_BAD_PROJECT, [&] {
    *empty = true;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return;
    std::fclose(file);
    StorePtr store = open_store(path, false);
    if (!has_schema(*store)) return;
    Model model;
    reread(*store, &model);
    *empty = model == Model{};
  });
  if (code != 0) *error = path + ": " + *error;
  return code;
}

}  // namespace pcs::host::model::detail
