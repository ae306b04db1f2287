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

namespace {

// Rebuilds a part record from the record bytes in `view`, following the
// stored offsets. Every offset and count is checked against the record, and
// the groups and attributes it names may not add up to more bytes than the
// record holds, so overlapping tables cannot make the work grow beyond the
// record's size. Returns kReadFailed for damage or no memory.
class RecordDecoder {
 public:
  RecordDecoder(ByteView view, PartRecord *part)
      : view_(view), part_(part), budget_(static_cast<int64_t>(view.size())) {}

  bool decode() {
    int32_t at = 0, groups = 0;
    if (!view_.be32(8, &at) || !view_.be32(at, &groups) || groups < 0) return false;
    int64_t table = int64_t{at} + 4;
    if (!view_.has(table, int64_t{groups} * 4)) return false;
    for (int32_t i = 0; i < groups; ++i) {
      int32_t group = 0;
      view_.be32(table + 4 * i, &group);
      if (!decode_group(group)) return false;
    }
    return true;
  }

 private:
  bool spend(int64_t bytes) {
    budget_ -= bytes;
    return budget_ >= 0;
  }

  bool decode_group(int64_t at) {
    const unsigned char *name = view_.bytes(at, PCS_NAME_LEN);
    int32_t attributes = 0;
    if (!name || !view_.be32(at + 8, &attributes) || attributes < 0) return false;
    int64_t table = at + 12;
    if (!view_.has(table, int64_t{attributes} * 4) || !spend(12 + int64_t{attributes} * 4))
      return false;
    for (int32_t i = 0; i < attributes; ++i) {
      int32_t attribute = 0;
      view_.be32(table + 4 * i, &attribute);
      if (!decode_attribute(reinterpret_cast<const char *>(name), attribute)) return false;
    }
    return true;
  }

  bool decode_attribute(const char *group, int64_t at) {
    const unsigned char *name = view_.bytes(at, PCS_NAME_LEN);
    int32_t count = 0, length = 0;
    if (!name || !view_.be32(at + 8, &count) || !view_.be32(at + 12, &length)) return false;
    if (count < 1 || length < 1) return false;
    int64_t size = int64_t{count} * length;
    const unsigned char *values = view_.bytes(at + 16, size);
    if (!values || !spend(16 + size)) return false;
    return record_add(part_, group, reinterpret_cast<const char *>(name), count, length, values) ==
           0;
  }

  ByteView view_;
  PartRecord *part_;
  int64_t budget_;
};

}  // namespace

PartRecord *decode_record(const unsigned char *bytes, size_t size) {
  PartRecord *part = csgrlnew();
  if (!part) return nullptr;
  if (!RecordDecoder(ByteView(bytes, size), part).decode()) {
    cspgfre(part);
    return nullptr;
  }
  return part;
}

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
  PartRecord *part = decode_record(buffer.get(), size);
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
