// File access through stdio with an injector of read, write and rename
// failures for tests.
#include "common/fileio.h"

#include <algorithm>
#include <cerrno>
#include <stdio_ext.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace pcs::io {
namespace {

struct Fault {
  int countdown = 0;  // 0: off; 1: the next call fails
  bool sticky = false;
  bool firing = false;
  size_t keep = 0;

  // True when this call must fail.
  bool hit() {
    if (firing) return true;
    if (countdown == 0) return false;
    if (--countdown > 0) return false;
    firing = sticky;
    return true;
  }
};

Fault write_fault, read_fault, rename_fault;
int injected = 0;

}  // namespace

FILE *open(const char *path, const char *mode) { return std::fopen(path, mode); }

int close(FILE *stream) { return stream ? std::fclose(stream) : EOF; }

size_t write(FILE *stream, const void *data, size_t size) {
  if (size > 0 && write_fault.hit()) {
    ++injected;
    size_t keep = write_fault.keep < size ? write_fault.keep : 0;
    return keep > 0 ? std::fwrite(data, 1, keep, stream) : 0;
  }
  return std::fwrite(data, 1, size, stream);
}

size_t read(FILE *stream, void *data, size_t size) {
  if (size > 0 && read_fault.hit()) {
    ++injected;
    return 0;
  }
  return std::fread(data, 1, size, stream);
}

int seek(FILE *stream, int64_t offset, int whence) {
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

int flush(FILE *stream) { return std::fflush(stream); }

int sync(FILE *stream) {
  if (std::fflush(stream) != 0) return -1;
  return fsync(fileno(stream));
}

int rename(const char *from, const char *to) {
  if (rename_fault.hit()) {
    ++injected;
    errno = EACCES;
    return -1;
  }
  return std::rename(from, to);
}

int remove(const char *path) { return std::remove(path); }

bool read_at(FILE *stream, int64_t offset, void *data, size_t size) {
  if (offset < 0 || seek(stream, offset, SEEK_SET) != 0) return false;
  return read(stream, data, size) == size;
}

size_t read_direct(FILE *stream, int64_t offset, void *data, size_t size) {
  if (offset < 0) return 0;
  int fd = fileno(stream);
  if (fd < 0) return seek(stream, offset, SEEK_SET) == 0 ? read(stream, data, size) : 0;
  if (size > 0 && read_fault.hit()) {
    ++injected;
    return 0;
  }
  if (__fpending(stream) > 0) std::fflush(stream);
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

int64_t size_direct(FILE *stream) {
  int fd = fileno(stream);
  if (fd < 0) return size(stream);
  if (__fpending(stream) > 0) std::fflush(stream);
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

size_t write_pieces(FILE *stream, const struct iovec *pieces, int count) {
  size_t size = 0;
  for (int i = 0; i < count; ++i) size += pieces[i].iov_len;
  if (size == 0) return 0;
  size_t limit = size;
  if (write_fault.hit()) {
    ++injected;
    limit = write_fault.keep < size ? write_fault.keep : 0;
  }
  const int fd = fileno(stream);
  if (__fpending(stream) > 0 && std::fflush(stream) != 0) return 0;
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

void advise_sequential(FILE *stream) {
  const int fd = fileno(stream);
  if (fd >= 0) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void test_fail_write(int nth, size_t keep, bool sticky) {
  write_fault = Fault{nth, sticky, false, keep};
}
void test_fail_read(int nth, bool sticky) { read_fault = Fault{nth, sticky, false, 0}; }
void test_fail_rename(int nth) { rename_fault = Fault{nth, false, false, 0}; }
void test_reset() {
  write_fault = read_fault = rename_fault = Fault{};
  injected = 0;
}
int test_injected() { return injected; }

}  // namespace pcs::io
