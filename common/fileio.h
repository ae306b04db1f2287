// The one module through which the library touches files: opening,
// creating, reading, writing, flushing, syncing, truncating, renaming and
// removing, plus the atomic replacement of a whole file. It wraps stdio and
// a few system calls so that tests can make any of these calls fail (with a
// chosen errno), make writes stop at a chosen byte, either at once or as a
// buffered stream does (the write succeeds, the next flush, seek or close
// fails), and then check that the files on disk survive.
//
// Rules every caller follows:
// - Files the library creates never follow a symlink planted at their path:
//   open() with a "w" or "a" mode and create() refuse one (ELOOP).
// - A write is only done when a checked flush() (or sync()) after it
//   succeeded; a stream's close() result counts as well.
// - A file that must stay whole while it is rewritten is written with the
//   Replacement helper below and renamed over the old one when complete.
#ifndef PCS_COMMON_FILEIO_H
#define PCS_COMMON_FILEIO_H

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct iovec;

namespace pcs::io {

// Opens as fopen does. Modes that may create the file ("w...", "a...")
// never follow a symlink at the path; new files get mode 0666 less the
// umask, as fopen gives.
FILE *open(const char *path, const char *mode);
// Creates a new file, exclusively (fails with EEXIST when anything, a
// symlink included, stands at the path), with permission bits `mode` less
// the umask, and opens it with the stdio mode `stdio_mode` ("wb", "w+b").
FILE *create(const char *path, const char *stdio_mode, unsigned mode = 0644);
// Closes the stream; EOF when buffered output could not be written.
int close(FILE *stream);
// Writes and reads return the number of bytes moved, as fwrite/fread with an
// element size of 1 do.
size_t write(FILE *stream, const void *data, size_t size);
size_t read(FILE *stream, void *data, size_t size);
int seek(FILE *stream, int64_t offset, int whence);
int64_t tell(FILE *stream);
// Size of the file behind the stream, or -1; the position is restored.
int64_t size(FILE *stream);
// Writes out the stream's buffer; 0 or EOF.
int flush(FILE *stream);
// Flushes the stream and asks the system to put the file on disk; 0 or -1.
int sync(FILE *stream);
// Cuts the file behind the stream to `length` bytes and puts the stream
// there. Output still buffered in the stream is written first when it can
// be and dropped otherwise, so nothing reappears past `length` later.
// 0 or -1.
int truncate(FILE *stream, int64_t length);
int rename(const char *from, const char *to);
int remove(const char *path);
// Puts the directory entry of `path` (a file in that directory) on disk;
// best effort, 0 or -1.
int sync_directory(const char *path);
// True when the stream was opened for writing (or update).
bool writable(FILE *stream);
// True when both paths name the same existing file (device and inode).
bool same_file(const char *first, const char *second);

// Reads exactly `size` bytes at `offset`; false when they are not all there.
bool read_at(FILE *stream, int64_t offset, void *data, size_t size);

// ---- text and directories -------------------------------------------------
// Reads a line as fgets does into `line` of `capacity` bytes; null at the
// end of the input or when the read fails (injected read failures too).
char *read_line(FILE *stream, char *line, int capacity);
// One byte as fgetc does; EOF at the end or when the read fails.
int get_char(FILE *stream);
// Pushes `c` back as ungetc does.
int unget_char(int c, FILE *stream);

// The entries of a directory in the order it gives them ("." and ".."
// included). Opening fails as open() does, injected open failures too;
// each next() is a read that injected read failures can fail.
class DirectoryEntries {
 public:
  explicit DirectoryEntries(const char *path);
  ~DirectoryEntries();
  DirectoryEntries(const DirectoryEntries &) = delete;
  DirectoryEntries &operator=(const DirectoryEntries &) = delete;

  bool is_open() const { return directory_ != nullptr; }
  // The next entry's name, or null at the end or on a failed read.
  const char *next();
  // True when a read failed (errno says why).
  bool failed() const { return failed_; }

