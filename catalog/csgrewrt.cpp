// Rewriting catalog records in place (csgrewrt, and rewrite_records for
// csgputip) under one rollback journal (journal.cpp) that holds the old
// bytes of every record of the call: synced before the catalog is touched
// and removed once the new records are synced, so that after a crash the
// next opener puts all of them back.
#include <climits>
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

// Checks that each new record fits the record it replaces; nothing written.
int check_fits(FILE *stream, int count, const int64_t *offsets, PartRecord *const *records) {
  if (!stream || !io::writable(stream)) return PCS_SHORT_WRITE;
  for (int k = 0; k < count; ++k) {
    RecordHead old{};
    if (!read_record_head(stream, offsets[k], &old) ||
        catalog::record_size(records[k]) > old.length)
      return PCS_SHORT_WRITE;
  }
  return 0;
}

// Writes every new record over its old one and syncs; false at the first
// failure, with *touched telling whether any byte may have moved.
bool write_all(FILE *stream, int count, const int64_t *offsets, PartRecord *const *records,
               int64_t *written, bool *touched, int *rc) {
  for (int k = 0; k < count; ++k) {
    if (catalog::record_size(records[k]) == 0) continue;  // nothing to write
    RecordHead old{};
    int64_t start = -1;
    if (!read_record_head(stream, offsets[k], &old)) {
      *rc = PCS_SHORT_WRITE;
      return false;
    }
    *written += write_record_at(records[k], old.length, stream, false, offsets[k], &start, rc);
    if (start >= 0) *touched = true;
    if (*rc != 0) return false;
  }
  if (io::sync(stream) != 0) *rc = PCS_SHORT_WRITE;
  return *rc == 0;
}

int64_t rewrite_reported(PartRecord *record, FILE *stream, int64_t at, int *rc) {
  if (catalog::record_size(record) == 0) return 0;
  const int64_t written = rewrite_records(stream, 1, &at, &record, rc);
  report(*rc);
  return written;
}

}  // namespace

int64_t rewrite_records(FILE *stream, int count, const int64_t *offsets,
                        PartRecord *const *records, int *rc) {
  *rc = check_fits(stream, count, offsets, records);
  // A journal an interrupted rewrite left is settled before the catalog is
  // read for the new one.
  if (*rc == 0 && !recover_stream(stream)) *rc = PCS_SHORT_WRITE;
  JournalImage image;
  if (*rc == 0) *rc = build_journal(stream, offsets, records, count, &image);
  LiveJournal journal;
  if (*rc == 0) *rc = journal.save(stream, image);
  if (*rc != 0) return 0;
  int64_t written = 0;
  bool touched = false;
  if (write_all(stream, count, offsets, records, &written, &touched, rc)) {
    journal.finish();
    return written;
  }
  // The journal stays when the old bytes could not be put back: the next
  // opener tries again.
  if (!touched || put_back_journal(stream, image.bytes.get(), image.size)) journal.finish();
  return written;
}

}  // namespace pcs::catalog

extern "C" PCS_API int csgrewrt(const int *offset, PartRecord **record, FILE *stream, int *rc) {
  return pcs::guarded_value(0, [&] {
    return static_cast<int>(
        pcs::catalog::rewrite_reported(record ? *record : nullptr, stream, offset ? *offset : -1, rc));
  });
}
