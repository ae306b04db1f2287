// Saving to the project database: the model compared with the copy of what
// the database holds, and only the differences written. Rows are stored as
// JSON arrays (docs/project-file.md).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "host/inprocess/model_store.h"

namespace pcs::host::model::detail {
namespace {

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
    if (!std::isfinite(value))
      return append_string(std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf", out);
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

// ---- writing: what differs from the saved copy ---------------------------------

// A name field as a statement argument: stored without its trailing blanks.
struct Name {
  std::string_view field;
};

class Writer {
 public:
  explicit Writer(Store &store) : store_(store), saved_(store.saved) {}

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
    for_each_change(saved_.standards, model.standards,
                    [&](const std::string &key, const auto *now) { write_standard(key, now); });
    if (saved_.families != model.families) write_families(model.families);
    if (saved_.part_objects != model.part_objects) write_part_objects(model.part_objects);
  }

 private:
  // Runs one write statement with its arguments: integers, texts, names.
  template <class... Args>
  void write(const char *sql, const Args &...args) {
    Query query(store_, sql, PCS_HOST_SAVE_FAILED);
    (bind(query, args), ...);
    query.run();
  }
  static void bind(Query &query, Name name) { query.bind_name(name.field); }
  static void bind(Query &query, std::string_view text) { query.bind(text); }
  static void bind(Query &query, const std::string &text) { query.bind(text); }
  static void bind(Query &query, long long value) { query.bind(value); }
  static void bind(Query &query, int value) { query.bind(static_cast<long long>(value)); }
  static void bind(Query &query, size_t value) { query.bind(static_cast<long long>(value)); }

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
    write("UPDATE setup SET catalog_directory = ?, current_catalog = ?, model = ?, ibafr7 = ?",
          setup.catalog_directory, setup.current_catalog, setup.model, setup.ibafr7);
    saved_.setup = setup;
  }

  void write_catalogs(const std::vector<Catalog> &catalogs) {
    write("DELETE FROM catalog");
    write("DELETE FROM catalog_file");
    for (size_t i = 0; i < catalogs.size(); ++i) {
      write("INSERT INTO catalog VALUES (?, ?)", i + 1, catalogs[i].id);
      for (size_t k = 0; k < catalogs[i].names.size(); ++k) {
        write("INSERT INTO catalog_file VALUES (?, ?, ?)", catalogs[i].id, k + 1,
              Name{catalogs[i].names[k]});
      }
    }
    saved_.catalogs = catalogs;
  }

  void write_group(const std::string &key, const GroupDef *group) {
    write("DELETE FROM attr_group WHERE name = ?", Name{key});
    write("DELETE FROM attribute WHERE grp = ?", Name{key});
    if (!group) return;
    write("INSERT INTO attr_group VALUES (?, ?)", Name{key}, group->single_row ? 1 : 0);
    for (size_t i = 0; i < group->attributes.size(); ++i) {
      const AttributeDef &a = group->attributes[i];
      write("INSERT INTO attribute VALUES (?, ?, ?, ?, ?)", Name{key}, i + 1, Name{a.name},
            std::string_view(&a.type, 1), a.length);
    }
  }

  void write_type(const std::string &key, const TypeDef *type) {
    write("DELETE FROM object_type WHERE name = ?", Name{key});
    write("DELETE FROM type_group WHERE type = ?", Name{key});
    if (!type) return;
    write("INSERT INTO object_type VALUES (?, ?)", Name{key}, type->host_name);
    for (size_t i = 0; i < type->groups.size(); ++i) {
      write("INSERT INTO type_group VALUES (?, ?, ?, ?)", Name{key}, i + 1,
            Name{type->groups[i].group}, Name{type->groups[i].group_type});
    }
  }

  // Walks the saved and the current objects together in handle order.
  void write_objects(const Model &model) {
    auto old = saved_.objects.begin();
    for (const auto &[handle, object] : model.objects) {
      while (old != saved_.objects.end() && old->first < handle) old = delete_object(old);
      if (old == saved_.objects.end() || old->first != handle) {
        Object header{handle, object.type, object.name, object.element_class, {}, {}};
        old = saved_.objects.emplace_hint(old, handle, std::move(header));
        write_header(object);
      } else if (old->second.type != object.type || old->second.name != object.name ||
                 old->second.element_class != object.element_class) {
        write_header(object);
        old->second.type = object.type;
        old->second.name = object.name;
        old->second.element_class = object.element_class;
      }
      write_object_groups(model, old->second, object);
      if (old->second.sets != object.sets) write_sets(object);
      old->second.sets = object.sets;
      ++old;
    }
    while (old != saved_.objects.end()) old = delete_object(old);
  }

  std::map<int, Object>::iterator delete_object(std::map<int, Object>::iterator object) {
    for (const char *sql :
         {"DELETE FROM object WHERE handle = ?", "DELETE FROM object_group WHERE object = ?",
          "DELETE FROM object_row WHERE object = ?", "DELETE FROM name_set WHERE object = ?"}) {
      write(sql, object->first);
    }
    return saved_.objects.erase(object);
  }

  void write_header(const Object &object) {
    write("INSERT OR REPLACE INTO object VALUES (?, ?, ?, ?)", object.handle, Name{object.type},
          object.name, object.element_class);
  }

