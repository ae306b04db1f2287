// Catalog compression (cscprs): copies the live records of a catalog or
// keyed group file to "<path>.bak-XXXXXX", puts the copy on disk and renames it
// over the original, so that the file's name always holds either the old
// or the compressed file. Also csai2a, the integer-to-text operation of
// the maintenance interface.
#include <sys/stat.h>
#include <sys/uio.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "maintenance/maintenance.h"

namespace pcs::maintenance {
namespace {

constexpr int kCompressed = 0;
constexpr int kNoMemory = PCS_COMPRESS_NO_MEMORY;
constexpr int kFailed = PCS_COMPRESS_FAILED;

constexpr size_t kReadChunk = 4 << 20;
constexpr int kPieces = 1024;

// Gathers runs of live records, as pieces of the read buffer, and writes
// them with one gathering write per buffer load (no copy through a write
// buffer); every write is checked.
class Output {
 public:
  explicit Output(FILE *stream)
      : stream_(stream),
        pieces_(static_cast<iovec *>(gimaloc(kPieces * sizeof(iovec)))) {}

  bool ready() const { return pieces_ != nullptr; }

  bool append(const unsigned char *bytes, size_t size) {
    iovec *last = used_ > 0 ? &pieces_.get()[used_ - 1] : nullptr;
    if (last && static_cast<unsigned char *>(last->iov_base) + last->iov_len == bytes) {
      last->iov_len += size;
    } else {
      if (used_ == kPieces && !flush()) return false;
      pieces_.get()[used_++] = iovec{const_cast<unsigned char *>(bytes), size};
    }
    pending_ += size;
    return true;
  }

  // Writes what was gathered; the pieces must still be in the buffer. The
  // system puts the copy on disk meanwhile (io::Writeback).
  bool flush() {
    const size_t size = pending_;
    const int count = used_;
    used_ = 0;
    pending_ = 0;
    if (size == 0) return true;
    if (io::write_pieces(stream_, pieces_.get(), count) != size) return false;
    writeback_.wrote(stream_, size);
    return true;
  }

 private:
  FILE *stream_;
  HostPtr<iovec> pieces_;
  int used_ = 0;
  size_t pending_ = 0;
  io::Writeback writeback_;
};

// True when [at, at + size) is in the walker's buffer, so that a step to it
// keeps the buffer (and the pieces gathered from it) where it is.
bool in_window(const RecordWalker &walker, int64_t at, int64_t size) {
  return at >= walker.window_start() &&
         at + size <= walker.window_start() + static_cast<int64_t>(walker.window_size());
}

int copy_live_records(FILE *catalog, FILE *copy) {
  const int64_t size = io::size_direct(catalog);
  if (size < 0) return kFailed;
  Output output(copy);
  if (!output.ready()) return kNoMemory;
  io::advise_sequential(catalog);
  RecordWalker walker(catalog, size, kReadChunk);
  int64_t done = 0;
  for (bool first = true;; first = false) {
    const int64_t next = first ? 0 : walker.offset() + walker.length();
    if (!first && !in_window(walker, next, 8)) {
      if (!output.flush()) return kFailed;
      // The old file's bytes so far are copied: its cached pages can hold
      // the copy's instead of the system finding new ones.
      io::advise_done(catalog, done, walker.window_start() - done);
      done = walker.window_start();
    }
    RecordWalker::Step step = walker.next(false);
    if (step == RecordWalker::kEnd) break;
    if (step == RecordWalker::kRecord && walker.flag() == 0) {
      if (!in_window(walker, walker.offset(), walker.length()) && !output.flush())
        return kFailed;
      step = walker.read_body();
    }
    if (step == RecordWalker::kNoMemory) return kNoMemory;
    if (step != RecordWalker::kRecord) return kFailed;
    if (walker.flag() == 0 &&
        !output.append(walker.body(), static_cast<size_t>(walker.length())))
      return kFailed;
  }
  return output.flush() ? kCompressed : kFailed;
}

// The copy gets a fresh name "<path>.bak-XXXXXX", is created exclusively,
// never through a symlink, locked while it is written, and renamed over the
// catalog only once it is complete and on disk. Copies that interrupted
// runs left behind are removed first, and a rollback journal beside a
// catalog is applied (or set aside) before its records are moved.
int compress(const char *path) {
  io::remove_stale_temporaries(path);
  char copy_path[PATH_MAX];
  if (!io::temporary_name(path, ".bak-", copy_path, sizeof copy_path)) return kFailed;
  std::printf("%d  %s  %s\n", static_cast<int>(std::strlen(path)), path, copy_path);
  FILE *catalog = catalog::recover_catalog(path) ? io::open(path, "r+b") : nullptr;
  if (!catalog) {
    std::printf("open catlog file error\n");
    return kFailed;
  }
  io::Replacement copy;
  if (!io::begin_replace(&copy, path, copy_path, 0600)) {
    std::printf("create temp catlog file error\n");
    std::fprintf(stderr, "pcs: cannot create %s: %s\n", copy_path, std::strerror(errno));
    io::close(catalog);
    return kFailed;
  }
  int rc = copy_live_records(catalog, copy.stream);
  if (rc != kCompressed) {
    io::close(catalog);
    io::abandon_replace(&copy);
    return rc;
  }
  // The old file stays open until the rename is on disk: its blocks are
  // then released at the close, not in the rename the directory sync waits
  // for, and that close does not hold up the caller.
  if (!io::commit_replace(&copy)) {
    io::close(catalog);
    return kFailed;
  }
  io::close_in_background(catalog);
  return kCompressed;
}

}  // namespace
}  // namespace pcs::maintenance

extern "C" {

PCS_API void cscprs(const char *path, int *rc) {
  if (!rc) return;
  pcs::guarded(rc, pcs::maintenance::kNoMemory, [&] { *rc = path ? pcs::maintenance::compress(path) : pcs::maintenance::kFailed; });
}

PCS_API void csai2a(const int *value, const int *width, char *field, int *rc) {
  if (!rc) return;
  *rc = PCS_NUMBER_TOO_WIDE;
  if (!value || !width || !field || *width < 1) return;
  const int64_t v = *value;
  uint64_t digits = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
  std::memset(field, ' ', static_cast<size_t>(*width));
  int i = *width;
  do {
    field[--i] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  } while (digits != 0 && i > 0);
  if (digits != 0) return;
  if (v < 0) {
    if (i == 0) return;
    field[--i] = '-';
  }
  *rc = 0;
}

}  // extern "C"
