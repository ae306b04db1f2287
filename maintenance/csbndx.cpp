// The index builder's engine: csbndx counts the source records, reads their
// keys through the caller's key reader into the record space, sorts them
// and writes the index file (OutputIndexFile) in the layout that csalku
// searches.
#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "host/host_services.h"
#include "maintenance/maintenance.h"

namespace pcs::maintenance {

int GetKeyLength(int field_count, const int *widths) {
  if (field_count < 1) return 0;
  if (!widths) return -1;
  int64_t sum = 0;
  for (int i = 0; i < field_count; ++i) {
    if (widths[i] < 0) return -1;
    sum += widths[i];
    sum = std::min<int64_t>(sum, kIndexKeyMax + 1);
  }
  return static_cast<int>(sum);
}

namespace {

// `value` right-aligned in `width` characters, as "%*d" prints a value that
// fits; two digits at a time (an index line has three numbers).
void put_number(char *out, int width, int64_t value) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  const bool negative = value < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int i = width;
  for (; v >= 100 && i >= 2; v /= 100) {
    i -= 2;
    std::memcpy(out + i, kPairs + 2 * (v % 100), 2);
  }
  if (v >= 10 && i >= 2) {
    i -= 2;
    std::memcpy(out + i, kPairs + 2 * v, 2);
  } else if (i > 0) {
    out[--i] = static_cast<char>('0' + v % 10);
  }
  if (negative && i > 0) out[--i] = '-';
  while (i > 0) out[--i] = ' ';
}

// Records ahead of the one compared whose keys are fetched into the cache
// early: sorted records point at keys all over the record space.
constexpr int kFetchAhead = 16;

// Length of the run of keys equal to records[start]'s.
int run_length(const KeyRecord *records, int n, int start) {
  if (start + kFetchAhead < n) __builtin_prefetch(records[start + kFetchAhead].Key);
  int end = start + 1;
  while (end < n && compare(&records[start], &records[end]) == 0) ++end;
  return end - start;
}

// PCS_OK when every count and offset of the index fits its field,
// else the code that says which does not.
int check_layout(const KeyRecord *records, int n, int key_length) {
  if (key_length > kIndexKeyMax) return PCS_BUILD_KEY_TOO_WIDE;
  if (key_length > PCS_KEY_MAX) return PCS_BUILD_KEY_TOO_LONG;
  const int64_t end = PCS_INDEX_HEADER + int64_t{n} * (key_length + PCS_INDEX_OVERHEAD);
  // Readers hold index offsets (the first-record field) as 32-bit numbers.
  if (end > INT32_MAX) return PCS_BUILD_NOT_CREATED;
  for (int start = 0; start < n;) {
    const int run = run_length(records, n, start);
    if (run > kIndexRunMax) return PCS_BUILD_RUN_TOO_LONG;
    start += run;
  }
  return PCS_OK;
}

// Collects index lines in pieces of 1 MiB of host memory and writes them.
// With two pieces and a second thread, one piece is written while the next
// is filled, so making the lines and the system's copying of them overlap;
// with one piece, each is written when full; without memory, line by line.
class LineWriter {
 public:
  LineWriter(FILE *out, int record_length)
      : out_(out), line_(static_cast<size_t>(record_length)) {
    pieces_[0] = host_buffer(kChunk);
    capacity_ = pieces_[0] ? kChunk - kChunk % line_ : line_;
    if (pieces_[0]) pieces_[1] = host_buffer(kChunk);
    if (!pieces_[1]) return;
    try {
      writer_ = std::thread([this] { write_handed(); });
    } catch (const std::system_error &) {
      pieces_[1].reset();
    }
  }
  ~LineWriter() {
    if (!writer_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    writer_.join();
  }
  LineWriter(const LineWriter &) = delete;
  LineWriter &operator=(const LineWriter &) = delete;

  // Room for the next line.
  char *line() {
    return (pieces_[0] ? reinterpret_cast<char *>(pieces_[filling_].get()) : single_) + used_;
  }
  // Takes the line; false when a write fell short.
  bool done() {
    used_ += line_;
    return used_ < capacity_ || hand_over();
  }
  // Writes every line taken; false when a write fell short.
  bool flush() {
    if (used_ > 0 && !hand_over()) return false;
    if (!writer_.joinable()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !handed_; });
    return !failed_;
  }

 private:
  static constexpr size_t kChunk = 1 << 20;

