// Internal operations of catalog maintenance and of the catalog record
// readers it shares with the duplicate merge: sequential readers of catalog
// and text files, the key readers, the record space and the index writer of
// the index builder, and the process layout of the maintenance dispatcher.
// The public entry points (csgrn, csgia, csbndx, cscprt2, cscprs, ...) are
// in include/pcs.h.
#ifndef PCS_MAINTENANCE_MAINTENANCE_H
#define PCS_MAINTENANCE_MAINTENANCE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "include/pcs.h"

namespace pcs {

// ---- sequential readers -----------------------------------------------------

// Reads a stream front to back through pcs::io in chunks of its own
// 64 KiB buffer. A failed read looks like the end of the stream.
class ChunkReader {
 public:
  explicit ChunkReader(FILE *stream) : stream_(stream) {}
  ChunkReader(const ChunkReader &) = delete;
  ChunkReader &operator=(const ChunkReader &) = delete;

  // The next byte, or -1 at the end.
  int get() {
    if (pos_ == end_ && !fill()) return -1;
    return buffer_[pos_++];
  }
  // Reads a line as fgets does into `line` of `capacity` bytes: at most
  // capacity - 1 bytes, up to and including a newline, then a 0 byte. The
  // rest of `line` is zero-filled. False at the end of the stream.
  bool gets(char *line, size_t capacity);

 private:
  bool fill();

  FILE *stream_;
  size_t pos_ = 0;
  size_t end_ = 0;
  unsigned char buffer_[65536];
};

// Walks the records of a catalog file (or a keyed group file: only the
// length and flag words are read) from offset 0, in large reads. Every
// record's length is checked: at least kRecordMinLength and inside the file.
class RecordWalker {
 public:
  enum Step { kRecord, kEnd, kDamaged, kNoMemory, kReadFailed };

  // `capacity`: bytes read at a time; the buffer grows (host memory) when a
  // record whose bytes are asked for is larger.
  RecordWalker(FILE *stream, int64_t file_size, size_t capacity);
  // Reads into the caller's buffer, which never grows: records larger than
  // it can be walked but not read (kNoMemory).
  RecordWalker(FILE *stream, int64_t file_size, unsigned char *buffer, size_t capacity);
  ~RecordWalker();
  RecordWalker(const RecordWalker &) = delete;
  RecordWalker &operator=(const RecordWalker &) = delete;

  // Moves to the next record (the first on the first call). With `whole`,
  // the record's bytes are read too and body() points at them. After a
  // step other than kRecord every later call gives that step again.
  Step next(bool whole);
  // Reads the bytes of the current record (after next(false)).
  Step read_body() { return stopped_ = load(offset_, static_cast<size_t>(length_), &body_); }

  int64_t offset() const { return offset_; }
  int32_t length() const { return length_; }
  int32_t flag() const { return flag_; }
  const unsigned char *body() const { return body_; }
  // The bytes read last: file bytes [window_start(), + window_size()).
  const unsigned char *window() const { return buffer_; }
  int64_t window_start() const { return window_start_; }
  size_t window_size() const { return window_size_; }

 private:
  // Makes [at, at + size) available in the buffer; a Step other than kRecord
  // on failure.
  Step load(int64_t at, size_t size, const unsigned char **out);
  // Reads and checks the length and flag words at `at`.
  Step head(int64_t at);

