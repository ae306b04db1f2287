// Internal operations of keyed group files: file name resolution, record
// decoding and key extraction, the record walk shared by the file open and
// the table open, and group list helpers.
#ifndef PCS_KEYED_KEYED_H
#define PCS_KEYED_KEYED_H

#include <cstdint>
#include <cstdio>

#include "common/coding.h"
#include "common/record_codec.h"
#include "include/pcs.h"
#include "keyed/tree.h"

namespace pcs::keyed {

// Result codes of the keyed operations.
inline constexpr int kOk = PCS_OK;
inline constexpr int kNoMemory = PCS_KEYED_NO_MEMORY;
inline constexpr int kDuplicate = PCS_KEYED_DUPLICATE;
inline constexpr int kKeySize = PCS_KEYED_KEY_SIZE;
inline constexpr int kNotFound = PCS_KEYED_NOT_FOUND;
inline constexpr int kDamaged = PCS_KEYED_DAMAGED;
inline constexpr int kInUse = PCS_KEYED_IN_USE;
inline constexpr int kDead = PCS_KEYED_DEAD;
inline constexpr int kHeaderSize = 12;  // length, status, directory offset
inline constexpr int32_t kDeleted = -1;

// ---- file name resolution ----------------------------------------------

// Expands a leading "$NAME" of a name field of `*width` characters into
// `destination` (at least *width bytes). An unset variable leaves the name
// as it is.
char *covertn(const char *name, char *destination, const int *width);
// covertn with width 53 into a 54-byte path: terminated, trailing blanks
// turned into 0 bytes. False when the name refers to an unset variable or
// its expansion is longer than 53 characters (it is never cut short).
bool resolve_keyed_name(const char *name, char path[PCS_KEYED_NAME_LEN + 1]);

// ---- records -------------------------------------------------------------
// The layout and its encoder are in common/record_codec.h.


// Every status word other than 0 (live) marks a record that is not live.
inline bool live(int32_t status) { return status == 0; }

// The key of a record (whole, length word first): every group of the
// directory is offered to every key field (cspkig); the last matching
// attribute wins. `key` holds K bytes and is filled with blanks first.
// kOk, kKeySize, or kDamaged when the record's structure is not sound.
int record_key(const KeyedFile *file, ByteView record, unsigned char *key);
// record_key for the records of one file read in turn: where a record has
// the shape of the last one read clean (codec::Shape), its key is copied
// from the same offsets without a walk. Refusals are noted at the record's
// `position` in the file.
class KeyReader {
 public:
  explicit KeyReader(const KeyedFile *file);
  int read(ByteView record, int64_t position, unsigned char *key);
  // The key fields of a record shaped like the last one read, by replaying
  // its copies (no walk, no report); false, with nothing done, for a record
  // of another shape.
  bool replay(ByteView record, unsigned char *key) const;

 private:
  // Key field bytes [field, field + size) come from record offset `from`.
  struct Copy {
    int field;
    int32_t from;
    size_t size;
  };

