// Writing keyed records: the size of a group list's record, its encoding
// (group blocks with the attributes before their header, the directory
// last) and the key of an in-memory group list.
#include <cstring>

#include "keyed/keyed.h"

namespace pcs {
namespace {

int64_t attribute_block(const KeyedAttribute *a) {
  int64_t bytes = value_bytes(a->nAttrs, a->nAttrLength);
  return bytes < 0 ? -1 : 16 + bytes;
}

}  // namespace

int64_t value_bytes(int64_t count, int64_t length) {
  if (count < 0 || length < 0) return -1;
  int64_t bytes = count * length;
  return bytes > INT32_MAX ? -1 : bytes;
}

int64_t record_size(const KeyedGroup *list) {
  int64_t total = keyed::kHeaderSize + 4 + 1;
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

// The group header goes after the attribute blocks; each block's offset is
// written into the header as the block is written.
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
    unsigned char *block = record + *offset;
    std::memcpy(block, a->AttrName, PCS_NAME_LEN);
    put_be32(block + 8, a->nAttrs);
    put_be32(block + 12, a->nAttrLength);
    int64_t bytes = value_bytes(a->nAttrs, a->nAttrLength);
    if (bytes > 0) std::memcpy(block + 16, a->AttrValue, static_cast<size_t>(bytes));
    put_be32(record + header + 12 + 4 * i, *offset);
    *offset += static_cast<int32_t>(16 + bytes);
  }
  *offset = header + 12 + 4 * count;
  return header;
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
  int32_t offset = keyed::kHeaderSize;
  int i = 0;
  for (const KeyedGroup *g = list; g; g = g->NextGroup, ++i)
    put_be32(out + directory + 4 + 4 * i, ptagrp(g, out, &offset));
  out[length - 1] = '\n';
}

int keygrp(const KeyedFile *file, const KeyedGroup *list, unsigned char *key) {
  std::memset(key, ' ', static_cast<size_t>(key_length(file)));
  int field = 0;
  for (int i = 0; i < file->KeyCount; field += file->KeyLengths[i], ++i) {
    for (const KeyedGroup *g = list; g; g = g->NextGroup) {
      if (std::memcmp(g->GroupName, file->KeyGroups + 8 * i, PCS_NAME_LEN) != 0) continue;
      for (const KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr) {
        if (std::memcmp(a->AttrName, file->KeyAttrs + 8 * i, PCS_NAME_LEN) != 0) continue;
        if (value_bytes(a->nAttrs, a->nAttrLength) != file->KeyLengths[i]) return keyed::kKeySize;
        if (file->KeyLengths[i] > 0) std::memcpy(key + field, a->AttrValue, file->KeyLengths[i]);
      }
    }
  }
  return keyed::kOk;
}

}  // namespace pcs
