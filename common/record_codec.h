// The record structure shared by catalog records, keyed group records and
// generic part records: a length word, a flag word, the offset of the group
// directory at 8, group headers (name, attribute count, attribute offsets)
// and attribute blocks (name, count, length, values) reached through offset
// tables, and a closing newline. Catalog records put the directory first
// and each group header before its attributes; keyed records put the
// attributes before their group header and the directory last. Readers
// follow the offsets, so one checked walker serves every layout; a Layout
// says what each one accepts. Encoders are per layout.
#ifndef PCS_COMMON_RECORD_CODEC_H
#define PCS_COMMON_RECORD_CODEC_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/coding.h"
#include "common/damage.h"
#include "common/memory.h"
#include "include/pcs.h"

namespace pcs::codec {

// What a layout accepts beyond the offsets and counts lying inside the
// record.
struct Layout {
  int32_t min_length;       // shortest record
  int32_t min_offset;       // smallest directory, group or attribute offset
  int32_t min_value;        // smallest value count and value length
  bool closing_newline;     // the last byte is a newline no table reaches
  bool reserve_directory;   // header, directory and newline are not spent
                            // by the groups' byte budget
};

inline constexpr int32_t kHeaderBytes = 12;  // length, flag, directory offset

// True when a record of `layout` whose length word is `length` is no
// shorter than the layout allows and fits the `left` bytes of the file from
// its start.
inline bool length_fits(const Layout &layout, int64_t length, int64_t left) {
  return length >= layout.min_length && length <= left;
}

// Catalog records: offsets are followed wherever they point, every
// attribute holds at least one value of at least one byte, and the newline
// is not looked at.
inline constexpr Layout kCatalogLayout{16, 0, 1, false, false};
// Keyed group records (also generic part records): offsets past the
// header, empty attributes allowed, and a closing newline.
inline constexpr Layout kKeyedLayout{kHeaderBytes + 5, kHeaderBytes, 0, true, true};

// walk_record's result for damage (noted with the offset in the record);
// visitors return 0 to go on or a positive code to stop the walk with it.
inline constexpr int kDamaged = -1;

// A group as the walker finds it: its name points at the 8-byte field in
// the record.
struct GroupBytes {
  const unsigned char *name;
  int32_t header;  // offset of the group header
  int32_t count;   // attribute count word
};

// An attribute as the walker finds it: names point at the 8-byte fields
// inside the record, values at count * length bytes.
struct AttributeBytes {
  const unsigned char *group;
  const unsigned char *name;
  int32_t count;
  int32_t length;
  const unsigned char *values;

  size_t value_bytes() const { return static_cast<size_t>(count) * static_cast<size_t>(length); }
};

// Walks records of one layout. Every offset, count and length is checked
// against the record before anything behind it is read, and the groups and
// attributes reached may not add up to more bytes than the record holds, so
// overlapping tables cannot make the work grow beyond the record's size.
class Walk {
 public:
  Walk(ByteView record, const Layout &layout)
      : layout_(layout),
        body_(record.data(),
              layout.closing_newline && record.size() > 0 ? record.size() - 1 : record.size()),
        whole_(record),
        budget_(static_cast<int64_t>(record.size())) {}

  // The whole record: on_group(const GroupBytes &) for each group in
  // directory order, then on_attribute(const AttributeBytes &) for each of
  // its attributes in table order. 0 after the last attribute, kDamaged, or
  // the first non-zero result of a visitor.
  template <class OnGroup, class OnAttribute>
  int record(OnGroup &&on_group, OnAttribute &&on_attribute) {
    const int64_t size = static_cast<int64_t>(whole_.size());
    if (size < layout_.min_length) return refuse(kDamaged, 0);
    if (layout_.closing_newline && whole_.data()[size - 1] != '\n')
      return refuse(kDamaged, size - 1);
    int32_t directory = 0, groups = 0;
    // A directory word pointing outside the record is refused where it stands.
    if (!body_.be32(8, &directory) || directory < layout_.min_offset || !body_.has(directory, 4))
      return refuse(kDamaged, 8);
    if (!body_.be32(directory, &groups) || !table_fits(int64_t{directory} + 4, groups) ||
        (layout_.reserve_directory && !spend(kHeaderBytes + 5 + 4 * int64_t{groups})))
      return refuse(kDamaged, directory);
    for (int32_t g = 0; g < groups; ++g) {
      int32_t header = 0;
      body_.be32(int64_t{directory} + 4 + 4 * int64_t{g}, &header);
      if (int rc = group(header, on_group, on_attribute); rc != 0) return rc;
    }
    return 0;
  }

