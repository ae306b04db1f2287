// Opening and closing keyed group files: the handle, the record walk and the
// index build (cspind: keys read in file order, a large file's second half
// on a second thread, sorted once, the tree built bottom-up in one arena),
// cspopn and cspcls.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include <sys/stat.h>

#include "common/damage.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "common/second_half.h"
#include "keyed/keyed.h"

namespace pcs::keyed {

RecordWalk::~RecordWalk() { gifree(window_); }

const unsigned char *RecordWalk::read_window(int64_t position, size_t size, bool *no_memory) {
  constexpr size_t kMostAhead = 256 << 10;
  const int64_t left = size_ - position;
  size_t want = std::max(size, ahead_);
  if (left >= 0 && static_cast<uint64_t>(left) < want) want = std::max(size, static_cast<size_t>(left));
  if (want > capacity_) {
    void *grown = girealoc(window_, want);
    if (!grown) {
      std::fputs("   gimaloc error\n", stdout);
      *no_memory = true;
      return nullptr;
    }
    window_ = static_cast<unsigned char *>(grown);
    capacity_ = want;
  }
  ahead_ = std::min(kMostAhead, std::max<size_t>(2 * want, 4096));
  window_start_ = position;
  window_size_ = io::read_direct(stream_, position, window_, want);
  return window_size_ >= size ? window_ : nullptr;
}

int RecordWalk::next(bool *live) {
  *live = false;
  bool no_memory = false;
  for (;;) {
    const int64_t p = next_, left = size_ - p;
    if (left <= 0) return keyed::kOk;
    const unsigned char *header =
        left < codec::kFrameBytes ? nullptr : view(p, codec::kFrameBytes, &no_memory);
    if (no_memory) return keyed::kNoMemory;
    if (!header) return refuse(keyed::kDamaged, p);
    int32_t length = 0;
    const codec::KeyedRead frame = codec::keyed_frame(header, p, left, &length);
    if (frame == codec::KeyedRead::damaged) return keyed::kDamaged;  // noted by the frame
    const int32_t status = get_be32(header + 4);
    next_ = p + length;
    if (frame == codec::KeyedRead::not_live) {
      const unsigned char *last = view(p + length - 1, 1, &no_memory);
      if (no_memory) return keyed::kNoMemory;
      if (!last || *last != '\n') return refuse(keyed::kDamaged, p + length - 1);
      if (chain_ && status != keyed::kDeleted) {
        const int rc = keyed::check_replaced(chain_, stream_, p, status, size_);
        if (rc != keyed::kOk) return rc;
      }
      continue;
    }
    record_ = view(p, static_cast<size_t>(length), &no_memory);
    if (no_memory) return keyed::kNoMemory;
    if (!record_) return refuse(keyed::kDamaged, p + 8);
    position_ = p;
    length_ = length;
    *live = true;
    return keyed::kOk;
  }
}

int key_length(const KeyedFile *file) {
  int total = 0;
  for (int i = 0; i < file->KeyCount; ++i) total += file->KeyLengths[i];
  return total;
}

bool is_table(const KeyedFile *file) { return file->Index && file->Index->free_element == fre_str; }

int new_handle(const char *name, int count, const char *groups, const char *attributes,
               const int *lengths, KeyedFile **made) {
  int64_t total = 0;
  for (int i = 0; i < count; ++i) {
    if (lengths[i] < 0) return keyed::kKeySize;
    total += lengths[i];
  }
  if (count < 0 || total > INT32_MAX) return keyed::kKeySize;
  auto *file = host_alloc<KeyedFile>();
  if (!file) return keyed::kNoMemory;
  if (!resolve_keyed_name(name, file->FileName)) {
    gifree(file);
    return keyed::kNotFound;
  }
  auto names = static_cast<size_t>(count) * PCS_NAME_LEN;
  file->KeyLengths = static_cast<int *>(gimaloc(sizeof(int) * std::max(count, 1)));
  file->KeyGroups = static_cast<char *>(gimaloc(std::max<size_t>(names, 1)));
  file->KeyAttrs = static_cast<char *>(gimaloc(std::max<size_t>(names, 1)));
  if (!file->KeyLengths || !file->KeyGroups || !file->KeyAttrs) {
    release_handle(file);
    return keyed::kNoMemory;
  }
  file->KeyCount = count;
  if (count > 0) {
    std::memcpy(file->KeyLengths, lengths, sizeof(int) * static_cast<size_t>(count));
    std::memcpy(file->KeyGroups, groups, names);
    std::memcpy(file->KeyAttrs, attributes, names);
  }
  *made = file;
  return keyed::kOk;
}

int release_handle(KeyedFile *file) {
  if (!file) return 0;
  gifree(file->KeyLengths);
  gifree(file->KeyGroups);
  gifree(file->KeyAttrs);
  int closed = file->Stream ? io::close(file->Stream) : 0;
  heap_release(file->Index);
  gifree(file);
  return closed;
}

namespace {

// Says that memory ran out, as the open always has.
int out_of_memory() {
  std::fputs("  gimaloc error\n", stdout);
  return keyed::kNoMemory;
}

// The keys and positions of the live records in file order, in one growing
// host block: each entry is the key's k bytes, then the position.
class KeyTable {
 public:
  explicit KeyTable(int k) : k_(static_cast<size_t>(k)), stride_(k_ + sizeof(int32_t)) {}
  ~KeyTable() { gifree(bytes_); }
  KeyTable(const KeyTable &) = delete;
  KeyTable &operator=(const KeyTable &) = delete;

