// The rollback journal of in-place catalog rewrites: building its image,
// keeping it on disk while a rewrite runs (LiveJournal), and applying one
// that a crash left behind (recover_catalog).
//
// Only a journal whose writer is gone is ever applied: the writer builds
// the journal in an unnamed file, takes an exclusive lock on it (flock),
// syncs it and only then links it at "<catalog>-journal" (where the file
// system makes no unnamed files, it is made under a fresh temporary name
// first and that name removed once linked); it holds the lock
// until the journal is removed. An opener applies a journal only once it
// holds that lock itself. A journal is applied only to the catalog it was
// written for (same device, inode and size), only at record starts whose
// length words still match and whose bytes are, each one, the old or the
// new byte of the rewrite (so it is the interrupted rewrite's record, whole
// or torn, and no other), and only when its checksum holds; any other
// journal is set aside under a new name, with a message, and never applied.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"

namespace pcs::catalog {
namespace {

constexpr unsigned char kMagic[8] = {'P', 'C', 'S', 'J', 'R', 'N', '3', '\n'};
constexpr size_t kHead = 36;       // magic, device, inode, size, count
constexpr size_t kEntryHead = 12;  // offset, length
constexpr int kBusyTries = 200;    // 5 ms apart: about a second

void put_be64(unsigned char *out, uint64_t value) {
  put_be32(out, static_cast<int32_t>(value >> 32));
  put_be32(out + 4, static_cast<int32_t>(value & 0xFFFFFFFFu));
}

uint64_t get_be64(const unsigned char *in) {
  return uint64_t{static_cast<uint32_t>(get_be32(in))} << 32 |
         static_cast<uint32_t>(get_be32(in + 4));
}

// The journal's path for the catalog whose resolved path is `real`.
bool journal_path_of_real(const char *real, char *out) {
  return std::snprintf(out, PATH_MAX, "%s-journal", real) < PATH_MAX;
}

// The journal's path for the catalog at `catalog` (any path that names it).
bool journal_path(const char *catalog, char *out) {
  char real[PATH_MAX];
  return catalog && realpath(catalog, real) && journal_path_of_real(real, out);
}

// The resolved path of the file behind `stream` (the kernel's own, links
// followed); false when it has none.
bool path_of(FILE *stream, char *out) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  const ssize_t n = readlink(link, out, PATH_MAX - 1);
  if (n <= 0) return false;
  out[n] = '\0';
  return true;
}

void pause_briefly() {
  const struct timespec step {0, 5'000'000};
  nanosleep(&step, nullptr);
}

// Checks the journal [bytes, bytes + size) against the open catalog; null
// when it may be applied, otherwise why not.
const char *refusal(const unsigned char *bytes, size_t size, FILE *catalog) {
  struct stat status {};
  if (fstat(fileno(catalog), &status) != 0) return "the catalog cannot be examined";
  if (size < kHead + 4 || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
    return "it is not a journal of this format";
  if (journal_crc(bytes, size - 4) != static_cast<uint32_t>(get_be32(bytes + size - 4)))
    return "its checksum does not match";
  if (get_be64(bytes + 8) != static_cast<uint64_t>(status.st_dev) ||
      get_be64(bytes + 16) != static_cast<uint64_t>(status.st_ino))
    return "it belongs to another file (the catalog was replaced since)";
  const int64_t catalog_size = status.st_size;
  if (get_be64(bytes + 24) != static_cast<uint64_t>(catalog_size))
    return "the catalog's size changed since it was written";
  const int32_t count = get_be32(bytes + 32);
  if (count < 1) return "it holds no record";
  JournalRecord record{};
  int64_t previous_end = 0;
  size_t at = kHead;
  for (int32_t k = 0; k < count; ++k) {
    if (!journal_record(bytes, size - 4, &at, &record)) return "a record runs past its end";
    if (record.offset < previous_end || record.length < kRecordMinLength ||
        record.length > catalog_size || record.offset > catalog_size - record.length)
      return "a record lies outside the catalog or overlaps another";
    if (get_be32(record.bytes) != record.length || record.bytes[record.length - 1] != '\n' ||
        get_be32(record.replacement) != record.length ||
        record.replacement[record.length - 1] != '\n')
      return "a saved record is not whole";
    previous_end = record.offset + record.length;
  }
  if (at != size - 4) return "it holds bytes after its last record";
  return nullptr;
}

// True when the catalog's bytes at the record hold, each one, the old or
// the new byte of the rewrite.
bool old_or_new(FILE *catalog, const JournalRecord &record) {
  const auto length = static_cast<size_t>(record.length);
  auto now = host_buffer(length);
  if (!now || io::read_direct(catalog, record.offset, now.get(), length) != length) return false;
  for (size_t i = 0; i < length; ++i)
    if (now.get()[i] != record.bytes[i] && now.get()[i] != record.replacement[i]) return false;
  return true;
}

// Null when every saved record starts at a record start of the catalog
// whose length word is the saved length and holds the old or new bytes;
// otherwise why not.
const char *misplaced(const unsigned char *bytes, size_t size, FILE *catalog) {
  const int32_t count = get_be32(bytes + 32);
  size_t at = kHead;
  JournalRecord record{};
  int64_t walk = 0;
  RecordHead head{};
  for (int32_t k = 0; k < count; ++k) {
    journal_record(bytes, size - 4, &at, &record);
    while (walk < record.offset && read_record_head(catalog, walk, &head)) walk += head.length;
    if (walk != record.offset || !read_record_head(catalog, walk, &head) ||
        head.length != record.length)
      return "a saved record is not at a record start of the catalog, or its length differs";
    if (!old_or_new(catalog, record))
      return "the catalog holds another record where a saved one stood (neither its old nor its new bytes)";
  }
  return nullptr;
}

// Renames the journal out of the way ("<journal>.bad-XXXXXX", never over
// another file) and says so. True when it is gone from its path.
bool set_aside(const char *path, const char *catalog, const char *why) {
  char aside[PATH_MAX + 16];
  const unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u ^
                        static_cast<unsigned>(time(nullptr));
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(aside, sizeof aside, "%s.bad-%06x", path, (seed + attempt * 40503u) & 0xFFFFFF);
    if (link(path, aside) == 0) break;
    if (errno != EEXIST) return false;
  }
  if (io::remove(path) != 0) return false;
  io::sync_directory(path);
  std::fprintf(stderr,
               "pcs: the rollback journal %s was not applied to %s: %s; it is kept as %s\n",
               path, catalog, why, aside);
  return true;
}

// Reads the whole journal behind `fd` (no bigger than the catalog allows).
HostPtr<unsigned char> read_journal(int fd, FILE *catalog, size_t *size) {
  struct stat status {};
  // Old and new bytes of records inside the catalog, and 12 bytes a record.
  const int64_t limit = 3 * io::size_direct(catalog) + 4096;
  if (fstat(fd, &status) != 0 || status.st_size > limit) return nullptr;
  *size = static_cast<size_t>(status.st_size);
  auto bytes = host_buffer(*size);
  FILE *stream = bytes ? fdopen(dup(fd), "rb") : nullptr;
  const bool whole = stream && io::read(stream, bytes.get(), *size) == *size;
  if (stream) io::close(stream);
  return whole ? std::move(bytes) : nullptr;
}

// Applies or sets aside the journal locked through `fd`.
Recovery settle(int fd, const char *path, const char *catalog_path) {
  FILE *catalog = io::open(catalog_path, "r+b");
  if (!catalog) return Recovery::failed;
  size_t size = 0;
  HostPtr<unsigned char> bytes = read_journal(fd, catalog, &size);
  const char *why = !bytes ? "it cannot be read or is larger than any journal of the catalog"
                           : refusal(bytes.get(), size, catalog);
  if (!why) why = misplaced(bytes.get(), size, catalog);
  Recovery result = Recovery::failed;
  if (why) {
    result = set_aside(path, catalog_path, why) ? Recovery::set_aside : Recovery::failed;
  } else if (put_back_journal(catalog, bytes.get(), size) && io::remove(path) == 0) {
    io::sync_directory(path);
    result = Recovery::applied;
  }
  io::close(catalog);
  return result;
}

bool force_named_journal = false;  // test hook

// Locks the new journal file, writes the image and syncs it; closes the
// stream and gives null when a step fails.
FILE *fill(FILE *stream, const unsigned char *image, size_t size) {
  if (flock(fileno(stream), LOCK_EX) != 0 || io::write(stream, image, size) != size ||
      io::sync(stream) != 0) {
    io::close(stream);
    return nullptr;
  }
  return stream;
}

// Writes the image into an unnamed file beside `path`, locked and synced.
// Where the file system makes no unnamed files, the file is made under a
// fresh name "<path>.XXXXXX" instead, which `named` then holds (else it is
// empty). Returns its stream, or null.
FILE *write_unnamed(const char *path, const unsigned char *image, size_t size, unsigned mode,
                    char *named) {
  named[0] = '\0';
  char directory[PATH_MAX];
  std::strcpy(directory, path);
  char *slash = std::strrchr(directory, '/');
  if (!slash) return nullptr;
  *slash = '\0';
  const int fd = force_named_journal
                     ? -1
                     : ::open(directory[0] ? directory : "/", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd < 0) {
    // An interrupted rewrite may have left such a file behind.
    io::remove_stale_temporaries(path);
    io::Replacement file;
    if (!io::begin_replace(&file, path, nullptr, mode)) return nullptr;
    std::strcpy(named, file.temporary);
    FILE *stream = fill(file.stream, image, size);
    if (!stream) io::remove(named);
    return stream;
  }
  FILE *stream = fdopen(fd, "w+b");
  if (!stream) {
    ::close(fd);
    return nullptr;
  }
  return fill(stream, image, size);
}

}  // namespace

