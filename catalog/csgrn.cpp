// Record counters and key readers: csgrn walks a catalog file by its record
// lengths, csgrc counts the lines of a text file, csgia and csgia2 turn each
// live catalog record into a key record for the index builder and the
// duplicate merge (a large catalog's second half on a second thread).
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/key_records.h"
#include "common/memory.h"
#include "common/report.h"
#include "common/second_half.h"
#include "common/sequential_read.h"

namespace pcs::catalog {

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

// ---- the second half of a large catalog -----------------------------------------

namespace {

// Starts the second thread: it takes live records shaped like the last one
// `reader` read and passes over deleted ones.
void start_second_half(SecondHalf *second, FILE *stream, int64_t size, int64_t from,
                       const RecordKeyReader &reader, int key_length) {
  if (!reader.quiet()) return;
  const auto read = [reader](Chunks &chunks, int64_t at, char *key) -> SplitStep {
    const unsigned char *head = chunks.at(at, 8);
    const int32_t length = head ? get_be32(head) : 0;
    if (!head || !codec::length_fits(codec::kCatalogLayout, length, chunks.size() - at)) return {};
    if (get_be32(head + 4) != 0) return {length, false};
    if (at > INT32_MAX || static_cast<size_t>(length) > codec::Shape::kMostBytes) return {};
    const unsigned char *bytes = chunks.at(at, static_cast<size_t>(length));
    if (!bytes || !reader.replay(bytes, static_cast<size_t>(length), key)) return {};
    return {length, true};
  };
  second->start(stream, size, from, static_cast<size_t>(key_length), read);
}

// Puts the run's keys into the slots from *filled on.
void take_run(const SplitRun &run, int key_length, KeyRecord *records, int *filled) {
  const auto key_bytes = static_cast<size_t>(key_length);
  for (size_t k = 0; k < run.offsets.size(); ++k) {
    KeyRecord &slot = records[static_cast<size_t>(*filled) + k];
    std::memcpy(slot.Key, run.keys.data() + k * key_bytes, key_bytes);
    slot.Key[key_length] = '\0';
    slot.RecordOffset = run.offsets[k];
  }
  *filled += static_cast<int>(run.offsets.size());
}

}  // namespace

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
  RecordKeyReader reader(collapse, description, widths, key_length);
  SecondHalf second;
  for (int i = 0; i < record_count && rc == kKeysDone; ++i) {
    KeyRecord &slot = records[*filled];
    std::memset(slot.Key, ' ', static_cast<size_t>(key_length));
    slot.Key[key_length] = '\0';
    RecordWalker::Step step = walker.next(false);
    if (step == RecordWalker::kRecord && walker.offset() >= second.watch()) {
      if (const SplitRun *run = second.arrive(walker.offset(), record_count - i)) {
        take_run(*run, key_length, records, filled);
        i += run->walked - 1;
        walker.resume_at(run->end);
        continue;
      }
    }
    if (step == RecordWalker::kRecord && walker.flag() != 0) continue;
    if (step == RecordWalker::kRecord) step = walker.read_body();
    if (step != RecordWalker::kRecord || walker.offset() > INT32_MAX ||
        !reader.read(walker.body(), static_cast<size_t>(walker.length()), walker.offset(),
                     slot.Key)) {
      rc = kKeysUnreadable;
      break;
    }
    slot.RecordOffset = static_cast<int32_t>(walker.offset());
    if (++*filled == 1)
      start_second_half(&second, stream, size, walker.offset() + walker.length(), reader,
                        key_length);
  }
  second.finish();  // before the stream closes
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

}  // namespace pcs::catalog

extern "C" {

PCS_API int csgrn(const char *catalog_path) {
  return pcs::guarded_value(-1, [&] { return pcs::catalog::count_records(catalog_path); });
}

PCS_API int csgrc(const char *text_path) {
  return pcs::guarded_value(-1, [&] { return pcs::catalog::GetRecordCount(text_path); });
}

PCS_API int csgia(const char *catalog_path, const int * /*field_count*/, void *description,
                  const int *widths, int record_count, int key_length, KeyRecord *records,
                  int *filled) {
  return pcs::catalog::checked_read_keys(false, catalog_path, description, widths, record_count,
                                key_length, records, filled);
}

}  // extern "C"
