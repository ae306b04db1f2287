// Rewriting a catalog record in place (csgrewrt) under a rollback journal,
// and putting back a record whose rewrite a crash interrupted
// (recover_catalog, run by csgopen).
//
// The journal "<catalog>-journal" (beside the catalog's real path) holds
// "PCSJRNL\n", the record offset (two big-endian words, high first), the
// old length L and the L old bytes. It is synced before the catalog is
// touched and removed once the new record is synced, so a whole journal
// means the record may be half written, and a torn one that it was not
// touched yet.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs {
namespace {

constexpr unsigned char kMagic[8] = {'P', 'C', 'S', 'J', 'R', 'N', 'L', '\n'};
constexpr size_t kJournalHead = 20;

// The journal's path for the catalog at `catalog` (any path that names it).
bool journal_path(const char *catalog, char *out) {
  char real[PATH_MAX];
  if (!catalog || !realpath(catalog, real)) return false;
  return std::snprintf(out, PATH_MAX, "%s-journal", real) < PATH_MAX;
}

// The journal's path for the file behind `stream`; false when the file
// has no path (a temporary or removed file).
bool journal_path_of(FILE *stream, char *out) {
  char link[64], target[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  return journal_path(target, out);
}

// Writes `length` old bytes back at `offset` and syncs them.
bool put_back(FILE *catalog, int64_t offset, const unsigned char *bytes, size_t length) {
  return io::seek(catalog, offset, SEEK_SET) == 0 &&
         io::write(catalog, bytes, length) == length && io::sync(catalog) == 0;
}

// Applies the journal at `path` to the open catalog; true when the journal
// is gone afterwards (applied, or torn and so never acted on).
bool roll_back(FILE *catalog, const char *path) {
  struct stat status {};
  if (::lstat(path, &status) != 0) return errno == ENOENT;
  if (!S_ISREG(status.st_mode)) return false;  // never read or remove a planted link
  FILE *journal = io::open(path, "rb");
  if (!journal) return false;
  unsigned char head[kJournalHead];
  const bool has_head = io::read_at(journal, 0, head, sizeof head);
  const int64_t offset = has_head ? (int64_t{get_be32(head + 8)} << 32) |
                                        static_cast<uint32_t>(get_be32(head + 12))
                                  : -1;
  const int32_t length = has_head ? get_be32(head + 16) : -1;
  // A rewrite never changes the catalog's size: old bytes that would land
  // past its end come from a damaged journal.
  const bool whole = has_head && std::memcmp(head, kMagic, sizeof kMagic) == 0 && length > 0 &&
                     offset >= 0 && offset + length <= io::size_direct(catalog) &&
                     status.st_size == int64_t{length} + int64_t{kJournalHead};
  bool done = !whole;
  if (whole) {
    auto bytes = host_buffer(static_cast<size_t>(length));
    done = bytes && io::read_at(journal, kJournalHead, bytes.get(), static_cast<size_t>(length)) &&
           put_back(catalog, offset, bytes.get(), static_cast<size_t>(length));
  }
  io::close(journal);
  return done && io::remove(path) == 0;
}

// Saves the old bytes in a new journal and syncs it. *kept: a journal was
// written (false when the file has no path). 0 or PCS_SHORT_WRITE.
int save_journal(FILE *catalog, int64_t offset, const unsigned char *old, int32_t length,
                 char *path, bool *kept) {
  *kept = false;
  if (!journal_path_of(catalog, path)) return 0;
  FILE *journal = io::create(path, "wb");
  // A journal left by an interrupted rewrite is put back first.
  if (!journal && errno == EEXIST && roll_back(catalog, path)) journal = io::create(path, "wb");
  if (!journal) return PCS_SHORT_WRITE;
  unsigned char head[kJournalHead];
  std::memcpy(head, kMagic, sizeof kMagic);
  put_be32(head + 8, static_cast<int32_t>(offset >> 32));
  put_be32(head + 12, static_cast<int32_t>(offset & 0xFFFFFFFF));
  put_be32(head + 16, length);
  bool ok = io::write(journal, head, sizeof head) == sizeof head &&
            io::write(journal, old, static_cast<size_t>(length)) == static_cast<size_t>(length) &&
            io::sync(journal) == 0;
  if (io::close(journal) != 0) ok = false;
  if (!ok) {
    io::remove(path);
    return PCS_SHORT_WRITE;
  }
  io::sync_directory(path);
  *kept = true;
  return 0;
}

// A record without groups writes nothing and leaves *rc alone.
int64_t rewrite(PartRecord *record, FILE *stream, int64_t at, int *rc) {
  const int64_t size = catalog::record_size(record);
  if (size == 0) return 0;
  RecordHead old{};
  if (!stream || !io::writable(stream) || !read_record_head(stream, at, &old) ||
      size > old.length) {
    *rc = PCS_SHORT_WRITE;
    return 0;
  }
  const size_t old_size = static_cast<size_t>(old.length);
  auto saved = host_buffer(old_size);
  *rc = !saved ? PCS_NO_MEMORY
        : io::read_direct(stream, at, saved.get(), old_size) != old_size ? PCS_SHORT_WRITE
                                                                          : 0;
  char journal[PATH_MAX];
  bool kept = false;
  if (*rc == 0) *rc = save_journal(stream, at, saved.get(), old.length, journal, &kept);
  if (*rc != 0) return 0;
  int64_t start = -1;
  const int64_t written = write_record_at(record, old.length, stream, false, at, &start, rc);
  if (*rc == 0 && io::sync(stream) != 0) *rc = PCS_SHORT_WRITE;
  // The journal stays when the old bytes could not be put back: the next
  // csgopen tries again.
  const bool restored = *rc == 0 || start < 0 || put_back(stream, at, saved.get(), old_size);
  if (kept && restored) io::remove(journal);
  return written;
}

int64_t rewrite_reported(PartRecord *record, FILE *stream, int64_t at, int *rc) {
  if (catalog::record_size(record) == 0) return 0;
  const int64_t written = rewrite(record, stream, at, rc);
  report(*rc);
  return written;
}

}  // namespace

bool recover_catalog(const char *catalog_path) {
  char path[PATH_MAX];
  struct stat status {};
  if (!journal_path(catalog_path, path) || ::lstat(path, &status) != 0) return true;
  FILE *catalog = io::open(catalog_path, "r+b");
  if (!catalog) return false;
  const bool done = roll_back(catalog, path);
  io::close(catalog);
  return done;
}

}  // namespace pcs

extern "C" PCS_API int csgrewrt(const int *offset, PartRecord **record, FILE *stream, int *rc) {
  return pcs::guarded_value(0, [&] {
    return static_cast<int>(
        pcs::rewrite_reported(record ? *record : nullptr, stream, offset ? *offset : -1, rc));
  });
}
