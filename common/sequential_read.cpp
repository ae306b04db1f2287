// The sequential readers: ChunkReader and RecordWalker.
#include "common/sequential_read.h"

#include <algorithm>
#include <cstring>

#include "common/coding.h"
#include "common/damage.h"
#include "common/fileio.h"
#include "common/record_codec.h"
#include "host/host_services.h"

namespace pcs {

// ---- ChunkReader --------------------------------------------------------------

bool ChunkReader::fill() {
  pos_ = 0;
  end_ = io::read(stream_, buffer_, sizeof buffer_);
  return end_ > 0;
}

bool ChunkReader::gets(char *line, size_t capacity) {
  std::memset(line, 0, capacity);
  size_t n = 0;
  while (n + 1 < capacity) {
    int c = get();
    if (c < 0) break;
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return n > 0;
}

// ---- RecordWalker -------------------------------------------------------------

RecordWalker::RecordWalker(FILE *stream, int64_t file_size, size_t capacity)
    : stream_(stream), size_(file_size), capacity_(capacity) {}

RecordWalker::RecordWalker(FILE *stream, int64_t file_size, unsigned char *buffer,
                           size_t capacity)
    : stream_(stream), size_(file_size), capacity_(capacity), buffer_(buffer),
      allocated_(capacity), owned_(false) {}

RecordWalker::~RecordWalker() {
  if (owned_) gifree(buffer_);
}

RecordWalker::Step RecordWalker::load(int64_t at, size_t size, const unsigned char **out) {
  if (at >= window_start_ && static_cast<uint64_t>(at - window_start_) + size <= window_size_) {
    *out = buffer_ + (at - window_start_);
    return kRecord;
  }
  const auto remaining = static_cast<size_t>(size_ - at);
  const size_t want = std::max(size, std::min(capacity_, remaining));
  if (want > allocated_) {
    if (!owned_) return kNoMemory;
    auto *grown = static_cast<unsigned char *>(girealoc(buffer_, want));
    if (!grown) return kNoMemory;
    buffer_ = grown;
    allocated_ = want;
  }
  window_start_ = at;
  window_size_ = io::read_direct(stream_, at, buffer_, want);
  if (window_size_ < size) return kReadFailed;
  *out = buffer_;
  return kRecord;
}

RecordWalker::Step RecordWalker::next(bool whole) {
  if (stopped_ != kRecord) return stopped_;  // no step past an end or damage
  const int64_t at = started_ ? offset_ + length_ : 0;
  started_ = true;
  offset_ = at;
  length_ = 0;
  body_ = nullptr;
  stopped_ = head(at);
  if (stopped_ == kRecord && whole) stopped_ = load(at, static_cast<size_t>(length_), &body_);
  return stopped_;
}

RecordWalker::Step RecordWalker::head(int64_t at) {
  if (at >= size_) return kEnd;
  if (size_ - at < 8) return refuse(kDamaged, at);
  const unsigned char *bytes = nullptr;
  if (Step step = load(at, 8, &bytes); step != kRecord) return step;
  const int32_t length = get_be32(bytes);
  flag_ = get_be32(bytes + 4);
  if (!codec::length_fits(codec::kCatalogLayout, length, size_ - at)) return refuse(kDamaged, at);
  length_ = length;
  return kRecord;
}

}  // namespace pcs
