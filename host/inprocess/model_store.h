// Internals of the project database shared by opening, loading and saving:
// the open store, its errors and its cached statements.
#ifndef PCS_HOST_MODEL_STORE_H
#define PCS_HOST_MODEL_STORE_H

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <unordered_map>

#include "host/inprocess/model_internal.h"

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

[[noreturn]] inline void damaged(const std::string &where, const std::string &what) {
  fail(PCS_HOST_BAD_PROJECT, where + ": " + what);
}

// The model a save writes when another process saved since `base` was read
// or written here: the changes from `base` to `ours` applied onto `theirs`
// (what the database holds now). Throws a StoreError (PCS_HOST_SAVE_FAILED,
// "project changed by another process: ...", naming the object) where both
// changed the same part differently.
Model merge_saves(const Model &base, const Model &ours, Model theirs);

// The file layer to open databases through: the fault layer once a
// test has armed it, else SQLite's default (null).
const char *database_vfs();

// SQLite's answer as a store error: damage is a bad project, a lock is a
// busy project, anything else (full disk, I/O) the caller's `code`.
[[noreturn]] void sqlite_failed(Store &store, int rc, int code);

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
    sqlite3_bind_text(statement_, ++bound_, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
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
    if (value < low || value > high)
      damaged(sqlite3_column_name(statement_, column), "out of range");
    return static_cast<int>(value);
  }
  // The column's text, valid until the next step.
  std::string_view text_view(int column, size_t limit) {
    if (sqlite3_column_type(statement_, column) != SQLITE_TEXT) {
      damaged(sqlite3_column_name(statement_, column), "expected text");
    }
    const char *p = reinterpret_cast<const char *>(sqlite3_column_text(statement_, column));
    std::string_view out(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
    if (out.size() > limit) {
      damaged(sqlite3_column_name(statement_, column), "longer than " + std::to_string(limit));
    }
    return out;
  }
  std::string text(int column, size_t limit) { return std::string(text_view(column, limit)); }
  std::string name(int column) { return pad(text_view(column, kNameWidth), kNameWidth); }

 private:
  Store &store_;
  int code_;
  sqlite3_stmt *statement_ = nullptr;
  int bound_ = 0;
};

// Runs SQL without results; a failure is sqlite_failed(code).
void execute(Store &store, const char *sql, int code);

// Reads the whole model from the store's tables (model_store_read.cpp).
void read_model(Store &store, Model *model);
// Writes what differs between the store's saved copy and the model, and
// makes the copy match (model_store_write.cpp).
void write_changes(Store &store, const Model &model);

}  // namespace pcs::host::model::detail

#endif
