// The query part lookup: the catalog file names of the project setup
// (cgnames), the sorted key stack of a generic part file (cgprincr), and
// pclrdcg, which finds the catalog parts of an element class and query
// number and returns their part numbers and options. Both read the generic
// part file once, in large blocks, and decode its records in memory.
#include <cstring>
#include <memory>
#include <utility>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/report.h"
#include "host/host_model.h"
#include "maintenance/maintenance.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

constexpr int kPathBytes = 256;
constexpr int kElementMax = 256;

// Closes a stream at the end of its scope.
struct CloseFile {
  void operator()(FILE *f) const { io::close(f); }
};
using File = std::unique_ptr<FILE, CloseFile>;

int catalog_names(char *first, char *second) {
  char prefix[kPathBytes];
  size_t length = 0;
  int rc = maintenance::project_catalog_directory(kPathBytes - 1, prefix, &length);
  if (rc != 0) return rc;
  const int kind = 2, item = 30;
  int id = 0;
  pladata(&kind, &item, &id, &rc);
  if (rc != 0) return rc;
  char names[7][PCS_NAME_LEN];
  pu3cnam(&id, names[0], names[1], names[2], names[3], names[4], names[5], names[6], &rc);
  if (rc != 0) return rc;
  for (auto [path, name] : {std::pair{first, names[0]}, std::pair{second, names[2]}}) {
    std::memcpy(path, prefix, length);
    std::memcpy(path + length, name, PCS_NAME_LEN);
    path[length + PCS_NAME_LEN] = '\0';
  }
  return 0;
}

// Pushes the part's key (cut or blank-padded to k bytes) and its position.
int push_key(const char *const *groups, const char *const *attributes, int count,
             const CgGroup *part, int k, int32_t position, const int *stack) {
  unsigned char element[kElementMax + 4];
  if (int rc = stored_key(groups, attributes, count, part, k, element)) return rc;
  std::memcpy(element + k, &position, 4);
  int pushed = 0, rc = 0;
  guspus(stack, element, &pushed, &rc);
  return rc;
}

// The sorted key stack of the records of a file image: every live
// record's key and position.
int index_image(const char *const *groups, const char *const *attributes, int count,
                ByteView image, int *stack) {
  const int k = key_length(groups, attributes, count);
  if (k + 4 > kElementMax) return PCS_GEN_NO_MEMORY;
  int rc = 0, entry = k + 4;
  gusini(&entry, stack, &rc);
  if (rc != 0) return rc;
  const int64_t size = static_cast<int64_t>(image.size());
  for (int64_t position = 0; position < size && position <= INT32_MAX;) {
    CgGroup *part = nullptr;
    int32_t length = 0;
    rc = read_part(image, position, &length, &part);
    if (rc == 0)
      rc = push_key(groups, attributes, count, part, k, static_cast<int32_t>(position), stack);
    cggfre(part);
    if (rc != 0 && rc != PCS_RECORD_DELETED) return rc;
    position += length;
  }
  rc = 0;
  cgsort(stack, cgcmpsrt, &rc);
  return rc;
}

// The first value of group/attribute of the part, cut or blank-padded to
// `width` bytes; blanks when there is none.
void first_value(const CgGroup *part, const char *group, const char *attribute, int width,
                 unsigned char *out) {
  std::memset(out, ' ', static_cast<size_t>(width));
  const CgGroup *g = cgagfnd(group, const_cast<CgGroup *>(part));
  const CgAttribute *a = g ? cgafnd(attribute, g->attributes) : nullptr;
  if (!a || a->valueCount < 1 || !a->values || a->valueLength < 1) return;
  std::memcpy(out, a->values, static_cast<size_t>(a->valueLength < width ? a->valueLength : width));
}

int value_length(const CgGroup *part, const char *group, const char *attribute) {
  const CgGroup *g = cgagfnd(group, const_cast<CgGroup *>(part));
  const CgAttribute *a = g ? cgafnd(attribute, g->attributes) : nullptr;
  return a && a->valueLength > 0 ? a->valueLength : 0;
}

int read_at(ByteView image, int32_t position, CgGroup **part) {
  int32_t length = 0;
  return read_part(image, position, &length, part);
}

// The output stacks, sized by the first match's record, then
// one entry per match, the last found first.
int gather(ByteView image, const int *matches, int *parts, int *options) {
  int32_t position = 0;
  int rc = 0, first = 1;
  gusrea(matches, &first, &position, &rc);
  CgGroup *part = nullptr;
  if (rc != 0 || (rc = read_at(image, position, &part)) != 0) return rc;
  const int part_width = value_length(part, "PARTNUM ", "PARTNO  ");
  const int option_width = value_length(part, "TYPEOPTS", "OPTIONS ");
  cggfre(part);
  if (part_width > 0) gusini(&part_width, parts, &rc);
  if (rc != 0 || part_width == 0 || option_width == 0) return rc;
  gusini(&option_width, options, &rc);
  HostPtr<unsigned char> value = host_buffer(static_cast<size_t>(part_width + option_width));
  if (!value) return PCS_GEN_NO_MEMORY;
  for (int empty = 0, pushed = 0; rc == 0;) {
    guspop(matches, &position, &empty, &rc);
    if (rc != 0 || empty) break;
    if ((rc = read_at(image, position, &part)) != 0) break;
    first_value(part, "TYPEOPTS", "OPTIONS ", option_width, value.get());
    first_value(part, "PARTNUM ", "PARTNO  ", part_width, value.get() + option_width);
    cggfre(part);
    guspus(options, value.get(), &pushed, &rc);
    if (rc == 0) guspus(parts, value.get() + option_width, &pushed, &rc);
  }
  return rc;
}