  // Writes `size` bytes; the system puts them on disk meanwhile
  // (io::Writeback).
  bool write(const void *bytes, size_t size) {
    if (io::write(out_, bytes, size) != size) return false;
    writeback_.wrote(out_, size);
    return true;
  }
  const void *filled() const {
    return pieces_[0] ? static_cast<const void *>(pieces_[filling_].get()) : single_;
  }
  // Passes the lines taken on: written at once, or handed to the writing
  // thread once it has written the piece before (lines then go to the other
  // piece). False when a write fell short.
  bool hand_over() {
    const size_t size = std::exchange(used_, 0);
    if (!writer_.joinable()) return write(filled(), size);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !handed_; });
    if (failed_) return false;
    handed_ = pieces_[filling_].get();
    handed_size_ = size;
    filling_ ^= 1;
    lock.unlock();
    changed_.notify_all();
    return true;
  }
  // The writing thread: writes each piece handed over, until stopped.
  void write_handed() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return handed_ || stop_; });
      if (!handed_) return;
      const unsigned char *bytes = handed_;
      const size_t size = handed_size_;
      lock.unlock();
      const bool written = !failed_ && write(bytes, size);
      lock.lock();
      failed_ = failed_ || !written;
      handed_ = nullptr;
      changed_.notify_all();
    }
  }

  io::Writeback writeback_{PCS_INDEX_HEADER};
  FILE *out_;
  size_t line_;
  HostPtr<unsigned char> pieces_[2];
  int filling_ = 0;
  size_t capacity_ = 0;
  size_t used_ = 0;
  char single_[kIndexKeyMax + PCS_INDEX_OVERHEAD];
  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const unsigned char *handed_ = nullptr;  // the piece being written
  size_t handed_size_ = 0;
  bool failed_ = false, stop_ = false;
};

// Writes the records of the index to `out`; false when a write fell short.
bool write_records(FILE *out, int n, int key_length, KeyRecord *records) {
  const int record_length = key_length + PCS_INDEX_OVERHEAD;
  LineWriter writer(out, record_length);
  for (int start = 0; start < n;) {
    const int run = run_length(records, n, start);
    const int64_t first = PCS_INDEX_HEADER + int64_t{start} * record_length;
    for (int i = start; i < start + run; ++i) {
      char *line = writer.line();
      put_number(line, 4, run);
      put_number(line + 4, 12, records[i].RecordOffset);
      put_number(line + 16, 12, first);
      std::memcpy(line + 28, records[i].Key, static_cast<size_t>(key_length));
      line[28 + key_length] = '\n';
      if (!writer.done()) return false;
    }
    start += run;
  }
  return writer.flush();
}

}  // namespace

// The index goes to a temporary file beside its path and replaces the old
// index only when complete, so a failure or a crash leaves the old one;
// temporary files that interrupted builds left are removed first.
int OutputIndexFile(const char *index_path, int n, int key_length, KeyRecord *records) {
  if (n < 0 || key_length < 0) return PCS_BUILD_NOT_CREATED;
  const int layout = check_layout(records, n, key_length);
  if (layout != PCS_OK) return layout;
  io::Replacement index;
  if (index_path) io::remove_stale_temporaries(index_path);
  if (!index_path || !io::begin_replace(&index, index_path)) return PCS_BUILD_NOT_CREATED;
  char header[PCS_INDEX_HEADER];
  put_number(header, 12, n);
  put_number(header + 12, 4, key_length);
  header[16] = '\n';
  const bool written = io::write(index.stream, header, sizeof header) == sizeof header &&
                       write_records(index.stream, n, key_length, records);
  if (!written || io::sync(index.stream) != 0) {
    io::abandon_replace(&index);
    return PCS_BUILD_SHORT_WRITE;
  }
  return io::commit_replace(&index) ? PCS_OK : PCS_BUILD_NOT_CREATED;
}

namespace {

int build_index(RecordCountFn count_fn, KeyReaderFn reader, const int *field_count,
                void *description, const int *widths, const char *source_path,
                const char *index_path) {
  if (io::same_file(source_path, index_path)) return PCS_BUILD_NOT_CREATED;
  // A rewrite that a crash interrupted is settled before the keys are read.
  if (!catalog::recover_catalog(source_path)) return PCS_BUILD_NO_SOURCE;
  const int count = count_fn ? count_fn(source_path) : -1;
  if (count < 1) return PCS_BUILD_NO_SOURCE;
  const int key_length = GetKeyLength(field_count ? *field_count : 0, widths);
  if (key_length < 1) return PCS_BUILD_NO_KEY;
  if (key_length > kIndexKeyMax) return PCS_BUILD_KEY_TOO_WIDE;
  if (key_length > PCS_KEY_MAX) return PCS_BUILD_KEY_TOO_LONG;
  KeyRecord *records = GetRecordSpace(count, key_length);
  if (!records) return PCS_BUILD_NO_MEMORY;
  int n = 0;
  int rc = PCS_BUILD_READER_FAILED;
  if (reader && reader(source_path, field_count, description, widths, count, key_length, records,
                       &n) == 0) {
    n = std::clamp(n, 0, count);
    sort_and_pack_key_records(records, count, n, key_length);
    rc = OutputIndexFile(index_path, n, key_length, records);
  }
  FreeRecordSpace(records, count);
  return rc;
}

}  // namespace
}  // namespace pcs::maintenance

extern "C" {

PCS_API void csbndx(RecordCountFn count_fn, KeyReaderFn reader, const int *field_count,
                    void *description, const int *widths, const char *source_path,
                    const char *index_path, int *rc) {
  if (!rc) return;
  pcs::guarded(rc, PCS_BUILD_NO_MEMORY, [&] {
    *rc = pcs::maintenance::build_index(count_fn, reader, field_count, description, widths, source_path,
                           index_path);
  });
}

}  // extern "C"
