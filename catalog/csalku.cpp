// The index file reader: header and record parsing (from the file or from
// its held copy), the binary search (csalku; over key prefixes in a held
// copy) and the low-level index operations csidxfst, csailn, csaget and
// cspgread. Every header is checked against the file's size before any of
// its records is read, so a damaged index is never searched.
#include <algorithm>
#include <bit>
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/report.h"

namespace pcs::catalog {

bool parse_field(const char *field, int width, int32_t *value) {
  // Fields are at most 12 characters, so the digits cannot overflow 64 bits
  // before the range is checked once at the end.
  int i = 0;
  while (i < width && field[i] == ' ') ++i;
  bool negative = i < width && field[i] == '-';
  if (negative) ++i;
  if (i == width || width > 18) return false;
  int64_t v = 0;
  for (; i < width; ++i) {
    const auto digit = static_cast<unsigned>(static_cast<unsigned char>(field[i])) - '0';
    if (digit > 9) return false;
    v = v * 10 + digit;
  }
  if (v > INT32_MAX) return false;
  *value = static_cast<int32_t>(negative ? -v : v);
  return true;
}

bool read_index_fields(FILE *index, int32_t *count, int32_t *key_length) {
  char raw[PCS_INDEX_HEADER];
  if (!index || io::read_direct(index, 0, raw, sizeof raw) != sizeof raw) return false;
  if (!parse_field(raw, 12, count)) *count = 0;
  if (!parse_field(raw + 12, 4, key_length)) *key_length = 0;
  return true;
}

namespace {

// Checks the header fields in `raw` (17 bytes); the size is checked apart.
bool parse_header_fields(const char *raw, IndexHeader *header) {
  IndexHeader h{};
  if (raw[16] != '\n' || !parse_field(raw, 12, &h.count) || !parse_field(raw + 12, 4, &h.key_length))
    return false;
  if (h.count < 0 || h.key_length < 1 || h.key_length > PCS_KEY_MAX) return false;
  *header = h;
  return true;
}

}  // namespace

bool parse_index_header(const char *bytes, int64_t size, IndexHeader *header) {
  IndexHeader h{};
  if (size < PCS_INDEX_HEADER || !parse_header_fields(bytes, &h) || size != h.end()) return false;
  *header = h;
  return true;
}

bool read_index_header(FILE *index, IndexHeader *header) {
  if (!index) return false;
  if (auto copy = current_index_copy(index)) {
    *header = copy->header;
    header->copy = std::move(copy);
    return true;
  }
  char raw[PCS_INDEX_HEADER];
  IndexHeader h{};
  if (io::read_direct(index, 0, raw, sizeof raw) != sizeof raw || !parse_header_fields(raw, &h))
    return false;
  if (io::size_direct(index) != h.end()) return false;
  *header = h;
  return true;
}

namespace {

// Parses the number fields of an index record held in `buffer`.
bool parse_entry(const char *buffer, IndexEntry *entry) {
  if (!parse_field(buffer, 4, &entry->count) || !parse_field(buffer + 4, 12, &entry->data_offset) ||
      !parse_field(buffer + 16, 12, &entry->first))
    return false;
  entry->key = buffer + 28;
  return true;
}

// True when the run [first, first + count * R) lies inside the records and
// contains the record at `at`.
bool run_holds(const IndexHeader &header, int32_t count, int32_t first, int64_t at) {
  if (count < 1 || !header.is_record(first)) return false;
  int64_t run_end = int64_t{first} + int64_t{count} * header.record_length();
  return run_end <= header.end() && at >= first && at < run_end;
}

}  // namespace

bool read_index_entry(FILE *index, const IndexHeader &header, int64_t offset, char *buffer,
                      IndexEntry *entry) {
  if (!header.is_record(offset)) return false;
  size_t r = static_cast<size_t>(header.record_length());
  if (header.copy) {
    std::memcpy(buffer, header.copy->bytes.get() + offset, r);
    return parse_entry(buffer, entry);
  }
  return io::read_direct(index, offset, buffer, r) == r && parse_entry(buffer, entry);
}

namespace {

// Ranges of records that fit in this many bytes are read in one piece and
// searched in memory: the last probes of a search cost one read, not six.
constexpr size_t kSearchBlock = 8192;

// Compares the key with record `i` held in `block` (records from `lo` on).
struct Block {
  const char *bytes;
  int64_t lo;
  size_t r;
  const char *record(int64_t i) const { return bytes + static_cast<size_t>(i - lo) * r; }
};

// The key searched for, compared with a record's K key bytes as strncmp
// compares them: over the key's bytes up to and including its end, or all
// K, eight bytes at a time as big-endian words.
class SearchKey {
 public:
  SearchKey(const char *key, size_t k) : n_(std::min(strnlen(key, k) + 1, k)) {
    std::memcpy(bytes_, key, n_);
  }
  uint64_t prefix(size_t from) const {
    return from < n_ ? key_prefix(bytes_ + from, n_ - from) : 0;
  }
  int compare(const char *other) const {
    size_t i = 0;
    for (; i + 8 <= n_; i += 8) {
      const uint64_t a = word(bytes_ + i), b = word(other + i);
      if (a != b) return a < b ? -1 : 1;
    }
    for (; i < n_; ++i) {
      const auto a = static_cast<unsigned char>(bytes_[i]), b = static_cast<unsigned char>(other[i]);
      if (a != b) return a < b ? -1 : 1;
    }
    return 0;
  }