int lookup(const char *element_class, const char *query, int *parts, int *options) {
  char first[kPathBytes], second[kPathBytes];
  int rc = catalog_names(first, second);
  if (rc != 0) return rc;
  File generic(io::open(second, "rb"));
  if (!generic) return PCS_QUERY_CATALOG;
  HostPtr<unsigned char> bytes;
  size_t size = 0;
  if ((rc = read_image(generic.get(), &bytes, &size)) != 0) return rc;
  const ByteView image(bytes.get(), size);
  HostStack keys, matches;
  rc = index_image(kLookupGroups, kLookupAttributes, kLookupPairs, image, keys.out());
  if (rc != 0) return rc;
  File catalog(io::open(first, "rb"));
  if (!catalog) return PCS_QUERY_CATALOG;
  char key[kElementMax];
  int length = 0;
  if ((rc = query_key(element_class, query, key, &length)) != 0) return rc;
  if ((rc = collect_matches(key, length, keys.ptr(), matches.out())) != 0 || !matches) return rc;
  return gather(image, matches.ptr(), parts, options);
}

}  // namespace

// Key length of the pairs: each attribute's declared length, 8 for one the
// model does not know.
int key_length(const char *const *groups, const char *const *attributes, int count) {
  int total = 0;
  for (int i = 0; i < count; ++i) {
    char type[PCS_NAME_LEN];
    int length = 0, rc = 0;
    gj0art(groups[i], attributes[i], type, &length, &rc);
    if (rc != 0) {
      guerjo();
      length = PCS_NAME_LEN;
    }
    total += length > 0 ? length : 0;
    if (total > kElementMax) return kElementMax + 1;
  }
  return total;
}

int stored_key(const char *const *groups, const char *const *attributes, int count,
               const CgGroup *part, int width, unsigned char *out) {
  const int64_t bytes = key_size(groups, attributes, count, part);
  HostPtr<char> key(static_cast<char *>(gimaloc(static_cast<size_t>(bytes) + 1)));
  if (!key) return PCS_GEN_NO_MEMORY;
  int ignored = 0;
  cgkeycre(groups, attributes, &count, part, key.get(), &ignored);
  std::memset(out, ' ', static_cast<size_t>(width));
  std::memcpy(out, key.get(), static_cast<size_t>(bytes < width ? bytes : width));
  return 0;
}

int query_key(const char *element_class, const char *query, char *key, int *length) {
  char type[PCS_NAME_LEN];
  int number_length = 0, rc = 0;
  gj0art("SPCFUNC ", "QRYNUMBR", type, &number_length, &rc);
  if (rc != 0) return rc;
  if (number_length > kElementMax - PCS_NAME_LEN) return PCS_GEN_NO_MEMORY;
  while (number_length > 0 && query[number_length - 1] == ' ') --number_length;
  std::memcpy(key, element_class, PCS_NAME_LEN);
  if (number_length > 0) std::memcpy(key + PCS_NAME_LEN, query, static_cast<size_t>(number_length));
  *length = PCS_NAME_LEN + number_length;
  return 0;
}

int build_key_stack(const char *const *groups, const char *const *attributes, int count,
                    FILE *stream, int *stack) {
  *stack = 0;
  HostPtr<unsigned char> bytes;
  size_t size = 0;
  int rc = stream ? read_image(stream, &bytes, &size) : 0;  // no stream: no records
  if (rc == 0) rc = index_image(groups, attributes, count, ByteView(bytes.get(), size), stack);
  if (rc != 0) end_stack(stack);
  return rc;
}

}  // namespace pcs::generic

extern "C" {

void cgnames(char *first, char *second, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::generic::catalog_names(first, second); });
}

void cgprincr(const char *const *groups, const char *const *attributes, const int *count,
              FILE *stream, int *stack, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = pcs::generic::build_key_stack(groups, attributes, *count, stream, stack);
  });
}

void pclrdcg(const char *element_class, const char *query, int *parts, int *options, int *rc) {
  *parts = 0;
  *options = 0;
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = pcs::generic::lookup(element_class, query, parts, options);
    if (*rc != 0) {
      pcs::end_stack(parts);
      pcs::end_stack(options);
    }
  });
}

}  // extern "C"
