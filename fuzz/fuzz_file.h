// What the fuzz targets share: the input bytes as a file, either a reused
// temporary stream or a named scratch file, a record read at a position the
// input gives, and standard output silenced.
#ifndef PCS_FUZZ_FUZZ_FILE_H
#define PCS_FUZZ_FUZZ_FILE_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/inprocess/testing.h"

namespace pcs::fuzz {

// One temporary stream per process, holding exactly the input bytes; it
// stays open for the next input.
inline FILE *load(const uint8_t *data, size_t size) {
  static FILE *file = std::tmpfile();
  if (!file || ftruncate(fileno(file), 0) != 0) std::abort();
  std::rewind(file);
  if (std::fwrite(data, 1, size, file) != size || std::fflush(file) != 0) std::abort();
  return file;
}

// A record read at a position: the first two bytes of the input give the
// position, the rest is the file. `read(file, position)` reads the record
// and checks what it gives; once it is done, the host must hold no more
// memory blocks than before.
template <class Read>
int read_at_position(const uint8_t *data, size_t size, Read read) {
  if (size < 2) return 0;
  pcs::host::reset();
  const long blocks = pcs::host::memory().live_blocks;
  int position = (data[0] << 8 | data[1]) - 2;
  read(load(data + 2, size - 2), &position);
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}

// A scratch path of this process, in memory where there is such a file
// system: "<dir>/pcs-fuzz-<name>-<pid>".
inline std::string scratch(const std::string &name) {
  static const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return dir + "/pcs-fuzz-" + name + "-" + std::to_string(getpid());
}

// Writes the bytes as the whole file at `path`.
inline void save(const std::string &path, const uint8_t *data, size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
}

// For LLVMFuzzerInitialize: the targets whose operations print progress.
inline void silence_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

}  // namespace pcs::fuzz

#endif
