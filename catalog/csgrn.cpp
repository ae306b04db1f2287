// Record counters and key readers: csgrn walks a catalog file by its record
// lengths, csgrc counts the lines of a text file, csgia and csgia2 turn each
// live catalog record into a key record for the index builder and the
// duplicate merge. Also the sequential readers they share (ChunkReader,
// RecordWalker).
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "maintenance/maintenance.h"

namespace pcs {

// ---- ChunkReader --------------------------------------------------------------

bool ChunkReader::fill() {
  pos_ = 0;
  end_ = io::read(stream_, buffer_, sizeof buffer_);
  return end_ > 0;
}

bool ChunkReader::gets(char *line, size_t capacity) {
  std::memset(line, 0, capacity);
  size_t n = 0;
  while (n + 1 < capacity) {
    int c = get();
    if (c < 0) break;
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return n > 0;
}

// ---- RecordWalker -------------------------------------------------------------

RecordWalker::RecordWalker(FILE *stream, int64_t file_size, size_t capacity)
    : stream_(stream), size_(file_size), capacity_(capacity) {}

RecordWalker::RecordWalker(FILE *stream, int64_t file_size, unsigned char *buffer,
                           size_t capacity)
    : stream_(stream), size_(file_size), capacity_(capacity), buffer_(buffer),
      allocated_(capacity), owned_(false) {}

RecordWalker::~RecordWalker() {
  if (owned_) gifree(buffer_);
}

RecordWalker::Step RecordWalker::load(int64_t at, size_t size, const unsigned char **out) {
  if (at >= window_start_ && static_cast<uint64_t>(at - window_start_) + size <= window_size_) {
    *out = buffer_ + (at - window_start_);
    return kRecord;
  }
  const auto remaining = static_cast<size_t>(size_ - at);
  const size_t want = std::max(size, std::min(capacity_, remaining));
  if (want > allocated_) {
    if (!owned_) return kNoMemory;
    auto *grown = static_cast<unsigned char *>(girealoc(buffer_, want));
    if (!grown) return kNoMemory;
    buffer_ = grown;
    allocated_ = want;
  }
  window_start_ = at;
  window_size_ = io::read_direct(stream_, at, buffer_, want);
  if (window_size_ < size) return kReadFailed;
  *out = buffer_;
  return kRecord;
}

RecordWalker::Step RecordWalker::next(bool whole) {
  if (stopped_ != kRecord) return stopped_;  // no step past an end or damage
  const int64_t at = started_ ? offset_ + length_ : 0;
  started_ = true;
  offset_ = at;
  length_ = 0;
  body_ = nullptr;
  stopped_ = head(at);
  if (stopped_ == kRecord && whole) stopped_ = load(at, static_cast<size_t>(length_), &body_);
  return stopped_;
}

RecordWalker::Step RecordWalker::head(int64_t at) {
  if (at >= size_) return kEnd;
  if (size_ - at < 8) return kDamaged;
  const unsigned char *bytes = nullptr;
  if (Step step = load(at, 8, &bytes); step != kRecord) return step;
  const int32_t length = get_be32(bytes);
  flag_ = get_be32(bytes + 4);
  if (length < kRecordMinLength || length > size_ - at) return kDamaged;
  length_ = length;
  return kRecord;
}

// ---- counters -----------------------------------------------------------------

namespace {

constexpr size_t kWalkChunk = 1 << 20;
constexpr size_t kHeadChunk = 1 << 16;  // csgrn reads record heads only

int count_records(const char *catalog_path) {
  FILE *stream = catalog_path ? io::open(catalog_path, "rb") : nullptr;
  if (!stream) return -1;
  int count = 0;
  const int64_t size = io::size_direct(stream);
  if (size < 0) count = -1;
  unsigned char buffer[kHeadChunk];
  RecordWalker walker(stream, size, buffer, sizeof buffer);
  for (RecordWalker::Step step; count >= 0 && (step = walker.next(false)) != RecordWalker::kEnd;)
    count = (step == RecordWalker::kRecord && count < INT_MAX) ? count + 1 : -1;
  io::close(stream);
  return count;
}

}  // namespace

int GetRecordCount(const char *path) {
  FILE *stream = path ? io::open(path, "r") : nullptr;
  if (!stream) return -1;
  ChunkReader reader(stream);
  int count = 0;
  int previous = '\n';
  for (int c; (c = reader.get()) >= 0; previous = c)
    if (previous == '\n' && count < INT_MAX) ++count;
  io::close(stream);
  return count;
}

// ---- key readers --------------------------------------------------------------

namespace {

int read_keys(bool collapse, const char *catalog_path, void *description, const int *widths,
              int record_count, int key_length, KeyRecord *records, int *filled) {
  *filled = 0;
  FILE *stream = catalog_path ? io::open(catalog_path, "rb") : nullptr;
  if (!stream) return kKeysNoFile;
  int rc = kKeysDone;
  const int64_t size = io::size_direct(stream);
  RecordWalker walker(stream, size, kWalkChunk);
  for (int i = 0; i < record_count && rc == kKeysDone; ++i) {
    KeyRecord &slot = records[*filled];
    std::memset(slot.Key, ' ', static_cast<size_t>(key_length));
    slot.Key[key_length] = '\0';
    RecordWalker::Step step = walker.next(false);
    if (step == RecordWalker::kRecord && walker.flag() != 0) continue;
    if (step == RecordWalker::kRecord) step = walker.read_body();
    if (step != RecordWalker::kRecord || walker.offset() > INT32_MAX ||
        !catalog::record_key(walker.body(), static_cast<size_t>(walker.length()), collapse, description,
                    widths, key_length, slot.Key)) {
      rc = kKeysUnreadable;
      break;
    }
    slot.RecordOffset = static_cast<int32_t>(walker.offset());
    ++*filled;
  }
  io::close(stream);
  return rc;
}

int checked_read_keys(bool collapse, const char *catalog_path, void *description,
                      const int *widths, int record_count, int key_length, KeyRecord *records,
                      int *filled) {
  int ignored = 0;
  if (!filled) filled = &ignored;
  *filled = 0;
  if (record_count > 0 && (!records || !widths || !description || key_length < 0))
    return kKeysUnreadable;
  return guarded_value(kKeysUnreadable, [&] {
    return read_keys(collapse, catalog_path, description, widths, record_count, key_length,
                     records, filled);
  });
}

}  // namespace

int csgia2(const char *catalog_path, const int * /*field_count*/, void *description,
           const int *widths, int record_count, int key_length, KeyRecord *records,
           int *filled) {
  return checked_read_keys(true, catalog_path, description, widths, record_count, key_length,
                           records, filled);
}

}  // namespace pcs

extern "C" {

PCS_API int csgrn(const char *catalog_path) {
  return pcs::guarded_value(-1, [&] { return pcs::count_records(catalog_path); });
}

PCS_API int csgrc(const char *text_path) {
  return pcs::guarded_value(-1, [&] { return pcs::GetRecordCount(text_path); });
}

PCS_API int csgia(const char *catalog_path, const int * /*field_count*/, void *description,
                  const int *widths, int record_count, int key_length, KeyRecord *records,
                  int *filled) {
  return pcs::checked_read_keys(false, catalog_path, description, widths, record_count,
                                key_length, records, filled);
}

}  // extern "C"
