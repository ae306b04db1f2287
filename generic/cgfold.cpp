// Folding a generic part file against a reference catalog: parts whose
// part number the reference index does not list go to the new-parts file;
// for a listed one, the source part and the reference catalog's part go to
// the duplicates file (or nowhere when no duplicates path is given).
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

const char *const kKeyGroups[] = {"PARTNUM "};
const char *const kKeyAttributes[] = {"PARTNO  "};

// The files of a fold, closed when it ends.
struct FoldFiles {
  FILE *source = nullptr, *reference = nullptr, *index = nullptr;
  FILE *fresh = nullptr, *duplicates = nullptr;
  ~FoldFiles() {
    for (FILE *f : {source, reference, index, fresh, duplicates})
      if (f) io::close(f);
  }
};

// Opens for update, creating the file when it does not exist, at its end.
FILE *open_output(const char *path) {
  FILE *f = io::open(path, "r+b");
  if (!f) f = io::open(path, "w+b");
  if (f && io::seek(f, 0, SEEK_END) != 0) {
    io::close(f);
    return nullptr;
  }
  return f;
}

int open_files(const char *source, const char *reference, const char *index,
               const char *fresh, const char *duplicates, FoldFiles *files) {
  files->source = io::open(source, "rb");
  files->reference = files->source ? io::open(reference, "rb") : nullptr;
  files->index = files->reference ? io::open(index, "rb") : nullptr;
  files->fresh = files->index ? open_output(fresh) : nullptr;
  if (!files->fresh) return PCS_QUERY_CATALOG;
  if (duplicates && duplicates[0] != '\0' && !(files->duplicates = open_output(duplicates)))
    return PCS_QUERY_CATALOG;
  return 0;
}

// The part's key, blank-padded to at least the index key length, in a new
// buffer (null when memory fails).
HostPtr<char> part_key(const CgGroup *part, int key_length) {
  const int64_t bytes = key_size(kKeyGroups, kKeyAttributes, 1, part);
  const size_t size = static_cast<size_t>(bytes > key_length ? bytes : key_length);
  HostPtr<char> key(static_cast<char *>(gimaloc(size + 1)));
  if (!key) return key;
  std::memset(key.get(), ' ', size);
  const int one = 1;
  int ignored = 0;
  cgkeycre(kKeyGroups, kKeyAttributes, &one, part, key.get(), &ignored);
  key.get()[bytes] = size > static_cast<size_t>(bytes) ? ' ' : '\0';
  key.get()[size] = '\0';
  return key;
}

// Files one source part: returns 0 or a code.
int fold_part(FoldFiles &files, const catalog::IndexHeader *header, const CgGroup *part) {
  HostPtr<char> key = part_key(part, header ? header->key_length : 0);
  if (!key) return PCS_GEN_NO_MEMORY;
  int32_t count = 0, first = 0, offset = 0;
  if (!header || !index_lookup(files.index, *header, key.get(), &count, &first))
    return write_part(files.fresh, part);
  if (!files.duplicates) return 0;
  if (int rc = write_part(files.duplicates, part); rc != 0) return rc;
  if (!index_data_offset(files.index, *header, first, 1, &offset)) return PCS_INPUT_ENDED;
  CgGroup *known = nullptr;
  int32_t length = 0;
  int rc = read_part(files.reference, offset, &length, &known);
  if (rc == 0) rc = write_part(files.duplicates, known);
  cggfre(known);
  return rc;
}

int fold(const char *source, const char *reference, const char *index, const char *fresh,
         const char *duplicates) {
  FoldFiles files;
  if (int rc = open_files(source, reference, index, fresh, duplicates, &files); rc != 0) return rc;
  catalog::IndexHeader header{};
  const bool trusted = read_index_header(files.index, &header);
  const int64_t size = io::size(files.source);
  for (int64_t position = 0; position < size;) {
    CgGroup *part = nullptr;
    int32_t length = 0;
    int rc = read_part(files.source, position, &length, &part);
    if (rc == 0) rc = fold_part(files, trusted ? &header : nullptr, part);
    cggfre(part);
    if (rc != 0) return rc;
    position += length;
  }
  return 0;
}

}  // namespace
}  // namespace pcs::generic

extern "C" void cgfold(const char *source, const char *reference, const char *index,
                       const char *fresh, const char *duplicates, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { *rc = pcs::generic::fold(source, reference, index, fresh, duplicates); });
}
