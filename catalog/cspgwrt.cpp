// Appending catalog records (cspgwrt), the record writer that the
// in-place rewrite (csgrewrt.cpp) shares, and records laid into memory for
// bulk appends (cspgenc).
#include <algorithm>
#include <climits>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/record_codec.h"
#include "common/report.h"
#include "records/records.h"

namespace pcs::catalog {

namespace {

constexpr int kShortWrite = PCS_SHORT_WRITE;

// Writes the groups after the header; returns the bytes written and the end
// offset of the last group in *end.
int64_t write_groups(PartRecord *record, FILE *stream, int32_t *end, int *rc) {
  int64_t written = 0;
  auto offset = static_cast<int32_t>(codec::catalog_header_size(record->GroupCount));
  records::csgrlset(record);
  for (int32_t i = 0; i < record->GroupCount; ++i) {
    AttrGroup *group = records::csgrlnxt(record);
    if (!group) break;
    int group_rc = 0;
    int n = records::csgrpwrt(group, offset, stream, &group_rc);
    written += n;
    if (group_rc != 0) {
      *rc = group_rc;
      break;
    }
    offset += n;
  }
  records::csgrlset(record);
  *end = offset;
  return written;
}

}  // namespace

// The length and the group offsets are known from the sizes beforehand, so
// the record goes out front to back in one pass (one write system call for
// a record that fits the stream's buffer); a group that comes out at
// another size than planned fails the write.
int64_t write_record_at(PartRecord *record, int64_t length, FILE *stream, bool append,
                        int64_t at, int64_t *start, int *rc) {
  *start = -1;
  const int64_t size = catalog::record_size(record);
  if (!stream || length > INT32_MAX || size > length) {
    *rc = kShortWrite;
    return 0;
  }
  const size_t header_size = codec::catalog_header_size(record->GroupCount);
  auto header = host_buffer(header_size);
  if (!header) {
    *rc = PCS_NO_MEMORY;
    return 0;
  }
  std::memset(header.get(), 0, header_size);
  codec::encode_catalog_header(record, static_cast<int32_t>(length), header.get());
  *rc = kShortWrite;
  if (io::seek(stream, append ? 0 : at, append ? SEEK_END : SEEK_SET) != 0) return 0;
  // Index files hold offsets as 32-bit numbers: a record that would start
  // past their range is refused before any byte is written.
  const int64_t begin = io::tell(stream);
  if (begin < 0 || begin > INT32_MAX - length) return 0;
  *start = begin;
  int64_t written = static_cast<int64_t>(io::write(stream, header.get(), header_size));
  if (written != static_cast<int64_t>(header_size)) return written;
  *rc = 0;
  int32_t end = 0;
  written += write_groups(record, stream, &end, rc);
  if (*rc != 0) return written;
  *rc = kShortWrite;
  if (end != size - 1) return written;
  // A shorter record keeps the old length: zero bytes pad it up to its
  // closing newline, so walks by length still find the next record.
  static const unsigned char kZeros[256] = {};
  for (int64_t pad = length - size; pad > 0;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(pad, sizeof kZeros));
    if (io::write(stream, kZeros, n) != n) return written;
    written += static_cast<int64_t>(n);
    pad -= static_cast<int64_t>(n);
  }
  if (io::write(stream, "\n", 1) != 1) return written;
  ++written;
  *rc = 0;
  return written;
}

void lay_in_place(PartRecord *record, int32_t length, unsigned char *out) {
  const auto size = static_cast<size_t>(catalog::record_size(record));
  std::memset(out, 0, static_cast<size_t>(length));
  encode_record(record, out);
  put_be32(out, length);
  out[size - 1] = 0;
  out[length - 1] = '\n';
}

namespace {

// Appends the record; it counts only once flushed. A failed append is cut
// off again, so the file stays walkable. A record without groups writes
// nothing and leaves *rc alone; any other outcome is reported.
int append_record(PartRecord *record, FILE *stream, int *rc) {
  const int64_t size = catalog::record_size(record);
  if (size == 0) return 0;
  int64_t start = -1;
  // An append changes the catalog's size, after which a journal left by an
  // interrupted rewrite would no longer match: it is settled first.
  if (!recover_stream(stream)) {
    *rc = kShortWrite;
    report(*rc);
    return 0;
  }
  const int64_t written = write_record_at(record, size, stream, true, 0, &start, rc);
  if (*rc == 0 && io::flush(stream) != 0) *rc = kShortWrite;
  if (*rc != 0 && start >= 0) io::truncate(stream, start);
  report(*rc);
  return static_cast<int>(written);
}

// Lays the record for a bulk append at byte `at`: the same bytes, and the
// same 2^31 limit, as an append by cspgwrt.
int64_t lay_record(PartRecord *record, bool deleted, int64_t at, unsigned char *out, int64_t room,
                   int *rc) {
  *rc = 0;
  const int64_t size = catalog::record_size(record);
  if (size == 0) return 0;
  if (at < 0 || size > INT32_MAX - at) {
    *rc = kShortWrite;
    return size;
  }
  if (!out || size > room) return size;
  encode_record(record, out);
  if (deleted) put_be32(out + 4, 1);
  return size;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" {

PCS_DIAG_API long long cspgenc(PartRecord *record, int deleted, long long at, unsigned char *out,
                               long long room, int *rc) {
  return pcs::guarded_value<long long>(0, [&] {
    return pcs::catalog::lay_record(record, deleted != 0, at, out, room, rc);
  });
}

PCS_API int cspgwrt(PartRecord *record, FILE *stream, int *rc) {
  return pcs::guarded_value(0, [&] { return pcs::catalog::append_record(record, stream, rc); });
}

PCS_API int cspgwrtf(PartRecord **record, FILE **stream, int *rc) {
  return cspgwrt(record ? *record : nullptr, stream ? *stream : nullptr, rc);
}

}  // extern "C"
