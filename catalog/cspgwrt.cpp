// Writing catalog records: cspgwrt appends a part record at the end of a
// catalog file, csgrewrt rewrites one in place. A rewrite never writes past
// the record it replaces: a longer record is refused before any byte moves.
#include <climits>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "records/records.h"

namespace pcs {

namespace {

constexpr int kShortWrite = PCS_SHORT_WRITE;

// Writes the groups after the header at record offset `offset`; returns the
// bytes written and the end offset of the last group in *end.
int64_t write_groups(PartRecord *record, FILE *stream, unsigned char *table, int32_t *end,
                     int *rc) {
  int64_t written = 0;
  int32_t offset = 16 + 4 * record->GroupCount;
  csgrlset(record);
  for (int32_t i = 0; i < record->GroupCount; ++i) {
    AttrGroup *group = csgrlnxt(record);
    if (!group) break;
    put_be32(table + 4 * i, offset);
    int group_rc = 0;
    int n = csgrpwrt(group, offset, stream, &group_rc);
    written += n;
    if (group_rc != 0) {
      *rc = group_rc;
      break;
    }
    offset += n;
  }
  csgrlset(record);
  *end = offset;
  return written;
}

// Writes the record of `size` bytes at the end of the file or at `at`. The
// header goes out first with the placeholder length 4 and is written again
// with the real length and group offsets once the groups are out.
int64_t write_sized(PartRecord *record, int64_t size, FILE *stream, bool append, int64_t at,
                    int *rc) {
  RecordHead old{};
  if (!stream || size > INT32_MAX ||
      (!append && (!read_record_head(stream, at, &old) || size > old.length))) {
    *rc = kShortWrite;
    return 0;
  }
  int32_t groups = record->GroupCount;
  size_t header_size = 16 + 4 * static_cast<size_t>(groups);
  auto header = host_buffer(header_size);
  if (!header) {
    *rc = PCS_NO_MEMORY;
    return 0;
  }
  std::memset(header.get(), 0, header_size);
  put_be32(header.get(), 4);
  put_be32(header.get() + 8, kGroupCountOffset);
  put_be32(header.get() + 12, groups);
  *rc = kShortWrite;
  if (io::seek(stream, append ? 0 : at, append ? SEEK_END : SEEK_SET) != 0) return 0;
  int64_t start = io::tell(stream);
  int64_t written = static_cast<int64_t>(io::write(stream, header.get(), header_size));
  if (written != static_cast<int64_t>(header_size)) return written;
  *rc = 0;
  int32_t end = 0;
  written += write_groups(record, stream, header.get() + 16, &end, rc);
  if (*rc != 0) return written;
  *rc = kShortWrite;
  if (io::write(stream, "\n", 1) != 1) return written;
  ++written;
  put_be32(header.get(), end + 1);
  if (io::seek(stream, start, SEEK_SET) != 0 ||
      io::write(stream, header.get(), header_size) != header_size)
    return written;  // the record keeps its placeholder length: readers refuse it
  io::seek(stream, start + end + 1, SEEK_SET);
  *rc = 0;
  return written;
}

// A record without groups writes nothing and leaves *rc alone; any other
// outcome is reported.
int write_record(PartRecord *record, FILE *stream, bool append, int64_t at, int *rc) {
  int64_t size = catalog::record_size(record);
  if (size == 0) return 0;
  int64_t written = write_sized(record, size, stream, append, at, rc);
  report(*rc);
  return static_cast<int>(written);
}

}  // namespace
}  // namespace pcs

extern "C" {

PCS_API int cspgwrt(PartRecord *record, FILE *stream, int *rc) {
  return pcs::guarded_value(0, [&] { return pcs::write_record(record, stream, true, 0, rc); });
}

PCS_API int cspgwrtf(PartRecord **record, FILE **stream, int *rc) {
  return cspgwrt(record ? *record : nullptr, stream ? *stream : nullptr, rc);
}

PCS_API int csgrewrt(const int *offset, PartRecord **record, FILE *stream, int *rc) {
  return pcs::guarded_value(0, [&] {
    return pcs::write_record(record ? *record : nullptr, stream, false, *offset, rc);
  });
}

}  // extern "C"