uint32_t journal_crc(const unsigned char *bytes, size_t size) {
  static const auto table = [] {
    struct Table {
      uint32_t entry[256];
    } t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t.entry[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table.entry[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool journal_record(const unsigned char *bytes, size_t end, size_t *at, JournalRecord *record) {
  if (*at > end || end - *at < kEntryHead) return false;
  const uint64_t offset = get_be64(bytes + *at);
  const int32_t length = get_be32(bytes + *at + 8);
  if (offset > static_cast<uint64_t>(INT64_MAX) || length < 1 ||
      static_cast<size_t>(length) > (end - *at - kEntryHead) / 2)
    return false;
  const unsigned char *old_bytes = bytes + *at + kEntryHead;
  *record = JournalRecord{static_cast<int64_t>(offset), length, old_bytes, old_bytes + length};
  *at += kEntryHead + 2 * static_cast<size_t>(length);
  return true;
}

int build_journal(FILE *catalog, const int64_t *offsets, PartRecord *const *records, int count,
                  JournalImage *image) {
  struct stat status {};
  if (count < 1 || fstat(fileno(catalog), &status) != 0) return PCS_SHORT_WRITE;
  auto sorted = host_buffer(sizeof(int) * static_cast<size_t>(count));
  if (!sorted) return PCS_NO_MEMORY;
  // The entries go in offset order: order[k] is the call's record k-th in it.
  auto *order = reinterpret_cast<int *>(sorted.get());
  for (int k = 0; k < count; ++k) order[k] = k;
  std::sort(order, order + count, [&](int a, int b) { return offsets[a] < offsets[b]; });
  size_t size = kHead + 4;
  RecordHead head{};
  for (int k = 0; k < count; ++k) {
    const int64_t offset = offsets[order[k]];
    // Records of one journal never overlap: the same record twice is refused.
    if (!read_record_head(catalog, offset, &head) ||
        (k + 1 < count && offset + head.length > offsets[order[k + 1]]) ||
        catalog::record_size(records[order[k]]) > head.length)
      return PCS_SHORT_WRITE;
    size += kEntryHead + 2 * static_cast<size_t>(head.length);
  }
  image->bytes = host_buffer(size);
  if (!image->bytes) return PCS_NO_MEMORY;
  unsigned char *out = image->bytes.get();
  std::memcpy(out, kMagic, sizeof kMagic);
  put_be64(out + 8, static_cast<uint64_t>(status.st_dev));
  put_be64(out + 16, static_cast<uint64_t>(status.st_ino));
  put_be64(out + 24, static_cast<uint64_t>(io::size_direct(catalog)));
  put_be32(out + 32, count);
  size_t at = kHead;
  for (int k = 0; k < count; ++k) {
    const int64_t offset = offsets[order[k]];
    if (!read_record_head(catalog, offset, &head)) return PCS_SHORT_WRITE;
    const auto length = static_cast<size_t>(head.length);
    if (at + kEntryHead + 2 * length > size - 4) return PCS_SHORT_WRITE;
    put_be64(out + at, static_cast<uint64_t>(offset));
    put_be32(out + at + 8, head.length);
    unsigned char *old_bytes = out + at + kEntryHead;
    if (io::read_direct(catalog, offset, old_bytes, length) != length) return PCS_SHORT_WRITE;
    // A record without groups is not written: its place keeps the old bytes.
    if (catalog::record_size(records[order[k]]) == 0)
      std::memcpy(old_bytes + length, old_bytes, length);
    else
      lay_in_place(records[order[k]], head.length, old_bytes + length);
    at += kEntryHead + 2 * length;
  }
  put_be32(out + at, static_cast<int32_t>(journal_crc(out, at)));
  image->size = size;
  return 0;
}

bool put_back_journal(FILE *catalog, const unsigned char *bytes, size_t size) {
  const int32_t count = get_be32(bytes + 32);
  size_t at = kHead;
  JournalRecord record{};
  for (int32_t k = 0; k < count; ++k) {
    if (!journal_record(bytes, size - 4, &at, &record) ||
        io::seek(catalog, record.offset, SEEK_SET) != 0 ||
        io::write(catalog, record.bytes, static_cast<size_t>(record.length)) !=
            static_cast<size_t>(record.length))
      return false;
  }
  return io::sync(catalog) == 0;
}

namespace {

// recover_journal for the journal at `path`.
Recovery recover_journal_at(const char *catalog_path, const char *path) {
  struct stat status {};
  if (::lstat(path, &status) != 0) return Recovery::clean;
  if (!S_ISREG(status.st_mode)) return Recovery::failed;  // never read or remove a planted link
  for (int attempt = 0; attempt < kBusyTries; ++attempt) {
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Recovery::clean : Recovery::failed;
    struct stat held {}, named {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      pause_briefly();
      continue;
    }
    // Another opener may have applied and removed it before the lock came.
    if (fstat(fd, &held) != 0 || held.st_nlink == 0 || ::lstat(path, &named) != 0 ||
        named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
      ::close(fd);
      continue;
    }
    const Recovery result = settle(fd, path, catalog_path);
    ::close(fd);
    return result;
  }
  std::fprintf(stderr,
               "pcs: %s is busy: another process is rewriting it (its journal %s is in use); "
               "try again\n",
               catalog_path, path);
  return Recovery::busy;
}

}  // namespace

Recovery recover_journal(const char *catalog_path) {
  char path[PATH_MAX];
  return journal_path(catalog_path, path) ? recover_journal_at(catalog_path, path) : Recovery::clean;
}

bool recover_catalog(const char *catalog_path) {
  const Recovery result = recover_journal(catalog_path);
  return result != Recovery::busy && result != Recovery::failed;
}

void test_force_named_journal(bool on) { force_named_journal = on; }

// Appends call this for every record: the stream's path is already resolved,
// so the journal's name needs no realpath (one readlink, one lstat).
bool recover_stream(FILE *catalog) {
  char path[PATH_MAX], journal[PATH_MAX];
  if (!path_of(catalog, path) || !journal_path_of_real(path, journal)) return true;
  const Recovery result = recover_journal_at(path, journal);
  return result != Recovery::busy && result != Recovery::failed;
}

int LiveJournal::save(FILE *catalog, const JournalImage &image) {
  char catalog_path[PATH_MAX];
  if (!path_of(catalog, catalog_path)) return 0;  // no path, so no later opener either
  if (!journal_path(catalog_path, path_)) return PCS_SHORT_WRITE;
  struct stat status {};
  const unsigned mode = fstat(fileno(catalog), &status) == 0 ? status.st_mode & 0666 : 0644;
  char named[PATH_MAX];
  stream_ = write_unnamed(path_, image.bytes.get(), image.size, mode, named);
  if (!stream_) return PCS_SHORT_WRITE;
  char link_path[64];
  std::snprintf(link_path, sizeof link_path, "/proc/self/fd/%d", fileno(stream_));
  const char *source = named[0] ? named : link_path;
  // A journal already there is first applied or set aside when its writer
  // is gone; one whose writer still runs makes this rewrite refuse.
  bool linked = false;
  for (int attempt = 0; attempt < 2 && !linked; ++attempt) {
    linked = linkat(AT_FDCWD, source, AT_FDCWD, path_, named[0] ? 0 : AT_SYMLINK_FOLLOW) == 0;
    if (!linked && (errno != EEXIST || !recover_catalog(catalog_path))) break;
  }
  if (named[0]) io::remove(named);  // the journal keeps its own name
  if (linked) {
    io::sync_directory(path_);
    return 0;
  }
  io::close(stream_);
  stream_ = nullptr;
  return PCS_SHORT_WRITE;
}

void LiveJournal::finish() {
  if (!stream_) return;
  io::remove(path_);
  io::sync_directory(path_);
  release();
}

void LiveJournal::release() {
  if (stream_) io::close(stream_);
  stream_ = nullptr;
}

}  // namespace pcs::catalog
