// The attribute object: creation, access, release, its serialized form and
// the name comparators of attributes and groups.
#include <climits>
#include <cstdint>
#include <cstring>

#include "common/coding.h"
#include "common/memory.h"
#include "common/record_codec.h"
#include "records/records.h"

namespace pcs::records {
namespace {

constexpr int kAttrHeader = 16;  // name, nAttrs, nAttrLength

size_t value_bytes(const Attribute *attribute) {
  return static_cast<size_t>(attribute->nAttrs) * static_cast<size_t>(attribute->nAttrLength);
}

}  // namespace

Attribute *csatrnew(const char *name, int count, int length, const void *values, int *rc) {
  *rc = 0;
  if (count < 1 || length < 1) return nullptr;
  // The serialized size must stay a 32-bit length.
  int64_t size = static_cast<int64_t>(count) * length;
  if (size > INT_MAX - kAttrHeader) {
    *rc = kRecNoMemory;
    return nullptr;
  }
  Attribute *attribute =
      host_attribute<Attribute>(name, count, length, values, static_cast<size_t>(size));
  if (!attribute) *rc = kRecNoMemory;
  return attribute;
}

void csatrgtv(const Attribute *attribute, void *destination) {
  std::memcpy(destination, attribute->AttrValue, value_bytes(attribute));
}

void csatrgtn(const Attribute *attribute, int *count, int *length) {
  *count = attribute->nAttrs;
  *length = attribute->nAttrLength;
}

void csatrgnm(const Attribute *attribute, char *destination) {
  std::memcpy(destination, attribute->AttrName, PCS_NAME_LEN);
}

void csatrfre(Attribute *attribute) {
  if (!attribute) return;
  gifree(attribute->AttrValue);
  gifree(attribute);
}

int csatrwrt(FILE *stream, const Attribute *attribute, int *rc) {
  codec::StreamSink out(stream);
  *rc = codec::put_attribute(codec::fields(attribute), out) ? 0 : kAttrShortWrite;
  return static_cast<int>(out.written());
}

int csatrsiz(const Attribute *attribute) {
  if (!attribute) return 0;
  return kAttrHeader + static_cast<int>(value_bytes(attribute));
}

}  // namespace pcs::records

namespace {

// The first 8 bytes, as strncmp compares them (unsigned, ending at a 0
// byte), written out: list searches call it for every step, and a library
// call costs more than the few bytes that usually decide.
int compare_name(const void *first, const void *second) {
  const auto *a = static_cast<const unsigned char *>(first);
  const auto *b = static_cast<const unsigned char *>(second);
  for (int i = 0; i < PCS_NAME_LEN; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

}  // namespace

// The name comparators of attributes and groups.
extern "C" {
PCS_API int csatrcmp(const void *a, const void *b) { return compare_name(a, b); }
PCS_API int csatrcnm(const void *a, const void *b) { return compare_name(a, b); }
PCS_API int csgrpcmp(const void *a, const void *b) { return compare_name(a, b); }
PCS_API int csgrpcnm(const void *a, const void *b) { return compare_name(a, b); }
}  // extern "C"
