// Arbitrary bytes as a catalog file: count its records (csgrn), read their
// keys with both key readers (each key must be its record's key read alone,
// and the keys the same when the file's second half is read on a second
// thread),
// build an index over it (csbndx) and compress a
// copy (cscprs). The bytes as one record: its key straight from the bytes
// must be the key through the part record, with the same reports. Nothing
// may loop, read outside the file or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/second_half.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "maintenance/maintenance.h"

namespace {

// A scratch file, in memory where there is such a file system: cscprs syncs
// every copy it makes.
std::string scratch(const char *name) {
  static const std::string base =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/pcs-fuzz-keys-" +
      std::to_string(getpid()) + "-";
  return base + name;
}

void save(const std::string &path, const uint8_t *data, size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
}

void *key_description() {
  void *array = pparynew(2);
  const char *names[2] = {"PARTNUM PARTNO  ", "PIPESIZESIZE    "};
  for (int i = 0; i < 2; ++i) {
    auto *entry = static_cast<char *>(gimaloc(PCS_KEY_FIELD));
    if (!entry) std::abort();
    std::memcpy(entry, names[i], PCS_KEY_FIELD);
    pparystr(array, i, entry);
  }
  return array;
}

// A key read's code, count, offsets and keys, with the second half of the
// file read on a second thread or not.
std::string read_all(KeyReaderFn reader, const char *path, void *description, int count,
                     KeyRecord *records, bool split, int *filled) {
  const int widths[2] = {8, 4};
  const int fields = 2, key_length = 12;
  pcs::SecondHalf::test_set_split_bytes(split ? 0 : INT64_MAX);
  const int rc = reader(path, &fields, description, widths, count, key_length, records, filled);
  if (*filled < 0 || *filled > count || (rc != 0 && rc != 2)) std::abort();
  std::string read = std::to_string(rc) + " " + std::to_string(*filled);
  for (int i = 0; i < *filled; ++i)
    read += " " + std::to_string(records[i].RecordOffset) + ":" + std::string(records[i].Key, 13);
  return read;
}

// Every key a reader gives is the key of its record read alone, and the
// same with the second half read on a second thread.
void read_keys(const uint8_t *data, size_t size, const char *path, void *description, int count) {
  const int widths[2] = {8, 4};
  const int key_length = 12;
  KeyRecord *records = pcs::GetRecordSpace(count, key_length);
  if (!records) return;
  for (auto reader : {csgia, pcs::catalog::csgia2}) {
    int filled = -1;
    const std::string split = read_all(reader, path, description, count, records, true, &filled);
    if (read_all(reader, path, description, count, records, false, &filled) != split) std::abort();
    for (int i = 0; i < filled; ++i) {
      const auto at = static_cast<size_t>(records[i].RecordOffset);
      if (records[i].Key[key_length] != '\0' || records[i].RecordOffset < 0 || at + 4 > size)
        std::abort();
      const auto length = static_cast<size_t>(static_cast<uint32_t>(pcs::get_be32(data + at)));
      char alone[key_length];
      std::memset(alone, ' ', key_length);
      if (length > size - at ||
          !pcs::catalog::record_key(data + at, length, reader != csgia, description, widths,
                                    key_length, alone) ||
          std::memcmp(alone, records[i].Key, key_length) != 0)
        std::abort();
    }
  }
  pcs::FreeRecordSpace(records, count);
}

// The key of the bytes as one record, both ways; they must agree.
void compare_key_paths(const uint8_t *data, size_t size, void *description) {
  const int widths[2] = {8, 4};
  pcs::host::suppress_reports(false);  // the reports are compared
  for (bool collapse : {false, true}) {
    char fast[13], slow[13];
    std::memset(fast, ' ', 12);
    std::memset(slow, ' ', 12);
    pcs::host::clear_reports();
    const bool fast_ok = pcs::catalog::record_key(data, size, collapse, description, widths, 12, fast);
    const size_t fast_reports = pcs::host::reports().size();
    pcs::host::clear_reports();
    const bool slow_ok = pcs::catalog::part_record_key(data, size, collapse, description, widths, 12, slow);
    if (fast_ok != slow_ok) std::abort();
    if (fast_ok && std::memcmp(fast, slow, 12) != 0) std::abort();
    if (fast_ok && fast_reports != pcs::host::reports().size()) std::abort();
  }
  pcs::host::suppress_reports(true);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // cscprs names the files it works on on standard output.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  pcs::host::suppress_reports(true);
  const long blocks = pcs::host::memory().live_blocks;
  const std::string cat = scratch("cat");
  save(cat, data, size);
  const int count = csgrn(cat.c_str());
  if (count < -1 || static_cast<size_t>(count > 0 ? count : 0) > size / 16) std::abort();
  void *description = key_description();
  compare_key_paths(data, size, description);
  if (count > 0) read_keys(data, size, cat.c_str(), description, count);
  int fields = 2, widths[2] = {8, 4}, rc = -1;
  csbndx(csgrn, csgia, &fields, description, widths, cat.c_str(), scratch("idx").c_str(), &rc);
  if (rc < 0 || rc > 6) std::abort();
  pcs::free_key_description(description);

  const std::string copy = scratch("copy");
  save(copy, data, size);
  cscprs(copy.c_str(), &rc);
  if (rc == 0 && csgrn(copy.c_str()) < 0) std::abort();  // the copy walks cleanly
  for (const char *name : {"cat", "idx", "copy", "copy.bak"}) std::remove(scratch(name).c_str());
  if (pcs::host::memory().live_blocks != blocks || pcs::host::live_stacks() != 0) std::abort();
  return 0;
}
