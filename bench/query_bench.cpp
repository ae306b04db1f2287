// Query lookup against baselines in the same run: cgsort of 1,000,000
// elements of 44 bytes through the host stack service against std::sort of
// the same elements; pclrdcg on a generic part file of 100,000 parts (index
// build and one lookup) against reading the same records, std::sort of
// their keys and std::lower_bound.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "host/inprocess/testing.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "generic/generic_parts.h"

namespace {

constexpr int kElements = 1000000;
constexpr int kElementSize = 44;
constexpr int kParts = 100000;
// Set to write the generic part file in a cyclic order that the middle
// pivot meets badly (see docs/performance.md).
constexpr bool kOrdered = false;

using Element = std::array<unsigned char, kElementSize>;

const std::vector<Element> &elements() {
  static const std::vector<Element> all = [] {
    std::mt19937_64 rng(7);
    std::vector<Element> out(kElements);
    for (Element &e : out)
      for (unsigned char &c : e) c = static_cast<unsigned char>('A' + rng() % 26);
    return out;
  }();
  return all;
}

// state.range(0) 1: the work buffer is refused, so the sort partitions
// host stacks.
void BM_cgsort(benchmark::State &state) {
  const int size = kElementSize;
  int stack = 0, rc = 0, pushed = 0;
  gusini(&size, &stack, &rc);
  for (auto _ : state) {
    state.PauseTiming();
    gusemp(&stack, &rc);
    for (const Element &e : elements()) guspus(&stack, e.data(), &pushed, &rc);
    state.ResumeTiming();
    if (state.range(0) == 1) pcs::host::fail_allocation(1);
    cgsort(&stack, cgcmpsrt, &rc);
    pcs::host::clear_allocation_failure();
    if (rc != 0) state.SkipWithError("cgsort failed");
  }
  gusend(&stack, &rc);
}

// std::sort of a fresh copy of the elements, descending by `greater`.
template <typename Greater>
void sort_copies(benchmark::State &state, Greater greater) {
  std::vector<Element> copy;
  for (auto _ : state) {
    state.PauseTiming();
    copy = elements();
    state.ResumeTiming();
    std::sort(copy.begin(), copy.end(), greater);
    benchmark::DoNotOptimize(copy.data());
  }
}

void BM_std_sort(benchmark::State &state) {
  sort_copies(state, [](const Element &a, const Element &b) {
    return std::memcmp(a.data(), b.data(), kElementSize) > 0;
  });
}

// The same sort with the comparison written out byte by byte: a check on the
// memcmp baseline, which some compilers turn into a slow library call.
void BM_std_sort_loop(benchmark::State &state) {
  sort_copies(state, [](const Element &a, const Element &b) {
    for (int i = 0; i < kElementSize; ++i)
      if (a[i] != b[i]) return a[i] > b[i];
    return false;
  });
}

// A project whose current catalog names a generic part file of kParts
// parts; both files are removed at the end.
struct Project {
  std::string dir, generic;
  Project() {
    dir = pcs::bench::make_temp_dir("pcs-query-bench-");
    generic = dir + "/GENPARTS";
    std::fclose(std::fopen((dir + "/CATALOG1").c_str(), "w"));
    auto &m = pcs::host::model::data();
    m.setup.catalog_directory = dir;
    m.setup.current_catalog = 1;
    m.catalogs = {{1, {"CATALOG1", "SECOND  ", "GENPARTS"}}};
    m.define_group("ELCLASS", {{"AELCLASS", 'C', 8}});
    m.define_group("SPCFUNC", {{"QRYNUMBR", 'C', 12}});
    FILE *file = std::fopen(generic.c_str(), "w+b");
    // 50 classes times 1,000 query numbers, every pair twice, in random
    // order (kOrdered: class changing fastest).
    std::vector<int> order(kParts);
    for (int i = 0; i < kParts; ++i) order[i] = i;
    if (!kOrdered) std::shuffle(order.begin(), order.end(), std::mt19937(3));
    for (int i : order) {
      char cls[9], query[13], number[13];
      std::snprintf(cls, sizeof cls, "CLASS%03d", i % 50);
      std::snprintf(query, sizeof query, "Q%011d", i / 50 % 1000);
      std::snprintf(number, sizeof number, "P%011d", i);
      int rc = 0, eight = 8, twelve = 12;
      CgGroup *part = cgpradd(cls, "C8      ", &eight, "AELCLASS", "ELCLASS ", nullptr, &rc);
      part = cgpradd(query, "C12     ", &twelve, "QRYNUMBR", "SPCFUNC ", part, &rc);
      part = cgpradd(number, "C12     ", &twelve, "PARTNO  ", "PARTNUM ", part, &rc);
      part = cgpradd("RF      ", "C8      ", &eight, "OPTIONS ", "TYPEOPTS", part, &rc);
      cggput(file, &part, &rc);
      cggfre(part);
    }
    std::fclose(file);
  }
  ~Project() {
    std::remove(generic.c_str());
    std::remove((dir + "/CATALOG1").c_str());
    rmdir(dir.c_str());
  }
};

Project &project() {
  static Project p;
  return p;
}

void BM_pclrdcg(benchmark::State &state) {
  project();
  size_t found = 0;
  for (auto _ : state) {
    int parts = 0, options = 0, rc = 0, size = 0, count = 0;
    pclrdcg("CLASS007", "Q00000000123", &parts, &options, &rc);
    if (rc != 0) state.SkipWithError("pclrdcg failed");
    gusinf(&parts, &size, &count, &rc);
    found = static_cast<size_t>(count);
    gusend(&parts, &rc);
    gusend(&options, &rc);
  }
  state.counters["matches"] = static_cast<double>(found);
}

// The same work by hand: every record read, its key made, the keys sorted
// and searched.
void BM_read_sort_search(benchmark::State &state) {
  Project &p = project();
  size_t found = 0;
  for (auto _ : state) {
    FILE *file = std::fopen(p.generic.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::vector<std::pair<std::string, int32_t>> keys;
    for (int32_t position = 0; position < size;) {
      CgGroup *part = nullptr;
      int32_t length = 0;
      if (pcs::generic::read_part(file, position, &length, &part) != 0) break;
      const CgGroup *cls = cgagfnd("ELCLASS ", part), *fn = cgagfnd("SPCFUNC ", part);
      keys.emplace_back(std::string(reinterpret_cast<char *>(cls->attributes->values), 8) +
                            std::string(reinterpret_cast<char *>(fn->attributes->values), 12),
                        position);
      cggfre(part);
      position += length;
    }
    std::fclose(file);
    std::sort(keys.begin(), keys.end());
    const std::string key = "CLASS007Q00000000123";
    auto at = std::lower_bound(keys.begin(), keys.end(), std::make_pair(key, int32_t{0}));
    found = 0;
    for (; at != keys.end() && at->first == key; ++at) ++found;
  }
  state.counters["matches"] = static_cast<double>(found);
}

BENCHMARK(BM_cgsort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_sort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_sort_loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pclrdcg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_read_sort_search)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
