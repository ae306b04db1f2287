// A host service called through its import slot (the library's binding stub)
// against a direct call of the same service at its entry address.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include "host/host_services.h"

namespace {

constexpr int kCalls = 1000;

void BM_SlotCall(benchmark::State &state) {
  void *array = pparynew(4);
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i < kCalls; ++i) sum += pparysiz(array);  // the stub: slot, cell, jump
    benchmark::DoNotOptimize(sum);
  }
  pparyfre(array);
  state.SetItemsProcessed(state.iterations() * kCalls);
}
BENCHMARK(BM_SlotCall);

void BM_DirectCall(benchmark::State &state) {
  void *array = pparynew(4);
  auto *direct = reinterpret_cast<int (*)(void *)>(dlsym(RTLD_DEFAULT, "pparysiz"));
  benchmark::DoNotOptimize(direct);
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i < kCalls; ++i) sum += direct(array);
    benchmark::DoNotOptimize(sum);
  }
  pparyfre(array);
  state.SetItemsProcessed(state.iterations() * kCalls);
}
BENCHMARK(BM_DirectCall);

}  // namespace

BENCHMARK_MAIN();