 private:
  DIR *directory_;
  bool failed_ = false;
};

// Reads up to `size` bytes at `offset` straight from the file descriptor
// behind the stream (one pread), bypassing the stream's buffer and leaving
// its position alone; output still buffered in the stream is flushed first.
// Streams without a descriptor fall back to seek and read. Returns the number
// of bytes read. Read failures are injected here as in read().
size_t read_direct(FILE *stream, int64_t offset, void *data, size_t size);
// read_direct for a second thread reading a file that its first thread
// reads too: one descriptor, no stream buffer touched, and no failure
// injected (the injector counts the calls of one thread). Only for reads
// that the caller can do without, since a test cannot make them fail.
size_t read_beside(FILE *stream, int64_t offset, void *data, size_t size);
// The status of the file behind the stream from its descriptor (fstat),
// after flushing buffered output; false without a descriptor or status.
// On x86-64 Linux it is the fstat system call itself: the C library's
// fstat is fstatat with an empty path, which the kernel checks first.
bool stat_direct(FILE *stream, struct stat *status);
// Size of the file behind the stream from its descriptor (stat_direct);
// falls back to size() without a descriptor.
int64_t size_direct(FILE *stream);

// Writes `count` pieces of memory, in order, at the position of the
// descriptor behind the stream with as few system calls as it can (writev);
// output buffered in the stream is flushed first. Returns the number of
// bytes written. Write failures are injected here as in write().
size_t write_pieces(FILE *stream, const struct iovec *pieces, int count);
// How much to read at once from a record's start: the longest record
// noted so far, rounded up to 64 bytes, within 256 bytes .. kMost. Most
// records then take one read, and short ones are not read with kilobytes
// behind them (copying those out of pages not in the processor's cache
// cost more than the read). One per kind of file, shared by all threads.
class FirstRead {
 public:
  static constexpr size_t kMost = 4096;
  size_t size() const { return size_.load(std::memory_order_relaxed); }
  // Grows the read to hold a record of `length` bytes (up to kMost).
  void note(int64_t length) {
    const auto wanted = static_cast<size_t>(std::clamp<int64_t>((length + 63) / 64 * 64, 0, kMost));
    size_t now = size();
    while (wanted > now && !size_.compare_exchange_weak(now, wanted, std::memory_order_relaxed)) {
    }
  }

 private:
  std::atomic<size_t> size_{256};
};

// Tells the system that the file will be read front to back (best effort).
void advise_sequential(FILE *stream);
// Tells the system that [offset, offset + size) of the file will not be
// read again, so its cached pages may go now (best effort; pages not yet
// on disk stay).
void advise_done(FILE *stream, int64_t offset, int64_t size);
// Closes a stream that has nothing left to write on a thread of its own,
// for the last close of a large file already renamed over or removed:
// releasing its blocks can wait for the disk (a file system mounted with
// online discard discards them then), and the caller need not. One such
// close runs at a time; the next call and the library's unloading wait for
// it, a child of fork does not. Closed at once when no thread can be
// started.
void close_in_background(FILE *stream);
// For a file written front to back: asks the system to start writing each
// kStep bytes to disk as soon as they are written, without waiting (best
// effort), so that the sync at the end waits for the last part only.
class Writeback {
 public:
  // `written`: bytes before the first write counted here.
  explicit Writeback(int64_t written = 0) : written_(written) {}
  void wrote(FILE *stream, size_t size);

