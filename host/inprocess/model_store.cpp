// The project database: the model stored in SQLite tables a person can read
// (docs/project-file.md). Opening a project, the save transaction with its
// test faults, and the statements every part of the store runs through.
#include "host/inprocess/model_store.h"

#include <cstdio>
#include <limits>

namespace pcs::host::model::detail {

void StoreDeleter::operator()(Store *store) const {
  if (!store) return;
  for (auto &[sql, statement] : store->statements) sqlite3_finalize(statement);
  sqlite3_close(store->db);
  delete store;
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
      if (code != PCS_HOST_SAVE_FAILED)
        fail(PCS_HOST_BAD_PROJECT, "not a project database: " + what);
      break;
    case SQLITE_NOMEM:
      fail(PCS_HOST_NO_MEMORY, what);
    default:
      break;
  }
  fail(code, what);
}

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
  int rc = sqlite3_open_v2(path.c_str(), &store->db, flags, database_vfs());
  if (rc != SQLITE_OK) {
    fail(create ? PCS_HOST_SAVE_FAILED : PCS_HOST_NO_PROJECT,
         (rc & 0xff) == SQLITE_CANTOPEN ? std::string("cannot be opened")
                                           : std::string("cannot be opened: ") + sqlite3_errstr(rc));
  }
  sqlite3_extended_result_codes(store->db, 1);
  sqlite3_busy_timeout(store->db, state().busy_timeout_ms);
  execute(*store, "PRAGMA synchronous = FULL",
          create ? PCS_HOST_SAVE_FAILED : PCS_HOST_BAD_PROJECT);
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

// The generation after `now`; past the largest it starts again at 1.
long long next_generation(long long now) {
  return now < 0 || now == std::numeric_limits<long long>::max() ? 1 : now + 1;
}

void save_in_transaction(Store &store, Model &model) {
  State &s = state();
  if (s.save_fault == SaveFault::busy) {
    s.save_fault = SaveFault::none;
    fail(PCS_HOST_BUSY, "project is busy (another process is writing it)");
  }
  execute(store, "BEGIN IMMEDIATE", PCS_HOST_SAVE_FAILED);
  store.steps = 0;
  long long written = 0;
  try {
    const long long generation = stored_generation(store);
    if (!store.saved_known || generation != store.generation) {
      // Another process saved since: this save's own changes go onto what
      // it wrote.
      Model theirs;
      read_model(store, &theirs);
      if (store.saved_known) model = merge_saves(store.saved, model, theirs);
      store.saved = std::move(theirs);
    }
    store.saved_known = false;  // until the commit succeeds
    write_changes(store, model);
    Query(store, "UPDATE meta SET value = ? WHERE key = 'generation'", PCS_HOST_SAVE_FAILED)
        .bind(written = next_generation(generation))
        .run();
    if (s.save_fault == SaveFault::commit) {
      s.save_fault = SaveFault::none;
      fail(PCS_HOST_SAVE_FAILED, "the commit failed");
    }
    execute(store, "COMMIT", PCS_HOST_SAVE_FAILED);
  } catch (...) {
    sqlite3_exec(store.db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  store.generation = written;
  store.saved_known = true;
}

// True when the file's first byte other than white space opens a JSON object.
bool looks_like_json(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  int c;
  while ((c = std::fgetc(file)) == ' ' || c == '\n' || c == '\r' || c == '\t') {
  }
  std::fclose(file);
  return c == '{';
}

}  // namespace

int store_load(const std::string &path, Model *into, std::string *error) {
  int code = guarded(error, PCS_HOST_BAD_PROJECT, [&] {
    StorePtr store = open_store(path, false);
    if (!has_schema(*store))
      fail(PCS_HOST_BAD_PROJECT, "not a project database: it holds no tables");
    reread(*store, into);
    store->saved = *into;
    store->saved_known = true;
    state().store = std::move(store);
  });
  if (code != 0) *error = path + ": " + *error;
  if (code == PCS_HOST_BAD_PROJECT && looks_like_json(path)) {
    *error += " (a JSON model is read into a project with `pcs model import`)";
  }
  return code;
}

int store_save(Model &model, const std::string &path, std::string *error) {
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
