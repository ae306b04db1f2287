// Part records against a std::map baseline: building a record of 200 groups
// of 20 attributes, looking every attribute up by name, and serializing the
// groups to a memory stream.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/coding.h"
#include "common/fileio.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "records/records.h"

namespace {

constexpr int kGroups = 200;
constexpr int kAttributes = 20;
constexpr int kValues = 3;  // three 8-byte reals per attribute

struct Entry {
  std::string group, name;
};

// Every (group, attribute) pair once, in a fixed shuffled order.
const std::vector<Entry> &entries() {
  static const std::vector<Entry> all = [] {
    std::vector<Entry> v;
    char group[9], name[9];
    for (int g = 0; g < kGroups; ++g) {
      for (int a = 0; a < kAttributes; ++a) {
        std::snprintf(group, sizeof group, "G%03d    ", g);
        std::snprintf(name, sizeof name, "A%02d     ", a);
        v.push_back({group, name});
      }
    }
    std::shuffle(v.begin(), v.end(), std::mt19937(42));
    return v;
  }();
  return all;
}

const double kValueBytes[kValues] = {1.5, 2.5, 3.5};

using Baseline = std::map<std::string, std::map<std::string, std::vector<unsigned char>>>;

PartRecord *build_record() {
  PartRecord *record = nullptr;
  int rc = 0;
  cspgcre(&record, &rc);
  for (const Entry &e : entries())
    cspgadd(record, e.group.data(), e.name.data(), kValues, 8, kValueBytes, &rc);
  return record;
}

Baseline build_map() {
  Baseline map;
  const auto *bytes = reinterpret_cast<const unsigned char *>(kValueBytes);
  for (const Entry &e : entries())
    map[e.group].emplace(e.name, std::vector<unsigned char>(bytes, bytes + sizeof kValueBytes));
  return map;
}

// A memory stream large enough for the whole record.
struct MemoryStream {
  std::vector<char> buffer = std::vector<char>(4 << 20);
  FILE *stream = fmemopen(buffer.data(), buffer.size(), "wb");
  ~MemoryStream() { std::fclose(stream); }
};

void BM_RecordBuild(benchmark::State &state) {
  for (auto _ : state) {
    PartRecord *record = build_record();
    benchmark::DoNotOptimize(record);
    cspgfre(record);
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kAttributes);
}

void BM_MapBuild(benchmark::State &state) {
  for (auto _ : state) {
    Baseline map = build_map();
    benchmark::DoNotOptimize(map);
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kAttributes);
}

void BM_RecordFind(benchmark::State &state) {
  PartRecord *record = build_record();
  for (auto _ : state) {
    long total = 0;
    for (const Entry &e : entries()) {
      int count = 0, length = 0, rc = 0;
      cspgretn(record, e.group.data(), e.name.data(), &count, &length, &rc);
      total += count * length;
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kAttributes);
  cspgfre(record);
}

void BM_MapFind(benchmark::State &state) {
  Baseline map = build_map();
  for (auto _ : state) {
    long total = 0;
    for (const Entry &e : entries()) {
      auto g = map.find(e.group);
      if (g == map.end()) continue;
      auto a = g->second.find(e.name);
      if (a != g->second.end()) total += static_cast<long>(a->second.size());
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kAttributes);
}

// The groups of the record as they stand in a catalog record with no other
// content before them; returns the offset after the last group.
int write_record(PartRecord *record, FILE *stream) {
  int offset = 16 + 4 * kGroups, rc = 0;
  pcs::records::csgrlset(record);
  while (AttrGroup *group = pcs::records::csgrlnxt(record))
    offset += pcs::records::csgrpwrt(group, offset, stream, &rc);
  return offset;
}

// The same serialized form written from the map.
int write_map(const Baseline &map, FILE *stream) {
  auto word = [&](int32_t v) {
    unsigned char w[4];
    pcs::put_be32(w, v);
    pcs::io::write(stream, w, 4);
  };
  int offset = 16 + 4 * kGroups;
  for (const auto &[group, attributes] : map) {
    int n = static_cast<int>(attributes.size());
    pcs::io::write(stream, group.data(), 8);
    word(n);
    int next = offset + 12 + 4 * n;
    for (const auto &[name, values] : attributes) {
      word(next);
      next += 16 + static_cast<int>(values.size());
    }
    for (const auto &[name, values] : attributes) {
      pcs::io::write(stream, name.data(), 8);
      word(kValues);
      word(8);
      pcs::io::write(stream, values.data(), values.size());
    }
    offset = next;
  }
  return offset;
}

// Both writers must produce the same bytes, or the comparison means nothing.
bool writers_agree() {
  PartRecord *record = build_record();
  Baseline map = build_map();
  MemoryStream ours, theirs;
  int end = write_record(record, ours.stream);
  bool same = end == write_map(map, theirs.stream);
  std::fflush(ours.stream);
  std::fflush(theirs.stream);
  same = same && std::memcmp(ours.buffer.data(), theirs.buffer.data(), ours.buffer.size()) == 0;
  cspgfre(record);
  return same;
}

void BM_RecordWrite(benchmark::State &state) {
  if (!writers_agree()) state.SkipWithError("the two writers disagree");
  PartRecord *record = build_record();
  MemoryStream memory;
  for (auto _ : state) {
    std::rewind(memory.stream);
    benchmark::DoNotOptimize(write_record(record, memory.stream));
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kAttributes);
  cspgfre(record);
}

void BM_MapWrite(benchmark::State &state) {
  Baseline map = build_map();
  MemoryStream memory;
  for (auto _ : state) {
    std::rewind(memory.stream);
    benchmark::DoNotOptimize(write_map(map, memory.stream));
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kAttributes);
}

BENCHMARK(BM_RecordBuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapBuild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordFind)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapFind)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapWrite)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
