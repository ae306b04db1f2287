// The table open: a keyed group file opened read-only whose index holds one
// element per distinct key with the positions of all its live records.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs::keyed {

// The positions array holds `count` entries in a block sized to the next
// power of two, so appending reallocates only when count is one.
int keystr(Heap *index, int key_length, TableElement *element, int32_t position) {
  (void)key_length;
  int error = kTreeOk;
  auto *stored = static_cast<TableElement *>(index->search(index, element, &error));
  if (error != kTreeOk) return keyed::kNoMemory;
  if (!stored) {
    element->positions = static_cast<int32_t *>(gimaloc(sizeof(int32_t)));
    if (!element->positions) return keyed::kNoMemory;
    element->positions[0] = position;
    element->count = 1;
    index->insert(index, element, &error);
    return error == kTreeOk ? keyed::kOk : keyed::kNoMemory;
  }
  int32_t n = stored->count;
  if ((n & (n - 1)) == 0) {
    void *grown = girealoc(stored->positions, sizeof(int32_t) * 2 * static_cast<size_t>(n));
    if (!grown) return keyed::kNoMemory;
    stored->positions = static_cast<int32_t *>(grown);
  }
  stored->positions[stored->count++] = position;
  fre_str(element);
  return keyed::kOk;
}

int cgtind(KeyedFile *file) {
  int k = key_length(file);
  int64_t size = io::size(file->Stream);
  if (size < 0) return keyed::kNotFound;
  RecordWalk walk(file->Stream, size);
  KeyReader reader(file);
  for (;;) {
    bool live = false;
    int rc = walk.next(&live);
    if (rc != keyed::kOk || !live) return rc;
    auto *element = host_alloc<TableElement>();
    if (element) element->key = static_cast<unsigned char *>(gimaloc(std::max(k, 1)));
    if (!element || !element->key) {
      gifree(element);
      return keyed::kNoMemory;
    }
    rc = reader.read(walk.record(), walk.position(), element->key);
    if (rc == keyed::kKeySize) std::fputs(" key length is wrong \n", stdout);
    if (rc == keyed::kOk)
      rc = keystr(file->Index, k, element, static_cast<int32_t>(walk.position()));
    if (rc != keyed::kOk) {
      fre_str(element);
      return rc;
    }
  }
}

namespace {

int open_table(const char *name, const char *groups, const char *attributes, int count,
               const int *lengths, KeyedFile **handle) {
  if (*handle) return keyed::kInUse;
  KeyedFile *file = nullptr;
  int rc = new_handle(name, count, groups, attributes, lengths, &file);
  if (rc != keyed::kOk) return rc;
  file->Stream = io::open(file->FileName, "rb");
  if (!file->Stream) rc = keyed::kNotFound;
  if (rc == keyed::kOk) {
    file->Index = crtheap_with(comp_str, fre_str, pt_str, key_length(file));
    rc = file->Index ? cgtind(file) : keyed::kNoMemory;
  }
  if (rc != keyed::kOk) {
    release_handle(file);
    return rc;
  }
  *handle = file;
  return keyed::kOk;
}

}  // namespace
}  // namespace pcs::keyed

extern "C" void cgtopn(const char *name, const char *groups, const char *attributes,
                       const int *count, const int *lengths, KeyedFile **file, int *rc) {
  pcs::guarded(rc, pcs::keyed::kNoMemory,
               [&] { *rc = pcs::keyed::open_table(name, groups, attributes, *count, lengths, file); });
}
