// File access through stdio and a few system calls, with an injector of
// failures for tests: any call can fail with a chosen errno, and writes can
// run out of room at a chosen byte, at once or as a buffered stream does.
#include "common/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <pthread.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace pcs::io {
namespace {

struct Fault {
  int countdown = 0;  // 0: off; 1: the next call fails
  bool sticky = false;
  bool firing = false;
  size_t keep = 0;
  int error = EIO;

  // True when this call must fail.
  bool hit() {
    if (firing) return true;
    if (countdown == 0) return false;
    if (--countdown > 0) return false;
    firing = sticky;
    return true;
  }
};

// Writes allowed before the room runs out (test_fail_write_at).
struct Budget {
  bool active = false;
  int64_t left = 0;
  Mode mode = Mode::immediate;
  bool sticky = false;
};

constexpr int kOps = static_cast<int>(Op::count);
Fault faults[kOps];
Budget budget;
int injected = 0;
int64_t bytes_written = 0;

// Streams whose lost buffered output has not been reported yet.
constexpr int kPoisonSlots = 8;
FILE *poisoned[kPoisonSlots] = {};

Fault &fault(Op op) { return faults[static_cast<int>(op)]; }

// True (errno set) when the call of `op` must fail.
bool inject(Op op) {
  Fault &f = fault(op);
  if (!f.hit()) return false;
  ++injected;
  errno = f.error;
  return true;
}

void poison(FILE *stream) {
  for (FILE *&slot : poisoned)
    if (slot == stream) return;
  for (FILE *&slot : poisoned)
    if (!slot) {
      slot = stream;
      return;
    }
  poisoned[0] = stream;
}

bool is_poisoned(FILE *stream) {
  return stream &&
         std::find(std::begin(poisoned), std::end(poisoned), stream) != std::end(poisoned);
}

// True (errno set) when the stream holds lost output, which is reported now
// and only once.
bool take_poison(FILE *stream) {
  if (!stream) return false;
  for (FILE *&slot : poisoned)
    if (slot == stream) {
      slot = nullptr;
      errno = ENOSPC;
      return true;
    }
  return false;
}

// How many of `size` bytes a write may move; sets *fail when it must fail.
size_t allowance(size_t size, bool *fail, bool *buffered) {
  bytes_written += static_cast<int64_t>(size);
  Fault &f = fault(Op::write);
  if (f.hit()) {
    ++injected;
    errno = f.error;
    *fail = true;
    return f.keep < size ? f.keep : 0;
  }
  if (!budget.active) return size;
  if (budget.left >= static_cast<int64_t>(size)) {
    budget.left -= static_cast<int64_t>(size);
    return size;
  }
  ++injected;
  errno = ENOSPC;
  *fail = true;
  *buffered = budget.mode == Mode::buffered;
  const size_t allowed = static_cast<size_t>(budget.left);
  budget.left = 0;
  budget.active = budget.sticky;
  return allowed;
}

int open_flags(const char *mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC | (update ? O_RDWR : O_WRONLY);
  return flags | (mode[0] == 'w' ? O_TRUNC : O_APPEND);
}

FILE *stream_on(int fd, const char *mode) {
  if (fd < 0) return nullptr;
  FILE *stream = fdopen(fd, mode);
  if (!stream) ::close(fd);
  return stream;
}

}  // namespace

FILE *open(const char *path, const char *mode) {
  if (!path || !mode || inject(Op::open)) return nullptr;
  if (mode[0] != 'w' && mode[0] != 'a') return std::fopen(path, mode);
  return stream_on(::open(path, open_flags(mode), 0666), mode);
}

FILE *create(const char *path, const char *stdio_mode, unsigned mode) {
  if (!path || !stdio_mode || inject(Op::open)) return nullptr;
  const bool update = std::strchr(stdio_mode, '+') != nullptr;
  const int flags = O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | (update ? O_RDWR : O_WRONLY);
  return stream_on(::open(path, flags, static_cast<mode_t>(mode)), stdio_mode);
}

int close(FILE *stream) {
  if (!stream) return EOF;
  const bool lost = take_poison(stream) || inject(Op::flush);
  const int rc = std::fclose(stream);
  if (lost) errno = ENOSPC;
  return lost ? EOF : rc;
}

