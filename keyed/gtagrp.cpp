// Reading keyed records: key extraction from a record's bytes (cspkig; the
// KeyReader of many records skips the walk of records shaped like the last)
// and from an in-memory group list (keygrp), rebuilding group lists (gtagrp),
// and the read at a file position (cspgtr). Record bytes are only reached
// through the checked walker of common/record_codec.h.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/damage.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs::keyed {
namespace {

bool same_name(const void *first, const void *second) {
  return std::memcmp(first, second, PCS_NAME_LEN) == 0;
}

// Offers one attribute to every key field whose group and attribute names
// it carries: its value bytes fill the field, through
// copy(field offset, values, size).
template <class Copy>
int cspkig(const KeyedFile *file, const codec::AttributeBytes &a, Copy &&copy) {
  int field = 0;
  for (int i = 0; i < file->KeyCount; field += file->KeyLengths[i], ++i) {
    if (!same_name(a.group, file->KeyGroups + 8 * i) || !same_name(a.name, file->KeyAttrs + 8 * i))
      continue;
    if (static_cast<int64_t>(a.value_bytes()) != file->KeyLengths[i]) return kKeySize;
    copy(field, a.values, a.value_bytes());
  }
  return kOk;
}

int walk_code(int rc) { return rc == codec::kDamaged ? kDamaged : rc; }

template <class Copy>
int walk_key(const KeyedFile *file, ByteView record, Copy &&copy) {
  return walk_code(codec::walk_record(
      record, codec::kKeyedLayout, codec::kSkip,
      [&](const codec::AttributeBytes &a) { return cspkig(file, a, copy); }));
}

}  // namespace

int record_key(const KeyedFile *file, ByteView record, unsigned char *key) {
  std::memset(key, ' ', static_cast<size_t>(key_length(file)));
  return walk_key(file, record, [key](int field, const unsigned char *values, size_t size) {
    std::memcpy(key + field, values, size);
  });
}

KeyReader::KeyReader(const KeyedFile *file)
    : file_(file), key_length_(static_cast<size_t>(key_length(file))) {}

bool KeyReader::replay(ByteView record, unsigned char *key) const {
  int n = 0;
  const Copy *copies = memo_.replay(record, &n);
  for (int i = 0; copies && i < n; ++i)
    std::memcpy(key + copies[i].field, record.data() + copies[i].from, copies[i].size);
  return copies != nullptr;
}

int KeyReader::read(ByteView record, int64_t position, unsigned char *key) {
  std::memset(key, ' ', key_length_);
  if (replay(record, key)) return kOk;
  memo_.forget();
  int rc = kOk;
  {
    DamageBase base(position);
    rc = walk_key(file_, record, [&](int field, const unsigned char *values, size_t size) {
      std::memcpy(key + field, values, size);
      memo_.note({field, static_cast<int32_t>(values - record.data()), size});
    });
  }
  memo_.learn(record, codec::kKeyedLayout, rc == kOk);
  return rc;
}

int keygrp(const KeyedFile *file, const KeyedGroup *list, unsigned char *key) {
  std::memset(key, ' ', static_cast<size_t>(key_length(file)));
  int field = 0;
  for (int i = 0; i < file->KeyCount; field += file->KeyLengths[i], ++i) {
    for (const KeyedGroup *g = list; g; g = g->NextGroup) {
      if (!same_name(g->GroupName, file->KeyGroups + 8 * i)) continue;
      for (const KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr) {
        if (!same_name(a->AttrName, file->KeyAttrs + 8 * i)) continue;
        if (value_bytes(a->nAttrs, a->nAttrLength) != file->KeyLengths[i]) return kKeySize;
        if (file->KeyLengths[i] > 0) std::memcpy(key + field, a->AttrValue, file->KeyLengths[i]);
      }
    }
  }
  return kOk;
}

// gtagrp for every group of the directory: each group goes to the head of
// the list as the walker meets it, each attribute to the head of its group.
int decode_record(ByteView record, KeyedGroup **list) {
  *list = nullptr;
  KeyedGroup *built = nullptr;
  const int rc = codec::walk_record(
      record, codec::kKeyedLayout,
      [&](const codec::GroupBytes &g) {
        auto *group = host_alloc<KeyedGroup>();
        if (!group) return kNoMemory;
        std::memcpy(group->GroupName, g.name, PCS_NAME_LEN);
        group->AttrCount = g.count;
        group->NextGroup = built;
        built = group;
        return 0;
      },
      [&](const codec::AttributeBytes &a) {
        auto *attribute = host_attribute<KeyedAttribute>(reinterpret_cast<const char *>(a.name),
                                                         a.count, a.length, a.values,
                                                         a.value_bytes());
        if (!attribute) return kNoMemory;
        attribute->NextAttr = built->FirstAttr;
        built->FirstAttr = attribute;
        return 0;
      });
  if (rc != 0) {
    free_groups(built);
    if (rc == kNoMemory) std::fputs("  gimaloc error\n", stdout);
    return walk_code(rc);
  }
  *list = built;
  return kOk;
}

int read_record_at(FILE *stream, int64_t position, int64_t size, int32_t *length,
                   KeyedGroup **list) {
  *list = nullptr;
  return codec::read_and_decode(stream, position, size, length,
                                {kInUse, kDamaged, kNoMemory, kDead},
                                [list](ByteView record) { return decode_record(record, list); });
}

}  // namespace pcs::keyed

extern "C" void cspgtr(FILE **stream, const int *position, int *length, KeyedGroup **list,
                       int *rc) {
  pcs::guarded(rc, pcs::keyed::kNoMemory, [&] {
    FILE *file = stream ? *stream : nullptr;
    *rc = pcs::keyed::read_record_at(file, *position, file ? pcs::io::size(file) : -1, length,
                                     list);
  });
}
