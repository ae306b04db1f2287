// Record counters and key readers: csgrn walks a catalog file by its record
// lengths, csgrc counts the lines of a text file, csgia and csgia2 turn each
// live catalog record into a key record for the index builder and the
// duplicate merge (a large catalog's second half on a second thread).
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/key_records.h"
#include "common/memory.h"
#include "common/report.h"
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

int64_t split_bytes = 4 << 20;
thread_local int split_records = 0;

// How far past its starting point the second thread looks for a record.
constexpr int64_t kSplitSearch = 1 << 16;

// File bytes read a chunk at a time by the second thread.
class Chunks {
 public:
  Chunks(FILE *stream, int64_t size) : stream_(stream), size_(size), buffer_(kWalkChunk) {}

  // File bytes [at, at + n), n at most a chunk; null past the end of the
  // file or when the read comes short.
  const unsigned char *at(int64_t at, size_t n) {
    if (at < 0 || at >= size_ || static_cast<uint64_t>(size_ - at) < n) return nullptr;
    if (at < start_ || static_cast<uint64_t>(at - start_) + n > filled_) {
      start_ = at;
      filled_ = io::read_beside(stream_, at, buffer_.data(),
                                std::min(buffer_.size(), static_cast<size_t>(size_ - at)));
      if (filled_ < n) return nullptr;
    }
    return buffer_.data() + (at - start_);
  }

 private:
  FILE *stream_;
  int64_t size_;
  std::vector<unsigned char> buffer_;
  int64_t start_ = 0;
  size_t filled_ = 0;
};

// The keys of a run of records in the second half of a catalog, read on a
// second thread while the first thread reads the first half: records shaped
// like one the first thread read, whose steps the copy of its reader
// replays without a report or a host call, and deleted records between
// them. The run starts at the first such record past the middle and ends
// before the first record that is neither. The first thread takes the run
// only when its own walk arrives at the run's start, then walks on from the
// run's end, so it gives what reading alone gives.
class SecondHalf {
 public:
  struct Run {
    int64_t begin = -1, end = -1;
    int walked = 0;                // records, deleted ones included
    std::vector<int32_t> offsets;  // of the live records
    std::vector<char> keys;        // their keys, key_length bytes each
  };

  SecondHalf() = default;
  SecondHalf(const SecondHalf &) = delete;
  SecondHalf &operator=(const SecondHalf &) = delete;
  ~SecondHalf() { finish(); }

  // Starts the second thread from `from` on, in a file of `size` bytes,
  // when the file is large and `reader`'s replays are quiet.
  void start(FILE *stream, int64_t size, int64_t from, const RecordKeyReader &reader,
             int key_length) {
    if (size < split_bytes || !reader.quiet()) return;
    try {
      thread_ = std::thread([this, stream, size, from, key_length, copy = reader] {
        read_run(copy, stream, size, std::max(from, size / 2), key_length);
      });
      watch_ = std::max(from, size / 2);
    } catch (...) {  // no thread: the first one reads alone
    }
  }

  // The first thread's record offset from which it must call arrive().
  int64_t watch() const { return watch_; }

  // The run, when it starts at `offset`, the first thread's record at or
  // past watch(); waits for the second thread first.
  const Run *arrive(int64_t offset) {
    if (thread_.joinable()) {
      thread_.join();
      watch_ = run_.walked > 0 ? run_.begin : INT64_MAX;
      if (offset < watch_) return nullptr;
    }
    watch_ = INT64_MAX;
    return offset == run_.begin ? &run_ : nullptr;
  }

  // Stops the second thread and waits for it.
  void finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void read_run(const RecordKeyReader &reader, FILE *stream, int64_t size, int64_t from,
                int key_length) noexcept {
    try {
      Chunks chunks(stream, size);
      Run run;
      const auto key_bytes = static_cast<size_t>(key_length);
      std::vector<char> key(key_bytes, ' ');
      int32_t first_length = 0;
      for (int64_t at = from; at < size && at - from < kSplitSearch && !first_length; ++at)
        if ((first_length = live_record(reader, chunks, size, at, key.data()))) run.begin = at;
      if (!first_length) return;
      const auto expected = static_cast<size_t>((size - run.begin) / first_length + 1);
      run.offsets.reserve(expected);
      run.keys.reserve(expected * key_bytes);
      int64_t at = run.begin;
      for (; run.walked < INT_MAX && !stop_.load(std::memory_order_relaxed); ++run.walked) {
        const unsigned char *head = chunks.at(at, 8);
        if (!head || get_be32(head) < codec::kCatalogLayout.min_length ||
            get_be32(head) > size - at)
          break;
        if (get_be32(head + 4) == 0) {
          std::fill(key.begin(), key.end(), ' ');
          if (!live_record(reader, chunks, size, at, key.data())) break;
          run.offsets.push_back(static_cast<int32_t>(at));
          run.keys.insert(run.keys.end(), key.begin(), key.end());
        }
        at += get_be32(head);
      }
      run.end = at;
      run_ = std::move(run);
    } catch (...) {  // out of memory: no run
    }
  }

  // The length of the live record shaped like the reader's at `at`, with
  // its key; 0 when there is no such record.
  static int32_t live_record(const RecordKeyReader &reader, Chunks &chunks, int64_t size,
                             int64_t at, char *key) {
    const unsigned char *head = chunks.at(at, 8);
    if (!head || get_be32(head + 4) != 0 || at > INT32_MAX) return 0;
    const int32_t length = get_be32(head);
    if (length < codec::kCatalogLayout.min_length || length > size - at ||
        static_cast<size_t>(length) > codec::Shape::kMostBytes)
      return 0;
    const unsigned char *bytes = chunks.at(at, static_cast<size_t>(length));
    return bytes && reader.replay(bytes, static_cast<size_t>(length), key) ? length : 0;
  }

  std::thread thread_;
  std::atomic<bool> stop_ = false;
  int64_t watch_ = INT64_MAX;
  Run run_;
};

// Puts the run's keys into the slots from *filled on.
void take_run(const SecondHalf::Run &run, int key_length, KeyRecord *records, int *filled) {
  const auto key_bytes = static_cast<size_t>(key_length);
  for (size_t k = 0; k < run.offsets.size(); ++k) {
    KeyRecord &slot = records[static_cast<size_t>(*filled) + k];
    std::memcpy(slot.Key, run.keys.data() + k * key_bytes, key_bytes);
    slot.Key[key_length] = '\0';
    slot.RecordOffset = run.offsets[k];
  }
  *filled += static_cast<int>(run.offsets.size());
  split_records += run.walked;
}

}  // namespace

void test_set_split_bytes(int64_t bytes) { split_bytes = bytes; }
int test_split_records() { return split_records; }

// ---- key readers --------------------------------------------------------------

namespace {

int read_keys(bool collapse, const char *catalog_path, void *description, const int *widths,
              int record_count, int key_length, KeyRecord *records, int *filled) {
  *filled = 0;
  split_records = 0;
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
      const SecondHalf::Run *run = second.arrive(walker.offset());
      if (run && run->walked <= record_count - i) {
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
      second.start(stream, size, walker.offset() + walker.length(), reader, key_length);
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