size_t write(FILE *stream, const void *data, size_t size) {
  if (size == 0) return std::fwrite(data, 1, 0, stream);
  if (is_poisoned(stream)) {
    bytes_written += static_cast<int64_t>(size);
    return size;
  }
  bool fail = false, buffered = false;
  const size_t allowed = allowance(size, &fail, &buffered);
  const size_t done = allowed > 0 ? std::fwrite(data, 1, allowed, stream) : 0;
  if (fail && budget.mode == Mode::crash) raise(SIGKILL);
  if (!fail || !buffered) return done;
  poison(stream);
  return size;
}

size_t read(FILE *stream, void *data, size_t size) {
  if (size > 0 && inject(Op::read)) return 0;
  return std::fread(data, 1, size, stream);
}

int seek(FILE *stream, int64_t offset, int whence) {
  if (take_poison(stream)) return -1;
  return fseeko(stream, static_cast<off_t>(offset), whence);
}

int64_t tell(FILE *stream) { return static_cast<int64_t>(ftello(stream)); }

int64_t size(FILE *stream) {
  int64_t here = tell(stream);
  if (here < 0 || seek(stream, 0, SEEK_END) != 0) return -1;
  int64_t end = tell(stream);
  seek(stream, here, SEEK_SET);
  return end;
}

int flush(FILE *stream) {
  if (take_poison(stream) || inject(Op::flush)) return EOF;
  return std::fflush(stream);
}

int sync(FILE *stream) {
  if (flush(stream) != 0 || inject(Op::sync)) return -1;
  return fsync(fileno(stream));
}

int truncate(FILE *stream, int64_t length) {
  if (!stream || length < 0) return -1;
  take_poison(stream);
  std::fflush(stream);
  __fpurge(stream);
  std::clearerr(stream);
  if (ftruncate(fileno(stream), static_cast<off_t>(length)) != 0) return -1;
  return fseeko(stream, static_cast<off_t>(length), SEEK_SET);
}

int rename(const char *from, const char *to) {
  if (inject(Op::rename)) return -1;
  return std::rename(from, to);
}

int remove(const char *path) {
  if (inject(Op::remove)) return -1;
  return std::remove(path);
}

int sync_directory(const char *path) {
  char directory[PATH_MAX];
  const char *slash = path ? std::strrchr(path, '/') : nullptr;
  if (!slash) {
    std::strcpy(directory, ".");
  } else {
    const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= sizeof directory) return -1;
    std::memcpy(directory, path, length);
    directory[length] = '\0';
  }
  const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int rc = fsync(fd);
  ::close(fd);
  return rc;
}

