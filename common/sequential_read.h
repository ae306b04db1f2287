// Sequential readers: text and binary files read front to back in large
// chunks (ChunkReader), and the walk of a catalog file by its record
// lengths (RecordWalker).
#ifndef PCS_COMMON_SEQUENTIAL_READ_H
#define PCS_COMMON_SEQUENTIAL_READ_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace pcs {

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
// record's length is checked: at least the 16 header bytes and inside the file.
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
  // Makes the next step go to the record at `offset`, a record start found
  // by other means, as if the records before it had been walked.
  void resume_at(int64_t offset) {
    started_ = true;
    offset_ = offset;
    length_ = 0;
  }
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

}  // namespace pcs

#endif
