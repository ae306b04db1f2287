// Catalog file benchmarks. Key lookup: csalku against a plain pread binary
// search over the same index of 1,000,000 records with 40-byte keys (both
// read the header on every lookup). Part access: csgget end to end on a
// catalog of 100,000 parts against a pread lookup that reads the record's
// bytes without building a part record.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/inprocess/testing.h"
#include "include/pcs.h"

namespace {

constexpr int kLookupRecords = 1000000;
constexpr int kLookupKey = 40;
constexpr int kParts = 100000;
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
  const char *dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/pcs-bench-" + std::to_string(getpid()) + "-" + name;
}

struct LookupFixture {
  std::string path = temp_path("lookup.idx");
  LookupFixture() {
    std::vector<int> offsets(kLookupRecords);
    for (int i = 0; i < kLookupRecords; ++i) offsets[i] = i * 100;
    write_index(path, kLookupRecords, kLookupKey, offsets);
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