  FILE *stream_;
  int64_t size_;
  size_t capacity_;
  unsigned char *buffer_ = nullptr;
  size_t allocated_ = 0;
  bool owned_ = true;
  int64_t window_start_ = 0;
  size_t window_size_ = 0;
  bool started_ = false;
  Step stopped_ = kRecord;
  int64_t offset_ = 0;
  int32_t length_ = 0;
  int32_t flag_ = 0;
  const unsigned char *body_ = nullptr;
};

// ---- key readers (csgrn.cpp) ----------------------------------------------

// Codes of the key readers.
inline constexpr int kKeysDone = 0;
inline constexpr int kKeysNoFile = 1;
inline constexpr int kKeysUnreadable = 2;

// The key reader of the duplicate merge: csgia, except that an attribute of
// several values gives its first value followed by the first value that is
// neither blank nor equal to it (or a blank value when there is none).
int csgia2(const char *catalog_path, const int *field_count, void *description, const int *widths,
           int record_count, int key_length, KeyRecord *records, int *filled);

// ---- index builder (csbndx.cpp, csrikr.cpp) -------------------------------

// Codes of csbndx and csgbldx.
inline constexpr int kIndexWritten = 0;
inline constexpr int kIndexNoSource = 1;
inline constexpr int kIndexNoKey = 2;
inline constexpr int kIndexNoMemory = 3;
inline constexpr int kIndexReaderFailed = 4;
inline constexpr int kIndexNotCreated = 5;
inline constexpr int kIndexShortWrite = 6;

// Longest key and longest run of equal keys the fixed index layout holds
// ("%4d").
inline constexpr int kIndexKeyMax = 9999;
inline constexpr int kIndexRunMax = 9999;

// Sum of the widths; 0 when field_count is below 1. -1 when a width is
// negative or the sum does not fit the index layout.
int GetKeyLength(int field_count, const int *widths);
// Key records for `count` source records, each with a zero-filled key
// buffer of key_length + 1 bytes, all in one host block (so FreeRecordSpace
// needs only the array, whatever order the records were sorted into).
// Null when memory cannot be obtained or the size overflows.
KeyRecord *GetRecordSpace(int count, int key_length);
void FreeRecordSpace(KeyRecord *records, int count);
// Key order: unsigned bytes up to the terminating 0, as strcmp.
int compare(const KeyRecord *first, const KeyRecord *second);
// Sorts the first n records by key order; equal keys by record offset, so
// the same source always gives the same index file.
void SortKeyRecords(KeyRecord *records, int n);
// Writes the index of the n sorted records: 0, 5 or 6.
int OutputIndexFile(const char *index_path, int n, int key_length, KeyRecord *records);
// Line counter (csgrc) and fixed-column key reader (csrikr).
int GetRecordCount(const char *path);
int ReadInKeyRecord(const char *source_path, const int *field_count, void *description,
                    const int *widths, int record_count, int key_length, KeyRecord *records,
                    int *filled);

// ---- maintenance dispatcher (csnames.cpp, cscprt2.cpp) ---------------------

inline constexpr int kProcessEntry = 80;  // entry size of the process stacks
inline constexpr int kCreateIndex = 1;    // the one process code that is run
inline constexpr int kUnknownProcess = 9;

// The catalog directory of entry 1 of the project setup stack (gj0frd) as
// a path prefix: trailing blanks dropped, blanks inside turned into "/", one
// "/" appended, into `directory` (room for path_max + 1 bytes). 0;
// PCS_CANNOT_OPEN no directory; PCS_PATH_TOO_LONG when the prefix and an
// 8-character name would pass path_max characters; PCS_GEN_NO_MEMORY; a
// stack service's code.
int catalog_directory(const int *setup, size_t path_max, char *directory, size_t *length);

// Ends the host stacks it holds when it goes out of scope, unless kept.
class Stacks {
 public:
  explicit Stacks(std::initializer_list<int *> stacks) : stacks_(stacks) {}
  ~Stacks() {
    for (int *stack : stacks_) release(stack);
  }
  Stacks(const Stacks &) = delete;
  Stacks &operator=(const Stacks &) = delete;
  static void release(int *stack);
  void keep() { stacks_.clear(); }

 private:
  std::vector<int *> stacks_;
};
// Pushes a string as an 80-byte entry; the stack service's code.
int push_string(const int *stack, const char *text);
// Pops an 80-byte entry as a 0-terminated string; *empty when there was
// none. The stack service's code.
int pop_string(const int *stack, char *entry, bool *empty);
// As pop_string; a key specification stack that runs out gives kIndexNoKey.
int pop_key_string(const int *stack, char *entry);

// Process code of a process name; 9 when the name is not in the table.
int determine_type(const char *process_name);
// Builds one index from the key specification of the process on top of the
// stacks. Returns 0 or the failing code.
int create_index(int kind, int key_specs, int key_counts, const char *source_path,
                 const char *index_path);
// Pops `count` key specification strings as count / 3 character key fields.
// description: host array of 16-byte group + attribute entries; lengths:
// host block of field widths. Both are the caller's on success.
void create_char_key(int key_specs, int count, void **description, int *field_count,
                     int **lengths, int *rc);
// Pops `count` strings as count / 2 numeric key fields (column, length).
void create_num_key(int key_specs, int count, int **positions, int *field_count, int **lengths,
                    int *rc);
// Releases a key description host array with its entries.
void free_key_description(void *description);
// "chmod 666 '<path>' 2>/dev/null " with the path quoted for the shell.
// False when the command does not fit `capacity`.
bool chmod_command(const char *path, char *command, size_t capacity);

}  // namespace pcs

#endif