  // Room for the next entry's key; null when memory cannot be had.
  unsigned char *next_key() {
    if (count_ == capacity_) {
      const size_t grown = capacity_ ? capacity_ * 2 : 1024;
      void *bytes = girealoc(bytes_, grown * stride_);
      if (!bytes) return nullptr;
      bytes_ = static_cast<unsigned char *>(bytes);
      capacity_ = grown;
    }
    return entry(count_);
  }
  // Keeps the key written at next_key() with its record's position.
  void keep(int32_t position) { std::memcpy(entry(count_++) + k_, &position, sizeof position); }
  // Index elements of every entry, their keys left where they are.
  void fill(IndexElement *elements) const {
    for (size_t i = 0; i < count_; ++i) {
      elements[i].key = entry(i);
      std::memcpy(&elements[i].position, entry(i) + k_, sizeof(int32_t));
    }
  }
  // Keeps the keys and positions of a second thread's run; false when
  // memory cannot be had.
  bool take(const SplitRun &run) {
    for (size_t i = 0; i < run.offsets.size(); ++i) {
      unsigned char *key = next_key();
      if (!key) return false;
      std::memcpy(key, run.keys.data() + i * k_, k_);
      keep(run.offsets[i]);
    }
    return true;
  }
  int count() const { return static_cast<int>(count_); }
  // Hands the block over (it is freed with the heap from now on).
  unsigned char *release() { return std::exchange(bytes_, nullptr); }