  void write_sets(const Object &object) {
    write("DELETE FROM name_set WHERE object = ?", object.handle);
    for (const auto &[set_name, names] : object.sets) {
      for (size_t i = 0; i < names.size(); ++i) {
        write("INSERT INTO name_set VALUES (?, ?, ?, ?)", object.handle, Name{set_name}, i + 1,
              Name{names[i]});
      }
    }
  }

  void write_object_groups(const Model &model, Object &saved, const Object &now) {
    for (auto it = saved.groups.begin(); it != saved.groups.end();) {
      if (now.groups.count(it->first)) {
        ++it;
        continue;
      }
      write("DELETE FROM object_group WHERE object = ? AND grp = ?", now.handle, Name{it->first});
      write("DELETE FROM object_row WHERE object = ? AND grp = ?", now.handle, Name{it->first});
      it = saved.groups.erase(it);
    }
    for (const auto &[group_name, rows] : now.groups) {
      auto found = saved.groups.find(group_name);
      if (found == saved.groups.end()) {
        write("INSERT INTO object_group VALUES (?, ?)", now.handle, Name{group_name});
        found = saved.groups.emplace(group_name, std::vector<Row>{}).first;
      }
      auto def = model.groups.find(group_name);
      if (def == model.groups.end()) {
        fail(PCS_HOST_SAVE_FAILED, "object " + std::to_string(now.handle) + " holds group " +
                                       trim(group_name) + ", which is not defined");
      }
      write_rows(now.handle, def->second, found->second, rows, changed_groups_.count(group_name));
    }
  }

  // Rewrites the rows between the common head and tail of the saved and the
  // current rows, and renumbers the tail when the count changed.
  void write_rows(int handle, const GroupDef &group, std::vector<Row> &saved,
                  const std::vector<Row> &now, bool rewrite_all) {
    size_t head = 0, tail = 0;
    if (!rewrite_all) {
      while (head < saved.size() && head < now.size() && saved[head] == now[head]) ++head;
      while (tail < saved.size() - head && tail < now.size() - head &&
             saved[saved.size() - 1 - tail] == now[now.size() - 1 - tail]) {
        ++tail;
      }
    }
    if (head == saved.size() && head == now.size()) return;
    const Name grp{group.name};
    const size_t old_end = saved.size() - tail;
    write("DELETE FROM object_row WHERE object = ? AND grp = ? AND row > ? AND row <= ?", handle,
          grp, head, old_end);
    const long long shift =
        static_cast<long long>(now.size()) - static_cast<long long>(saved.size());
    if (tail > 0 && shift != 0) {
      // Through negative numbers, so no two rows share a number on the way.
      write("UPDATE object_row SET row = -(row + ?) WHERE object = ? AND grp = ? AND row > ?",
            shift, handle, grp, old_end);
      write("UPDATE object_row SET row = -row WHERE object = ? AND grp = ? AND row < 0", handle,
            grp);
    }
    for (size_t r = head; r < now.size() - tail; ++r) {
      write("INSERT INTO object_row VALUES (?, ?, ?, ?)", handle, grp, r + 1,
            encode_row(group, now[r]));
    }
    const auto at = static_cast<std::ptrdiff_t>(head), back = static_cast<std::ptrdiff_t>(tail);
    saved.erase(saved.begin() + at, saved.end() - back);
    saved.insert(saved.begin() + at, now.begin() + at, now.end() - back);
  }

  void write_standard(const std::string &key, const std::map<std::string, SizeTable> *tables) {
    write("DELETE FROM size_table WHERE standard = ?", Name{key});
    write("DELETE FROM size WHERE standard = ?", Name{key});
    if (!tables) return;
    for (const auto &[table, sizes] : *tables) {
      write("INSERT INTO size_table VALUES (?, ?, ?)", Name{key}, Name{table}, sizes.length);
      for (size_t i = 0; i < sizes.sizes.size(); ++i) {
        write("INSERT INTO size VALUES (?, ?, ?, ?)", Name{key}, Name{table}, i + 1,
              sizes.sizes[i]);
      }
    }
  }

  void write_families(const std::vector<Family> &families) {
    write("DELETE FROM family");
    write("DELETE FROM family_category");
    for (size_t i = 0; i < families.size(); ++i) {
      write("INSERT INTO family VALUES (?, ?)", i + 1, families[i].id);
      for (size_t k = 0; k < families[i].categories.size(); ++k) {
        write("INSERT INTO family_category VALUES (?, ?, ?)", i + 1, k + 1,
              families[i].categories[k]);
      }
    }
    saved_.families = families;
  }

  void write_part_objects(const std::vector<PartObject> &parts) {
    write("DELETE FROM part_object");
    for (size_t i = 0; i < parts.size(); ++i) {
      write("INSERT INTO part_object VALUES (?, ?, ?, ?)", i + 1, parts[i].family,
            parts[i].category, parts[i].eltime);
    }
    saved_.part_objects = parts;
  }

  Store &store_;
  Model &saved_;
  std::set<std::string> changed_groups_;
};
}  // namespace

void write_changes(Store &store, const Model &model) { Writer(store).save(model); }

}  // namespace pcs::host::model::detail