  // One group whose header stands at `header`, whatever the record around
  // it: the record's size is the budget.
  template <class OnGroup, class OnAttribute>
  int group(int64_t header, OnGroup &&on_group, OnAttribute &&on_attribute) {
    GroupBytes found{body_.bytes(header, PCS_NAME_LEN), static_cast<int32_t>(header), 0};
    if (header < layout_.min_offset || !found.name || !body_.be32(header + 8, &found.count) ||
        !table_fits(header + 12, found.count) || !spend(12 + int64_t{found.count} * 4))
      return refuse(kDamaged, header);
    if (int rc = on_group(found); rc != 0) return rc;
    for (int32_t a = 0; a < found.count; ++a) {
      int32_t at = 0;
      body_.be32(header + 12 + 4 * int64_t{a}, &at);
      AttributeBytes attribute{found.name, body_.bytes(at, PCS_NAME_LEN), 0, 0, nullptr};
      if (at < layout_.min_offset || !attribute.name || !body_.be32(int64_t{at} + 8, &attribute.count) ||
          !body_.be32(int64_t{at} + 12, &attribute.length) ||
          attribute.count < layout_.min_value || attribute.length < layout_.min_value)
        return refuse(kDamaged, at);
      const int64_t bytes = int64_t{attribute.count} * attribute.length;
      attribute.values = body_.bytes(int64_t{at} + 16, bytes);
      // No attribute's serialized size passes INT32_MAX.
      if (!attribute.values || bytes > INT32_MAX - 16 || !spend(16 + bytes))
        return refuse(kDamaged, int64_t{at} + 16);
      if (int rc = on_attribute(attribute); rc != 0) return rc;
    }
    return 0;
  }

 private:
  bool spend(int64_t n) { return (budget_ -= n) >= 0; }
  bool table_fits(int64_t table, int32_t count) const {
    return count >= 0 && body_.has(table, int64_t{count} * 4);
  }

  Layout layout_;
  ByteView body_;   // what tables may reach: the record less its newline
  ByteView whole_;
  int64_t budget_;
};

// Visitor that accepts everything.
inline constexpr auto kSkip = [](const auto &) { return 0; };

// Walks a whole record with both visitors.
template <class OnGroup, class OnAttribute>
int walk_record(ByteView record, const Layout &layout, OnGroup &&on_group,
                OnAttribute &&on_attribute) {
  return Walk(record, layout).record(on_group, on_attribute);
}

// True when every offset, count and length of the record is sound.
inline bool record_valid(ByteView record, const Layout &layout) {
  return walk_record(record, layout, kSkip, kSkip) == 0;
}

// The bytes a walk's course depends on, learnt from a record that walked
// clean: its size and last byte, and the directory, group header and
// attribute header bytes the walk read (offsets, counts, lengths, names).
// A record of the same layout with the same size and the same bytes there
// walks the same way: clean, through the same groups and attributes at the
// same offsets. Readers of many records use it to skip the walk of records
// shaped like the last one; values never take part.
class Shape {
 public:
  // Longest record whose shape is learnt.
  static constexpr size_t kMostBytes = 2048;

  // Learns the shape of `record`, whose walk with `layout` returned 0.
  // False (nothing learnt) when it is longer than kMostBytes or does not
  // walk clean after all.
  bool learn(ByteView record, const Layout &layout);
  // True when `record` has the learnt shape.
  bool matches(ByteView record) const;

 private:
  void mark(int64_t offset, int64_t bytes);

