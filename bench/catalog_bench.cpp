// Catalog file benchmarks. Key lookup: csalku against a plain pread binary
// search over the same index of 1,000,000 records with 40-byte keys (both
// read the header on every lookup), a binary search over the file mapped
// into memory, and SQLite looking the same keys up in one transaction.
// Part access: csgget end to end on a catalog of 100,000 parts
// (PCS_BENCH_CATALOG_PARTS) against a pread lookup that reads the record's
// bytes without building a part record, and against SQLite reading the
// record's bytes by key.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"

namespace {

constexpr int kLookupRecords = 1000000;
constexpr int kLookupKey = 40;
const int kParts = static_cast<int>(pcs::bench::env_number("PCS_BENCH_CATALOG_PARTS", 100000));
constexpr int kPartKey = 12;

std::string key_text(int i, int width) {
  char text[64];
  std::snprintf(text, sizeof text, "PART-%0*d", width - 5, i);
  return text;
}

// An index of `n` unique keys, key i pointing at catalog offset offsets[i].
void write_index(const std::string &path, int n, int width, const std::vector<int> &offsets) {
  std::string text;
  text.reserve(17 + static_cast<size_t>(n) * (width + 29));
  char number[64];
  std::snprintf(number, sizeof number, "%12d%4d\n", n, width);
  text += number;
  for (int i = 0; i < n; ++i) {
    std::snprintf(number, sizeof number, "%4d%12d%12d", 1, offsets[i], 17 + i * (width + 29));
    text += number + key_text(i, width) + "\n";
  }
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
    std::abort();
}

std::string temp_path(const char *name) {
  return pcs::bench::temp_root() + "/pcs-bench-" + std::to_string(getpid()) + "-" + name;
}

// Dates the file an hour back: the library holds an index in memory only
// once it has been left alone for a while, as any index in use has been.
// Everything written so far goes to disk first, so that no write-back of
// a fixture runs during the timed lookups of either side.
void settle(const std::string &path) {
  ::sync();
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) std::abort();
}

struct LookupFixture {
  std::string path = temp_path("lookup.idx");
  LookupFixture() {
    std::vector<int> offsets(kLookupRecords);
    for (int i = 0; i < kLookupRecords; ++i) offsets[i] = i * 100;
    write_index(path, kLookupRecords, kLookupKey, offsets);
    settle(path);
  }
  ~LookupFixture() { std::remove(path.c_str()); }
};

struct CatalogFixture {
  std::string catalog = temp_path("parts.cat"), index = temp_path("parts.idx");
  CatalogFixture() {
    FILE *f = std::fopen(catalog.c_str(), "w+b");
    std::vector<int> offsets(kParts);
    int offset = 0;
    for (int i = 0; i < kParts; ++i) {
      PartRecord *part = nullptr;
      int rc = 0;
      cspgcre(&part, &rc);
      std::string name = key_text(i, kPartKey);
      double dims[3] = {114.3 + i, 6.02, 152.4};
      int nps = i % 48;
      cspgadd(part, "PART    ", "NAME    ", 1, kPartKey, name.data(), &rc);
      cspgadd(part, "DIMS    ", "OD      ", 1, 8, &dims[0], &rc);
      cspgadd(part, "DIMS    ", "WALL    ", 1, 8, &dims[1], &rc);
      cspgadd(part, "GEOM    ", "ENDS    ", 1, 24, dims, &rc);
      cspgadd(part, "PIPE    ", "NPS     ", 1, 4, &nps, &rc);
      offsets[i] = offset;
      offset += cspgwrt(part, f, &rc);
      cspgfre(part);
      if (rc != 0) std::abort();
    }
    std::fclose(f);
    write_index(index, kParts, kPartKey, offsets);
    settle(index);
  }
  ~CatalogFixture() {
    std::remove(catalog.c_str());
    std::remove(index.c_str());
  }
};

LookupFixture &lookup_fixture() {
  static LookupFixture fixture;
  return fixture;
}

CatalogFixture &catalog_fixture() {
  static CatalogFixture fixture;
  return fixture;
}

// Keys to look up, in a fixed random order.
std::vector<std::string> random_keys(int n, int width) {
  std::mt19937 random(42);
  std::vector<std::string> keys(4096);
  for (auto &key : keys) key = key_text(static_cast<int>(random() % static_cast<unsigned>(n)), width);
  return keys;
}

// The baseline: header and probes read with pread, as plain as it gets.
bool pread_lookup(int fd, const char *key, int *count, int *first) {
  char header[17], record[600];
  if (pread(fd, header, 17, 0) != 17) return false;
  header[16] = '\0';
  const int k = std::atoi(header + 12);
  header[12] = '\0';
  const long n = std::atol(header);
  const long r = k + 29;
  long lo = 0, hi = n - 1;
  while (lo <= hi) {
    const long mid = (lo + hi) / 2;
    if (pread(fd, record, static_cast<size_t>(k), 17 + mid * r + 28) != k) return false;
    const int order = std::strncmp(key, record, static_cast<size_t>(k));
    if (order < 0) {
      hi = mid - 1;
    } else if (order > 0) {
      lo = mid + 1;
    } else {
      if (pread(fd, record, 28, 17 + mid * r) != 28) return false;
      record[28] = '\0';
      *first = std::atoi(record + 16);
      record[16] = '\0';
      *count = std::atoi(record);
      return true;
    }
  }
  return false;
}

