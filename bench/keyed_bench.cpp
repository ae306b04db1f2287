// Keyed group files against baselines in the same run: the 2-3 tree index
// (insert, find, delete-minimum of 1,000,000 keys of 40 bytes) against
// std::map over the same caller-owned keys; cspopn of a file of 100,000
// records against reading the file's bytes; cspget against a std::map lookup
// followed by a raw read of the record.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_util.h"
#include "common/memory.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "keyed/tree.h"

namespace {

constexpr int kKeys = 1000000;
constexpr int kKeyLength = 40;
constexpr int kRecords = 100000;

// The keys and index elements, made once; the containers only point at them.
struct Keys {
  std::vector<std::string> keys;
  std::vector<pcs::keyed::IndexElement> elements;
  std::vector<int> lookup_order;
  Keys() {
    std::mt19937_64 rng(42);
    keys.resize(kKeys);
    elements.resize(kKeys);
    for (int i = 0; i < kKeys; ++i) {
      keys[i].resize(kKeyLength);
      for (char &c : keys[i]) c = static_cast<char>('A' + rng() % 26);
      elements[i] = {reinterpret_cast<unsigned char *>(keys[i].data()), i};
    }
    lookup_order.resize(kKeys);
    for (int i = 0; i < kKeys; ++i) lookup_order[i] = i;
    std::shuffle(lookup_order.begin(), lookup_order.end(), rng);
  }
};
Keys &keys() {
  static Keys k;
  return k;
}

void keep_element(void *) {}

Heap *filled_heap() {
  Heap *heap = pcs::keyed::crtheap_with(pcs::keyed::comp_ind, keep_element, pcs::keyed::pt_index, kKeyLength);
  int error = 0;
  for (auto &e : keys().elements) heap->insert(heap, &e, &error);
  return heap;
}

using Map = std::map<std::string_view, int>;
Map filled_map() {
  Map map;
  for (int i = 0; i < kKeys; ++i) map.emplace(keys().keys[i], i);
  return map;
}

void BM_TreeInsert(benchmark::State &state) {
  keys();
  for (auto _ : state) {
    Heap *heap = filled_heap();
    state.PauseTiming();
    pcs::keyed::heap_release(heap);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TreeInsert)->Unit(benchmark::kMillisecond);

void BM_MapInsert(benchmark::State &state) {
  keys();
  for (auto _ : state) {
    auto *map = new Map(filled_map());
    state.PauseTiming();
    delete map;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_MapInsert)->Unit(benchmark::kMillisecond);

void BM_TreeFind(benchmark::State &state) {
  Heap *heap = filled_heap();
  for (auto _ : state) {
    long sum = 0;
    int error = 0;
    for (int i : keys().lookup_order)
      sum += static_cast<pcs::keyed::IndexElement *>(heap->search(heap, &keys().elements[i], &error))
                 ->position;
    benchmark::DoNotOptimize(sum);
  }
  pcs::keyed::heap_release(heap);
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TreeFind)->Unit(benchmark::kMillisecond);

void BM_MapFind(benchmark::State &state) {
  Map map = filled_map();
  for (auto _ : state) {
    long sum = 0;
    for (int i : keys().lookup_order) sum += map.find(keys().keys[i])->second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_MapFind)->Unit(benchmark::kMillisecond);

void BM_TreeDeleteMin(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    Heap *heap = filled_heap();
    state.ResumeTiming();
    int error = 0;
    while (heap->delete_minimum(heap, &error)) {
    }
    state.PauseTiming();
    pcs::keyed::heap_release(heap);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_TreeDeleteMin)->Unit(benchmark::kMillisecond);

void BM_MapDeleteMin(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    Map map = filled_map();
    state.ResumeTiming();
    while (!map.empty()) map.erase(map.begin());
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_MapDeleteMin)->Unit(benchmark::kMillisecond);

// ---- keyed files ----------------------------------------------------------

const char kGroups[] = "PIPE    ";
const char kAttrs[] = "SIZE    ";
const int kLength = 12, kCount = 1;

std::string key_text(int i) {
  char key[16];
  std::snprintf(key, sizeof key, "K%011d", i);
  return std::string(key, kLength);
}

std::string path_of(const std::string &field) { return field.substr(0, field.find(' ')); }

// Removes the benchmark's file at exit.
struct Cleanup {
  std::string path;
  ~Cleanup() {
    if (!path.empty()) std::remove(path.c_str());
  }
} cleanup;

// A file of kRecords records of three attributes, written once; its name
// field.
std::string make_keyed_file() {
  std::string field = pcs::bench::temp_root() + "/pcs_keyed_" + std::to_string(getpid()) + ".kg";
  // The name field holds PCS_KEYED_NAME_LEN characters: a longer path is cut
  // there, and the file made and removed is the one the cut name names.
  field.resize(PCS_KEYED_NAME_LEN, ' ');
  cleanup.path = path_of(field);
  KeyedFile *file = nullptr;
  int mode = 0, rc = 0, one = 1, two = 2, eight = 8;
  cspopn(field.c_str(), &kCount, kGroups, kAttrs, &kLength, &file, &mode, &rc);
  for (int i = 0; i < kRecords; ++i) {
    KeyedGroup *list = nullptr;
    std::string key = key_text(i);
    cspadd("DIMS    ", "OD      ", &two, &eight, "114.3000168.3000", &list, &rc);
    cspadd("PIPE    ", "SCH     ", &one, &eight, "40      ", &list, &rc);
    cspadd("PIPE    ", "SIZE    ", &one, &kLength, key.data(), &list, &rc);
    cspputs(&file, &list, &rc);
    cspfre(&list);
  }
  cspcls(&file, &rc);
  return field;
}

const std::string &keyed_file() {
  static const std::string field = make_keyed_file();
  return field;
}

KeyedFile *open_keyed_file() {
  KeyedFile *file = nullptr;
  int mode = 1, rc = 0;
  cspopn(keyed_file().c_str(), &kCount, kGroups, kAttrs, &kLength, &file, &mode, &rc);
  if (rc != 0) std::abort();
  return file;
}

void BM_Cspopn(benchmark::State &state) {
  keyed_file();
  for (auto _ : state) {
    KeyedFile *file = open_keyed_file();
    int rc = 0;
    cspcls(&file, &rc);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Cspopn)->Unit(benchmark::kMillisecond);

void BM_ReadFileBytes(benchmark::State &state) {
  std::string path = path_of(keyed_file());
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    FILE *in = std::fopen(path.c_str(), "rb");
    size_t total = 0, n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) total += n;
    std::fclose(in);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);

void BM_Cspget(benchmark::State &state) {
  KeyedFile *file = open_keyed_file();
  std::vector<std::string> wanted;
  std::mt19937 rng(7);
  for (int i = 0; i < 10000; ++i) wanted.push_back(key_text(static_cast<int>(rng() % kRecords)));
  for (auto _ : state) {
    for (const std::string &key : wanted) {
      KeyedGroup *list = nullptr;
      int rc = 0;
      cspget(key.c_str(), &file, &list, &rc);
      cspfre(&list);
    }
  }
  int rc = 0;
  cspcls(&file, &rc);
  state.SetItemsProcessed(state.iterations() * static_cast<long>(wanted.size()));
}
BENCHMARK(BM_Cspget)->Unit(benchmark::kMillisecond);

// Baseline: the key's position from a std::map, then the record's bytes.
void BM_MapLookupAndRead(benchmark::State &state) {
  KeyedFile *file = open_keyed_file();
  std::map<std::string, int> positions;
  for (int position = 0;;) {
    KeyedGroup *list = nullptr;
    int length = 0, rc = 0;
    cspgtr(&file->Stream, &position, &length, &list, &rc);
    if (rc != 0) break;
    char key[kLength];
    cspgtv(kGroups, kAttrs, &list, key, &rc);
    positions.emplace(std::string(key, kLength), position);
    cspfre(&list);
    position += length;
  }
  std::vector<std::string> wanted;
  std::mt19937 rng(7);
  for (int i = 0; i < 10000; ++i) wanted.push_back(key_text(static_cast<int>(rng() % kRecords)));
  FILE *in = std::fopen(path_of(keyed_file()).c_str(), "rb");
  char record[256];
  for (auto _ : state) {
    for (const std::string &key : wanted) {
      std::fseek(in, positions.find(key)->second, SEEK_SET);
      benchmark::DoNotOptimize(std::fread(record, 1, sizeof record, in));
    }
  }
  std::fclose(in);
  int rc = 0;
  cspcls(&file, &rc);
  state.SetItemsProcessed(state.iterations() * static_cast<long>(wanted.size()));
}
BENCHMARK(BM_MapLookupAndRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