  size_t size_ = 0;  // 0 while nothing is learnt
  unsigned char bytes_[kMostBytes];  // the record's bytes under the mask, else 0
  unsigned char mask_[kMostBytes];   // 0xFF over the bytes the walk read
};

// What a reader of many records does with each record, remembered with the
// shape of the last record it read in full: up to N steps, replayed on a
// record of that shape instead of walking it.
//
//   if (const Step *steps = memo.replay(record, &n)) ... take the n steps
//   memo.forget(); ... walk, memo.note(step) for each step taken ...
//   memo.learn(record, layout, walked_clean);
template <class Step, int N>
class ShapeMemo {
 public:
  // The steps remembered, when `record` has the learnt shape; else null.
  const Step *replay(ByteView record, int *count) const {
    if (!known_ || !shape_.matches(record)) return nullptr;
    *count = count_;
    return steps_;
  }
  // The steps remembered, when a shape is learnt; else null.
  const Step *steps(int *count) const {
    *count = count_;
    return known_ ? steps_ : nullptr;
  }
  // Starts over: the next record is read in full.
  void forget() {
    known_ = false;
    fits_ = true;
    count_ = 0;
  }
  void note(const Step &step) {
    if (count_ == N) fits_ = false;
    if (fits_) steps_[count_++] = step;
  }
  // Keeps the steps noted since forget() for records shaped like `record`,
  // when it was read without refusal and they all fitted.
  void learn(ByteView record, const Layout &layout, bool read_clean) {
    known_ = read_clean && fits_ && shape_.learn(record, layout);
  }

 private:
  Shape shape_;
  bool known_ = false, fits_ = true;
  int count_ = 0;
  Step steps_[N];
};

// What reading one keyed-layout record from a file found.
enum class KeyedRead { ok, beyond_end, damaged, no_memory, not_live };

// The framing of the keyed-layout record at `position`, from its first
// kFrameBytes bytes `head`, with `left` bytes of the file from there: damaged
// when the length word is below the shortest record, runs past the file or
// past 32-bit offsets; else not_live or ok by the status word. *length is
// the length word. The closing newline is for the caller to check.
// frame_of notes no refusal (for readers that must not); keyed_frame notes
// a damaged frame at `position`.
inline constexpr int kFrameBytes = 8;
inline KeyedRead frame_of(const unsigned char *head, int64_t position, int64_t left,
                          int32_t *length) {
  const int32_t l = get_be32(head);
  *length = l;
  if (!length_fits(kKeyedLayout, l, left) || position + l > INT32_MAX) return KeyedRead::damaged;
  return get_be32(head + 4) == 0 ? KeyedRead::ok : KeyedRead::not_live;
}
KeyedRead refuse_frame(int64_t position);
inline KeyedRead keyed_frame(const unsigned char *head, int64_t position, int64_t left,
                             int32_t *length) {
  const KeyedRead frame = frame_of(head, position, left, length);
  return frame == KeyedRead::damaged ? refuse_frame(position) : frame;
}

// Reads the keyed-layout record at `position` of a file of `size` bytes into
// a host buffer (*buffer, *length bytes; *length is set as soon as the length
// word is read): its length must fit the file and its last byte be a
// newline. The status word is checked last; nothing is decoded.
KeyedRead read_keyed_record(FILE *stream, int64_t position, int64_t size, int32_t *length,
                            HostPtr<unsigned char> *buffer);

// The codes a reader of keyed-layout records gives for what
// read_keyed_record found.
struct KeyedCodes {
  int beyond_end, damaged, no_memory, not_live;
};

// Reads the record at `position` and returns decode(ByteView) of its bytes,
// with refusals noted at their place in the file; otherwise the code of
// what was found.
template <class Decode>
int read_and_decode(FILE *stream, int64_t position, int64_t size, int32_t *length,
                    const KeyedCodes &codes, Decode &&decode) {
  HostPtr<unsigned char> buffer;
  switch (read_keyed_record(stream, position, size, length, &buffer)) {
    case KeyedRead::ok: {
      DamageBase base(position);
      return decode(ByteView(buffer.get(), static_cast<size_t>(*length)));
    }
    case KeyedRead::beyond_end:
      return codes.beyond_end;
    case KeyedRead::no_memory:
      return codes.no_memory;
    case KeyedRead::not_live:
      return codes.not_live;
    case KeyedRead::damaged:
      break;
  }
  return codes.damaged;
}

}  // namespace pcs::codec

// ---- encoders ---------------------------------------------------------------
// Every writer of either layout goes through these pieces, so the byte
// layout is set down here only.

