// Arbitrary bytes as the rollback journal of a 256-byte catalog of eight
// 32-byte records: applying it may only put bytes inside the catalog, never
// change its size, and must leave no journal behind (applied or set aside).
// An input whose first byte is odd is sealed first: it gets the header of
// this catalog (device, inode, size) and a correct checksum, so that the
// range checks behind the checksum are reached.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalog/catalog.h"
#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"

namespace {

void put64(std::string &out, uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
}

std::string records() {
  std::string record(32, 'c');
  record[0] = record[1] = record[2] = 0;
  record[3] = 32;
  record[4] = record[5] = record[6] = record[7] = 0;
  record[31] = '\n';
  std::string all;
  for (int i = 0; i < 8; ++i) all += record;
  return all;
}

// Removes the journals set aside beside `catalog` ("<catalog>-journal.bad-*").
void remove_set_aside(const std::string &catalog) {
  const std::string dir = catalog.substr(0, catalog.rfind('/'));
  const std::string prefix = catalog.substr(catalog.rfind('/') + 1) + "-journal.bad-";
  DIR *listing = opendir(dir.c_str());
  if (!listing) std::abort();
  while (const dirent *entry = readdir(listing))
    if (std::string(entry->d_name).rfind(prefix, 0) == 0) unlink((dir + "/" + entry->d_name).c_str());
  closedir(listing);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  static const std::string catalog = pcs::fuzz::scratch("journal-catalog");
  static const std::string journal = catalog + "-journal";
  static const std::string bytes = records();
  pcs::fuzz::save(catalog, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  std::string input(reinterpret_cast<const char *>(data), size);
  if (size > 0 && data[0] % 2 == 1) {
    struct stat status {};
    if (stat(catalog.c_str(), &status) != 0) std::abort();
    std::string sealed = "PCSJRN3\n";
    put64(sealed, status.st_dev);
    put64(sealed, status.st_ino);
    put64(sealed, bytes.size());
    sealed += input.substr(1);
    const uint32_t crc = pcs::catalog::journal_crc(reinterpret_cast<const unsigned char *>(sealed.data()),
                                          sealed.size());
    for (int shift = 24; shift >= 0; shift -= 8) sealed += static_cast<char>(crc >> shift);
    input = sealed;
  }
  pcs::fuzz::save(journal, reinterpret_cast<const uint8_t *>(input.data()), input.size());
  if (!pcs::catalog::recover_catalog(catalog.c_str())) std::abort();
  struct stat status {};
  if (stat(catalog.c_str(), &status) != 0 || status.st_size != 256) std::abort();
  if (stat(journal.c_str(), &status) == 0) std::abort();
  remove_set_aside(catalog);
  if (pcs::host::memory().live_blocks != 0) std::abort();
  return 0;
}