void BM_csalku(benchmark::State &state) {
  FILE *index = std::fopen(lookup_fixture().path.c_str(), "rb");
  const auto keys = random_keys(kLookupRecords, kLookupKey);
  size_t i = 0;
  for (auto _ : state) {
    int count = 0, first = 0, rc = 0;
    csalku(&index, keys[i++ % keys.size()].c_str(), &count, &first, &rc);
    if (rc != 0) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(first);
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(index);
}
BENCHMARK(BM_csalku);

void BM_pread_lookup_baseline(benchmark::State &state) {
  int fd = open(lookup_fixture().path.c_str(), O_RDONLY);
  const auto keys = random_keys(kLookupRecords, kLookupKey);
  size_t i = 0;
  for (auto _ : state) {
    int count = 0, first = 0;
    if (!pread_lookup(fd, keys[i++ % keys.size()].c_str(), &count, &first))
      state.SkipWithError("key not found");
    benchmark::DoNotOptimize(first);
  }
  state.SetItemsProcessed(state.iterations());
  close(fd);
}
BENCHMARK(BM_pread_lookup_baseline);

// The baseline of the held index: a binary search over the file mapped into
// memory, header parsed once.
void BM_mmap_lookup_baseline(benchmark::State &state) {
  const int fd = open(lookup_fixture().path.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) std::abort();
  const size_t size = static_cast<size_t>(st.st_size);
  void *mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED) std::abort();
  const char *bytes = static_cast<const char *>(mapped);
  const long n = std::atol(std::string(bytes, 12).c_str());
  const size_t k = static_cast<size_t>(std::atoi(std::string(bytes + 12, 4).c_str())), r = k + 29;
  const auto keys = random_keys(kLookupRecords, kLookupKey);
  size_t i = 0;
  for (auto _ : state) {
    const char *key = keys[i++ % keys.size()].c_str();
    long lo = 0, hi = n - 1, found = -1;
    while (lo <= hi && found < 0) {
      const long mid = (lo + hi) / 2;
      const int order = std::memcmp(key, bytes + 17 + static_cast<size_t>(mid) * r + 28, k);
      if (order < 0) hi = mid - 1;
      else if (order > 0) lo = mid + 1;
      else found = mid;
    }
    if (found < 0) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(std::atoi(bytes + 17 + static_cast<size_t>(found) * r + 16));
  }
  state.SetItemsProcessed(state.iterations());
  munmap(mapped, size);
  close(fd);
}
BENCHMARK(BM_mmap_lookup_baseline);

// An SQLite table of `rows` (key, value) pairs, made once per run, removed at
// exit; `value(i)` gives the bytes stored with key i.
struct SqliteTable {
  std::string path;
  sqlite3 *db = nullptr;
  template <typename Value>
  SqliteTable(const char *name, int rows, int width, Value value) : path(temp_path(name)) {
    std::remove(path.c_str());
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
    exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
         "CREATE TABLE t(key BLOB PRIMARY KEY, value BLOB) WITHOUT ROWID; BEGIN");
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
      const std::string key = key_text(i, width), bytes = value(i);
      sqlite3_bind_blob(insert, 1, key.data(), width, SQLITE_TRANSIENT);
      sqlite3_bind_blob(insert, 2, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec("COMMIT");
    ::sync();
  }
  ~SqliteTable() {
    sqlite3_close(db);
    std::remove(path.c_str());
  }
  void exec(const char *sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
};

// Looks every key up in one read transaction, reading the value's bytes.
void sqlite_lookups(benchmark::State &state, SqliteTable &table, int rows, int width) {
  const auto keys = random_keys(rows, width);
  sqlite3_stmt *select = nullptr;
  sqlite3_prepare_v2(table.db, "SELECT value FROM t WHERE key = ?", -1, &select, nullptr);
  table.exec("BEGIN");
  size_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_blob(select, 1, keys[i++ % keys.size()].data(), width, SQLITE_STATIC);
    if (sqlite3_step(select) != SQLITE_ROW) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(sqlite3_column_blob(select, 0));
    sqlite3_reset(select);
  }
  table.exec("COMMIT");
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations());
}

void BM_sqlite_lookup_baseline(benchmark::State &state) {
  static SqliteTable table("lookup.db", kLookupRecords, kLookupKey,
                           [](int i) { return std::to_string(i * 100); });
  sqlite_lookups(state, table, kLookupRecords, kLookupKey);
}
BENCHMARK(BM_sqlite_lookup_baseline);