namespace pcs::codec {

// An attribute as the encoders see it, from any of its in-memory forms.
struct AttributeFields {
  const void *name;  // 8-byte field
  int32_t count;
  int32_t length;
  const void *values;  // count * length bytes
};
inline AttributeFields fields(const Attribute *a) {
  return {a->AttrName, a->nAttrs, a->nAttrLength, a->AttrValue};
}
inline AttributeFields fields(const KeyedAttribute *a) {
  return {a->AttrName, a->nAttrs, a->nAttrLength, a->AttrValue};
}
inline AttributeFields fields(const CgAttribute *a) {
  return {a->name, a->valueCount, a->valueLength, a->values};
}

// Value bytes of an attribute, or -1 when a count or length is negative,
// the bytes pass 32 bits or the values are missing.
int64_t stored_bytes(const AttributeFields &a);

// Where an encoder puts its bytes, a piece at a time: put returns false to
// stop the encoder.
class ByteSink {
 public:
  virtual bool put(const void *data, size_t size) = 0;

 protected:
  ~ByteSink() = default;
};

// Bytes laid into a buffer large enough for them.
class BufferSink final : public ByteSink {
 public:
  explicit BufferSink(unsigned char *out) : at_(out) {}
  bool put(const void *data, size_t size) override;

 private:
  unsigned char *at_;
};

// Bytes written to a stream through the file layer, one write per piece;
// written() counts what reached it, also of a short write.
class StreamSink final : public ByteSink {
 public:
  explicit StreamSink(FILE *stream) : stream_(stream) {}
  bool put(const void *data, size_t size) override;
  size_t written() const { return written_; }

 private:
  FILE *stream_;
  size_t written_ = 0;
};

// An attribute block, in four pieces: name, count, length, values.
bool put_attribute(const AttributeFields &attribute, ByteSink &out);

// ---- catalog layout: directory first, each group header before its
// attributes.

inline constexpr int32_t kCatalogDirectory = 12;  // directory offset word

// Bytes of the record header (length, flag, directory offset, group count,
// group offsets) of a record of `groups` groups.
size_t catalog_header_size(int32_t groups);
// Lays the header of `record` into `out`: `length` (the record's size or
// the larger room it keeps), flag 0, the directory offset, the group count
// and each group's offset from the group sizes.
void encode_catalog_header(PartRecord *record, int32_t length, unsigned char *out);
// A group standing at `offset` of its record: name, attribute count and
// each attribute offset as pieces of their own, then the attribute blocks.
bool put_catalog_group(const AttrGroup *group, int32_t offset, ByteSink &out);

// ---- keyed layout: each group's attribute blocks, then its header; the
// directory last.

// Bytes of a group block (attribute blocks, group header, offset table), or
// -1 when an attribute cannot be stored; *count is the attributes it takes
// (a generic part group takes no more than its attributeCount).
int64_t keyed_block_size(const KeyedGroup *group, int32_t *count);
int64_t keyed_block_size(const CgGroup *group, int32_t *count);
// Lays the block of `count` attributes into `out`, which stands at `offset`
// of its record; returns the offset of the group header.
int32_t encode_keyed_block(const KeyedGroup *group, int32_t count, int32_t offset,
                           unsigned char *out);
int32_t encode_keyed_block(const CgGroup *group, int32_t count, int32_t offset,
                           unsigned char *out);
// Lays the record header into `out`: length, status flag, directory offset.
void encode_keyed_header(int32_t length, int32_t flag, int32_t directory, unsigned char *out);

}  // namespace pcs::codec

namespace pcs::catalog {

// Bytes of a group in a catalog record: its header, offset table and
// attribute blocks.
int64_t group_size(const AttrGroup *group);
// Bytes of the catalog record of `record` (0 for a record without groups);
// above INT32_MAX when it cannot be stored.
int64_t record_size(PartRecord *record);
// Serializes the record into `out` (record_size bytes): length, flag 0,
// 12, the group count and offset table, each group header followed by its
// attributes, the newline.
void encode_record(PartRecord *record, unsigned char *out);

}  // namespace pcs::catalog

namespace pcs::keyed {

// Bytes of the keyed record of a group list (or of a generic part, whose
// groups give at most attributeCount attributes each), or -1 when the list
// holds an attribute that cannot be stored or would not fit a 32-bit length.
int64_t record_size(const KeyedGroup *list);
int64_t record_size(const CgGroup *part);
// Serializes the list into `out` (record_size bytes) as a live record: each
// group's attribute blocks, then its header; the directory last.
void encode_record(const KeyedGroup *list, unsigned char *out);
void encode_record(const CgGroup *part, unsigned char *out);

// Bytes of count values of length bytes, or -1 when negative or too large.
int64_t value_bytes(int64_t count, int64_t length);

}  // namespace pcs::keyed

#endif
