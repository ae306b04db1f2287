// Reading keyed records: status words, the structural check of a record,
// key extraction from a record buffer, rebuilding group lists, and the read
// at a file position (cspgtr).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs {
namespace {

int32_t word(ByteView record, int64_t offset) { return get_be32(record.data() + offset); }

int32_t directory_offset(ByteView record) { return word(record, 8); }
int32_t group_count(ByteView record) { return word(record, directory_offset(record)); }
int32_t group_offset(ByteView record, int i) {
  return word(record, directory_offset(record) + 4 + 4 * int64_t{i});
}

void no_memory(const char *message) { std::fputs(message, stdout); }

}  // namespace

int status_code(int32_t status, int64_t position, int32_t length, int64_t size) {
  if (status == 0) return keyed::kOk;
  if (status == keyed::kDeleted) return keyed::kDead;
  return status >= position + length && status < size ? keyed::kDead : keyed::kDamaged;
}

bool record_valid(ByteView record) {
  int64_t length = static_cast<int64_t>(record.size());
  if (length < keyed::kHeaderSize + 5 || record.data()[length - 1] != '\n') return false;
  int64_t d = directory_offset(record);
  int32_t groups = 0;
  if (d < keyed::kHeaderSize || !record.be32(d, &groups) || groups < 0) return false;
  int64_t budget = length - 17 - 4 * int64_t{groups};
  if (budget < 0 || d + 4 + 4 * int64_t{groups} > length - 1) return false;
  for (int i = 0; i < groups; ++i) {
    int64_t h = group_offset(record, i);
    int32_t count = 0;
    if (h < keyed::kHeaderSize || !record.has(h, 12) || !record.be32(h + 8, &count) || count < 0)
      return false;
    budget -= 12 + 4 * int64_t{count};
    if (budget < 0 || !record.has(h + 12, 4 * int64_t{count})) return false;
    for (int j = 0; j < count; ++j) {
      int64_t a = word(record, h + 12 + 4 * int64_t{j});
      if (a < keyed::kHeaderSize || !record.has(a, 16)) return false;
      int64_t bytes = value_bytes(word(record, a + 8), word(record, a + 12));
      if (bytes < 0) return false;
      budget -= 16 + bytes;
      if (budget < 0 || !record.has(a + 16, bytes)) return false;
    }
  }
  return true;
}

int cspkig(const KeyedFile *file, ByteView record, int32_t h, unsigned char *key) {
  const unsigned char *name = record.data() + h;
  int32_t count = word(record, h + 8);
  int field = 0;
  for (int i = 0; i < file->KeyCount; field += file->KeyLengths[i], ++i) {
    if (std::memcmp(name, file->KeyGroups + 8 * i, PCS_NAME_LEN) != 0) continue;
    for (int j = 0; j < count; ++j) {
      int32_t a = word(record, h + 12 + 4 * int64_t{j});
      if (std::memcmp(record.data() + a, file->KeyAttrs + 8 * i, PCS_NAME_LEN) != 0) continue;
      if (value_bytes(word(record, a + 8), word(record, a + 12)) != file->KeyLengths[i])
        return keyed::kKeySize;
      std::memcpy(key + field, record.data() + a + 16, static_cast<size_t>(file->KeyLengths[i]));
    }
  }
  return keyed::kOk;
}

int record_key(const KeyedFile *file, ByteView record, unsigned char *key) {
  std::memset(key, ' ', static_cast<size_t>(key_length(file)));
  int32_t groups = group_count(record);
  for (int i = 0; i < groups; ++i) {
    int rc = cspkig(file, record, group_offset(record, i), key);
    if (rc != keyed::kOk) return rc;
  }
  return keyed::kOk;
}

int gtagrp(ByteView record, int32_t h, KeyedGroup **made) {
  auto *group = host_alloc<KeyedGroup>();
  if (!group) return keyed::kNoMemory;
  std::memcpy(group->GroupName, record.data() + h, PCS_NAME_LEN);
  group->AttrCount = word(record, h + 8);
  for (int j = 0; j < group->AttrCount; ++j) {
    int32_t a = word(record, h + 12 + 4 * int64_t{j});
    auto *attribute = host_alloc<KeyedAttribute>();
    int64_t bytes = value_bytes(word(record, a + 8), word(record, a + 12));
    if (attribute)
      attribute->AttrValue = static_cast<unsigned char *>(gimaloc(std::max<int64_t>(bytes, 1)));
    if (!attribute || !attribute->AttrValue) {
      gifree(attribute);
      free_group(group);
      return keyed::kNoMemory;
    }
    std::memcpy(attribute->AttrName, record.data() + a, PCS_NAME_LEN);
    attribute->nAttrs = word(record, a + 8);
    attribute->nAttrLength = word(record, a + 12);
    std::memcpy(attribute->AttrValue, record.data() + a + 16, static_cast<size_t>(bytes));
    attribute->NextAttr = group->FirstAttr;
    group->FirstAttr = attribute;
  }
  *made = group;
  return keyed::kOk;
}

int decode_record(ByteView record, KeyedGroup **list) {
  *list = nullptr;
  int32_t groups = group_count(record);
  for (int i = 0; i < groups; ++i) {
    KeyedGroup *group = nullptr;
    if (gtagrp(record, group_offset(record, i), &group) != keyed::kOk) {
      no_memory("  gimaloc error\n");
      free_groups(*list);
      *list = nullptr;
      return keyed::kNoMemory;
    }
    group->NextGroup = *list;
    *list = group;
  }
  return keyed::kOk;
}

int read_record_at(FILE *stream, int64_t position, int64_t size, int32_t *length,
                   KeyedGroup **list) {
  *list = nullptr;
  if (!stream || size < 0 || position < 0 || position >= size) return keyed::kInUse;
  unsigned char header[keyed::kHeaderSize];
  auto have = static_cast<size_t>(std::min<int64_t>(keyed::kHeaderSize, size - position));
  if (have < 4 || !io::read_at(stream, position, header, have)) return keyed::kDamaged;
  int32_t l = get_be32(header);
  *length = l;
  if (l < keyed::kHeaderSize || l > size - position) return keyed::kDamaged;
  int status = status_code(get_be32(header + 4), position, l, size);
  if (status != keyed::kOk) return status;
  HostPtr<unsigned char> buffer(static_cast<unsigned char *>(gimaloc(static_cast<size_t>(l))));
  if (!buffer) {
    no_memory("   gimaloc error\n");
    return keyed::kNoMemory;
  }
  std::memcpy(buffer.get(), header, keyed::kHeaderSize);
  size_t rest = static_cast<size_t>(l) - keyed::kHeaderSize;
  if (io::read(stream, buffer.get() + keyed::kHeaderSize, rest) != rest) return keyed::kDamaged;
  ByteView record(buffer.get(), static_cast<size_t>(l));
  if (!record_valid(record)) return keyed::kDamaged;
  return decode_record(record, list);
}

}  // namespace pcs

extern "C" void cspgtr(FILE **stream, const int *position, int *length, KeyedGroup **list,
                       int *rc) {
  pcs::guarded(rc, pcs::keyed::kNoMemory, [&] {
    FILE *file = stream ? *stream : nullptr;
    *rc = pcs::read_record_at(file, *position, file ? pcs::io::size(file) : -1, length, list);
  });
}
