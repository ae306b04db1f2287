// The host memory service (gimaloc, gicaloc, girealoc, gifree), its counters
// and its allocation failure injector.
//
// Every block carries a small header holding its size, so gifree and
// girealoc keep the live-byte count without a lookup table. The header is
// as large as the strictest fundamental alignment, so blocks stay aligned
// for any type.
//
// Small blocks (a part record's groups, attributes, values and list nodes)
// come and go by the dozen per record: each thread keeps up to
// kCachedBlocks released blocks of each 16-byte size class and hands them
// out again before asking malloc. A cached block is malloc'd at its class's
// full size, so any request of the class fits it. Builds with
// AddressSanitizer keep no cache, so a block used after gifree is caught.
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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kBlockCache = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kBlockCache = false;
#else
constexpr bool kBlockCache = true;
#endif
#else
constexpr bool kBlockCache = true;
#endif
constexpr size_t kClassBytes = 16;
constexpr size_t kCachedMost = 256;  // largest size (user bytes) that is cached
constexpr size_t kClasses = kCachedMost / kClassBytes;
constexpr unsigned kCachedBlocks = 256;

size_t class_of(size_t size) { return size == 0 ? 0 : (size - 1) / kClassBytes; }

// Bytes malloc'd for a block of `size` user bytes.
size_t raw_size(size_t size) {
  return kHeader + (size <= kCachedMost ? (class_of(size) + 1) * kClassBytes : size);
}

// Released small blocks of this thread, chained through their first bytes.
struct BlockCache {
  void *first[kClasses];
  unsigned count[kClasses];
  bool started;  // the thread's clean-up is registered
  bool closed;   // the thread is ending: release straight to free

  void *take(size_t size);
  bool keep(void *raw, size_t size);
  void start();
  void release();
  long held() const {
    long n = 0;
    for (unsigned c : count) n += c;
    return n;
  }
};

// Static thread-local storage: no lookup call on every access. Trivially
// destructible, so a gifree after the thread's clean-up still finds it.
__attribute__((tls_model("initial-exec"))) thread_local BlockCache cache;

// Empties the cache as the thread ends; made on a thread's first release.
struct BlockCacheCleanup {
  ~BlockCacheCleanup() { cache.release(); }
};

void *BlockCache::take(size_t size) {
  if (!kBlockCache || size > kCachedMost) return nullptr;
  const size_t c = class_of(size);
  void *raw = first[c];
  if (raw) {
    first[c] = *static_cast<void **>(raw);
    --count[c];
  }
  return raw;
}

// Keeps the block unless the thread has not released one before (see
// release_slowly), is ending, or the block is too large or its class full.
bool BlockCache::keep(void *raw, size_t size) {
  if (!kBlockCache || !started || closed || size > kCachedMost) return false;
  const size_t c = class_of(size);
  if (count[c] == kCachedBlocks) return false;
  *static_cast<void **>(raw) = first[c];
  first[c] = raw;
  ++count[c];
  return true;
}

void BlockCache::start() {
  started = true;
  static thread_local BlockCacheCleanup cleanup;
  (void)cleanup;
}

// A release the cache did not take: the thread's first (which registers its
// clean-up) or one to give back to malloc. Out of line, so that the common
// path needs no saved registers.
__attribute__((noinline)) void release_slowly(void *raw, size_t size) {
  if (kBlockCache && !cache.started && !cache.closed) {
    cache.start();
    if (cache.keep(raw, size)) return;
  }
  std::free(raw);
}

void BlockCache::release() {
  closed = true;
  for (size_t c = 0; c < kClasses; ++c) {
    while (void *raw = first[c]) {
      first[c] = *static_cast<void **>(raw);
      std::free(raw);
    }
    count[c] = 0;
  }
}

void note_peak() {
  if (stats.live_bytes > stats.peak_bytes) stats.peak_bytes = stats.live_bytes;
}

void *user(void *raw) { return static_cast<unsigned char *>(raw) + kHeader; }

void *raw_of(void *block) { return static_cast<unsigned char *>(block) - kHeader; }

void *counted(void *raw, size_t size, bool zero) {
  if (zero) std::memset(user(raw), 0, size);
  size_of(raw) = size;
  ++stats.live_blocks;
  stats.live_bytes += static_cast<long>(size);
  note_peak();
  ++stats.allocations;
  return user(raw);
}

// An allocation the block cache cannot serve, or one the injector may fail.
__attribute__((noinline)) void *allocate_slowly(size_t size, bool zero) {
  if (size > static_cast<size_t>(-1) - kHeader || inject()) return nullptr;
  void *raw = cache.take(size);
  if (!raw) raw = std::malloc(raw_size(size));
  return raw ? counted(raw, size, zero) : nullptr;
}

void *allocate(size_t size, bool zero) {
  void *raw = injector.countdown == 0 && !injector.failing ? cache.take(size) : nullptr;
  return raw ? counted(raw, size, zero) : allocate_slowly(size, zero);
}

}  // namespace

namespace state {
void reset_memory() {
  injector = Injector{};
  stats.allocations = 0;
  stats.injected = 0;
  stats.peak_bytes = stats.live_bytes;
}
}  // namespace state

MemoryStats memory() { return stats; }

long cached_blocks() { return kBlockCache ? cache.held() : -1; }

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
  void *moved = std::realloc(raw, raw_size(size));
  if (!moved) return nullptr;
  size_of(moved) = size;
  stats.live_bytes += static_cast<long>(size) - static_cast<long>(old);
  note_peak();
  ++stats.allocations;
  return user(moved);
}

void gifree(void *block) {
  using namespace pcs::host;
  if (!block) return;
  void *raw = raw_of(block);
  const size_t size = size_of(raw);
  --stats.live_blocks;
  stats.live_bytes -= static_cast<long>(size);
  if (!cache.keep(raw, size)) release_slowly(raw, size);
}

}  // extern "C"
