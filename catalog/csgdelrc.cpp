// Operations on the catalog records of a key: how many there are (csggnrc)
// and marking one (csgdnrc) or all of them (csgdelrc) deleted. The index
// file is never changed; readers see the deleted flag.
#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/report.h"

namespace pcs {

// A damaged index may point anywhere: the flag is only set where a whole
// catalog record stands (length inside the file, flag 0 or 1, group-count
// offset 12, newline as its last byte), so no value bytes are overwritten.
bool mark_deleted(FILE *catalog, int64_t offset) {
  RecordHead head{};
  unsigned char words[12], last = 0;
  if (!read_record_head(catalog, offset, &head) ||
      !io::read_at(catalog, offset, words, sizeof words) ||
      !io::read_at(catalog, offset + head.length - 1, &last, 1))
    return false;
  if ((head.deleted != 0 && head.deleted != 1) || get_be32(words + 8) != kGroupCountOffset ||
      last != '\n')
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
  if (!find_run(catalog, key, &header, &count, &first)) return 1;
  if (n < 1 || n > count) return 2;
  if (!index_data_offset(catalog->IndexFile, header, first, n, &data)) return 1;
  return mark_deleted(catalog->CatalogFile, data) ? 0 : 1;
}

int delete_all(CatalogHandle *catalog, const char *key) {
  IndexHeader header{};
  int32_t count = 0, first = 0, data = 0;
  if (!find_run(catalog, key, &header, &count, &first)) return 1;
  for (int32_t k = 1; k <= count; ++k) {
    if (!index_data_offset(catalog->IndexFile, header, first, k, &data)) return 1;
    if (!mark_deleted(catalog->CatalogFile, data)) return 1;
  }
  return 0;
}

}  // namespace
}  // namespace pcs


extern "C" {

PCS_API void csggnrc(CatalogHandle **catalog, const char *key, int *number, int *rc) {
  pcs::guarded(rc, 1, [&] {
    pcs::IndexHeader header{};
    int32_t count = 0, first = 0;
    bool found = pcs::find_run(catalog ? *catalog : nullptr, key, &header, &count, &first);
    *number = found ? count : 0;
    *rc = found ? 0 : 1;
  });
}

PCS_API void csgdnrc(CatalogHandle **catalog, const char *key, const int *n, int *rc) {
  pcs::guarded(rc, 1, [&] { *rc = pcs::delete_one(catalog ? *catalog : nullptr, key, *n); });
}

PCS_API void csgdelrc(CatalogHandle **catalog, const char *key, int *rc) {
  pcs::guarded(rc, 1, [&] { *rc = pcs::delete_all(catalog ? *catalog : nullptr, key); });
}

}  // extern "C"
