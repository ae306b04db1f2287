// Reading catalog records: the checked record header, cspgetrc (one record
// into a new part record), cspdelrc (mark deleted) and cspgkey (collect one
// attribute's values from every record of a file).
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "records/records.h"

namespace pcs {

bool read_record_head(FILE *stream, int64_t offset, RecordHead *head) {
  unsigned char words[8];
  if (!stream || offset < 0 || io::read_direct(stream, offset, words, sizeof words) != sizeof words)
    return false;
  int32_t length = get_be32(words);
  if (length < kRecordMinLength || offset + length > io::size_direct(stream)) return false;
  *head = RecordHead{length, get_be32(words + 4)};
  return true;
}

namespace catalog {

PartRecord *decode_record(const unsigned char *bytes, size_t size) {
  PartRecord *part = csgrlnew();
  if (!part) return nullptr;
  const int walked = codec::walk_record(
      ByteView(bytes, size), codec::kCatalogLayout, codec::kSkip,
      [part](const codec::AttributeBytes &a) {
        return record_add(part, reinterpret_cast<const char *>(a.group),
                          reinterpret_cast<const char *>(a.name), a.count, a.length,
                          a.values) == 0
                   ? 0
                   : 1;
      });
  if (walked != 0) {
    cspgfre(part);
    return nullptr;
  }
  return part;
}

}  // namespace catalog

namespace {

PartRecord *read_record(FILE *stream, int64_t offset, int *length, int *rc) {
  RecordHead head{};
  *length = 0;
  *rc = kReadFailed;
  if (!read_record_head(stream, offset, &head)) return nullptr;
  *length = head.length;
  if (head.deleted != 0) {
    *rc = kReadDeleted;
    return nullptr;
  }
  auto buffer = host_buffer(static_cast<size_t>(head.length));
  if (!buffer) return nullptr;
  size_t size = static_cast<size_t>(head.length);
  if (io::read_direct(stream, offset, buffer.get(), size) != size) return nullptr;
  PartRecord *part = catalog::decode_record(buffer.get(), size);
  if (!part) return nullptr;
  *rc = 0;
  return part;
}

// Pushes the values of group/attribute of every live record whose values
// fill exactly `size` bytes.
int collect_values(FILE *stream, int size, const char *group, const char *attribute,
                   const int *stack) {
  auto buffer = host_buffer(size > 0 ? static_cast<size_t>(size) : 0);
  if (!buffer) return 2;
  if (!stream) return 0;
  int64_t end = io::size_direct(stream);
  int64_t offset = 0;
  while (offset < end) {
    int length = 0, rc = 0;
    PartRecord *part = read_record(stream, offset, &length, &rc);
    if (length <= 0) break;  // no trustworthy length to step over
    offset += length;
    if (!part) continue;
    int count = 0, value_length = 0, push_rc = 0;
    cspgretn(part, group, attribute, &count, &value_length, &rc);
    if (rc == 0 && int64_t{count} * value_length == size) {
      cspgretv(part, group, attribute, buffer.get(), &rc);
      int pushed = 0;
      guspus(stack, buffer.get(), &pushed, &push_rc);
    }
    cspgfre(part);
    if (push_rc != 0) return push_rc;
  }
  return 0;
}

}  // namespace
}  // namespace pcs

extern "C" {

PCS_API PartRecord *cspgetrc(FILE *stream, int offset, int *length, int *rc) {
  return pcs::guarded_value<PartRecord *>(nullptr, [&] {
    return pcs::read_record(stream, offset, length, rc);
  });
}

PCS_API void cspdelrc(FILE *stream, int offset, int *rc) {
  pcs::guarded(rc, 1, [&] { *rc = pcs::mark_deleted(stream, offset) ? 0 : 1; });
}

PCS_API void cspgkey(FILE **stream, const int *value_size, const char *group,
                     const char *attribute, const int *stack, int *rc) {
  pcs::guarded(rc, 2, [&] {
    *rc = pcs::collect_values(stream ? *stream : nullptr, *value_size, group, attribute, stack);
  });
}

}  // extern "C"