 private:
  static uint64_t word(const char *bytes) {
    uint64_t v;
    std::memcpy(&v, bytes, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }
  size_t n_;
  char bytes_[PCS_KEY_MAX];
};

// What a lookup found: the key's count and first record, and the catalog
// offset of the index record it stopped at.
struct Found {
  int32_t *count, *first, *data_offset;
};

// The key's entry from the index record at `at`.
bool found(const IndexHeader &header, const char *record, int64_t at, const Found &out) {
  IndexEntry entry{};
  if (!parse_entry(record, &entry) || !run_holds(header, entry.count, entry.first, at))
    return false;
  *out.count = entry.count;
  *out.first = entry.first;
  if (out.data_offset) *out.data_offset = entry.data_offset;
  return true;
}

// What a search through the samples found out.
enum class Sampled { found, absent, shared };

// The search over a copy whose prefixes never decrease: the first prefix
// not below the key's, through the samples and one step of prefixes. A
// prefix that only one record has is that record's key or no key; one that
// several records share is left to the binary search (`shared`).
Sampled search_samples(const IndexCopy &copy, const SearchKey &search, const Found &out) {
  const size_t n = static_cast<size_t>(copy.header.count);
  const uint64_t *prefixes = copy.prefixes.get();
  const uint64_t wanted = search.prefix(copy.common);
  const PrefixSamples::Step step = copy.samples.step_of(wanted);
  // The step's prefixes and records are fetched together: the record
  // found is then on its way while the prefixes are compared.
  const size_t r = static_cast<size_t>(copy.header.record_length());
  const char *records = copy.bytes.get() + PCS_INDEX_HEADER;
  __builtin_prefetch(prefixes + step.begin);
  __builtin_prefetch(prefixes + step.begin + PrefixSamples::kStep / 2);
  const size_t fetched = std::min(step.end + 1, n) * r;
  for (size_t at = step.begin * r; at < fetched; at += 64) __builtin_prefetch(records + at);
  const size_t i = PrefixSamples::first_not_below(prefixes, step, wanted);
  if (i == n || prefixes[i] != wanted) return Sampled::absent;
  if (i + 1 < n && prefixes[i + 1] == wanted) return Sampled::shared;
  const char *record = records + i * r;
  const auto at = static_cast<int64_t>(PCS_INDEX_HEADER + i * r);
  const bool hit = search.compare(record + 28) == 0 && found(copy.header, record, at, out);
  return hit ? Sampled::found : Sampled::absent;
}

}  // namespace

bool index_lookup(FILE *index, const IndexHeader &header, const char *key, int32_t *count,
                  int32_t *first, int32_t *data_offset) {
  const Found out{count, first, data_offset};
  char block[kSearchBlock];
  const SearchKey search(key, static_cast<size_t>(header.key_length));
  if (header.copy && header.copy->samples) {
    const Sampled sampled = search_samples(*header.copy, search, out);
    if (sampled != Sampled::shared) return sampled == Sampled::found;
  }
  // Over a held copy with key prefixes, each probe is decided by the
  // prefixes unless they are equal, and a key is found only by comparing it
  // whole: the same probes as over the records. (A key that does not start
  // with the common bytes matches no record, whatever the prefixes decide.)
  const uint64_t *prefixes = header.copy ? header.copy->prefixes.get() : nullptr;
  const uint64_t wanted = prefixes ? search.prefix(header.copy->common) : 0;
  const size_t r = static_cast<size_t>(header.record_length());
  int64_t lo = 0, hi = int64_t{header.count} - 1;
  Block in_memory{header.copy ? header.copy->bytes.get() + PCS_INDEX_HEADER : nullptr, 0, r};
  while (lo <= hi) {
    const int64_t mid = (lo + hi) / 2;
    const int64_t at = PCS_INDEX_HEADER + mid * header.record_length();
    const char *record = nullptr;
    if (in_memory.bytes) {
      record = in_memory.record(mid);
      // Both prefixes the next probe may look at are fetched meanwhile.
      if (prefixes) {
        __builtin_prefetch(prefixes + (lo + mid - 1) / 2);
        __builtin_prefetch(prefixes + (mid + 1 + hi) / 2);
      }
    } else if (static_cast<size_t>(hi - lo + 1) * r <= sizeof block) {
      const size_t size = static_cast<size_t>(hi - lo + 1) * r;
      if (io::read_direct(index, PCS_INDEX_HEADER + lo * header.record_length(), block, size) != size)
        return false;
      in_memory = Block{block, lo, r};
      record = in_memory.record(mid);
    } else {
      if (io::read_direct(index, at, block, r) != r) return false;
      record = block;
    }
    const int order = prefixes && wanted != prefixes[mid] ? (wanted < prefixes[mid] ? -1 : 1)
                                                          : search.compare(record + 28);
    if (order < 0) {
      hi = mid - 1;
    } else if (order > 0) {
      lo = mid + 1;
    } else {
      return found(header, record, at, out);
    }
  }
  return false;
}

bool index_data_offset(FILE *index, const IndexHeader &header, int32_t first, int32_t k,
                       int32_t *data_offset) {
  char buffer[kIndexRecordMax];
  IndexEntry entry{};
  int64_t at = int64_t{first} + (int64_t{k} - 1) * header.record_length();
  if (!read_index_entry(index, header, at, buffer, &entry) || entry.data_offset < 0) return false;
  *data_offset = entry.data_offset;
  return true;
}

}  // namespace pcs::catalog

using pcs::catalog::IndexHeader;

extern "C" {

PCS_API int csidxfst(void) { return PCS_INDEX_HEADER; }

PCS_API void csailn(FILE **index, int *record_length, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] {
    IndexHeader header{};
    int32_t count = 0, key_length = 0;
    if (pcs::catalog::read_index_header(index ? *index : nullptr, &header)) {
      *record_length = header.record_length();
      *rc = 0;
      return;
    }
    if (index) pcs::catalog::read_index_fields(*index, &count, &key_length);
    *record_length = key_length + PCS_INDEX_OVERHEAD;
    *rc = PCS_INDEX_NO_KEY;
  });
}

