// Operations on the catalog records of a key: how many there are (csggnrc)
// and marking one (csgdnrc) or all of them (csgdelrc) deleted. The index
// file is never changed; readers see the deleted flag.
#include <algorithm>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/record_codec.h"
#include "common/report.h"

namespace pcs::catalog {

namespace {

// The bytes of the whole record at `offset` when one stands there that the
// record readers accept (length inside the file, flag 0 or 1, every offset
// and count inside the record, newline as its last byte): catalog records
// and generic part records (directory last) both qualify. A damaged or
// stale index may point anywhere; nothing is written where this fails.
// Scratch memory is our own: a host allocation failing here would fail a
// merge after its model changes were made.
bool read_whole_record(FILE *catalog, int64_t offset, RecordHead *head,
                       std::vector<unsigned char> *record) {
  if (!read_record_head(catalog, offset, head) || (head->deleted != 0 && head->deleted != 1))
    return false;
  const auto size = static_cast<size_t>(head->length);
  record->resize(size);
  return io::read_at(catalog, offset, record->data(), size) && (*record)[size - 1] == '\n' &&
         codec::record_valid(ByteView(record->data(), size), codec::kCatalogLayout);
}

// True when the key's first non-blank stretch begins with the values of
// some attribute of the record (cut to the key's length, trailing blanks
// dropped): the first key field, wherever blank fields before it put it,
// or the whole key. One-character values count only as a whole key. A
// blank key cannot be checked and is carried by every record.
bool carries_key(ByteView record, std::string_view key) {
  const size_t from = key.find_first_not_of(' ');
  if (from == std::string_view::npos) return true;
  const std::string_view rest = key.substr(from);
  const size_t used = rest.find_last_not_of(' ') + 1;
  bool carried = false;
  codec::walk_record(record, codec::kCatalogLayout, codec::kSkip, [&](const codec::AttributeBytes &a) {
    std::string_view value(reinterpret_cast<const char *>(a.values), std::min(a.value_bytes(), rest.size()));
    value = value.substr(0, value.find_last_not_of(' ') + 1);
    carried = !value.empty() && (value.size() > 1 || used == 1) && rest.substr(0, value.size()) == value;
    return carried ? 1 : 0;
  });
  return carried;
}

// Sets the deleted flag of the live record checked to stand at `offset`.
// Only the flag word's last byte changes: a short write leaves the old flag.
bool write_deleted_flag(FILE *catalog, int64_t offset) {
  unsigned char flag[4];
  put_be32(flag, 1);
  if (io::seek(catalog, offset + 4, SEEK_SET) != 0) return false;
  return io::write(catalog, flag, sizeof flag) == sizeof flag && io::flush(catalog) == 0;
}

}  // namespace

KeyTarget check_key_target(FILE *catalog, int64_t offset, std::string_view key) {
  RecordHead head{};
  std::vector<unsigned char> record;
  if (!read_whole_record(catalog, offset, &head, &record)) return KeyTarget::not_a_record;
  if (head.deleted != 0) return KeyTarget::deleted;
  return carries_key(ByteView(record.data(), record.size()), key) ? KeyTarget::carries
                                                                  : refuse(KeyTarget::other_key, offset);
}

bool mark_deleted(FILE *catalog, int64_t offset) {
  RecordHead head{};
  std::vector<unsigned char> record;
  if (!read_whole_record(catalog, offset, &head, &record)) return false;
  return head.deleted != 0 || write_deleted_flag(catalog, offset);
}

namespace {

// The key's run in the handle's index, or false.
bool find_run(CatalogHandle *catalog, const char *key, IndexHeader *header, int32_t *count,
              int32_t *first) {
  return catalog && key && read_index_header(catalog->IndexFile, header) &&
         index_lookup(catalog->IndexFile, *header, key, count, first);
}

// Marks records `from` to `to` of the key's run deleted, after checking
// that each is a record carrying the key: a stale index marks nothing.
int delete_run(CatalogHandle *catalog, const char *key, int32_t from, int32_t to) {
  IndexHeader header{};
  int32_t count = 0, first = 0;
  if (!find_run(catalog, key, &header, &count, &first)) return PCS_INDEX_NO_KEY;
  if (from < 1 || to > count) return PCS_INDEX_BAD_NUMBER;
  if (to == 0) to = count;
  const std::string_view wanted(key, static_cast<size_t>(header.key_length));
  // The live records to mark, each read and checked once.
  std::vector<int32_t> live;
  for (int32_t k = from; k <= to; ++k) {
    int32_t data = 0;
    if (!index_data_offset(catalog->IndexFile, header, first, k, &data)) return PCS_INDEX_NO_KEY;
    const KeyTarget target = check_key_target(catalog->CatalogFile, data, wanted);
    if (target == KeyTarget::not_a_record || target == KeyTarget::other_key) return PCS_INDEX_NO_KEY;
    if (target == KeyTarget::carries) live.push_back(data);
  }
  for (int32_t data : live)
    if (!write_deleted_flag(catalog->CatalogFile, data)) return PCS_INDEX_NO_KEY;
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
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] { *rc = pcs::catalog::delete_run(catalog ? *catalog : nullptr, key, *n, *n); });
}

PCS_API void csgdelrc(CatalogHandle **catalog, const char *key, int *rc) {
  pcs::guarded(rc, PCS_INDEX_NO_KEY, [&] { *rc = pcs::catalog::delete_run(catalog ? *catalog : nullptr, key, 1, 0); });
}

PCS_DIAG_API int cskeytgt(FILE *catalog, long long offset, const char *key, int key_length) {
  int target = PCS_KEY_TARGET_NOT_A_RECORD;
  pcs::guarded(&target, PCS_KEY_TARGET_NOT_A_RECORD, [&] {
    if (!key || key_length < 0) return;
    target = static_cast<int>(pcs::catalog::check_key_target(
        catalog, offset, std::string_view(key, static_cast<size_t>(key_length))));
  });
  return target;
}

}  // extern "C"
