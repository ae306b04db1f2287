// Encoders of the two record layouts: catalog records (directory first, each
// group header before its attributes) and keyed group records (attribute
// blocks before their group header, directory last).
#include "common/record_codec.h"

#include <cstring>

#include "common/fileio.h"
#include "host/host_services.h"

namespace pcs {
namespace {

// Writes an attribute block (name, count, length, values) at `out`.
template <class A>
void put_attribute(const A *a, size_t bytes, unsigned char *out) {
  std::memcpy(out, a->AttrName, PCS_NAME_LEN);
  put_be32(out + 8, a->nAttrs);
  put_be32(out + 12, a->nAttrLength);
  if (bytes > 0) std::memcpy(out + 16, a->AttrValue, bytes);
}

template <class T>
T *list_data(void *node) {
  return static_cast<T *>(pplstgtd(node));
}

}  // namespace

// ---- catalog layout -----------------------------------------------------------

namespace catalog {
namespace {

size_t attribute_values(const Attribute *a) {
  return static_cast<size_t>(a->nAttrs) * static_cast<size_t>(a->nAttrLength);
}

// Writes the group at `offset`: header, offset table, then its attributes.
// Returns the offset after it.
int32_t put_group(const AttrGroup *group, unsigned char *out, int32_t offset) {
  std::memcpy(out + offset, group->GroupName, PCS_NAME_LEN);
  put_be32(out + offset + 8, group->AttrCount);
  int32_t next = offset + 12 + 4 * group->AttrCount;
  int i = 0;
  for (void *node = group->AttrList; node; node = pplstnxt(node), ++i) {
    const auto *a = list_data<Attribute>(node);
    put_be32(out + offset + 12 + 4 * i, next);
    put_attribute(a, attribute_values(a), out + next);
    next += static_cast<int32_t>(16 + attribute_values(a));
  }
  return next;
}

}  // namespace

int64_t group_size(const AttrGroup *group) {
  int64_t size = 12 + 4 * int64_t{group->AttrCount};
  for (void *a = group->AttrList; a; a = pplstnxt(a)) {
    const auto *attribute = list_data<Attribute>(a);
    size += 16 + int64_t{attribute->nAttrs} * attribute->nAttrLength;
  }
  return size;
}

int64_t record_size(PartRecord *record) {
  if (!record || record->GroupCount < 1) return 0;
  int64_t size = 16 + 4 * int64_t{record->GroupCount} + 1;
  for (void *g = record->GroupList; g; g = pplstnxt(g))
    size += group_size(list_data<AttrGroup>(g));
  return size;
}

void encode_record(PartRecord *record, unsigned char *out) {
  const auto length = static_cast<int32_t>(record_size(record));
  const int32_t groups = record->GroupCount;
  put_be32(out, length);
  put_be32(out + 4, 0);
  put_be32(out + 8, 12);
  put_be32(out + 12, groups);
  int32_t offset = 16 + 4 * groups;
  int i = 0;
  for (void *g = record->GroupList; g && i < groups; g = pplstnxt(g), ++i) {
    put_be32(out + 16 + 4 * i, offset);
    offset = put_group(list_data<AttrGroup>(g), out, offset);
  }
  out[length - 1] = '\n';
}

}  // namespace catalog

// ---- keyed layout -------------------------------------------------------------

namespace keyed {
namespace {

int64_t attribute_block(const KeyedAttribute *a) {
  int64_t bytes = value_bytes(a->nAttrs, a->nAttrLength);
  return bytes < 0 ? -1 : 16 + bytes;
}

// Writes one group block at `*offset`, advancing it; returns the offset of
// its group header, which follows the attribute blocks.
int32_t ptagrp(const KeyedGroup *group, unsigned char *record, int32_t *offset) {
  int32_t header = *offset;
  int32_t count = 0;
  for (const KeyedAttribute *a = group->FirstAttr; a; a = a->NextAttr) {
    header += static_cast<int32_t>(attribute_block(a));
    ++count;
  }
  std::memcpy(record + header, group->GroupName, PCS_NAME_LEN);
  put_be32(record + header + 8, count);
  int i = 0;
  for (const KeyedAttribute *a = group->FirstAttr; a; a = a->NextAttr, ++i) {
    put_attribute(a, static_cast<size_t>(value_bytes(a->nAttrs, a->nAttrLength)),
                  record + *offset);
    put_be32(record + header + 12 + 4 * i, *offset);
    *offset += static_cast<int32_t>(attribute_block(a));
  }
  *offset = header + 12 + 4 * count;
  return header;
}

}  // namespace

int64_t value_bytes(int64_t count, int64_t length) {
  if (count < 0 || length < 0) return -1;
  int64_t bytes = count * length;
  return bytes > INT32_MAX ? -1 : bytes;
}

int64_t record_size(const KeyedGroup *list) {
  int64_t total = codec::kHeaderBytes + 4 + 1;
  for (const KeyedGroup *g = list; g; g = g->NextGroup) {
    total += 4 + 12;
    for (const KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr) {
      int64_t block = attribute_block(a);
      if (block < 0) return -1;
      total += 4 + block;
      if (total > INT32_MAX) return -1;
    }
  }
  return total > INT32_MAX ? -1 : total;
}

void encode_record(const KeyedGroup *list, unsigned char *out) {
  int32_t groups = 0;
  for (const KeyedGroup *g = list; g; g = g->NextGroup) ++groups;
  auto length = static_cast<int32_t>(record_size(list));
  int32_t directory = length - 5 - 4 * groups;
  put_be32(out, length);
  put_be32(out + 4, 0);
  put_be32(out + 8, directory);
  put_be32(out + directory, groups);
  int32_t offset = codec::kHeaderBytes;
  int i = 0;
  for (const KeyedGroup *g = list; g; g = g->NextGroup, ++i)
    put_be32(out + directory + 4 + 4 * i, ptagrp(g, out, &offset));
  out[length - 1] = '\n';
}

}  // namespace keyed

namespace codec {

KeyedRead read_keyed_record(FILE *stream, int64_t position, int64_t size, int32_t *length,
                            HostPtr<unsigned char> *buffer) {
  if (!stream || size < 0 || position < 0 || position >= size) return KeyedRead::beyond_end;
  unsigned char word[4];
  if (size - position < 4 || !io::read_at(stream, position, word, 4)) return KeyedRead::damaged;
  const int32_t l = get_be32(word);
  *length = l;
  if (l < kKeyedLayout.min_length || l > size - position) return KeyedRead::damaged;
  *buffer = host_buffer(static_cast<size_t>(l));
  if (!*buffer) {
    std::fputs("   gimaloc error\n", stdout);
    return KeyedRead::no_memory;
  }
  if (!io::read_at(stream, position, buffer->get(), static_cast<size_t>(l)) ||
      buffer->get()[l - 1] != '\n')
    return KeyedRead::damaged;
  return get_be32(buffer->get() + 4) == 0 ? KeyedRead::ok : KeyedRead::not_live;
}

}  // namespace codec
}  // namespace pcs