 private:
  static constexpr int64_t kStep = 16 << 20;
  int64_t written_;
  int64_t started_ = 0;
};

// ---- atomic replacement ---------------------------------------------------
// Writes a new version of `target` beside it and puts it in the target's
// place only when it is complete, so that the target's name always holds
// either the old file or the whole new one, also after a crash:
//
//   Replacement r;
//   if (!begin_replace(&r, path)) ...;       // cannot create
//   ... io::write(r.stream, ...) ...
//   if (!commit_replace(&r)) ...;            // old file still in place
//
// or abandon_replace(&r) to give up. A Replacement holds no memory.
struct Replacement {
  FILE *stream = nullptr;     // the temporary file, open for writing ("w+b")
  char target[PATH_MAX] = {};
  char temporary[PATH_MAX] = {};
};
// Creates the temporary file in the target's directory, exclusively and
// never through a symlink, with permission bits `mode` less the umask. A
// target that exists must be a regular file or a symlink (which is
// replaced, not followed): devices, directories and pipes are refused.
// `temporary` names it; null picks a fresh name "<target>.XXXXXX". False
// (nothing created) when a path does not fit or the file cannot be created.
bool begin_replace(Replacement *r, const char *target, const char *temporary = nullptr,
                   unsigned mode = 0644);
// The temporary file is locked (flock) while it is open, so that
// remove_stale_temporaries can tell a live one from a crash's leftover.
//
// Picks a fresh temporary name "<target><tag>XXXXXX" (six hex digits) that
// names no file now; false when the path does not fit.
bool temporary_name(const char *target, const char *tag, char *out, size_t size);
// Removes the temporary files of `target` that an interrupted replacement
// left ("<target>.XXXXXX" and "<target>.bak-XXXXXX", regular files that no
// process holds), saying on standard error which. Returns how many.
int remove_stale_temporaries(const char *target);
// Gives the file behind `stream` the permission bits and owner of the file
// at `model` (best effort: the owner only where the process may set it).
void copy_mode(FILE *stream, const char *model);
// Flushes and syncs the temporary file, closes it, renames it over the
// target and syncs the directory. False when any step failed; the temporary
// file is then removed and the target left as it was.
bool commit_replace(Replacement *r);
// Closes and removes the temporary file; the target is left as it was.
void abandon_replace(Replacement *r);

// Whole output files written beside their targets and put in place together
// once every one is complete, so that a failure before commit() leaves every
// target as it was (new files get mode 0666 less the umask, replaced ones
// keep theirs). What is not committed is abandoned on destruction.
class Replacements {
 public:
  Replacements() = default;
  ~Replacements();
  Replacements(const Replacements &) = delete;
  Replacements &operator=(const Replacements &) = delete;
  // Begins a new version of `target`: the stream to write it to, or null
  // (errno says why) when it cannot be created.
  FILE *begin(const char *target);
  // Finishes every file, then renames each over its target in the order
  // begun. False when a file could not be finished (no target changed) or
  // a rename failed (the targets before it are replaced).
  bool commit();

 private:
  std::vector<std::unique_ptr<Replacement>> pending_;
};

// ---- test hooks --------------------------------------------------------
enum class Op { open, read, write, flush, sync, rename, remove, count };

// The nth call of `op` from now (1 = the next) fails with errno `error`;
// with `sticky` every later one fails too. open covers open() and create();
// write fails with nothing written; flush covers flush() and the flush
// inside close(); sync covers sync() and the sync of a replacement.
void test_fail(Op op, int nth, int error = EIO, bool sticky = false);
// The nth write from now writes only `keep` bytes and fails; with `sticky`
// every later write fails too.
void test_fail_write(int nth, size_t keep = 0, bool sticky = false);
// The nth read from now returns nothing.
void test_fail_read(int nth, bool sticky = false);
// The nth rename from now fails with errno `error`.
void test_fail_rename(int nth, int error = EACCES);

// How a write that runs out of room fails.
enum class Mode {
  immediate,  // the write call writes what fits and reports the shortfall
  buffered,   // the write call reports success; the bytes past the limit
              // are lost, and the next flush, seek, sync or close of that
              // stream fails (once); writes in between are lost too
  crash,      // the process is killed (SIGKILL) once the bytes that fit are
              // handed on: for crash tests in a child process
};
// Lets `budget` more bytes be written (write and write_pieces, all streams
// together); the write that crosses the budget writes only up to it and
// fails as `mode` says. With `sticky`, every later write fails as well (a
// full disk); otherwise the failure is a single one.
void test_fail_write_at(int64_t budget, Mode mode, bool sticky = false);

// Clears every injected failure.
void test_reset();
// Number of failures injected since the last reset.
int test_injected();
// Bytes passed to write() and write_pieces() since the last reset.
int64_t test_bytes_written();

}  // namespace pcs::io

#endif
