// Reading catalog records: the checked record header, cspgetrc (one record
// into a new part record), cspdelrc (mark deleted) and cspgkey (collect one
// attribute's values from every record of a file), and cspgvisit (the
// attributes of a record's bytes in memory).
#include <algorithm>
#include <atomic>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/damage.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "records/records.h"

namespace pcs::catalog {

bool read_record_head(FILE *stream, int64_t offset, RecordHead *head) {
  unsigned char words[8];
  if (!stream || offset < 0 || io::read_direct(stream, offset, words, sizeof words) != sizeof words)
    return refuse(false, offset);
  int32_t length = get_be32(words);
  if (length < kRecordMinLength || offset + length > io::size_direct(stream))
    return refuse(false, offset);
  *head = RecordHead{length, get_be32(words + 4)};
  return true;
}


namespace {

// An attribute of a record, by its offsets in the record.
struct AttributeStep {
  int32_t group, name, values, count, length;
};

// Each thread's last record shape walked in full, with its attributes: a
// record of the same shape walks the same way, so its attributes are
// taken from there without the walk.
thread_local codec::ShapeMemo<AttributeStep, 64> attribute_memo;

// The checked walk of a catalog record, calling visit(AttributeBytes) for
// each attribute: 0, kDamaged or the first non-zero result of `visit`.
template <class Visit>
int each_attribute(ByteView record, Visit &&visit) {
  const unsigned char *bytes = record.data();
  const auto at = [bytes](const AttributeStep &s) {
    return codec::AttributeBytes{bytes + s.group, bytes + s.name, s.count, s.length, bytes + s.values};
  };
  int n = 0;
  if (const AttributeStep *steps = attribute_memo.replay(record, &n)) {
    for (int i = 0; i < n; ++i)
      if (const int rc = visit(at(steps[i])); rc != 0) return rc;
    return 0;
  }
  attribute_memo.forget();
  const int walked = codec::walk_record(
      record, codec::kCatalogLayout, codec::kSkip, [&](const codec::AttributeBytes &a) {
        attribute_memo.note({static_cast<int32_t>(a.group - bytes), static_cast<int32_t>(a.name - bytes),
                             static_cast<int32_t>(a.values - bytes), a.count, a.length});
        return visit(a);
      });
  attribute_memo.learn(record, codec::kCatalogLayout, walked == 0);
  return walked;
}

}  // namespace

int decode_record(const unsigned char *bytes, size_t size, PartRecord **made) {
  *made = nullptr;
  PartRecord *part = records::csgrlnew();
  if (!part) return PCS_NO_MEMORY;
  records::RecordAppender appender(part);
  const int walked = each_attribute(
      ByteView(bytes, size), [&appender, bytes](const codec::AttributeBytes &a) {
        const int rc = appender.add(reinterpret_cast<const char *>(a.group),
                                    reinterpret_cast<const char *>(a.name), a.count, a.length,
                                    a.values);
        // A part record cannot hold one attribute twice: that is damage.
        return rc == PCS_ATTR_EXISTS ? refuse(codec::kDamaged, a.name - bytes) : rc;
      });
  if (walked != 0) {
    cspgfre(part);
    return walked;
  }
  *made = part;
  return 0;
}

PartRecord *decode_record(const unsigned char *bytes, size_t size) {
  PartRecord *part = nullptr;
  decode_record(bytes, size, &part);
  return part;
}


namespace {

int decoded(const unsigned char *bytes, size_t size, PartRecord **part) {
  const int rc = catalog::decode_record(bytes, size, part);
  return rc == codec::kDamaged ? kReadFailed : rc;
}

io::FirstRead first_read;  // catalog records

// The record at `offset` into *part: 0, kReadFailed (unreadable or
// damaged), kReadDeleted or PCS_NO_MEMORY.
int read_record(FILE *stream, int64_t offset, int *length, PartRecord **part) {
  *length = 0;
  *part = nullptr;
  unsigned char first[io::FirstRead::kMost];
  if (!stream || offset < 0) return refuse(kReadFailed, offset);
  const size_t asked = first_read.size();
  const size_t got = io::read_direct(stream, offset, first, asked);
  if (got < 8) return refuse(kReadFailed, offset);
  const int32_t record_length = get_be32(first);
  if (record_length < kRecordMinLength) return refuse(kReadFailed, offset);
  const size_t size = static_cast<size_t>(record_length);
  // A short read ended at the end of the file; a full one may have more.
  if (size > got && (got < asked || offset + record_length > io::size_direct(stream)))
    return refuse(kReadFailed, offset);
  first_read.note(record_length);
  *length = record_length;
  if (get_be32(first + 4) != 0) return kReadDeleted;
  DamageBase base(offset);
  if (size <= got) return decoded(first, size, part);
  auto buffer = host_buffer(size);
  if (!buffer) return PCS_NO_MEMORY;
  if (io::read_direct(stream, offset, buffer.get(), size) != size)
    return refuse(kReadFailed, offset);
  return decoded(buffer.get(), size, part);
}

// Pushes the values of group/attribute of every live record whose values
// fill exactly `size` bytes.
int collect_values(FILE *stream, int size, const char *group, const char *attribute,
                   const int *stack) {
  auto buffer = host_buffer(size > 0 ? static_cast<size_t>(size) : 0);
  if (!buffer) return kCollectNoMemory;
  if (!stream) return 0;
  int64_t end = io::size_direct(stream);
  int64_t offset = 0;
  while (offset < end) {
    int length = 0;
    PartRecord *part = nullptr;
    int rc = read_record(stream, offset, &length, &part);
    if (rc == PCS_NO_MEMORY) return kCollectNoMemory;  // never a partial answer as success
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

// The checked walk of decode_record, handing each attribute to `visit`.
int visit_record(const unsigned char *bytes, int64_t size, PcsAttributeVisit visit, void *context) {
  if (!bytes || size < 0 || !visit) return kReadFailed;
  const int walked = each_attribute(
      ByteView(bytes, static_cast<size_t>(size)), [&](const codec::AttributeBytes &a) {
        return visit(context, reinterpret_cast<const char *>(a.group),
                     reinterpret_cast<const char *>(a.name), a.count, a.length, a.values);
      });
  return walked == codec::kDamaged ? kReadFailed : walked;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" {

PCS_DIAG_API int cspgvisit(const unsigned char *record, long long length, PcsAttributeVisit visit,
                           void *context) {
  return pcs::guarded_value(pcs::catalog::kReadFailed, [&] {
    return pcs::catalog::visit_record(record, length, visit, context);
  });
}

PCS_API PartRecord *cspgetrc(FILE *stream, int offset, int *length, int *rc) {
  return pcs::guarded_value<PartRecord *>(nullptr, [&] {
    PartRecord *part = nullptr;
    *rc = pcs::catalog::read_record(stream, offset, length, &part);
    if (*rc == PCS_NO_MEMORY) *rc = pcs::catalog::kReadFailed;
    return part;
  });
}

PCS_API void cspdelrc(FILE *stream, int offset, int *rc) {
  pcs::guarded(rc, PCS_RECORD_UNREADABLE, [&] {
    *rc = pcs::catalog::mark_deleted(stream, offset) ? PCS_OK : PCS_RECORD_UNREADABLE;
  });
}

PCS_API void cspgkey(FILE **stream, const int *value_size, const char *group,
                     const char *attribute, const int *stack, int *rc) {
  pcs::guarded(rc, pcs::catalog::kCollectNoMemory, [&] {
    *rc = pcs::catalog::collect_values(stream ? *stream : nullptr, *value_size, group, attribute, stack);
  });
}

}  // extern "C"
