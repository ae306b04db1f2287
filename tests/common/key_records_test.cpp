// The sort of the index builder's key records: key order as strcmp gives
// it, equal keys by record offset, for keys that share long beginnings,
// end inside or just after the shared part, or are all the same; and the
// same order when the sort's work memory cannot be had, when the records
// are many enough to be sorted on two threads, and when the keys move into
// record order after the sort; a large sort's memory.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/key_records.h"
#include "host/inprocess/testing.h"
#include "tests/support/support.h"

namespace pcs::test {
namespace {

using KeyRecords = HostTest;

// How the records are sorted: alone or sorted and packed, with every
// allocation failing or the nth (0: none). For two-thread sets, 1 is the
// work block with room for the radix sort's spare records and the moving
// keys, 2 the work records alone in its place, and then the keys' own new
// place; for smaller sets, 1 is the work records, 2 the keys' new place.
struct Way {
  bool without_memory = false, packed = false;
  long failing = 0;
};

// Sorts (key, offset) pairs; the keys in the order given. Packed keys lie
// in record order in the space unless an allocation failed.
std::vector<std::pair<std::string, int>> sorted(const std::vector<std::pair<std::string, int>> &in,
                                                Way way) {
  const int n = static_cast<int>(in.size());
  size_t width = 1;
  for (const auto &[key, offset] : in) width = std::max(width, key.size());
  KeyRecord *records = GetRecordSpace(n, static_cast<int>(width));
  EXPECT_NE(records, nullptr);
  if (!records) return {};
  for (int i = 0; i < n; ++i) {
    std::memcpy(records[i].Key, in[static_cast<size_t>(i)].first.data(), in[static_cast<size_t>(i)].first.size());
    records[i].RecordOffset = in[static_cast<size_t>(i)].second;
  }
  host::fail_allocation(way.without_memory ? 1 : way.failing, way.without_memory);
  if (way.packed)
    sort_and_pack_key_records(records, n, n, static_cast<int>(width));
  else
    sort_key_records(records, n);
  host::clear_allocation_failure();
  std::vector<std::pair<std::string, int>> out;
  const char *keys = reinterpret_cast<const char *>(records + n);
  for (int i = 0; i < n; ++i) {
    out.push_back({records[i].Key, records[i].RecordOffset});
    if (way.packed && !way.without_memory && way.failing != 2)
      EXPECT_EQ(records[i].Key, keys + i * (width + 1));
  }
  FreeRecordSpace(records, n);
  return out;
}

// Enough keys to be sorted in two halves on two threads: a shared
// beginning, one key in three repeated, offsets descending.
std::vector<std::pair<std::string, int>> many_keys() {
  std::vector<std::pair<std::string, int>> keys;
  unsigned state = 12345;
  for (int i = 0; i < 70001; ++i) {
    state = state * 1103515245 + 12345;
    const std::string key = i % 3 == 2 ? keys[state % keys.size()].first
                                       : "PN-" + std::to_string(state % 50000 * 7919);
    keys.push_back({key, 70001 - i});
  }
  return keys;
}

// As many keys, most of them 30 bytes or more, whose prefixes are mostly
// one of four (runs of equal prefixes sorted by what follows), with keys
// that end inside the prefix or are empty among them.
std::vector<std::pair<std::string, int>> long_keys() {
  const char *blocks[] = {"BLOCK-01", "BLOCK-02", "BLOCK\x01", "BLOCKZZZ"};
  std::vector<std::pair<std::string, int>> keys;
  unsigned state = 777;
  for (int i = 0; i < 40000; ++i) {
    state = state * 1103515245 + 12345;
    std::string key = std::string("X") + blocks[state >> 8 & 3] +
                      std::to_string(state % 100000 * 31 + 1000000000000000000ULL);
    if (i % 101 == 0) key.resize(state % 6);
    keys.push_back({key, static_cast<int>(state % 1000)});
  }
  return keys;
}

TEST_F(KeyRecords, SortGivesKeyOrderThenOffset) {
  const std::string shared = "PART-000000000000";  // longer than the 8-byte prefix
  std::vector<std::vector<std::pair<std::string, int>>> cases = {
      {{shared + "0000009", 1}, {shared + "0000010", 2}, {shared + "00000091", 3}, {shared + "0000009", 0}},
      {{shared, 5}, {shared + "A", 4}, {shared, 3}, {shared + "0000000A", 2}, {shared + "0000000", 1}},
      {{shared + "12345678", 2}, {shared + "12345678Z", 1}, {shared + "12345678", 0}, {shared + "1234567", 3}},
      {{shared + "X", 1}, {shared + "AAAAAAAAAC", 2}, {shared + "AAAAAAAAAB", 3}, {shared + "AAAAAAAA", 4}},
      {{"SAME", 3}, {"SAME", 1}, {"SAME", 2}},
      {{"", 2}, {"B", 1}, {"", 0}, {"A\xff", 4}, {"A\x01", 3}},
      {{"ZZZ", 1}, {"AB", 2}, {"ABCDEFGHIJK", 3}, {"ABCDEFGHIJ", 4}},
  };
  cases.push_back(many_keys());
  cases.push_back(long_keys());
  for (const auto &keys : cases) {
    auto want = keys;
    std::sort(want.begin(), want.end(), [](const auto &a, const auto &b) {
      const int order = std::strcmp(a.first.c_str(), b.first.c_str());
      return order < 0 || (order == 0 && a.second < b.second);
    });
    const Way ways[] = {{},           {true},          {false, false, 1}, {false, true},
                        {true, true}, {false, true, 1}, {false, true, 2}};
    for (const Way &way : ways) {
      SCOPED_TRACE(keys.front().first + (way.without_memory ? ", in place" : "") +
                   (way.packed ? ", packed, allocation " + std::to_string(way.failing) + " failing"
                               : ""));
      EXPECT_EQ(sorted(keys, way), want);
    }
  }
}

// After the sort, the index builder moves the keys into record order: the
// same keys (every byte of their buffers) in the same order, each record's
// key at its own place in the space; without memory for the move, or with
// a key outside the space, nothing moves.
TEST_F(KeyRecords, PackPutsKeysInRecordOrder) {
  enum class Case { packed, no_memory, key_elsewhere };
  const int n = 5, width = 6, bytes = width + 1;
  for (Case c : {Case::packed, Case::no_memory, Case::key_elsewhere}) {
    SCOPED_TRACE(static_cast<int>(c));
    KeyRecord *records = GetRecordSpace(n + 1, width);  // one slot left over
    ASSERT_NE(records, nullptr);
    char *space = reinterpret_cast<char *>(records + n + 1);
    char elsewhere[bytes] = "OTHER";
    for (int i = 0; i < n; ++i) {
      std::snprintf(records[i].Key, bytes, "K%d", 9 - i);
      records[i].Key[width] = static_cast<char>('a' + i);  // a byte after the end travels too
      records[i].RecordOffset = i;
    }
    if (c == Case::key_elsewhere) records[2].Key = elsewhere;
    sort_key_records(records, n);
    std::vector<std::string> before;
    std::vector<char *> where;
    for (int i = 0; i < n; ++i) {
      before.emplace_back(records[i].Key, bytes);
      where.push_back(records[i].Key);
    }
    if (c == Case::no_memory) host::fail_allocation(1);
    pack_record_keys(records, n + 1, n, width);
    host::clear_allocation_failure();
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(std::string(records[i].Key, bytes), before[static_cast<size_t>(i)]);
      EXPECT_EQ(records[i].Key,
                c == Case::packed ? space + i * bytes : where[static_cast<size_t>(i)]);
    }
    FreeRecordSpace(records, n + 1);
  }
}

// A two-thread sort and move of keys as long as part numbers holds at
// most the record space's size again: the work block that serves the
// radix sort then takes the moving keys.
TEST_F(KeyRecords, LargeSortHoldsAtMostTheSpaceAgain) {
  const int n = 40000, width = 40;
  const long before = host::memory().live_bytes;
  KeyRecord *records = GetRecordSpace(n, width);
  ASSERT_NE(records, nullptr);
  const long space = host::memory().live_bytes - before;
  for (int i = 0; i < n; ++i) {
    std::snprintf(records[i].Key, width + 1, "PART-%035d", i * 7919 % n);
    records[i].RecordOffset = i;
  }
  host::reset();
  sort_and_pack_key_records(records, n, n, width);
  EXPECT_LE(host::memory().peak_bytes - before, 2 * space);
  const char *keys = reinterpret_cast<const char *>(records + n);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(records[i].Key, keys + i * (width + 1));
    EXPECT_EQ(std::atoi(records[i].Key + 5), i);
  }
  FreeRecordSpace(records, n);
}

}  // namespace
}  // namespace pcs::test
