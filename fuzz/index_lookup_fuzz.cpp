// Arbitrary bytes as an index file: look keys up (csalku, csaget), read
// every record start (cspgread) and walk the keys (cspgtnky). Nothing may
// read outside the file, loop, or answer with an offset outside the records,
// whether the index is read from the file or from a copy held in memory;
// and both must give every lookup the same answer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"

namespace {

// The answers of every lookup of one pass, in order.
std::vector<int> answers;

void check_lookup(FILE **index, const char *key, int record_length, long size) {
  int count = -1, first = -1, rc = -1;
  csalku(index, key, &count, &first, &rc);
  answers.insert(answers.end(), {rc, rc == 0 ? count : 0, rc == 0 ? first : 0});
  if (rc != 0) return;
  if (count < 1 || first < 17 || first + static_cast<long>(count) * record_length > size) std::abort();
  for (int k = 0; k < count; ++k) {
    int at = first + k * record_length, data = -1;
    csaget(index, &at, &data, &rc);
    if (rc == 0 && data < 0) std::abort();
  }
}

// Dates the file an hour back, so that the library may answer from a copy
// of it held in memory instead of reading it record by record.
void settle(FILE *file) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  if (futimens(fileno(file), times) != 0) std::abort();
}

void check_index(FILE *file, size_t size);

}  // namespace

// Every check runs on the file as just written (read from the file), then
// on the file left alone (answered from the held copy).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  FILE *file = pcs::fuzz::load(data, size);
  answers.clear();
  check_index(file, size);
  const std::vector<int> from_file = answers;
  answers.clear();
  settle(file);
  check_index(file, size);
  if (answers != from_file) std::abort();
  return 0;
}

namespace {

void check_index(FILE *file, size_t size) {
  int r = 0, rc = 0;
  csailn(&file, &r, &rc);
  if (rc != 0) {
    check_lookup(&file, "                ", 30, static_cast<long>(size));
    return;
  }
  const int k = r - 29;
  if (k < 1 || k > 499) std::abort();
  char key[500], next[500];
  std::memset(key, ' ', sizeof key);
  const long n = (static_cast<long>(size) - 17) / r;
  for (long i = 0; i < n; ++i) {  // look up the key of every record
    int data_offset = 0;
    cspgread(file, static_cast<int>(17 + i * r), &data_offset, key, &rc);
    if (rc != 0) continue;
    check_lookup(&file, key, r, static_cast<long>(size));
    char shorter[500];  // the key's first half, and one byte more: mostly absent keys
    std::memcpy(shorter, key, static_cast<size_t>(k));
    shorter[k / 2] = '\0';
    check_lookup(&file, shorter, r, static_cast<long>(size));
    shorter[k / 2] = static_cast<char>(key[k / 2] + 1);
    shorter[k / 2 + 1] = '\0';
    check_lookup(&file, shorter, r, static_cast<long>(size));
  }
  CatalogHandle handle{};
  handle.IndexFile = file;
  CatalogHandle *catalog = &handle;
  std::memset(key, ' ', sizeof key);
  static const int quiet = open("/dev/null", O_WRONLY);
  const int saved = dup(2);
  dup2(quiet, 2);  // an unsorted index makes the walk meet absent keys
  for (long steps = 0; steps <= n; ++steps) {
    cspgtnky(&catalog, key, next, &rc);
    if (rc != 0) break;
    std::memcpy(key, next, static_cast<size_t>(k));
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
}

}  // namespace