void BM_csgget(benchmark::State &state) {
  const CatalogFixture &fixture = catalog_fixture();
  CatalogHandle *catalog = nullptr;
  int rc = 0;
  std::string mode = "rb      ", cat = fixture.catalog + " ", idx = fixture.index + " ";
  csgopen(mode.c_str(), cat.c_str(), idx.c_str(), &catalog, &rc);
  const auto keys = random_keys(kParts, kPartKey);
  size_t i = 0;
  for (auto _ : state) {
    PartRecord *part = nullptr;
    csgget(&catalog, keys[i++ % keys.size()].c_str(), &part, &rc);
    if (rc != 0) state.SkipWithError("part not read");
    csgfree(&part);
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(catalog->CatalogFile);
  std::fclose(catalog->IndexFile);
  gifree(catalog);
}
BENCHMARK(BM_csgget);

void BM_pread_record_baseline(benchmark::State &state) {
  const CatalogFixture &fixture = catalog_fixture();
  int index = open(fixture.index.c_str(), O_RDONLY), catalog = open(fixture.catalog.c_str(), O_RDONLY);
  const auto keys = random_keys(kParts, kPartKey);
  std::vector<unsigned char> record(4096);
  size_t i = 0;
  for (auto _ : state) {
    int count = 0, first = 0;
    char field[13] = {};
    if (!pread_lookup(index, keys[i++ % keys.size()].c_str(), &count, &first) ||
        pread(index, field, 12, first + 4) != 12)
      state.SkipWithError("key not found");
    const long offset = std::atol(field);
    unsigned char length[4];
    if (pread(catalog, length, 4, offset) != 4) state.SkipWithError("no record");
    const size_t size = (size_t{length[2]} << 8) | length[3];
    if (pread(catalog, record.data(), size, offset) != static_cast<ssize_t>(size))
      state.SkipWithError("short record");
    benchmark::DoNotOptimize(record.data());
  }
  state.SetItemsProcessed(state.iterations());
  close(index);
  close(catalog);
}
BENCHMARK(BM_pread_record_baseline);

// The same parts as SQLite rows: key and the catalog record's bytes.
void BM_sqlite_record_baseline(benchmark::State &state) {
  static SqliteTable table("parts.db", kParts, kPartKey, [](int i) {
    static std::vector<std::string> records;
    if (records.empty()) {
      FILE *f = std::fopen(catalog_fixture().catalog.c_str(), "rb");
      unsigned char head[4];
      while (f && std::fread(head, 1, 4, f) == 4) {
        const size_t size = (size_t{head[0]} << 24) | (size_t{head[1]} << 16) | (size_t{head[2]} << 8) | head[3];
        std::string record(reinterpret_cast<char *>(head), 4);
        record.resize(size);
        if (std::fread(record.data() + 4, 1, size - 4, f) != size - 4) std::abort();
        records.push_back(std::move(record));
      }
      if (f) std::fclose(f);
    }
    return records.at(static_cast<size_t>(i));
  });
  sqlite_lookups(state, table, kParts, kPartKey);
}
BENCHMARK(BM_sqlite_record_baseline);

// Appending: cspgwrt, which counts a record only once it is flushed,
// against fwrite of the same number of bytes and a flush, the least a
// checked append costs.
PartRecord *append_part() {
  PartRecord *part = nullptr;
  int rc = 0;
  cspgcre(&part, &rc);
  const std::string name = key_text(7, kPartKey);
  const double dims[3] = {114.3, 6.02, 152.4};
  cspgadd(part, "PART    ", "NAME    ", 1, kPartKey, name.data(), &rc);
  cspgadd(part, "DIMS    ", "OD      ", 1, 8, &dims[0], &rc);
  cspgadd(part, "GEOM    ", "ENDS    ", 1, 24, dims, &rc);
  return part;
}

void BM_cspgwrt(benchmark::State &state) {
  const std::string path = temp_path("append.cat");
  FILE *f = std::fopen(path.c_str(), "w+b");
  PartRecord *part = append_part();
  int rc = 0;
  for (auto _ : state)
    if (cspgwrt(part, f, &rc) <= 0 || rc != 0) state.SkipWithError("append failed");
  state.SetItemsProcessed(state.iterations());
  cspgfre(part);
  std::fclose(f);
  std::remove(path.c_str());
}
BENCHMARK(BM_cspgwrt);

void BM_fwrite_flush_baseline(benchmark::State &state) {
  const std::string path = temp_path("append.raw");
  FILE *f = std::fopen(path.c_str(), "w+b");
  PartRecord *part = append_part();
  int rc = 0;
  const int size = cspgwrt(part, f, &rc);
  cspgfre(part);
  const std::vector<char> bytes(static_cast<size_t>(size), 'x');
  for (auto _ : state)
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0)
      state.SkipWithError("write failed");
  state.SetItemsProcessed(state.iterations());
  std::fclose(f);
  std::remove(path.c_str());
}
BENCHMARK(BM_fwrite_flush_baseline);

}  // namespace

BENCHMARK_MAIN();