PCS_API void csalku(FILE **index, const char *key, int *count, int *first, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] {
    *rc = PCS_INDEX_NO_KEY;
    IndexHeader header{};
    if (!index || !key || !pcs::catalog::read_index_header(*index, &header)) return;
    int32_t c = 0, f = 0;
    if (!pcs::catalog::index_lookup(*index, header, key, &c, &f)) return;
    *count = c;
    *first = f;
    *rc = 0;
  });
}

PCS_API void csaget(FILE **index, const int *record_offset, int *data_offset, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] {
    *rc = PCS_INDEX_NO_KEY;
    IndexHeader header{};
    if (!index || !pcs::catalog::read_index_header(*index, &header)) return;
    char buffer[pcs::catalog::kIndexRecordMax];
    pcs::catalog::IndexEntry entry{};
    if (!pcs::catalog::read_index_entry(*index, header, *record_offset, buffer, &entry)) return;
    if (entry.data_offset < 0) return;
    *data_offset = entry.data_offset;
    *rc = 0;
  });
}

PCS_API int cspgread(FILE *index, int record_offset, int *data_offset, char *key, int *rc) {
  return pcs::guarded_value(0, [&] {
    *rc = PCS_INDEX_NO_KEY;
    IndexHeader header{};
    if (!pcs::catalog::read_index_header(index, &header)) return 0;
    *rc = 0;
    if (record_offset >= header.end()) return 0;
    char buffer[pcs::catalog::kIndexRecordMax];
    pcs::catalog::IndexEntry entry{};
    if (!pcs::catalog::read_index_entry(index, header, record_offset, buffer, &entry)) {
      *rc = PCS_INDEX_NO_KEY;
      return 0;
    }
    std::memcpy(key, entry.key, static_cast<size_t>(header.key_length));
    *data_offset = entry.data_offset;
    return static_cast<int>(entry.count);
  });
}

}  // extern "C"
