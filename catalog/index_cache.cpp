// Index files held in memory between calls: a lookup in a held copy costs
// one fstat of the index instead of a read per probe. A copy is used only
// while the file's device, inode, size, modification and status-change
// times are those it was read with, and a file is copied only once its
// modification time lies kSettled behind the clock: any later write then
// gives it a different modification time, even on file systems whose
// timestamps move in coarse steps. A file changed more recently is read
// probe by probe as before. Copies are shared by every stream open on the
// same file and released oldest first beyond kHeldCopies or kHeldBytes;
// large ones ask for huge pages. Each copy keeps its keys' prefixes apart
// for the search.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/memory.h"

namespace pcs::catalog {
namespace {

constexpr int64_t kSettled = 2'000'000'000;  // nanoseconds
constexpr size_t kHeldCopies = 4;
constexpr int64_t kHeldBytes = int64_t{512} << 20;

int64_t nanoseconds(const struct timespec &t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

FileIdentity identity_of(const struct stat &st) {
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                      static_cast<int64_t>(st.st_size), nanoseconds(st.st_mtim),
                      nanoseconds(st.st_ctim)};
}

// The file's identity through the stream's descriptor; false without one.
bool stream_identity(FILE *stream, FileIdentity *id, bool *regular) {
  struct stat st;
  if (!io::stat_direct(stream, &st)) return false;
  *id = identity_of(st);
  *regular = S_ISREG(st.st_mode);
  return true;
}

bool settled(const FileIdentity &id) {
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  return id.mtime + kSettled <= nanoseconds(now);
}

// The whole file, read with plain preads (a copy is not one of the reads a
// caller asked for, so injected read failures do not apply to it).
bool read_whole(int fd, char *bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, bytes + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Bytes held for a copy of a file of `size` bytes and n records, with its
// key prefixes and samples when it has them.
int64_t held_bytes(int64_t size, int64_t n, bool prefixes, bool samples) {
  const auto sampled = static_cast<int64_t>(PrefixSamples::bytes(static_cast<size_t>(n)));
  return size + (prefixes ? n * 8 : 0) + (samples ? sampled : 0);
}

int64_t held_bytes(const IndexCopy &copy) {
  return held_bytes(copy.id.size, copy.header.count, copy.prefixes != nullptr,
                    static_cast<bool>(copy.samples));
}

class Held {
 public:
  std::shared_ptr<const IndexCopy> find(const FileIdentity &id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < copies_.size(); ++i) {
      if (!(copies_[i]->id == id)) continue;
      if (i > 0) std::rotate(copies_.begin(), copies_.begin() + static_cast<std::ptrdiff_t>(i),
                             copies_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return copies_.front();
    }
    return nullptr;
  }

  // Holds `copy` first, in place of any older copy of the same file.
  void hold(std::shared_ptr<const IndexCopy> copy) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(copies_, [&](const auto &c) {
      return c->id.device == copy->id.device && c->id.inode == copy->id.inode;
    });
    copies_.insert(copies_.begin(), std::move(copy));
    int64_t bytes = 0;
    size_t keep = 0;
    while (keep < copies_.size() && keep < kHeldCopies &&
           bytes + held_bytes(*copies_[keep]) <= kHeldBytes)
      bytes += held_bytes(*copies_[keep++]);
    copies_.resize(keep);
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    copies_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<const IndexCopy>> copies_;
};

Held &held() {
  static Held copies;
  return copies;
}

// Fills the copy's key prefixes; without memory for them, or room within
// kHeldBytes, the copy is searched by its records alone.
void add_prefixes(IndexCopy *copy) {
  const IndexHeader &h = copy->header;
  const size_t n = static_cast<size_t>(h.count), k = static_cast<size_t>(h.key_length),
               r = static_cast<size_t>(h.record_length());
  if (held_bytes(copy->id.size, h.count, true, true) > kHeldBytes) return;
  copy->prefixes.reset(new (std::nothrow) uint64_t[n]);
  if (!copy->prefixes) return;
  ask_huge_pages(copy->prefixes.get(), n * sizeof(uint64_t));
  const char *key = copy->bytes.get() + PCS_INDEX_HEADER + 28;
  copy->common = shared_beginning(n, k, [key, r](size_t i) { return key + i * r; });
  for (size_t i = 0; i < n; ++i, key += r)
    copy->prefixes[i] = key_prefix(key + copy->common, k - copy->common);
  copy->samples.take(copy->prefixes.get(), n);
}

// Reads and checks a copy of the file of `id`; null when it cannot be read
// whole, changed meanwhile or its header is not to be trusted.
std::shared_ptr<const IndexCopy> make_copy(FILE *stream, const FileIdentity &id) {
  auto copy = std::make_shared<IndexCopy>();
  copy->id = id;
  copy->bytes.reset(new (std::nothrow) char[static_cast<size_t>(id.size)]);
  if (copy->bytes) ask_huge_pages(copy->bytes.get(), static_cast<size_t>(id.size));
  if (!copy->bytes || !read_whole(fileno(stream), copy->bytes.get(), static_cast<size_t>(id.size)))
    return nullptr;
  FileIdentity after{};
  bool regular = false;
  if (!stream_identity(stream, &after, &regular) || !(after == id)) return nullptr;
  if (!parse_index_header(copy->bytes.get(), id.size, &copy->header)) return nullptr;
  add_prefixes(copy.get());
  return copy;
}

}  // namespace

std::shared_ptr<const IndexCopy> current_index_copy(FILE *index) {
  FileIdentity id{};
  bool regular = false;
  if (!index || !stream_identity(index, &id, &regular)) return nullptr;
  if (auto copy = held().find(id)) return copy;
  if (!regular || id.size < PCS_INDEX_HEADER || id.size > kHeldBytes || !settled(id)) return nullptr;
  auto copy = make_copy(index, id);
  if (copy) held().hold(copy);
  return copy;
}

void release_index_copies() { held().clear(); }

}  // namespace pcs::catalog