 private:
  unsigned char *entry(size_t i) const { return bytes_ + i * stride_; }
  size_t k_, stride_;
  unsigned char *bytes_ = nullptr;
  size_t count_ = 0, capacity_ = 0;
};

// Starts the second thread: it takes live records shaped like the last one
// `reader` read, short of the file's last record (the open may have to
// finish a replacement there, from the walk's own view of it).
void start_second_half(SecondHalf *second, FILE *stream, int64_t size, int64_t from,
                       const KeyReader &reader, int k) {
  const auto read = [reader](Chunks &chunks, int64_t at, char *key) -> SplitStep {
    const unsigned char *head = chunks.at(at, codec::kFrameBytes);
    int32_t length = 0;
    if (!head || codec::frame_of(head, at, chunks.size() - at, &length) != codec::KeyedRead::ok ||
        length == chunks.size() - at || static_cast<size_t>(length) > codec::Shape::kMostBytes)
      return {};
    const unsigned char *bytes = chunks.at(at, static_cast<size_t>(length));
    if (!bytes || !reader.replay(ByteView(bytes, static_cast<size_t>(length)),
                                 reinterpret_cast<unsigned char *>(key)))
      return {};
    return {length, true};
  };
  second->start(stream, size, from, static_cast<size_t>(k), read);
}

// Reads the key of every live record into `keys`. kOk, or the code of the
// first record that failed (its predecessors are in `keys`); *last is the
// last live record when it ends the file.
int read_keys(KeyedFile *file, int64_t size, KeyTable *keys, RecordWalk *walk, bool *last) {
  *last = false;
  KeyReader reader(file);
  SecondHalf second;
  for (;;) {
    bool live = false;
    int rc = walk->next(&live);
    if (rc != keyed::kOk || !live) return rc;
    if (walk->position() >= second.watch()) {
      if (const SplitRun *run = second.arrive(walk->position(), INT_MAX)) {
        if (!keys->take(*run)) return out_of_memory();
        walk->resume_at(run->end);
        continue;
      }
    }
    unsigned char *key = keys->next_key();
    if (!key) return out_of_memory();
    rc = reader.read(walk->record(), walk->position(), key);
    if (rc != keyed::kOk) return rc;
    keys->keep(static_cast<int32_t>(walk->position()));
    *last = walk->position() + walk->length() == size;
    if (keys->count() == 1)
      start_second_half(&second, file->Stream, size, walk->position() + walk->length(), reader,
                        key_length(file));
  }
}

// Key order, records of one key in file order.
struct ElementOrder {
  int k;
  bool operator()(const IndexElement &a, const IndexElement &b) const {
    const int order = comp_ind(&a, &b, k);
    return order < 0 || (order == 0 && a.position < b.position);
  }
};

// -1 when the elements are in strict key order, 0 in order with repeated
// keys, 1 out of order.
int order_of(const IndexElement *elements, int n, int k) {
  int order = -1;
  for (int i = 1; i < n; ++i) {
    const int c = comp_ind(&elements[i - 1], &elements[i], k);
    if (c > 0) return 1;
    if (c == 0) order = 0;
  }
  return order;
}

// The first record (in file order) whose key an earlier record has: its
// place in the sorted elements, or -1 when every key is distinct.
int first_repeat(const IndexElement *sorted, int n, int k) {
  int repeat = -1;
  for (int i = 1; i < n; ++i)
    if (comp_ind(&sorted[i - 1], &sorted[i], k) == 0 &&
        (repeat < 0 || sorted[i].position < sorted[repeat].position))
      repeat = i;
  return repeat;
}

// Sorts the elements (unless they are in order already) and settles
// repeated keys as the record-by-record insert did: the first repeat in file
// order fails the open, unless it is the file's last record completing an
// interrupted replacement (then it leaves the elements). kOk, or the code.
int settle_repeats(KeyedFile *file, IndexElement *elements, int *n, int walk_rc,
                   const RecordWalk &walk, bool last_ends_file) {
  const int k = file->Index->key_length;
  // Elements come in file order: records of one key are in position order.
  const int order = order_of(elements, *n, k);
  if (order > 0) std::sort(elements, elements + *n, ElementOrder{k});
  const int repeat = order < 0 ? -1 : first_repeat(elements, *n, k);
  if (repeat < 0) return walk_rc;
  if (walk_rc != keyed::kOk || !last_ends_file ||
      elements[repeat].position != static_cast<int32_t>(walk.position()))
    return keyed::kDuplicate;
  const int rc = keyed::finish_replacement(file, &elements[repeat - 1], walk.record(),
                                           walk.position());
  if (rc != keyed::kOk) return rc;
  std::memmove(&elements[repeat], &elements[repeat + 1],
               sizeof(IndexElement) * static_cast<size_t>(*n - repeat - 1));
  --*n;
  return keyed::kOk;
}

}  // namespace

// The index is built at once: the keys are read in file order, sorted, and
// the tree made bottom-up, with its elements and nodes in one arena block.
int cspind(KeyedFile *file) {
  int k = key_length(file);
  file->Index = crtheap_with(comp_ind, fre_ind, pt_index, k);
  int64_t size = io::size(file->Stream);
  if (!file->Index) return out_of_memory();
  if (size < 0) return keyed::kNotFound;
  KeyTable keys(k);
  RecordWalk walk(file->Stream, size, file);
  bool last_ends_file = false;
  const int walk_rc = read_keys(file, size, &keys, &walk, &last_ends_file);
  const int read = keys.count();
  int n = read;
  // One record may yet leave (settle_repeats): room for the larger tree.
  const int nodes = std::max(t_bld_nodes(n), t_bld_nodes(n - 1));
  Heap *heap = file->Index;
  heap->arena_size = sizeof(IndexElement) * static_cast<size_t>(n) +
                     sizeof(TreeNode) * static_cast<size_t>(nodes);
  heap->arena = static_cast<unsigned char *>(gimaloc(std::max<size_t>(heap->arena_size, 1)));
  if (!heap->arena) return out_of_memory();
  auto *elements = reinterpret_cast<IndexElement *>(heap->arena);
  keys.fill(elements);
  heap->arena_keys = keys.release();
  const int rc = settle_repeats(file, elements, &n, walk_rc, walk, last_ends_file);
  if (rc != keyed::kOk) return rc;
  auto *tree_nodes = reinterpret_cast<TreeNode *>(elements + read);
  t_build(heap, elements, sizeof(IndexElement), n, tree_nodes);
  file->AppendAt = size;
  return keyed::kOk;
}

namespace {

int open_file(const char *name, int count, const char *groups, const char *attributes,
              const int *lengths, KeyedFile **handle, int mode) {
  if (*handle) {
    std::fputs(" file is opened \n", stdout);
    return keyed::kInUse;
  }
  if (mode != 0 && mode != 1) return keyed::kNotFound;
  KeyedFile *file = nullptr;
  int rc = new_handle(name, count, groups, attributes, lengths, &file);
  if (rc != keyed::kOk) return rc;
  // Mode 1 creates the file only when there is none: an existing file that
  // cannot be opened for update is left alone.
  struct stat info {};
  file->Stream = mode == 1 ? io::open(file->FileName, "r+b") : nullptr;
  if (!file->Stream && (mode == 0 || stat(file->FileName, &info) != 0))
    file->Stream = io::open(file->FileName, "w+b");
  rc = file->Stream ? cspind(file) : keyed::kNotFound;
  if (rc != keyed::kOk) {
    release_handle(file);
    return rc;
  }
  *handle = file;
  return keyed::kOk;
}

int close_file(KeyedFile **handle) {
  if (!handle || !*handle) {
    std::fputs("In cspcls(): file is closed\n", stdout);
    return keyed::kDamaged;
  }
  int closed = release_handle(*handle);
  *handle = nullptr;
  if (closed != 0) {
    std::fputs("In cspcls():  file close error \n", stdout);
    return keyed::kNotFound;
  }
  return keyed::kOk;
}

}  // namespace
}  // namespace pcs::keyed

extern "C" void cspopn(const char *name, const int *count, const char *groups,
                       const char *attributes, const int *lengths, KeyedFile **file,
                       const int *mode, int *rc) {
  pcs::guarded(rc, pcs::keyed::kNoMemory, [&] {
    *rc = pcs::keyed::open_file(name, *count, groups, attributes, lengths, file, *mode);
  });
}

extern "C" void cspcls(KeyedFile **file, int *rc) {
  pcs::guarded(rc, pcs::keyed::kNoMemory, [&] { *rc = pcs::keyed::close_file(file); });
}
