// The second thread's file reads and the handover of its run.
#include "common/second_half.h"

#include "common/fileio.h"

namespace pcs {
namespace {

int64_t smallest_split = 4 << 20;
thread_local int split_records = 0;

}  // namespace

const unsigned char *Chunks::at(int64_t at, size_t n) {
  if (at < 0 || at >= size_ || static_cast<uint64_t>(size_ - at) < n) return nullptr;
  if (at < start_ || static_cast<uint64_t>(at - start_) + n > filled_) {
    start_ = at;
    filled_ = io::read_beside(stream_, at, buffer_.data(),
                              std::min(buffer_.size(), static_cast<size_t>(size_ - at)));
    if (filled_ < n) return nullptr;
  }
  return buffer_.data() + (at - start_);
}

const SplitRun *SecondHalf::arrive(int64_t offset, int room) {
  if (thread_.joinable()) {
    thread_.join();
    watch_ = run_.walked > 0 ? run_.begin : INT64_MAX;
    if (offset < watch_) return nullptr;
  }
  watch_ = INT64_MAX;
  if (offset != run_.begin || run_.walked > room) return nullptr;
  split_records += run_.walked;
  return &run_;
}

int64_t SecondHalf::split_bytes() { return smallest_split; }
void SecondHalf::test_set_split_bytes(int64_t bytes) { smallest_split = bytes; }
int SecondHalf::test_split_records() { return split_records; }

}  // namespace pcs