  const KeyedFile *file_;
  size_t key_length_;
  codec::ShapeMemo<Copy, 16> memo_;
};
// The key of an in-memory group list (keygrp); kOk or kKeySize.
int keygrp(const KeyedFile *file, const KeyedGroup *list, unsigned char *key);

// Rebuilds the group list of a record, each group and each attribute put at
// the head of its list (both lists come out reversed). kOk, kNoMemory or
// kDamaged; nothing is kept on failure.
int decode_record(ByteView record, KeyedGroup **list);

// Reads the record at `position` of a stream whose records end by `size`:
// the codes of cspgtr. The length is set as soon as it is read. Reads are
// checked, so a size beyond the real end is safe.
int read_record_at(FILE *stream, int64_t position, int64_t size, int32_t *length,
                   KeyedGroup **list);

// Checks the status word of a record that is not live: -1, or the offset
// of a later record of the file (size bytes) with the same key. kOk,
// kDamaged or kNoMemory. The stream's position moves.
int check_replaced(const KeyedFile *file, FILE *stream, int64_t position, int32_t status,
                   int64_t size);
// Completes a replacement that a crash interrupted: the complete record
// `last` at `position` (the file's last) carries the key of `stored`, which
// is still live, and differs from it; the old record's status word is
// pointed to it and synced, `stored` follows, and standard error says so.
// kOk; kDuplicate when the records are equal or the write failed;
// kNoMemory.
int finish_replacement(KeyedFile *file, IndexElement *stored, ByteView last, int64_t position);


// ---- record walk -----------------------------------------------------------

// Walks the records of a file from position 0 in order. Each record's length
// must lie inside the file and its last byte must be a newline (kDamaged
// otherwise); records that are not live are stepped over, live ones are
// read whole for the caller to decode. The file is read with pread into a
// window that reads ahead: the first read takes only what is needed, each
// later one twice as much as the one before, up to 256 KiB.
class RecordWalk {
 public:
  RecordWalk(FILE *stream, int64_t size) : stream_(stream), size_(size) {}
  // With a file, every replaced record's status word is checked as well
  // (keyed::check_replaced).
  RecordWalk(FILE *stream, int64_t size, const KeyedFile *chain)
      : stream_(stream), size_(size), chain_(chain) {}
  ~RecordWalk();
  RecordWalk(const RecordWalk &) = delete;
  RecordWalk &operator=(const RecordWalk &) = delete;

  // Moves to the next live record. kOk with *live true: record() holds it
  // and position() is where it starts; kOk with *live false at the end; or
  // kDamaged, kNoMemory.
  int next(bool *live);
  // The live record's bytes, until the next call of next().
  ByteView record() const { return ByteView(record_, static_cast<size_t>(length_)); }
  int64_t position() const { return position_; }
  int32_t length() const { return length_; }
  // Makes the next call of next() start at `position`, a record start
  // found by other means.
  void resume_at(int64_t position) { next_ = position; }

 private:
  // File bytes [position, position + size) from the window, read when
  // they are not in it; null when a read falls short. *no_memory when the
  // window could not grow.
  const unsigned char *view(int64_t position, size_t size, bool *no_memory) {
    *no_memory = false;
    if (position >= window_start_ &&
        position + static_cast<int64_t>(size) <= window_start_ + static_cast<int64_t>(window_size_))
      return window_ + (position - window_start_);
    return read_window(position, size, no_memory);
  }
  // view() of bytes not in the window: the window moves to `position`.
  const unsigned char *read_window(int64_t position, size_t size, bool *no_memory);

  FILE *stream_;
  int64_t size_;
  const KeyedFile *chain_ = nullptr;
  int64_t next_ = 0;
  int64_t position_ = 0;
  int32_t length_ = 0;
  const unsigned char *record_ = nullptr;
  unsigned char *window_ = nullptr;
  size_t capacity_ = 0;
  int64_t window_start_ = 0;
  size_t window_size_ = 0;
  size_t ahead_ = 0;
};

// ---- open files and tables -------------------------------------------------

// Total key length K of a handle.
int key_length(const KeyedFile *file);
// A new handle holding the resolved name and a copy of the key description;
// kOk, kNoMemory, kKeySize (negative count or length) or kNotFound (the name
// names an unset variable). Key names are k fields of 8 characters each.
int new_handle(const char *name, int count, const char *groups, const char *attributes,
               const int *lengths, KeyedFile **file);
// Releases a handle and everything it holds; closes its stream. Returns the
// result of closing the stream (0 or EOF).
int release_handle(KeyedFile *file);
bool is_table(const KeyedFile *file);

int cspind(KeyedFile *file);
int cgtind(KeyedFile *file);
int keystr(Heap *index, int key_length, TableElement *element, int32_t position);

// ---- group lists ------------------------------------------------------------

// A one-attribute group holding a copy of count * length value bytes.
int cspngp(const char *group, const char *attribute, int count, int length, const void *values,
           KeyedGroup **made);
int atradd(KeyedGroup *group, const char *attribute, int count, int length, const void *values);
int atvadd(KeyedGroup *group, const char *attribute, int count, int length, const void *values);
void free_attribute(KeyedAttribute *attribute);
void free_group(KeyedGroup *group);
void free_groups(KeyedGroup *list);

}  // namespace pcs::keyed

#endif
