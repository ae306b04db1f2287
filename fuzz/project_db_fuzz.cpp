// The project database reader over damaged databases: the first input byte
// picks a field of a small valid project (a row's values, an object name,
// an attribute type, the schema version, a size) or the file's own bytes,
// the rest is what goes there. Loading gives 0 or the bad-project code
// without crashing, and what loads saves and loads again to the same model.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/model.h"

namespace {

namespace model = pcs::host::model;

void remove_database(const std::string &path) {
  for (const char *suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

std::string read_bytes(const std::string &path) {
  std::string bytes;
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) std::abort();
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

// The bytes of a small project holding one row of each value type.
const std::string &template_bytes() {
  static const std::string bytes = [] {
    const std::string path = pcs::fuzz::scratch("template.db");
    remove_database(path);
    model::clear();
    model::Model &m = model::data();
    m.define_group("ODD", {{"C", 'C', 6}, {"I", 'I', 4}, {"R", 'R', 8}});
    m.define_type("T", {"ODD"});
    const int handle = m.add_object("T", "x").handle;
    m.add_row(handle, "ODD", {{"C", "ab"}, {"I", "7"}, {"R", "1.5"}});
    m.standards[model::name("S")][model::name("P")] = {4, {"1", "2"}};
    if (model::save(path) != 0) std::abort();
    model::clear();  // the last connection's close leaves everything in the file
    std::string out = read_bytes(path);
    remove_database(path);
    return out;
  }();
  return bytes;
}

const char *const kFields[] = {
    "UPDATE object_row SET vals = ?1",
    "UPDATE object SET name = ?1",
    "UPDATE attribute SET type = ?1 WHERE position = 2",
    "UPDATE meta SET value = ?1 WHERE key = 'schema_version'",
    "UPDATE size SET size = ?1 WHERE position = 1",
};
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

void put(const std::string &path, size_t field, const uint8_t *data, size_t size) {
  std::string bytes = template_bytes();
  if (field >= kFieldCount) {
    // Overwrite the file at the offset the next two bytes give.
    size_t at = size >= 2 ? (data[0] << 8 | data[1]) % bytes.size() : 0;
    for (size_t i = 2; i < size && at < bytes.size(); ++i) bytes[at++] = static_cast<char>(data[i]);
    pcs::fuzz::save(path, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return;
  }
  pcs::fuzz::save(path, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  sqlite3 *db = nullptr;
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, kFields[field], -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(statement, 1, reinterpret_cast<const char *>(data), static_cast<int>(size),
                      SQLITE_TRANSIENT);
    sqlite3_step(statement);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

// The copy database outlives each input; it goes when the process ends.
struct Copy {
  std::string path = pcs::fuzz::scratch("copy.db");
  ~Copy() { remove_database(path); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Copy copy_database;
  if (size == 0) return 0;
  const std::string path = pcs::fuzz::scratch("case.db"), &copy = copy_database.path;
  template_bytes();
  remove_database(path);
  put(path, data[0] % (kFieldCount + 1), data + 1, size - 1);
  model::clear();
  const int rc = model::load(path);
  if (rc != 0 && rc != PCS_HOST_BAD_PROJECT && rc != PCS_HOST_NO_MEMORY) std::abort();
  if (rc == 0) {
    // The copy keeps the previous input's model: the save writes the
    // difference.
    const std::string loaded = model::to_json();
    if (model::save(copy) != 0 || model::load(copy) != 0 || model::to_json() != loaded)
      std::abort();
  }
  model::clear();
  remove_database(path);
  return 0;
}
