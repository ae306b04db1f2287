// Keyed record access of an open file: the keyed write (cspput), the plain
// append (cspputs), read by key (cspget), key test (cspget1) and delete
// (cspdel).
#include <algorithm>
#include <cstdio>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs::keyed {
namespace {

bool write_word(FILE *stream, int64_t position, int32_t value) {
  unsigned char word[4];
  put_be32(word, value);
  return io::seek(stream, position, SEEK_SET) == 0 && io::write(stream, word, 4) == 4;
}

// Cuts the file back to `position`, where a failed append began.
void cut_back(KeyedFile *file, int64_t position) {
  if (io::truncate(file->Stream, position) == 0) file->AppendAt = position;
}

// Appends the record of `list` as a live record at the physical end of the
// file; it counts only once flushed. A failed append is cut off again, so
// the file stays walkable.
int append_record(KeyedFile *file, const KeyedGroup *list, int32_t *position) {
  if (!list) return keyed::kDamaged;
  int64_t length = keyed::record_size(list);
  if (length < 0 || file->AppendAt + length > INT32_MAX) return keyed::kDamaged;
  HostPtr<unsigned char> record(static_cast<unsigned char *>(gimaloc(static_cast<size_t>(length))));
  if (!record) return keyed::kNoMemory;
  keyed::encode_record(list, record.get());
  if (io::seek(file->Stream, 0, SEEK_END) != 0) return keyed::kNotFound;
  const int64_t p = io::tell(file->Stream);
  if (p < 0 || p + length > INT32_MAX) return keyed::kDamaged;
  if (io::write(file->Stream, record.get(), static_cast<size_t>(length)) !=
          static_cast<size_t>(length) ||
      io::flush(file->Stream) != 0) {
    cut_back(file, p);
    return keyed::kNotFound;
  }
  file->AppendAt = p + length;
  *position = static_cast<int32_t>(p);
  return keyed::kOk;
}

bool usable(const KeyedFile *const *handle) { return handle && *handle && !is_table(*handle); }

int written(int rc) {
  if (rc == keyed::kNoMemory) std::fputs("  gimaloc error\n", stdout);
  return rc;
}

int put_record(KeyedFile *file, const KeyedGroup *list) {
  if (!list) return keyed::kDamaged;
  int k = key_length(file);
  HostPtr<unsigned char> key(static_cast<unsigned char *>(gimaloc(std::max(k, 1))));
  if (!key) return keyed::kNoMemory;
  if (keyed::keygrp(file, list, key.get()) != keyed::kOk) return keyed::kKeySize;
  Heap *index = file->Index;
  IndexElement probe{key.get(), 0};
  int error = kTreeOk;
  auto *stored = static_cast<IndexElement *>(index->search(index, &probe, &error));
  if (error != kTreeOk) return keyed::kNoMemory;
  int32_t p = 0;
  if (stored) {
    int rc = append_record(file, list, &p);
    if (rc != keyed::kOk) return rc;
    // The old record's flag word points to its replacement; when that
    // fails, the old record is made live (0) again and the new one cut off.
    if (!write_word(file->Stream, int64_t{stored->position} + 4, p) ||
        io::flush(file->Stream) != 0) {
      write_word(file->Stream, int64_t{stored->position} + 4, 0);
      io::flush(file->Stream);
      cut_back(file, p);
      return keyed::kNotFound;
    }
    stored->position = p;
    return keyed::kOk;
  }
  auto *element = host_alloc<IndexElement>();
  if (!element) return keyed::kNoMemory;
  int rc = append_record(file, list, &p);
  if (rc != keyed::kOk) {
    gifree(element);
    return rc;
  }
  element->key = key.release();
  element->position = p;
  index->insert(index, element, &error);
  if (error != kTreeOk) {
    cut_back(file, p);
    fre_ind(element);
    return keyed::kNoMemory;
  }
  return keyed::kOk;
}

// The stored element of a key, or null with *rc set (4 absent, 1 no memory).
IndexElement *lookup(KeyedFile *file, const char *key, int *rc) {
  IndexElement probe{reinterpret_cast<unsigned char *>(const_cast<char *>(key)), 0};
  int error = kTreeOk;
  auto *stored = static_cast<IndexElement *>(file->Index->search(file->Index, &probe, &error));
  *rc = error != kTreeOk ? keyed::kNoMemory : stored ? keyed::kOk : keyed::kNotFound;
  return stored;
}

int get_record(const char *key, KeyedFile *file, KeyedGroup **list) {
  int rc = keyed::kOk;
  IndexElement *stored = lookup(file, key, &rc);
  if (stored) {
    int32_t length = 0;
    // Every indexed record ends by the append position: no size query.
    rc = keyed::read_record_at(file->Stream, stored->position, file->AppendAt, &length, list);
    if (rc == keyed::kInUse || rc == keyed::kDead) rc = keyed::kNotFound;
  }
  if (rc == keyed::kNoMemory) std::fputs(" out of memory\n", stdout);
  return rc;
}

int delete_record(const char *key, KeyedFile *file) {
  int rc = keyed::kOk;
  IndexElement *stored = lookup(file, key, &rc);
  if (!stored) return rc;
  if (!write_word(file->Stream, int64_t{stored->position} + 4, keyed::kDeleted) ||
      io::flush(file->Stream) != 0)
    return keyed::kNotFound;
  int error = kTreeOk;
  // Should the delete find no memory for its path, the element stays in the
  // index; its record now reads as deleted, so lookups answer 4 all the same.
  void *removed = file->Index->delete_element(file->Index, stored, &error);
  if (removed) release_element(file->Index, removed);
  return keyed::kOk;
}

}  // namespace
}  // namespace pcs::keyed

using pcs::keyed::usable;
namespace keyed = pcs::keyed;

extern "C" void cspput(KeyedFile **file, KeyedGroup **list, int *rc) {
  pcs::guarded(rc, keyed::kNoMemory, [&] {
    *rc = usable(file) ? pcs::keyed::written(pcs::keyed::put_record(*file, list ? *list : nullptr))
                       : keyed::kDamaged;
  });
}

extern "C" void cspputs(KeyedFile **file, KeyedGroup **list, int *rc) {
  pcs::guarded(rc, keyed::kNoMemory, [&] {
    int32_t position = 0;
    *rc = usable(file) ? pcs::keyed::written(pcs::keyed::append_record(*file, list ? *list : nullptr, &position))
                       : keyed::kDamaged;
  });
}

extern "C" void cspget(const char *key, KeyedFile **file, KeyedGroup **list, int *rc) {
  *list = nullptr;
  pcs::guarded(rc, keyed::kNoMemory,
               [&] { *rc = usable(file) ? pcs::keyed::get_record(key, *file, list) : keyed::kDamaged; });
}

extern "C" void cspget1(const char *key, KeyedFile **file, int *rc) {
  pcs::guarded(rc, keyed::kNoMemory, [&] {
    if (!usable(file)) {
      *rc = keyed::kDamaged;
      return;
    }
    pcs::keyed::lookup(*file, key, rc);
  });
}

extern "C" void cspdel(const char *key, KeyedFile **file, int *rc) {
  pcs::guarded(rc, keyed::kNoMemory,
               [&] { *rc = usable(file) ? pcs::keyed::delete_record(key, *file) : keyed::kDamaged; });
}
