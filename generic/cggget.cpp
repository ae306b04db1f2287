// Reading generic part files: a record at a file position rebuilt as a
// query part (cggget), the same from a file image held in memory, the image
// read in large blocks, and one group rebuilt from a record buffer
// (cggtagrp). Record bytes are reached only through the checked walker of
// the keyed layout; every item goes to the head of its chain, so groups and
// attributes come back in the reverse of their order in the record.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/record_codec.h"
#include "common/report.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

int walk_code(int rc) { return rc == codec::kDamaged ? PCS_INPUT_ENDED : rc; }

// Puts a copy of the attribute at the head of the group's chain.
int add_attribute(CgGroup *group, const codec::AttributeBytes &found) {
  auto *attribute = host_alloc<CgAttribute>();
  const size_t bytes = found.value_bytes();
  unsigned char *values = bytes > 0 ? static_cast<unsigned char *>(gimaloc(bytes)) : nullptr;
  if (!attribute || (bytes > 0 && !values)) {
    gifree(attribute);
    gifree(values);
    std::fputs("  gimaloc error\n", stderr);
    return PCS_GEN_NO_MEMORY;
  }
  std::memcpy(attribute->name, found.name, PCS_NAME_LEN);
  attribute->valueCount = found.count;
  attribute->valueLength = found.length;
  if (bytes > 0) std::memcpy(values, found.values, bytes);
  attribute->values = values;
  attribute->next = group->attributes;
  group->attributes = attribute;
  return 0;
}

void fill_group(CgGroup *group, const codec::GroupBytes &found) {
  std::memcpy(group->name, found.name, PCS_NAME_LEN);
  group->attributeCount = found.count;
}

// Rebuilds every group of a record whose length, newline and status have
// been checked. On failure nothing is kept.
int decode_part(ByteView record, CgGroup **part) {
  CgGroup *built = nullptr;
  const int rc = codec::walk_record(
      record, codec::kKeyedLayout,
      [&](const codec::GroupBytes &found) {
        auto *group = host_alloc<CgGroup>();
        if (!group) return int{PCS_GEN_NO_MEMORY};
        fill_group(group, found);
        group->next = built;
        built = group;
        return 0;
      },
      [&](const codec::AttributeBytes &found) { return add_attribute(built, found); });
  if (rc != 0) {
    cggfre(built);
    return walk_code(rc);
  }
  *part = built;
  return 0;
}

}  // namespace

int read_part(FILE *stream, int64_t position, int32_t *length, CgGroup **part) {
  const int64_t size = stream ? io::size(stream) : -1;
  if (position < 0 || position >= size) return PCS_AT_END;
  *part = nullptr;
  return codec::read_and_decode(
      stream, position, size, length,
      {PCS_AT_END, PCS_INPUT_ENDED, PCS_GEN_NO_MEMORY, PCS_RECORD_DELETED},
      [part](ByteView record) { return decode_part(record, part); });
}

int read_part(ByteView image, int64_t position, int32_t *length, CgGroup **part) {
  const int64_t size = static_cast<int64_t>(image.size());
  if (position < 0 || position >= size) return PCS_AT_END;
  *part = nullptr;
  if (size - position < 4) return PCS_INPUT_ENDED;
  const unsigned char *at = image.data() + position;
  *length = static_cast<int32_t>(get_be32(at));
  if (*length < codec::kKeyedLayout.min_length || *length > size - position ||
      at[*length - 1] != '\n')
    return PCS_INPUT_ENDED;
  if (get_be32(at + 4) != 0) return PCS_RECORD_DELETED;
  return decode_part(ByteView(at, static_cast<size_t>(*length)), part);
}

int read_image(FILE *stream, HostPtr<unsigned char> *image, size_t *size) {
  constexpr size_t kBlock = size_t{1} << 20;
  *size = 0;
  const int64_t end = stream ? io::size(stream) : -1;
  if (end < 0 || io::seek(stream, 0, SEEK_SET) != 0) return PCS_INPUT_ENDED;
  io::advise_sequential(stream);
  *image = host_buffer(static_cast<size_t>(end));
  if (!*image) return PCS_GEN_NO_MEMORY;
  for (size_t done = 0; done < static_cast<size_t>(end);) {
    const size_t want = std::min(kBlock, static_cast<size_t>(end) - done);
    if (io::read(stream, image->get() + done, want) != want) return PCS_INPUT_ENDED;
    done += want;
  }
  *size = static_cast<size_t>(end);
  return 0;
}

int read_group(ByteView record, int64_t header, CgGroup *group) {
  codec::Walk walk(record, codec::kKeyedLayout);
  return walk_code(walk.group(
      header,
      [&](const codec::GroupBytes &found) {
        fill_group(group, found);
        return 0;
      },
      [&](const codec::AttributeBytes &found) { return add_attribute(group, found); }));
}

}  // namespace pcs::generic

extern "C" {

void cggget(FILE **stream, const int *position, int *length, CgGroup **part, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    int32_t read = *length;
    *rc = pcs::generic::read_part(stream ? *stream : nullptr, *position, &read, part);
    *length = read;
  });
}

void cggtagrp(const void *record, const int *length, const int *offset, CgGroup *group, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    const pcs::ByteView view(static_cast<const unsigned char *>(record),
                             *length > 0 ? static_cast<size_t>(*length) : 0);
    *rc = pcs::generic::read_group(view, *offset, group);
  });
}

}  // extern "C"
