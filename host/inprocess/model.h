// The in-process host model's C++ interface for tests and tools: the model's
// data, loading and saving the project database, its JSON exchange form,
// where the project is, the record of every model service call, failure
// injection and the report units.
#ifndef PCS_HOST_INPROCESS_MODEL_H
#define PCS_HOST_INPROCESS_MODEL_H

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host_model.h"

namespace pcs::host::model {

// Names are kept as their 8-character blank-padded fields; name() makes one.
PCS_HOST_API std::string name(std::string_view text);

struct AttributeDef {
  std::string name;  // 8 characters
  char type = 'C';   // 'I' (4-byte int), 'R' (8-byte double), else characters
  int length = 8;    // 4 for I, 8 for R, 1..4096 for characters
  bool operator==(const AttributeDef &) const = default;
};

struct PCS_HOST_API GroupDef {
  std::string name;
  bool single_row = false;  // the group holds at most one row (row 1)
  std::vector<AttributeDef> attributes;
  // Position of the attribute, or -1.
  int find(std::string_view attribute) const;
  bool operator==(const GroupDef &) const = default;
};

struct TypeGroup {
  std::string group;
  std::string group_type;  // 8 characters, "SETUP   " by default
  bool operator==(const TypeGroup &) const = default;
};

struct TypeDef {
  std::string name;
  std::string host_name;  // what gj0puo answers (up to 256 characters)
  std::vector<TypeGroup> groups;
  bool operator==(const TypeDef &) const = default;
};

// One value per attribute of the group, in schema order, each the
// attribute's bytes (see host_model.h).
using Row = std::vector<std::string>;

struct Object {
  int handle = 0;
  std::string type;
  std::string name;           // trailing blanks dropped
  std::string element_class;  // what gtbrui answers for an entry
  std::map<std::string, std::vector<Row>> groups;            // attached groups
  std::map<std::string, std::vector<std::string>> sets;      // gtbsas name sets
  bool operator==(const Object &) const = default;
};

struct Catalog {
  int id = 0;
  std::vector<std::string> names;  // 8-character file names
  bool operator==(const Catalog &) const = default;
};

struct SizeTable {
  int length = 8;                  // size field length, 1..40
  std::vector<std::string> sizes;  // in order, trailing blanks dropped
  bool operator==(const SizeTable &) const = default;
};

struct Family {
  int id = 0;
  std::vector<std::string> categories;  // up to 24 characters, trimmed
  bool operator==(const Family &) const = default;
};

struct PartObject {
  int family = 0;
  std::string category;  // up to 24 characters, trimmed
  std::string eltime;    // up to 16 characters, trimmed
  bool operator==(const PartObject &) const = default;
};

struct Setup {
  std::string catalog_directory;
  int current_catalog = 0;  // 0: none
  int model = 1;
  int ibafr7 = 0;
  bool operator==(const Setup &) const = default;
};

struct PCS_HOST_API Model {
  Setup setup;
  std::map<std::string, GroupDef> groups;
  std::map<std::string, TypeDef> types;
  std::map<int, Object> objects;
  std::vector<Catalog> catalogs;
  std::map<std::string, std::map<std::string, SizeTable>> standards;  // standard -> table
  std::vector<Family> families;
  std::vector<PartObject> part_objects;

