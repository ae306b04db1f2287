// Encoders of the two record layouts: catalog records (directory first, each
// group header before its attributes) and keyed group records (attribute
// blocks before their group header, directory last), and the reader of a
// keyed record's framing.
#include "common/record_codec.h"

#include <algorithm>
#include <cstring>

#include "common/damage.h"
#include "common/fileio.h"
#include "host/host_services.h"

namespace pcs {
namespace {

template <class T>
T *list_data(void *node) {
  return static_cast<T *>(pplstgtd(node));
}

size_t value_size(const codec::AttributeFields &a) {
  return static_cast<size_t>(a.count) * static_cast<size_t>(a.length);
}

// The attributes of a group of a keyed record or a generic part: the first,
// the next, and how many a group may hold.
const KeyedAttribute *first_attribute(const KeyedGroup *g) { return g->FirstAttr; }
const CgAttribute *first_attribute(const CgGroup *g) { return g->attributes; }
const KeyedAttribute *next_attribute(const KeyedAttribute *a) { return a->NextAttr; }
const CgAttribute *next_attribute(const CgAttribute *a) { return a->next; }
int32_t attribute_limit(const KeyedGroup *) { return INT32_MAX; }
int32_t attribute_limit(const CgGroup *g) { return g->attributeCount; }
const char *group_name(const KeyedGroup *g) { return g->GroupName; }
const char *group_name(const CgGroup *g) { return g->name; }

template <class G>
int64_t block_size(const G *group, int32_t *count) {
  int64_t total = 12;
  *count = 0;
  const int32_t limit = attribute_limit(group);
  for (auto *a = first_attribute(group); a && *count < limit; a = next_attribute(a), ++*count) {
    const int64_t bytes = codec::stored_bytes(codec::fields(a));
    if (bytes < 0) return -1;
    total += 4 + 16 + bytes;
    if (total > INT32_MAX) return -1;
  }
  return total;
}

// The attribute blocks first, then the group header with its offset table.
template <class G>
int32_t encode_block(const G *group, int32_t count, int32_t offset, unsigned char *out) {
  codec::BufferSink attributes(out);
  int64_t header = 0;
  int i = 0;
  for (auto *a = first_attribute(group); a && i < count; a = next_attribute(a), ++i)
    header += 16 + codec::stored_bytes(codec::fields(a));
  unsigned char *head = out + header;
  std::memcpy(head, group_name(group), PCS_NAME_LEN);
  put_be32(head + 8, count);
  int64_t at = 0;
  i = 0;
  for (auto *a = first_attribute(group); a && i < count; a = next_attribute(a), ++i) {
    put_be32(head + 12 + 4 * i, offset + static_cast<int32_t>(at));
    codec::put_attribute(codec::fields(a), attributes);
    at += 16 + codec::stored_bytes(codec::fields(a));
  }
  return offset + static_cast<int32_t>(header);
}

}  // namespace

namespace codec {

int64_t stored_bytes(const AttributeFields &a) {
  const int64_t bytes = keyed::value_bytes(a.count, a.length);
  return bytes > 0 && !a.values ? -1 : bytes;
}

bool BufferSink::put(const void *data, size_t size) {
  if (size > 0) std::memcpy(at_, data, size);
  at_ += size;
  return true;
}

bool StreamSink::put(const void *data, size_t size) {
  const size_t n = io::write(stream_, data, size);
  written_ += n;
  return n == size;
}

bool put_attribute(const AttributeFields &attribute, ByteSink &out) {
  unsigned char words[8];
  put_be32(words, attribute.count);
  put_be32(words + 4, attribute.length);
  return out.put(attribute.name, PCS_NAME_LEN) && out.put(words, 4) && out.put(words + 4, 4) &&
         out.put(attribute.values, value_size(attribute));
}

// ---- catalog layout -----------------------------------------------------------

size_t catalog_header_size(int32_t groups) { return 16 + 4 * static_cast<size_t>(groups); }

void encode_catalog_header(PartRecord *record, int32_t length, unsigned char *out) {
  const int32_t groups = record->GroupCount;
  put_be32(out, length);
  put_be32(out + 4, 0);
  put_be32(out + 8, kCatalogDirectory);
  put_be32(out + 12, groups);
  int64_t offset = static_cast<int64_t>(catalog_header_size(groups));
  int32_t i = 0;
  for (void *g = record->GroupList; g && i < groups; g = pplstnxt(g), ++i) {
    put_be32(out + 16 + 4 * i, static_cast<int32_t>(offset));
    offset += catalog::group_size(list_data<AttrGroup>(g));
  }
}

bool put_catalog_group(const AttrGroup *group, int32_t offset, ByteSink &out) {
  unsigned char word[4];
  put_be32(word, group->AttrCount);
  if (!out.put(group->GroupName, PCS_NAME_LEN) || !out.put(word, 4)) return false;
  int32_t next = offset + 12 + 4 * group->AttrCount;
  for (void *node = group->AttrList; node; node = pplstnxt(node)) {
    put_be32(word, next);
    if (!out.put(word, 4)) return false;
    next += static_cast<int32_t>(16 + value_size(fields(list_data<Attribute>(node))));
  }
  for (void *node = group->AttrList; node; node = pplstnxt(node))
    if (!put_attribute(fields(list_data<Attribute>(node)), out)) return false;
  return true;
}

// ---- keyed layout -------------------------------------------------------------

int64_t keyed_block_size(const KeyedGroup *group, int32_t *count) {
  return block_size(group, count);
}
int64_t keyed_block_size(const CgGroup *group, int32_t *count) {
  return block_size(group, count);
}
int32_t encode_keyed_block(const KeyedGroup *group, int32_t count, int32_t offset,
                           unsigned char *out) {
  return encode_block(group, count, offset, out);
}
int32_t encode_keyed_block(const CgGroup *group, int32_t count, int32_t offset,
                           unsigned char *out) {
  return encode_block(group, count, offset, out);
}

void encode_keyed_header(int32_t length, int32_t flag, int32_t directory, unsigned char *out) {
  put_be32(out, length);
  put_be32(out + 4, flag);
  put_be32(out + 8, directory);
}

}  // namespace codec

// ---- whole records ------------------------------------------------------------

namespace catalog {

int64_t group_size(const AttrGroup *group) {
  int64_t size = 12 + 4 * int64_t{group->AttrCount};
  for (void *a = group->AttrList; a; a = pplstnxt(a))
    size += 16 + static_cast<int64_t>(value_size(codec::fields(list_data<Attribute>(a))));
  return size;
}

int64_t record_size(PartRecord *record) {
  if (!record || record->GroupCount < 1) return 0;
  int64_t size = static_cast<int64_t>(codec::catalog_header_size(record->GroupCount)) + 1;
  for (void *g = record->GroupList; g; g = pplstnxt(g))
    size += group_size(list_data<AttrGroup>(g));
  return size;
}

void encode_record(PartRecord *record, unsigned char *out) {
  const auto length = static_cast<int32_t>(record_size(record));
  codec::encode_catalog_header(record, length, out);
  int32_t offset = static_cast<int32_t>(codec::catalog_header_size(record->GroupCount));
  codec::BufferSink sink(out + offset);
  int i = 0;
  for (void *g = record->GroupList; g && i < record->GroupCount; g = pplstnxt(g), ++i) {
    const auto *group = list_data<AttrGroup>(g);
    codec::put_catalog_group(group, offset, sink);
    offset += static_cast<int32_t>(group_size(group));
  }
  out[length - 1] = '\n';
}

}  // namespace catalog

namespace keyed {

int64_t value_bytes(int64_t count, int64_t length) {
  if (count < 0 || length < 0) return -1;
  int64_t bytes = count * length;
  return bytes > INT32_MAX ? -1 : bytes;
}

namespace {

const KeyedGroup *next_group(const KeyedGroup *g) { return g->NextGroup; }
const CgGroup *next_group(const CgGroup *g) { return g->next; }

template <class G>
int64_t keyed_record_size(const G *list) {
  int64_t total = codec::kHeaderBytes + 4 + 1;
  for (const G *g = list; g; g = next_group(g)) {
    int32_t count = 0;
    const int64_t block = codec::keyed_block_size(g, &count);
    if (block < 0) return -1;
    total += 4 + block;
    if (total > INT32_MAX) return -1;
  }
  return total;
}

template <class G>
void encode_keyed_record(const G *list, unsigned char *out) {
  int32_t groups = 0;
  for (const G *g = list; g; g = next_group(g)) ++groups;
  const auto length = static_cast<int32_t>(keyed_record_size(list));
  const int32_t directory = length - 5 - 4 * groups;
  codec::encode_keyed_header(length, 0, directory, out);
  put_be32(out + directory, groups);
  int32_t offset = codec::kHeaderBytes;
  int i = 0;
  for (const G *g = list; g; g = next_group(g), ++i) {
    int32_t count = 0;
    const int64_t block = codec::keyed_block_size(g, &count);
    const int32_t header = codec::encode_keyed_block(g, count, offset, out + offset);
    put_be32(out + directory + 4 + 4 * i, header);
    offset += static_cast<int32_t>(block);
  }
  out[length - 1] = '\n';
}

}  // namespace

int64_t record_size(const KeyedGroup *list) { return keyed_record_size(list); }
int64_t record_size(const CgGroup *part) { return keyed_record_size(part); }
void encode_record(const KeyedGroup *list, unsigned char *out) { encode_keyed_record(list, out); }
void encode_record(const CgGroup *part, unsigned char *out) { encode_keyed_record(part, out); }

}  // namespace keyed

namespace codec {

void Shape::mark(int64_t offset, int64_t bytes) {
  std::memset(mask_ + offset, 0xFF, static_cast<size_t>(bytes));
}

// Compared 16 bytes at a time, the last 16 overlapping when the size is not
// a multiple of 16 (every walked record has at least 16 bytes).
bool Shape::matches(ByteView record) const {
  if (size_ == 0 || record.size() != size_) return false;
  using Block = uint64_t __attribute__((vector_size(16)));
  const auto load = [](const unsigned char *at) {
    Block block;
    std::memcpy(&block, at, sizeof block);
    return block;
  };
  const unsigned char *in = record.data();
  Block differ = {0, 0};
  size_t at = 0;
  for (; at + 16 <= size_; at += 16) differ |= (load(in + at) & load(mask_ + at)) ^ load(bytes_ + at);
  if (at < size_) {
    at = size_ - 16;
    differ |= (load(in + at) & load(mask_ + at)) ^ load(bytes_ + at);
  }
  return (differ[0] | differ[1]) == 0;
}

bool Shape::learn(ByteView record, const Layout &layout) {
  size_ = 0;
  if (record.size() > kMostBytes || record.size() < 16) return false;
  std::memset(mask_, 0, record.size());
  const int rc = walk_record(
      record, layout,
      [&](const GroupBytes &g) {
        mark(g.header, 12 + 4 * int64_t{g.count});
        return 0;
      },
      [&](const AttributeBytes &a) {
        mark(a.name - record.data(), 16);
        return 0;
      });
  if (rc != 0) return false;
  int32_t directory = 0, groups = 0;
  record.be32(8, &directory);
  record.be32(directory, &groups);
  mark(8, 4);
  mark(directory, 4 + 4 * int64_t{groups});
  mark(static_cast<int64_t>(record.size()) - 1, 1);
  for (size_t i = 0; i < record.size(); ++i) bytes_[i] = record.data()[i] & mask_[i];
  size_ = record.size();
  return true;
}

KeyedRead refuse_frame(int64_t position) { return refuse(KeyedRead::damaged, position); }

namespace {
io::FirstRead first_read;  // keyed records
}  // namespace

KeyedRead read_keyed_record(FILE *stream, int64_t position, int64_t size, int32_t *length,
                            HostPtr<unsigned char> *buffer) {
  if (!stream || size < 0 || position < 0 || position >= size) return KeyedRead::beyond_end;
  // A record too short for its framing still has its length word read.
  // One pread takes the frame and, for most records, the whole record.
  const int64_t left = size - position;
  unsigned char head[io::FirstRead::kMost];
  std::memset(head, 0, kFrameBytes);
  const auto first = static_cast<size_t>(std::min<int64_t>(left, kFrameBytes));
  const auto asked = static_cast<size_t>(std::min<int64_t>(left, first_read.size()));
  const size_t got = left < 4 ? 0 : io::read_direct(stream, position, head, asked);
  if (left < 4 || got < first) return refuse(KeyedRead::damaged, position);
  const KeyedRead frame = keyed_frame(head, position, left, length);
  if (frame == KeyedRead::damaged) return frame;
  first_read.note(*length);
  const auto l = static_cast<size_t>(*length);
  *buffer = host_buffer(l);
  if (!*buffer) {
    std::fputs("   gimaloc error\n", stdout);
    return KeyedRead::no_memory;
  }
  const size_t have = std::min(got, l);
  std::memcpy(buffer->get(), head, have);
  if (have < l && io::read_direct(stream, position + static_cast<int64_t>(have),
                                  buffer->get() + have, l - have) != l - have)
    return refuse(KeyedRead::damaged, position);
  if (buffer->get()[l - 1] != '\n') return refuse(KeyedRead::damaged, position + l - 1);
  return frame;
}

}  // namespace codec
}  // namespace pcs
