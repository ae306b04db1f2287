// The one module through which the library touches files. It wraps stdio
// and a few system calls so that tests can make the n-th read or write fail
// or fall short and check that files on disk survive.
#ifndef PCS_COMMON_FILEIO_H
#define PCS_COMMON_FILEIO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct iovec;

namespace pcs::io {

FILE *open(const char *path, const char *mode);
int close(FILE *stream);
// Writes and reads return the number of bytes moved, as fwrite/fread with an
// element size of 1 do.
size_t write(FILE *stream, const void *data, size_t size);
size_t read(FILE *stream, void *data, size_t size);
int seek(FILE *stream, int64_t offset, int whence);
int64_t tell(FILE *stream);
// Size of the file behind the stream, or -1; the position is restored.
int64_t size(FILE *stream);
int flush(FILE *stream);
// Flushes the stream and asks the system to put the file on disk.
int sync(FILE *stream);
int rename(const char *from, const char *to);
int remove(const char *path);

// Reads exactly `size` bytes at `offset`; false when they are not all there.
bool read_at(FILE *stream, int64_t offset, void *data, size_t size);

// Reads up to `size` bytes at `offset` straight from the file descriptor
// behind the stream (one pread), bypassing the stream's buffer and leaving
// its position alone; output still buffered in the stream is flushed first.
// Streams without a descriptor fall back to seek and read. Returns the number
// of bytes read. Read failures are injected here as in read().
size_t read_direct(FILE *stream, int64_t offset, void *data, size_t size);
// Size of the file behind the stream from its descriptor (fstat), after
// flushing buffered output; falls back to size() without a descriptor.
int64_t size_direct(FILE *stream);

// Writes `count` pieces of memory, in order, at the position of the
// descriptor behind the stream with as few system calls as it can (writev);
// output buffered in the stream is flushed first. Returns the number of
// bytes written. Write failures are injected here as in write().
size_t write_pieces(FILE *stream, const struct iovec *pieces, int count);
// Tells the system that the file will be read front to back (best effort).
void advise_sequential(FILE *stream);

// ---- test hooks --------------------------------------------------------
// The nth write from now (1 = the next) writes only `keep` bytes and fails;
// with `sticky` every later write fails too.
void test_fail_write(int nth, size_t keep = 0, bool sticky = false);
// The nth read from now returns nothing.
void test_fail_read(int nth, bool sticky = false);
// The nth rename from now fails.
void test_fail_rename(int nth);
// Clears every injected failure.
void test_reset();
// Number of failures injected since the last reset.
int test_injected();

}  // namespace pcs::io

#endif
