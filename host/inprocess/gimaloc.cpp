// The host memory service (gimaloc, gicaloc, girealoc, gifree), its counters
// and its allocation failure injector.
//
// Every block carries a small header holding its size, so gifree and
// girealoc keep the live-byte count without a lookup table. The header is
// as large as the strictest fundamental alignment, so blocks stay aligned
// for any type.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host/inprocess/host_state.h"
#include "host/inprocess/testing.h"

namespace pcs::host {
namespace {

constexpr size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= sizeof(size_t));

struct Injector {
  long countdown = 0;    // 0: nothing armed; 1: the next allocation fails
  bool from_then_on = false;
  bool failing = false;  // armed from-then-on failure has started
};

MemoryStats stats;
Injector injector;

// Decides whether this allocation is failed on purpose.
bool inject() {
  if (injector.failing) {
    ++stats.injected;
    return true;
  }
  if (injector.countdown == 0 || --injector.countdown != 0) return false;
  injector.failing = injector.from_then_on;
  ++stats.injected;
  return true;
}

size_t &size_of(void *raw) { return *static_cast<size_t *>(raw); }

void *user(void *raw) { return static_cast<unsigned char *>(raw) + kHeader; }

void *raw_of(void *block) { return static_cast<unsigned char *>(block) - kHeader; }

void *allocate(size_t size, bool zero) {
  if (size > static_cast<size_t>(-1) - kHeader || inject()) return nullptr;
  void *raw = zero ? std::calloc(1, kHeader + size) : std::malloc(kHeader + size);
  if (!raw) return nullptr;
  size_of(raw) = size;
  ++stats.live_blocks;
  stats.live_bytes += static_cast<long>(size);
  ++stats.allocations;
  return user(raw);
}

}  // namespace

namespace state {
void reset_memory() {
  injector = Injector{};
  stats.allocations = 0;
  stats.injected = 0;
}
}  // namespace state

MemoryStats memory() { return stats; }

void fail_allocation(long nth, bool from_then_on) {
  injector = Injector{};
  if (nth <= 0) return;
  injector.countdown = nth;
  injector.from_then_on = from_then_on;
}

void clear_allocation_failure() { injector = Injector{}; }

}  // namespace pcs::host

using pcs::host::allocate;

extern "C" {

void *gimaloc(size_t size) { return allocate(size, false); }

void *gicaloc(size_t count, size_t size) {
  if (size != 0 && count > static_cast<size_t>(-1) / size) return nullptr;
  return allocate(count * size, true);
}

// A null block makes this gimaloc. A size of 0 keeps a valid block of no
// bytes. On failure the old block stays as it was.
void *girealoc(void *block, size_t size) {
  using namespace pcs::host;
  if (!block) return gimaloc(size);
  if (size > static_cast<size_t>(-1) - kHeader || inject()) return nullptr;
  void *raw = raw_of(block);
  size_t old = size_of(raw);
  void *moved = std::realloc(raw, kHeader + size);
  if (!moved) return nullptr;
  size_of(moved) = size;
  stats.live_bytes += static_cast<long>(size) - static_cast<long>(old);
  ++stats.allocations;
  return user(moved);
}

void gifree(void *block) {
  using namespace pcs::host;
  if (!block) return;
  void *raw = raw_of(block);
  --stats.live_blocks;
  stats.live_bytes -= static_cast<long>(size_of(raw));
  std::free(raw);
}

}  // extern "C"
