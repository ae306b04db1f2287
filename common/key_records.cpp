// The key record space, the sort by key (with an 8-byte key prefix taken
// after the bytes all keys share, so most comparisons need not follow the
// key pointers; large sets radix-sorted by prefix in two halves on two
// threads and merged) and the move of the sorted keys into record order
// (on both threads for a large set, in the sort's work block).
#include "common/key_records.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "common/coding.h"
#include "common/memory.h"
#include "host/host_services.h"

namespace pcs {

KeyRecord *GetRecordSpace(int count, int key_length) {
  if (count < 1 || key_length < 0) return nullptr;
  const size_t n = static_cast<size_t>(count);
  const size_t key_bytes = static_cast<size_t>(key_length) + 1;
  if (n > (SIZE_MAX / 2) / (sizeof(KeyRecord) + key_bytes)) return nullptr;
  auto *records = static_cast<KeyRecord *>(gicaloc(1, n * (sizeof(KeyRecord) + key_bytes)));
  if (!records) return nullptr;
  char *keys = reinterpret_cast<char *>(records + n);
  for (size_t i = 0; i < n; ++i) records[i].Key = keys + i * key_bytes;
  return records;
}

void FreeRecordSpace(KeyRecord *records, int /*count*/) { gifree(records); }

namespace {

// Where the keys of a record space go when they move into record order:
// record i's key is copied to sorted + i * key_bytes and will lie at
// keys + i * key_bytes once `sorted` is copied over the space's keys.
struct Packing {
  const KeyRecord *first;  // record 0
  char *sorted;
  char *keys;
  size_t key_bytes;