bool writable(FILE *stream) {
  const int flags = stream ? fcntl(fileno(stream), F_GETFL) : -1;
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

bool same_file(const char *first, const char *second) {
  struct stat a {};
  struct stat b {};
  if (!first || !second || ::stat(first, &a) != 0 || ::stat(second, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool read_at(FILE *stream, int64_t offset, void *data, size_t size) {
  if (offset < 0 || seek(stream, offset, SEEK_SET) != 0) return false;
  return read(stream, data, size) == size;
}

char *read_line(FILE *stream, char *line, int capacity) {
  if (inject(Op::read)) return nullptr;
  return std::fgets(line, capacity, stream);
}

int get_char(FILE *stream) { return inject(Op::read) ? EOF : std::fgetc(stream); }

int unget_char(int c, FILE *stream) { return std::ungetc(c, stream); }

DirectoryEntries::DirectoryEntries(const char *path)
    : directory_(inject(Op::open) ? nullptr : opendir(path)) {}

DirectoryEntries::~DirectoryEntries() {
  if (directory_) closedir(directory_);
}

const char *DirectoryEntries::next() {
  if (!directory_ || failed_) return nullptr;
  if (inject(Op::read)) {
    failed_ = true;
    return nullptr;
  }
  errno = 0;
  const dirent *entry = readdir(directory_);
  if (!entry) {
    failed_ = errno != 0;
    return nullptr;
  }
  return entry->d_name;
}

namespace {

size_t pread_all(int fd, int64_t offset, void *data, size_t size) {
  size_t done = 0;
  auto *out = static_cast<unsigned char *>(data);
  while (done < size) {
    ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

size_t read_direct(FILE *stream, int64_t offset, void *data, size_t size) {
  if (offset < 0) return 0;
  int fd = fileno(stream);
  if (fd < 0) return seek(stream, offset, SEEK_SET) == 0 ? read(stream, data, size) : 0;
  if (size > 0 && inject(Op::read)) return 0;
  if (__fpending(stream) > 0) std::fflush(stream);
  return pread_all(fd, offset, data, size);
}

size_t read_beside(FILE *stream, int64_t offset, void *data, size_t size) {
  const int fd = fileno(stream);
  return offset < 0 || fd < 0 ? 0 : pread_all(fd, offset, data, size);
}

bool stat_direct(FILE *stream, struct stat *status) {
  const int fd = fileno(stream);
  if (fd < 0) return false;
  if (__fpending(stream) > 0) std::fflush(stream);
#if defined(__linux__) && defined(__x86_64__) && defined(SYS_fstat)
  return syscall(SYS_fstat, fd, status) == 0;
#else
  return fstat(fd, status) == 0;
#endif
}

int64_t size_direct(FILE *stream) {
  if (fileno(stream) < 0) return size(stream);
  struct stat st;
  return stat_direct(stream, &st) ? static_cast<int64_t>(st.st_size) : -1;
}

namespace {

// Writes up to `limit` bytes of the pieces with writev; the bytes written.
size_t gather(int fd, const struct iovec *pieces, int count, size_t limit) {
  size_t done = 0;
  int first = 0;
  size_t skip = 0;  // bytes of pieces[first] already written
  while (done < limit && first < count) {
    struct iovec vector[256];
    int n = 0;
    size_t want = 0;
    for (int i = first; i < count && n < 256 && done + want < limit; ++i, ++n) {
      const size_t offset = i == first ? skip : 0;
      const size_t take = std::min(pieces[i].iov_len - offset, limit - done - want);
      vector[n] = {static_cast<char *>(pieces[i].iov_base) + offset, take};
      want += take;
    }
    const ssize_t written = fd < 0 ? -1 : ::writev(fd, vector, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<size_t>(written);
    for (size_t left = static_cast<size_t>(written); left > 0;) {
      const size_t rest = pieces[first].iov_len - skip;
      if (left < rest) {
        skip += left;
        break;
      }
      left -= rest;
      skip = 0;
      ++first;
    }
    while (first < count && pieces[first].iov_len == 0) ++first;
  }
  return done;
}

}  // namespace

size_t write_pieces(FILE *stream, const struct iovec *pieces, int count) {
  size_t size = 0;
  for (int i = 0; i < count; ++i) size += pieces[i].iov_len;
  if (size == 0) return 0;
  if (is_poisoned(stream)) {
    bytes_written += static_cast<int64_t>(size);
    return size;
  }
  bool fail = false, buffered = false;
  const size_t limit = allowance(size, &fail, &buffered);
  if (__fpending(stream) > 0 && std::fflush(stream) != 0) return 0;
  const size_t done = gather(fileno(stream), pieces, count, limit);
  if (fail && budget.mode == Mode::crash) raise(SIGKILL);
  if (!fail || !buffered) return done;
  poison(stream);
  return size;
}

void advise_sequential(FILE *stream) {
  const int fd = fileno(stream);
  if (fd >= 0) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void advise_done(FILE *stream, int64_t offset, int64_t size) {
  const int fd = fileno(stream);
  if (fd >= 0 && size > 0) posix_fadvise(fd, offset, size, POSIX_FADV_DONTNEED);
}

namespace {

class BackgroundClose {
 public:
  BackgroundClose() { pthread_atfork(nullptr, nullptr, &BackgroundClose::forget_in_child); }
  ~BackgroundClose() {
    if (thread_.joinable()) thread_.join();
  }
  void close(FILE *stream) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) thread_.join();
    try {
      thread_ = std::thread([stream] { std::fclose(stream); });
    } catch (const std::system_error &) {
      std::fclose(stream);
    }
  }

 private:
  // A child of fork has none of its parent's other threads: the handle of
  // a close still running there is dropped unjoined (joining it would wait
  // for ever), and the lock, which a thread may have held at the fork, is
  // made anew.
  static void forget_in_child();

  std::mutex mutex_;
  std::thread thread_;
};

BackgroundClose background_close;

void BackgroundClose::forget_in_child() {
  new (&background_close.thread_) std::thread();
  new (&background_close.mutex_) std::mutex();
}

}  // namespace

void close_in_background(FILE *stream) {
  if (!stream) return;
  const int error = errno;
  take_poison(stream);  // the address may serve another stream once closed
  errno = error;
  background_close.close(stream);
}

void Writeback::wrote(FILE *stream, size_t size) {
  written_ += static_cast<int64_t>(size);
  if (written_ - started_ < kStep) return;
#ifdef SYNC_FILE_RANGE_WRITE
  const int fd = fileno(stream);
  if (fd >= 0) sync_file_range(fd, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
#else
  (void)stream;
#endif
  started_ = written_;
}

// ---- atomic replacement ---------------------------------------------------

namespace {

// Creates the temporary file and locks it for as long as it is open.
FILE *create_locked(const char *path, unsigned mode) {
  FILE *stream = create(path, "w+b", mode);
  if (stream) flock(fileno(stream), LOCK_EX | LOCK_NB);
  return stream;
}

// True when `name` is "<base><tag>" followed by six hex digits.
bool temporary_of(const char *name, const char *base, const char *tag) {
  const size_t b = std::strlen(base), t = std::strlen(tag);
  if (std::strncmp(name, base, b) != 0 || std::strncmp(name + b, tag, t) != 0) return false;
  const char *digits = name + b + t;
  if (std::strlen(digits) != 6) return false;
  for (const char *c = digits; *c; ++c)
    if (!std::isxdigit(static_cast<unsigned char>(*c))) return false;
  return true;
}

// Removes the leftover at `path` unless a live process holds it.
bool remove_if_stale(const char *path) {
  const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat status {};
  const bool stale = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                     flock(fd, LOCK_EX | LOCK_NB) == 0 && remove(path) == 0;
  ::close(fd);
  return stale;
}

}  // namespace

bool temporary_name(const char *target, const char *tag, char *out, size_t size) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const unsigned seed = static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(getpid()) << 8;
  struct stat status {};
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const unsigned code = (seed + attempt * 2654435761u) & 0xFFFFFF;
    const int n = std::snprintf(out, size, "%s%s%06x", target, tag, code);
    if (n < 0 || static_cast<size_t>(n) >= size) return false;
    if (::lstat(out, &status) != 0 && errno == ENOENT) return true;
  }
  return false;
}

int remove_stale_temporaries(const char *target) {
  char directory[PATH_MAX];
  const char *slash = target ? std::strrchr(target, '/') : nullptr;
  if (!target || std::strlen(target) >= sizeof directory) return 0;
  const char *base = slash ? slash + 1 : target;
  std::snprintf(directory, sizeof directory, "%.*s", slash ? static_cast<int>(base - target) : 1,
                slash ? target : ".");
  DIR *listing = opendir(directory);
  if (!listing) return 0;
  int removed = 0;
  while (const struct dirent *entry = readdir(listing)) {
    if (!temporary_of(entry->d_name, base, ".") && !temporary_of(entry->d_name, base, ".bak-"))
      continue;
    char path[PATH_MAX];
    if (std::snprintf(path, sizeof path, "%s%s", slash ? directory : "", entry->d_name) >=
        static_cast<int>(sizeof path))
      continue;
    if (!remove_if_stale(path)) continue;
    std::fprintf(stderr, "pcs: removed %s, left behind by an interrupted rewrite of %s\n", path,
                 target);
    ++removed;
  }
  closedir(listing);
  return removed;
}

void copy_mode(FILE *stream, const char *model) {
  struct stat status {};
  if (!stream || !model || ::stat(model, &status) != 0) return;
  const int fd = fileno(stream);
  // Giving a file away needs privilege; keeping its group often does not.
  if (fchown(fd, status.st_uid, status.st_gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), status.st_gid) != 0)
    errno = 0;
  fchmod(fd, status.st_mode & 07777);
}

namespace {

// Creates the temporary file of a replacement: `temporary`, or a fresh
// "<target>.XXXXXX".
bool begin_temporary(Replacement *r, const char *temporary, unsigned mode) {
  if (temporary) {
    if (std::strlen(temporary) >= sizeof r->temporary) return false;
    std::strcpy(r->temporary, temporary);
    r->stream = create_locked(r->temporary, mode);
    return r->stream != nullptr;
  }
  // A fresh name from the clock and the process; a name in use is skipped.
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const unsigned seed = static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(getpid()) << 8;
  for (unsigned attempt = 0; attempt < 100 && !r->stream; ++attempt) {
    const unsigned tag = (seed + attempt * 2654435761u) & 0xFFFFFF;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%06x", tag);
    const size_t length = std::strlen(r->target);
    if (length + std::strlen(suffix) >= sizeof r->temporary) return false;
    std::memcpy(r->temporary, r->target, length);
    std::memcpy(r->temporary + length, suffix, std::strlen(suffix) + 1);
    r->stream = create_locked(r->temporary, mode);
    if (!r->stream && errno != EEXIST) return false;
  }
  return r->stream != nullptr;
}

}  // namespace

bool begin_replace(Replacement *r, const char *target, const char *temporary, unsigned mode) {
  r->stream = nullptr;
  if (!target || std::strlen(target) + 8 > sizeof r->target) return false;
  // Only a regular file (or a link, which is replaced, not followed) is
  // ever replaced: never a device, a directory or a pipe.
  struct stat status {};
  if (::lstat(target, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
    errno = EINVAL;
    return false;
  }
  std::strcpy(r->target, target);
  if (!begin_temporary(r, temporary, mode)) return false;
  // A file that replaces another keeps its permission bits and owner.
  if (S_ISREG(status.st_mode)) copy_mode(r->stream, target);
  return true;
}

bool commit_replace(Replacement *r) {
  if (!r->stream) return false;
  bool ok = sync(r->stream) == 0;
  if (close(r->stream) != 0) ok = false;
  r->stream = nullptr;
  if (ok && rename(r->temporary, r->target) != 0) ok = false;
  if (!ok) {
    const int error = errno;
    remove(r->temporary);
    errno = error;
    return false;
  }
  sync_directory(r->target);
  return true;
}

void abandon_replace(Replacement *r) {
  if (!r->stream) return;
  close(r->stream);
  r->stream = nullptr;
  const int error = errno;
  remove(r->temporary);
  errno = error;
}

Replacements::~Replacements() {
  for (auto &r : pending_) abandon_replace(r.get());
}
FILE *Replacements::begin(const char *target) {
  auto r = std::make_unique<Replacement>();
  if (!begin_replace(r.get(), target, nullptr, 0666)) return nullptr;
  pending_.push_back(std::move(r));
  return pending_.back()->stream;
}
bool Replacements::commit() {
  bool ok = true;
  for (auto &r : pending_) {  // every file whole before any is renamed
    if (sync(r->stream) != 0) ok = false;
    if (close(r->stream) != 0) ok = false;
    r->stream = nullptr;
  }
  for (auto &r : pending_) {
    if (ok && rename(r->temporary, r->target) == 0) {
      sync_directory(r->target);
      continue;
    }
    const int error = errno;
    remove(r->temporary);
    errno = error;
    ok = false;
  }
  pending_.clear();
  return ok;
}

// ---- test hooks --------------------------------------------------------

void test_fail(Op op, int nth, int error, bool sticky) {
  fault(op) = Fault{nth, sticky, false, 0, error};
}
void test_fail_write(int nth, size_t keep, bool sticky) {
  fault(Op::write) = Fault{nth, sticky, false, keep, EIO};
}
void test_fail_read(int nth, bool sticky) { test_fail(Op::read, nth, EIO, sticky); }
void test_fail_rename(int nth, int error) { test_fail(Op::rename, nth, error); }
void test_fail_write_at(int64_t budget_bytes, Mode mode, bool sticky) {
  budget = Budget{true, budget_bytes, mode, sticky};
}
void test_reset() {
  for (Fault &f : faults) f = Fault{};
  budget = Budget{};
  for (FILE *&slot : poisoned) slot = nullptr;
  injected = 0;
  bytes_written = 0;
}
int test_injected() { return injected; }
int64_t test_bytes_written() { return bytes_written; }

}  // namespace pcs::io