  // Builders and lookups for tests; names are given as plain text.
  GroupDef &define_group(std::string_view group, std::vector<AttributeDef> attributes,
                         bool single_row = false);
  TypeDef &define_type(std::string_view type, const std::vector<std::string> &groups,
                       std::string_view host_name = "");
  // Creates an object with every group of its type attached.
  Object &add_object(std::string_view type, std::string_view object_name);
  Object *object(int handle);
  Object *find_object(std::string_view type, std::string_view object_name);
  const GroupDef *group(std::string_view group) const;
  // Appends a row given as (attribute, text) pairs: I and R values are parsed
  // from the text, character values blank-padded. Attaches the group if
  // needed. Returns the new row number.
  int add_row(int handle, std::string_view group,
              const std::vector<std::pair<std::string, std::string>> &values);
  // Value of row `row` (from 1) as text: characters without trailing blanks,
  // I in decimal, R with %g. "" when there is no such value.
  std::string text(int handle, std::string_view group, int row, std::string_view attribute) const;
  // All rows of one column as text.
  std::vector<std::string> column(int handle, std::string_view group,
                                  std::string_view attribute) const;
  // The handle the next object gets; 0 when none is left.
  int next_handle() const;
  bool operator==(const Model &) const = default;
};

// The in-memory model, the working copy of the project database. Using it
// marks the model as loaded, so services stop looking for the project.
// Change it freely: a save compares it with what the database holds.
PCS_HOST_API Model &data();
PCS_HOST_API bool loaded();

// Loads a project database and makes `path` the project path (saves go
// there). On failure the model in memory is unchanged. 0,
// PCS_HOST_NO_PROJECT (no such file) or PCS_HOST_BAD_PROJECT (not SQLite,
// damaged, another schema version, values that do not fit); load_error()
// then says why.
PCS_HOST_API int load(const std::string &path);
// Loads the model from JSON text (the exchange form); the project path
// stays as it is.
PCS_HOST_API int load_text(const std::string &text);
// Writes what differs between the model and the database at `path` (made
// when missing) in one transaction. 0, PCS_HOST_SAVE_FAILED or
// PCS_HOST_BUSY (another process kept the project locked longer than the
// busy timeout); load_error() then says why, and the database is as it was.
PCS_HOST_API int save(const std::string &path);
// Why the last load, import or save failed.
PCS_HOST_API const std::string &load_error();
// The model as JSON text, the exchange form (docs/project-file.md).
PCS_HOST_API std::string to_json();
// Reads the JSON file at `json_path` into a new or empty project database
// at `project`, which becomes the loaded project. 0, PCS_HOST_NO_PROJECT
// and PCS_HOST_BAD_PROJECT (the JSON file), PCS_HOST_SAVE_FAILED (the
// project holds a model already, or the write failed), PCS_HOST_BUSY.
PCS_HOST_API int import_json(const std::string &json_path, const std::string &project);

// Where the services find the project: the path set here, else the
// environment variable PCS_PROJECT, else "./project.db". "" clears it.
PCS_HOST_API void set_project_path(const std::string &path);
PCS_HOST_API std::string project_path();

// Empties the model (not loaded), ends the session, clears the call record,
// failures, report units and the project path set here.
PCS_HOST_API void clear();

struct Session {
  bool open = false;
  int workspace = 0;
  bool initialized = false;  // pr0ini
  bool views = false;        // pr0vws
  bool writing = false;      // g7mswm mode 1
  int opened = 0;            // sessions opened since clear()
  int saves = 0;             // successful gj0swm calls since clear()
};
PCS_HOST_API const Session &session();

// One call of a model service: its name, its key arguments as text
// (character fields without trailing blanks, other bytes below 32 or above
// 126 as \xNN), and the rc it gave.
struct PCS_HOST_API Call {
  std::string service;
  std::vector<std::string> args;
  int rc = 0;
  // "service(arg, arg, ...)"
  std::string text() const;
};
PCS_HOST_API const std::vector<Call> &calls();
PCS_HOST_API std::vector<Call> calls_of(const std::string &service);
PCS_HOST_API void clear_calls();
// Whether calls are recorded from now on (they are after clear()). Injected
// failures apply either way; a call not recorded costs no text.
PCS_HOST_API void record_calls(bool on);

// Makes the nth call of `service` from now (1 = the next) fail with `code`;
// with `from_then_on` every later call too. A failed call changes nothing
// and is recorded. ibafr7 answers the code; pr0ini/pr0vws/pr0end ignore it.
PCS_HOST_API void fail_service(const std::string &service, int code, long nth = 1,
                               bool from_then_on = false);
PCS_HOST_API void clear_failures();
PCS_HOST_API long injected_failures();

// Makes the next save fail: its commit fails (PCS_HOST_SAVE_FAILED), the
// database is busy (PCS_HOST_BUSY at once), or the disk is full at the
// first write (PCS_HOST_SAVE_FAILED). The database stays as it was.
enum class SaveFault { none, commit, busy, full };
PCS_HOST_API void fail_save(SaveFault fault);
// Makes the nth read of a project database from now (1 = the next; 0 = none)
// fail with an I/O error. Databases opened from the first call on read
// through a counting layer (model_io_fault.cpp).
PCS_HOST_API void fail_database_read(long nth);
// Reads failed on purpose since the last fail_database_read.
PCS_HOST_API long database_reads_injected();
// Makes the nth write, sync or truncation of a project database or its
// journal from now (1 = the next; 0 = none) fail: a write with an I/O error,
// or with `full` as on a full disk; a sync or truncation with an I/O error.
// Opens through the same layer as fail_database_read.
PCS_HOST_API void fail_database_write(long nth, bool full = false);
// Writes, syncs and truncations failed on purpose since the last
// fail_database_write.
PCS_HOST_API long database_writes_injected();
// Calls hook(n) after the n-th write of each save (nullptr: none); a test
// can end the process there to stand for a crash in the middle of a save.
PCS_HOST_API void test_save_hook(void (*hook)(int step));
// How long a save waits for another process's write lock; 5000 ms unless
// set. Applies to databases opened from then on.
PCS_HOST_API void set_busy_timeout(int milliseconds);

// Report units of gufswr: the lines written since clear(), and an optional
// stream each line is also written to (with a newline).
PCS_HOST_API const std::vector<std::string> &unit_lines(int unit);
PCS_HOST_API void set_unit_file(int unit, FILE *file);

// The entries of a host stack, each as its bytes (empty on a bad handle).
PCS_HOST_API std::vector<std::string> stack_entries(int stack);
// Name of a model service code ("PCS_HOST_NO_GROUP"), or the number.
PCS_HOST_API std::string code_name(int code);

}  // namespace pcs::host::model

#endif