  void move(KeyRecord *record) const {
    const auto offset = static_cast<size_t>(record - first) * key_bytes;
    std::memcpy(sorted + offset, record->Key, key_bytes);
    record->Key = keys + offset;
  }
};

constexpr int kFetchAhead = 16;

// The packing of the first n records of a space of `count`: false (nothing
// to do) when a key lies outside the space's keys.
bool packing_of(KeyRecord *records, int count, int n, int key_length, Packing *packing) {
  if (n < 1 || n > count) return false;
  const size_t key_bytes = static_cast<size_t>(key_length) + 1;
  char *keys = reinterpret_cast<char *>(records + count);
  const auto start = reinterpret_cast<uintptr_t>(keys),
             last = start + (static_cast<size_t>(count) - 1) * key_bytes;
  for (int i = 0; i < n; ++i) {
    const auto at = reinterpret_cast<uintptr_t>(records[i].Key);
    if (at < start || at > last || (at - start) % key_bytes != 0) return false;
  }
  *packing = Packing{records, nullptr, keys, key_bytes};
  return true;
}

// Moves the keys of records [from, to) to their places in packing.sorted.
void move_keys(const Packing &packing, KeyRecord *records, int from, int to) {
  for (int i = from; i < to; ++i) {
    if (i + kFetchAhead < to) __builtin_prefetch(records[i + kFetchAhead].Key);
    packing.move(&records[i]);
  }
}

// Copies the moved keys of records [from, to) over the space's keys.
void copy_back(const Packing &packing, int from, int to) {
  const auto offset = static_cast<size_t>(from) * packing.key_bytes;
  std::memcpy(packing.keys + offset, packing.sorted + offset,
              static_cast<size_t>(to - from) * packing.key_bytes);
}

// Moves the keys of the first n records into record order through a
// buffer of their own; nothing moves without memory for it.
void pack(KeyRecord *records, int n, Packing packing) {
  auto sorted = host_buffer(static_cast<size_t>(n) * packing.key_bytes);
  if (!sorted) return;
  packing.sorted = reinterpret_cast<char *>(sorted.get());
  move_keys(packing, records, 0, n);
  copy_back(packing, 0, n);
}

}  // namespace

void pack_record_keys(KeyRecord *records, int count, int n, int key_length) {
  Packing packing{};
  if (packing_of(records, count, n, key_length, &packing)) pack(records, n, packing);
}

int compare(const KeyRecord *first, const KeyRecord *second) {
  if (first->Key == second->Key) return 0;
  return std::strcmp(first->Key, second->Key);
}

namespace {

bool key_order(const KeyRecord &a, const KeyRecord &b) {
  const int order = std::strcmp(a.Key, b.Key);
  return order < 0 || (order == 0 && a.RecordOffset < b.RecordOffset);
}

// A key record with the first 8 bytes of its key as a big-endian number
// (bytes after a terminating 0 count as 0), so most comparisons need not
// follow the key pointer.
struct PrefixedRecord {
  uint64_t prefix;
  KeyRecord record;
};

// Orders records whose prefixes were taken at byte `skip` of their keys.
struct PrefixedOrder {
  size_t skip;
  bool operator()(const PrefixedRecord &a, const PrefixedRecord &b) const {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    // Equal prefixes: the keys differ only after them, unless one ends
    // inside the prefix (then both do, at the same place).
    const bool ended = (a.prefix & 0xFF) == 0;
    const int order = ended ? 0 : std::strcmp(a.record.Key + skip + 8, b.record.Key + skip + 8);
    return order < 0 || (order == 0 && a.record.RecordOffset < b.record.RecordOffset);
  }
};

// Merges the sorted runs [a, a_end) and [b, b_end) into out: the first
// `count` records of the merged order, taken from the fronts.
void merge_front(const PrefixedRecord *a, const PrefixedRecord *a_end, const PrefixedRecord *b,
                 const PrefixedRecord *b_end, KeyRecord *out, size_t count,
                 const PrefixedOrder &less) {
  for (KeyRecord *end = out + count; out != end; ++out)
    *out = (b == b_end || (a != a_end && !less(*b, *a)) ? a++ : b++)->record;
}

// The last `count` records of the same merged order, taken from the backs:
// out_end is one past the last record of out.
void merge_back(const PrefixedRecord *a, const PrefixedRecord *a_end, const PrefixedRecord *b,
                const PrefixedRecord *b_end, KeyRecord *out_end, size_t count,
                const PrefixedOrder &less) {
  for (KeyRecord *end = out_end - count; out_end != end;)
    *--out_end = (a_end == a || (b_end != b && !less(b_end[-1], a_end[-1])) ? --b_end : --a_end)
                     ->record;
}

// Sorts [first, last) in the order `less` gives: a stable radix sort on
// the prefixes, a byte at a time from the last (passing over the bytes that
// every record has alike), then each run of equal prefixes by `less`.
// `spare` holds as many records.
void sort_prefixed(PrefixedRecord *first, PrefixedRecord *last, PrefixedRecord *spare,
                   const PrefixedOrder &less) {
  const auto n = static_cast<size_t>(last - first);
  if (n < 2) return;
  std::array<std::array<size_t, 256>, 8> counts{};
  for (const PrefixedRecord *r = first; r != last; ++r)
    for (int d = 0; d < 8; ++d) ++counts[d][(r->prefix >> (8 * d)) & 0xFF];
  PrefixedRecord *from = first, *to = spare;
  for (int d = 0; d < 8; ++d) {
    std::array<size_t, 256> &place = counts[d];
    if (place[(first->prefix >> (8 * d)) & 0xFF] == n) continue;
    size_t sum = 0;
    for (size_t &count : place) sum += std::exchange(count, sum);
    for (const PrefixedRecord *r = from; r != from + n; ++r)
      to[place[(r->prefix >> (8 * d)) & 0xFF]++] = *r;
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + n, first);
  for (PrefixedRecord *run = first; run != last;) {
    PrefixedRecord *end = run + 1;
    while (end != last && end->prefix == run->prefix) ++end;
    if (end - run > 1) std::sort(run, end, less);
    run = end;
  }
}

// Runs first() on a second thread and second() on this one; both on this
// one when no thread can be started.
template <class First, class Second>
void both(First first, Second second) {
  std::thread helper;
  try {
    helper = std::thread(first);
  } catch (const std::system_error &) {
    first();
  }
  second();
  if (helper.joinable()) helper.join();
}

// Below this many records one thread sorts them all.
constexpr int kParallelMinimum = 1 << 15;

// The work block of a sort of n records: the prefixed records; for a large
// set also the radix sort's spare records, and then room for the keys
// moving into record order (`packing`, when given): the keys move once
// the sort is done, into memory the sort has already touched, so a build
// never holds the work records and a second copy of the keys at once.
// Without memory for all that, the prefixed records alone.
HostPtr<PrefixedRecord> work_block(int n, const Packing *packing, bool *spare) {
  const size_t records = static_cast<size_t>(n) * sizeof(PrefixedRecord);
  size_t bytes = 2 * records;
  if (packing) bytes = std::max(bytes, static_cast<size_t>(n) * packing->key_bytes);
  *spare = n >= kParallelMinimum;
  HostPtr<PrefixedRecord> block;
  if (*spare) block.reset(static_cast<PrefixedRecord *>(gimaloc(bytes)));
  if (!block) {
    *spare = false;
    block.reset(static_cast<PrefixedRecord *>(gimaloc(records)));
  }
  return block;
}

// Sorts as sort_key_records. With a packing, a large set's keys move into
// record order too, both halves at once; true when they did.
bool sort_records(KeyRecord *records, int n, Packing *packing) {
  if (n < 2) return false;
  bool spare = false;
  HostPtr<PrefixedRecord> work = work_block(n, packing, &spare);
  if (!work) {  // sort in place, slower
    std::sort(records, records + n, key_order);
    return false;
  }
  PrefixedRecord *p = work.get();
  const size_t skip = shared_beginning(static_cast<size_t>(n), SIZE_MAX,
                                       [records](size_t i) { return records[i].Key; });
  const PrefixedOrder less{skip};
  const auto take_prefixes = [&](int from, int to) {
    for (int i = from; i < to; ++i)
      p[i] = PrefixedRecord{key_prefix(records[i].Key + skip, SIZE_MAX), records[i]};
  };
  if (n < kParallelMinimum) {
    take_prefixes(0, n);
    std::sort(p, p + n, less);
    for (int i = 0; i < n; ++i) records[i] = p[i].record;
    return false;
  }
  // Each half prefixed and sorted on its own core, then merged from both
  // ends at once: the order is total (key, then offset), so the two merges
  // meet exactly.
  const auto sort_half = [&](int from, int to) {
    take_prefixes(from, to);
    if (spare)
      sort_prefixed(p + from, p + to, p + n + from, less);
    else
      std::sort(p + from, p + to, less);
  };
  const int half = n / 2;
  both([&] { sort_half(0, half); }, [&] { sort_half(half, n); });
  PrefixedRecord *middle = p + half, *end = p + n;
  const auto front = static_cast<size_t>(half), back = static_cast<size_t>(n - half);
  both([&] { merge_front(p, middle, middle, end, records, front, less); },
       [&] { merge_back(p, middle, middle, end, records + n, back, less); });
  if (!packing || !spare) return false;
  packing->sorted = reinterpret_cast<char *>(p);
  both([&] { move_keys(*packing, records, 0, half); },
       [&] { move_keys(*packing, records, half, n); });
  both([&] { copy_back(*packing, 0, half); }, [&] { copy_back(*packing, half, n); });
  return true;
}

}  // namespace

void sort_key_records(KeyRecord *records, int n) { sort_records(records, n, nullptr); }

void sort_and_pack_key_records(KeyRecord *records, int count, int n, int key_length) {
  Packing packing{};
  const bool packable = packing_of(records, count, n, key_length, &packing);
  if (!sort_records(records, n, packable ? &packing : nullptr) && packable)
    pack(records, n, packing);
}

}  // namespace pcs
