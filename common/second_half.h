// The second half of a large file of records read on a second thread while
// the first thread reads the first half. The second thread looks past the
// middle of the file for a record it can take (its reader says which) and
// walks on from there, taking records or passing over them, until it meets
// one it can do neither with. The first thread takes that run only when its
// own walk arrives at the run's start, then walks on from the run's end, so
// what it gives (keys, offsets, reports, codes) is what one thread gives.
// The second thread calls no host service and notes no damage; its reads
// go through io::read_beside.
//
//   SecondHalf second;
//   ... after the first record: second.start(stream, size, from, key_bytes, read);
//   ... at each record start p >= second.watch():
//         if (const SplitRun *run = second.arrive(p, room)) take its keys, go on at run->end
//   second.finish();  // before the stream closes
#ifndef PCS_COMMON_SECOND_HALF_H
#define PCS_COMMON_SECOND_HALF_H

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace pcs {

// File bytes read a chunk at a time by the second thread.
class Chunks {
 public:
  Chunks(FILE *stream, int64_t size) : stream_(stream), size_(size), buffer_(kChunk) {}
  int64_t size() const { return size_; }
  // File bytes [at, at + n), n at most a chunk; null past the end of the
  // file or when the read comes short.
  const unsigned char *at(int64_t at, size_t n);

 private:
  static constexpr size_t kChunk = 1 << 20;
  FILE *stream_;
  int64_t size_;
  std::vector<unsigned char> buffer_;
  int64_t start_ = 0;
  size_t filled_ = 0;
};

// What the second thread's reader made of the record at an offset: its
// length (0: the thread stops there) and whether its key was taken (else
// the record is passed over).
struct SplitStep {
  int32_t length = 0;
  bool taken = false;
};

// What the second thread took: the records of file bytes [begin, end),
// `walked` of them (those passed over included), and the offset and key
// (key_bytes each) of every record taken.
struct SplitRun {
  int64_t begin = -1, end = -1;
  int walked = 0;
  std::vector<int32_t> offsets;
  std::vector<char> keys;
};

class SecondHalf {
 public:
  SecondHalf() = default;
  SecondHalf(const SecondHalf &) = delete;
  SecondHalf &operator=(const SecondHalf &) = delete;
  ~SecondHalf() { finish(); }

  // Starts the second thread on a file of at least test_set_split_bytes()
  // bytes (4 MiB unless set), from the middle or from `from` when that is
  // later. read(chunks, at, key) gives the SplitStep of the record at `at`,
  // with its key written (over blanks) when taken; it runs on the second
  // thread, on a copy.
  template <class Read>
  void start(FILE *stream, int64_t size, int64_t from, size_t key_bytes, Read read) {
    if (size < split_bytes()) return;
    from = std::max(from, size / 2);
    try {
      thread_ = std::thread([this, stream, size, from, key_bytes, read]() mutable noexcept {
        try {
          Chunks chunks(stream, size);
          walk(chunks, from, key_bytes, read);
        } catch (...) {  // out of memory: no run
        }
      });
      watch_ = from;
    } catch (...) {  // no thread: the first one reads alone
    }
  }

  // The record offset from which the first thread must call arrive().
  int64_t watch() const { return watch_; }

  // The run, when it starts at `offset` (the first thread's record start,
  // at or past watch()) and holds at most `room` records; waits for the
  // second thread first.
  const SplitRun *arrive(int64_t offset, int room);

  // Stops the second thread and waits for it.
  void finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // Test hooks: the smallest file split; the records this thread has taken
  // from second threads so far.
  static void test_set_split_bytes(int64_t bytes);
  static int test_split_records();

 private:
  static constexpr int64_t kSearch = 1 << 16;  // how far to look for a first record
  static int64_t split_bytes();

  // The run from the first record taken within kSearch bytes of `from`.
  template <class Read>
  void walk(Chunks &chunks, int64_t from, size_t key_bytes, Read &read) {
    SplitRun run;
    std::vector<char> key(key_bytes, ' ');
    SplitStep step;
    for (int64_t at = from; at < chunks.size() && at - from < kSearch && !step.taken; ++at)
      if ((step = read(chunks, at, key.data())).taken) run.begin = at;
    if (!step.taken) return;
    const auto expected = static_cast<size_t>((chunks.size() - run.begin) / step.length + 1);
    run.offsets.reserve(expected);
    run.keys.reserve(expected * key_bytes);
    int64_t at = run.begin;
    for (; run.walked < INT_MAX && !stop_.load(std::memory_order_relaxed); ++run.walked) {
      std::fill(key.begin(), key.end(), ' ');
      step = read(chunks, at, key.data());
      if (step.length <= 0) break;
      if (step.taken) {
        run.offsets.push_back(static_cast<int32_t>(at));
        run.keys.insert(run.keys.end(), key.begin(), key.end());
      }
      at += step.length;
    }
    run.end = at;
    run_ = std::move(run);
  }

  std::thread thread_;
  std::atomic<bool> stop_ = false;
  int64_t watch_ = INT64_MAX;
  SplitRun run_;
};

}  // namespace pcs

#endif
