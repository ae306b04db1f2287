// Host services against the standard library: stack push and read by number
// against std::vector, ordered-list insert and find against std::multimap,
// gimaloc/gifree against malloc/free.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/host_services.h"

namespace {

constexpr int kEntries = 1000000;
constexpr int kNames = 1000;

void BM_StackPushRead(benchmark::State &state) {
  for (auto _ : state) {
    int size = static_cast<int>(sizeof(long)), stack = 0, rc = 0, count = 0;
    gusini(&size, &stack, &rc);
    for (long value = 0; value < kEntries; ++value) guspus(&stack, &value, &count, &rc);
    long sum = 0;
    for (int index = 1; index <= kEntries; ++index) {
      long value = 0;
      gusrea(&stack, &index, &value, &rc);
      sum += value;
    }
    benchmark::DoNotOptimize(sum);
    gusend(&stack, &rc);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_StackPushRead)->Unit(benchmark::kMillisecond);

// std::vector as the stack, its storage reserved up front (the cost of the
// entries alone) or grown as it fills.
void vector_push_read(benchmark::State &state, bool reserved) {
  for (auto _ : state) {
    std::vector<long> stack;
    if (reserved) stack.reserve(kEntries);
    for (long value = 0; value < kEntries; ++value) stack.push_back(value);
    long sum = 0;
    for (int index = 1; index <= kEntries; ++index) sum += stack[static_cast<size_t>(index - 1)];
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_VectorPushRead(benchmark::State &state) { vector_push_read(state, false); }
BENCHMARK(BM_VectorPushRead)->Unit(benchmark::kMillisecond);

void BM_VectorReservedPushRead(benchmark::State &state) { vector_push_read(state, true); }
BENCHMARK(BM_VectorReservedPushRead)->Unit(benchmark::kMillisecond);

constexpr int kBlocks = 1000;

void BM_HostAllocFree(benchmark::State &state) {
  std::vector<void *> blocks(kBlocks);
  for (auto _ : state) {
    for (void *&block : blocks) block = gimaloc(32);
    benchmark::DoNotOptimize(blocks.data());
    for (void *block : blocks) gifree(block);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_HostAllocFree)->Unit(benchmark::kMicrosecond);

void BM_MallocFree(benchmark::State &state) {
  std::vector<void *> blocks(kBlocks);
  for (auto _ : state) {
    for (void *&block : blocks) block = std::malloc(32);
    benchmark::DoNotOptimize(blocks.data());
    for (void *block : blocks) std::free(block);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_MallocFree)->Unit(benchmark::kMicrosecond);

// 8-byte name fields "N0000042" in a fixed random order.
std::vector<std::string> shuffled_names() {
  std::vector<std::string> names;
  for (int i = 0; i < kNames; ++i) {
    char name[9];
    std::snprintf(name, sizeof name, "N%07d", i);
    names.emplace_back(name, 8);
  }
  std::shuffle(names.begin(), names.end(), std::mt19937(42));
  return names;
}

int compare8(const void *first, const void *second) {
  return std::strncmp(static_cast<const char *>(first), static_cast<const char *>(second), 8);
}

void BM_ListInsertFind(benchmark::State &state) {
  std::vector<std::string> names = shuffled_names();
  for (auto _ : state) {
    void *list = nullptr;
    for (std::string &name : names) list = pplstins(list, name.data(), compare8);
    long found = 0;
    for (const std::string &name : names) found += pplstfnd(list, name.data(), compare8) != nullptr;
    benchmark::DoNotOptimize(found);
    pplstfre(list);
  }
  state.SetItemsProcessed(state.iterations() * kNames);
}
BENCHMARK(BM_ListInsertFind)->Unit(benchmark::kMicrosecond);

void BM_MapInsertFind(benchmark::State &state) {
  std::vector<std::string> names = shuffled_names();
  for (auto _ : state) {
    std::multimap<std::string, const std::string *> map;
    for (const std::string &name : names) map.emplace(name, &name);
    long found = 0;
    for (const std::string &name : names) found += map.find(name) != map.end();
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kNames);
}
BENCHMARK(BM_MapInsertFind)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
