// Opening and closing keyed group files: the handle, the record walk and the
// index build (cspind), cspopn and cspcls.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "common/damage.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs::keyed {

RecordWalk::~RecordWalk() { gifree(buffer_); }

bool RecordWalk::read_at(int64_t position, void *data, size_t size) {
  if (stream_at_ != position && io::seek(stream_, position, SEEK_SET) != 0) {
    stream_at_ = -1;
    return false;
  }
  bool whole = io::read(stream_, data, size) == size;
  stream_at_ = whole ? position + static_cast<int64_t>(size) : -1;
  return whole;
}

bool RecordWalk::reserve(size_t size) {
  if (capacity_ >= size) return true;
  void *grown = girealoc(buffer_, size);
  if (!grown) {
    std::fputs("   gimaloc error\n", stdout);
    return false;
  }
  buffer_ = static_cast<unsigned char *>(grown);
  capacity_ = size;
  return true;
}

int RecordWalk::next(bool *live) {
  *live = false;
  for (;;) {
    const int64_t p = next_, left = size_ - p;
    if (left <= 0) return keyed::kOk;
    unsigned char header[codec::kFrameBytes];
    if (left < codec::kFrameBytes || !read_at(p, header, sizeof header))
      return refuse(keyed::kDamaged, p);
    int32_t length = 0;
    const codec::KeyedRead frame = codec::keyed_frame(header, p, left, &length);
    if (frame == codec::KeyedRead::damaged) return keyed::kDamaged;  // noted by the frame
    next_ = p + length;
    if (frame == codec::KeyedRead::not_live) {
      unsigned char last = 0;
      if (!read_at(p + length - 1, &last, 1) || last != '\n')
        return refuse(keyed::kDamaged, p + length - 1);
      if (const int32_t status = get_be32(header + 4); chain_ && status != keyed::kDeleted) {
        stream_at_ = -1;
        const int rc = keyed::check_replaced(chain_, stream_, p, status, size_);
        if (rc != keyed::kOk) return rc;
      }
      continue;
    }
    if (!reserve(static_cast<size_t>(length))) return keyed::kNoMemory;
    std::memcpy(buffer_, header, sizeof header);
    if (!read_at(p + 8, buffer_ + 8, static_cast<size_t>(length) - 8))
      return refuse(keyed::kDamaged, p + 8);
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

int cspind(KeyedFile *file) {
  int k = key_length(file);
  file->Index = crtheap_with(comp_ind, fre_ind, pt_index, k);
  int64_t size = io::size(file->Stream);
  if (!file->Index) {
    std::fputs("  gimaloc error\n", stdout);
    return keyed::kNoMemory;
  }
  if (size < 0) return keyed::kNotFound;
  RecordWalk walk(file->Stream, size, file);
  for (;;) {
    bool live = false;
    int rc = walk.next(&live);
    if (rc != keyed::kOk) return rc;
    if (!live) break;
    auto *element = host_alloc<IndexElement>();
    if (element) element->key = static_cast<unsigned char *>(gimaloc(std::max(k, 1)));
    if (!element || !element->key) {
      gifree(element);
      std::fputs("  gimaloc error\n", stdout);
      return keyed::kNoMemory;
    }
    element->position = static_cast<int32_t>(walk.position());
    {
      DamageBase base(walk.position());
      rc = keyed::record_key(file, walk.record(), element->key);
    }
    int error = kTreeOk;
    if (rc == keyed::kOk) file->Index->insert(file->Index, element, &error);
    if (error == kTreeDuplicate && walk.position() + walk.length() == size) {
      // The last record repeats a live key: a replacement cut short.
      auto *stored = static_cast<IndexElement *>(file->Index->search(file->Index, element, &error));
      rc = stored && error == kTreeOk
               ? keyed::finish_replacement(file, stored, walk.record(), walk.position())
               : keyed::kDuplicate;
      fre_ind(element);
      if (rc != keyed::kOk) return rc;
      continue;
    }
    if (rc != keyed::kOk || error != kTreeOk) {
      fre_ind(element);
      if (error == kTreeNoMemory) std::fputs("  gimaloc error\n", stdout);
      return rc != keyed::kOk ? rc : error == kTreeDuplicate ? keyed::kDuplicate : keyed::kNoMemory;
    }
  }
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
