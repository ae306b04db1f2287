// Operations on the catalog records of a key: how many there are (csggnrc)
// and marking one (csgdnrc) or all of them (csgdelrc) deleted. The index
// file is never changed; readers see the deleted flag.
#include <vector>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/record_codec.h"
#include "common/report.h"

namespace pcs::catalog {

// A damaged index may point anywhere: the flag is only set where a whole
// record stands that the record readers accept (length inside the file,
// flag 0 or 1, every offset and count inside the record, newline as its
// last byte), so no value bytes are overwritten. Catalog records and generic
// part records (directory last) both qualify.
bool mark_deleted(FILE *catalog, int64_t offset) {
  RecordHead head{};
  if (!read_record_head(catalog, offset, &head) || (head.deleted != 0 && head.deleted != 1))
    return false;
  // Scratch memory of our own: a host allocation failing here would fail a
  // merge after its model changes were made.
  const auto size = static_cast<size_t>(head.length);
  std::vector<unsigned char> record(size);
  if (!io::read_at(catalog, offset, record.data(), size) || record[size - 1] != '\n' ||
      !codec::record_valid(ByteView(record.data(), size), codec::kCatalogLayout))
    return false;
  if (head.deleted != 0) return true;
  // Only the flag word's last byte changes: a short write leaves the old flag.
  unsigned char flag[4];
  put_be32(flag, 1);
  if (io::seek(catalog, offset + 4, SEEK_SET) != 0) return false;
  return io::write(catalog, flag, sizeof flag) == sizeof flag && io::flush(catalog) == 0;
}

namespace {

// The key's run in the handle's index, or false.
bool find_run(CatalogHandle *catalog, const char *key, IndexHeader *header, int32_t *count,
              int32_t *first) {
  return catalog && key && read_index_header(catalog->IndexFile, header) &&
         index_lookup(catalog->IndexFile, *header, key, count, first);
}

int delete_one(CatalogHandle *catalog, const char *key, int n) {
  IndexHeader header{};
  int32_t count = 0, first = 0, data = 0;
  if (!find_run(catalog, key, &header, &count, &first)) return PCS_INDEX_NO_KEY;
  if (n < 1 || n > count) return PCS_INDEX_BAD_NUMBER;
  if (!index_data_offset(catalog->IndexFile, header, first, n, &data)) return PCS_INDEX_NO_KEY;
  return mark_deleted(catalog->CatalogFile, data) ? PCS_OK : PCS_INDEX_NO_KEY;
}

int delete_all(CatalogHandle *catalog, const char *key) {
  IndexHeader header{};
  int32_t count = 0, first = 0, data = 0;
  if (!find_run(catalog, key, &header, &count, &first)) return PCS_INDEX_NO_KEY;
  for (int32_t k = 1; k <= count; ++k) {
    if (!index_data_offset(catalog->IndexFile, header, first, k, &data)) return PCS_INDEX_NO_KEY;
    if (!mark_deleted(catalog->CatalogFile, data)) return PCS_INDEX_NO_KEY;
  }
  return 0;
}

}  // namespace
}  // namespace pcs::catalog


extern "C" {

PCS_API void csggnrc(CatalogHandle **catalog, const char *key, int *number, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] {
    pcs::catalog::IndexHeader header{};
    int32_t count = 0, first = 0;
    bool found = pcs::catalog::find_run(catalog ? *catalog : nullptr, key, &header, &count, &first);
    *number = found ? count : 0;
    *rc = found ? PCS_OK : PCS_INDEX_NO_KEY;
  });
}

PCS_API void csgdnrc(CatalogHandle **catalog, const char *key, const int *n, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] { *rc = pcs::catalog::delete_one(catalog ? *catalog : nullptr, key, *n); });
}

PCS_API void csgdelrc(CatalogHandle **catalog, const char *key, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] { *rc = pcs::catalog::delete_all(catalog ? *catalog : nullptr, key); });
}

}  // extern "C"
